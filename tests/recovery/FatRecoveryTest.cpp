// Recovery end to end on FAT volumes made by mkfs.fat and mtools: the quick scan (take-all
// mode) builds the tree of live and deleted files, the engine writes them, and their bytes and
// modification times are compared with what was written.
#include "tests/support/TreePtr.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/stat.h>

using Bytes = std::vector<std::uint8_t>;
using namespace testsupport;

namespace {

const char* const kWhen = "2021-03-04 05:06:08 UTC";
constexpr std::int64_t kWhenSeconds = 1614834368;

using testsupport::TreePtr;

struct SourceFile {
    std::string path;
    std::size_t size;
    std::uint32_t seed;
    bool deleted;
};

// Deleted files are written last, so their clusters stay theirs.
const std::vector<SourceFile> kFiles = {
    {"/Live File.bin", 70000, 1, false},
    {"/Folder/In A Folder.txt", 3000, 2, false},
    {"/small.txt", 10, 3, false},
    {"/empty.txt", 0, 4, false},
    {"/Deleted Long Name.bin", 20000, 5, true},
    {"/Folder/Gone Away.txt", 5000, 6, true},
};

struct VolumeCase {
    const char* name;
    FatImageOptions options;
};

// Path -> node, deleted entries included under their long names.
std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            if (!c->m_pProperties)
                continue;
            const std::string p = path + "/" + c->m_pProperties->GetName();
            out.emplace(p, c);
            stack.push_back({c, p});
        }
    }
    return out;
}

} // namespace

TEST(FatRecovery, LiveAndDeletedFiles) {
    const VolumeCase cases[] = {
        {"recovery-fat16-v1.img", {16, 16 * 1024, 4, "", 0, ""}},
        {"recovery-fat32p-v1.img", {32, 40 * 1024, 1, "", 2048, ""}},
    };
    for (const VolumeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string image = CachedFixture(c.name, [&](const std::string& tmp) {
            if (!RequireFatTools() || !FatImage::Format(tmp, c.options))
                return false;
            FatImage img(tmp, c.options.offsetSectors);
            bool ok = img.MakeDir("/Folder");
            for (const SourceFile& f : kFiles)
                ok = ok && img.WriteFile(f.path, PatternBytes(f.size, f.seed), kWhen);
            for (const SourceFile& f : kFiles)
                if (f.deleted)
                    ok = ok && img.Delete(f.path);
            return ok;
        });
        ASSERT_FALSE(image.empty());
        CImageFileDevice device(image.c_str());
        CNullDirBuildCallback build;
        std::uint8_t boot[kSectorSize];
        ASSERT_EQ(device.ReadSectors(boot, c.options.offsetSectors, 1), 1);
        CFATSearchedPartitionInfo part;
        ASSERT_TRUE(InitFATSearchedPartitionInfo(part, boot, sizeof boot, c.options.offsetSectors));
        TreePtr root(BuildFatFileTree(&build, &part, nullptr, &device, 1));
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
            ToggleCheckState(root.get(), false);
        if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
            ToggleCheckState(root.get(), false);
        for (const SourceFile& f : kFiles) {
            ASSERT_TRUE(paths.count(f.path)) << f.path;
            EXPECT_EQ(paths[f.path]->m_pProperties->GetFileState() & FILESTATE_DELETED,
                      f.deleted ? FILESTATE_DELETED : 0)
                << f.path;
            ToggleCheckState(paths[f.path], false);
        }

        const std::string out = ScratchDir("fat-recovery");
        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
        EXPECT_EQ(job.result, kRecoverDone);
        EXPECT_EQ(callback.files, static_cast<int>(kFiles.size()));
        for (const SourceFile& f : kFiles) {
            SCOPED_TRACE(f.path);
            struct stat st {};
            ASSERT_EQ(::stat((made + f.path).c_str(), &st), 0);
            EXPECT_EQ(st.st_mtime, kWhenSeconds);
            EXPECT_EQ(ReadFileBytes(made + f.path), PatternBytes(f.size, f.seed));
        }
    }
}
