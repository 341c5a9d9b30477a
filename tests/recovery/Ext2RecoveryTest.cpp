// Recovery end to end on EXT2 and EXT3 volumes made by mke2fs and debugfs: the volume build
// finds live and deleted files, the engine writes them, and their bytes and modification
// times are compared with what was written. A deleted EXT3 file whose block pointers were
// cleared is reported as not recoverable and no bytes are written for it.
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>

using namespace testsupport;

namespace {

std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            const std::string p = path + "/" + c->m_pProperties->GetName();
            out.emplace(p, c);
            stack.push_back({c, p});
        }
    }
    return out;
}

} // namespace

TEST(Ext2Recovery, LiveAndDeletedFiles) {
    for (const char* kind : {"ext2-1k", "ext3-4k"}) {
        SCOPED_TRACE(kind);
        const std::string image = Ext2SampleVolume(kind);
        ASSERT_FALSE(image.empty());
        CImageFileDevice device(image.c_str());
        TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());

        // Check every sample file that has a name (the 5 GiB one is left out).
        std::vector<Ext2SampleFile> chosen;
        for (const Ext2SampleFile& f : Ext2SampleFiles(kind)) {
            if (f.how == Ext2SampleFile::kRemoved || f.size > (64u << 20))
                continue;
            ASSERT_TRUE(paths.count(f.path)) << f.path;
            ToggleCheckState(paths[f.path], false);
            chosen.push_back(f);
        }
        const std::string out = ScratchDir("ext2-recovery");
        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
        int recoverable = 0;
        for (const Ext2SampleFile& f : chosen) {
            SCOPED_TRACE(f.path);
            const std::string target = made + f.path;
            if (f.how == Ext2SampleFile::kCleared) {
                // Not recovered, and nothing made up in its place.
                EXPECT_TRUE(!std::filesystem::exists(target) || std::filesystem::file_size(target) == 0);
                continue;
            }
            ++recoverable;
            EXPECT_EQ(ReadFileBytes(target), Ext2SampleBytes(f));
            if (f.path == "/top.txt") {
                struct stat st {};
                ASSERT_EQ(::stat(target.c_str(), &st), 0);
                EXPECT_EQ(st.st_mtime, kExt2SampleTime);
            }
        }
        EXPECT_EQ(callback.files, recoverable);
    }
}
