// Recovery end to end on EXT2 and EXT3 volumes made by mke2fs and debugfs: the volume build
// finds live and deleted files, the engine writes them, and their bytes and modification
// times are compared with what was written. A deleted EXT3 file whose block pointers were
// cleared is reported as not recoverable and no bytes are written for it. Symbolic links come
// back as their target text; devices, FIFOs and files whose data the deletion cleared are listed
// but never written or counted.
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "logging/Log.h"
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

TEST(Ext2Recovery, LinksAsTheirTextNothingForDevicesOrClearedFiles) {
    const std::string logFolder = ScratchDir("ext2-special-log");
    InitLog((logFolder + "/BrulinLog.log").c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
    const std::string image = Ext2SpecialInodesVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    std::string erased;
    for (auto& [path, node] : Paths(root.get()))
        if (path.rfind("/Inode_", 0) == 0)
            erased = path.substr(1);
    ASSERT_FALSE(erased.empty());
    ToggleCheckState(root.get(), false);

    const std::string out = ScratchDir("ext2-special-recovery");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
    const std::map<std::string, std::string> written = {
        {"/link-fast", "docs/a.txt"}, {"/link-slow", kExt2SlowLinkTarget}, {"/gone-link", "short-gone"}};
    for (const auto& [path, text] : written) {
        const std::vector<std::uint8_t> bytes = ReadFileBytes(made + path);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text) << path;
    }
    EXPECT_EQ(ReadFileBytes(made + "/docs/a.txt"), Ext2LinkedFileBytes());
    for (const std::string& path : std::vector<std::string>{"/pipe", "/chardev", "/docs/cleared.txt", "/" + erased})
        EXPECT_FALSE(std::filesystem::exists(made + path)) << path;
    EXPECT_EQ(callback.files, 4);

    const std::vector<std::uint8_t> log = ReadFileBytes(logFolder + "/BrulinLog.log");
    const std::string text(log.begin(), log.end());
    for (const std::string& line : std::vector<std::string>{"Data cleared when the file was deleted: cleared.txt\r\n",
                                   "Data cleared when the file was deleted: " + erased + "\r\n",
                                   "nothing to recover: pipe\r\n", "nothing to recover: chardev\r\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;

    // One file at a time (as the right-click recovery does): nothing is written either.
    for (const char* name : {"chardev", "cleared.txt"}) {
        CFileNode* node = Paths(root.get())[std::string(name) == "chardev" ? "/chardev" : "/docs/cleared.txt"];
        ASSERT_TRUE(node);
        RecoverFileJob single;
        const std::string target = out + "/single-" + name;
        EXPECT_EQ(RecoverFile(nullptr, &device, &single, node, target, 0), 0);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

// A damaged inode size of 2^40 bytes on a 1 MiB volume: the block map runs out long before,
// so the file fails. Only the bytes actually written ever count as done, and they are taken
// back when the file fails.
TEST(Ext2Recovery, DamagedSizeCountsOnlyWrittenBytes) {
    ASSERT_TRUE(RequireExt2Tools());
    const std::string scratch = ScratchDir("ext2-damaged-size");
    const std::vector<std::uint8_t> data = PatternBytes(30 * 1024, 77);
    std::filesystem::create_directories(scratch + "/content");
    ASSERT_TRUE(WriteFileBytes(scratch + "/content/data.bin", data));
    Ext2ImageOptions options;
    options.sizeKiB = 1024;
    options.contentDir = scratch + "/content";
    ASSERT_TRUE(Ext2Image::Format(scratch + "/volume.img", options));
    Ext2Image image(scratch + "/volume.img");
    ASSERT_TRUE(image.SetInodeField("/data.bin", "size", "0x10000000000"));

    CImageFileDevice device(image.Path().c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    ASSERT_TRUE(paths.count("/data.bin"));
    EXPECT_EQ(paths["/data.bin"]->m_pProperties->GetFileSize(), 1ull << 40);
    ToggleCheckState(paths["/data.bin"], false);
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), scratch + "/out", &made), 1);
    EXPECT_EQ(callback.files, 0);
    EXPECT_EQ(callback.bytes, 0u);
    EXPECT_LE(callback.peak, data.size());
    EXPECT_EQ(ReadFileBytes(made + "/data.bin"), data); // what there was, nothing made up
}
