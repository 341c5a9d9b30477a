// Recovery end to end on EXT2 and EXT3 volumes made by mke2fs and debugfs: the volume build
// finds live and deleted files, the engine writes them, and their bytes and modification
// times are compared with what was written. A deleted EXT3 file whose block pointers were
// cleared is reported as not recoverable and no bytes are written for it. Symbolic links come
// back as their target text; devices, FIFOs and files whose data the deletion cleared are listed
// but never written or counted.
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/probes/QuickScan.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "logging/Log.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "storage/VolumeProbe.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

namespace {

// An EXT2 or EXT3 volume of 16 MiB (1 KiB blocks, two block groups of 32 inodes) with 40 files
// in "/files": the first 20 (inodes in group 0) of about 400 KiB, together more than group 0
// holds, the other 20 (inodes in group 1) small, one of them empty.
constexpr int kCutFiles = 40;

std::string CutFileName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02d.bin", i);
    return name;
}

std::vector<std::uint8_t> CutFileBytes(int i) {
    const std::size_t size = i < 20 ? 380000 + 7919 * i : (i == 30 ? 0 : 1 + 2917 * (i - 20) * (i - 20) % 60000);
    return PatternBytes(size, 500 + i);
}

std::string CutSourceVolume(const std::string& type) {
    return CachedFixture("ext-cut-" + type + "-v1.img", [&](const std::string& tmp) {
        const std::string dir = tmp + ".d";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/files");
        bool ok = RequireExt2Tools();
        for (int i = 0; i < kCutFiles && ok; ++i)
            ok = WriteFileBytes(dir + "/files/" + CutFileName(i), CutFileBytes(i));
        Ext2ImageOptions o;
        o.type = type;
        o.sizeKiB = 16 * 1024;
        o.contentDir = dir;
        o.extraArgs = "-N 64";
        ok = ok && Ext2Image::Format(tmp, o);
        std::filesystem::remove_all(dir);
        return ok;
    });
}

} // namespace

// A copy of a volume that stops before the volume's end (a failing disk copied until it died):
// it is named EXT2/EXT3 and its quick scan lists every file whose inode lies on the copy. The
// files whose blocks (data and indirect) all lie on it come back exact; the others fail, are
// not counted, and keep no more than the part of them that was there. debugfs on the whole
// volume says where every inode and block lies.
TEST(Ext2Recovery, VolumeCopyCutShortOpensFilesPastItsEndFail) {
    const std::string logFolder = ScratchDir("ext2-cut-log");
    InitLog((logFolder + "/BrulinLog.log").c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
    RegisterVolumeProbes();
    for (const std::string type : {"ext2", "ext3"}) {
        SCOPED_TRACE(type);
        const std::string source = CutSourceVolume(type);
        ASSERT_FALSE(source.empty());
        Ext2Image whole(source);
        std::map<std::string, std::uint32_t> inodeOf;
        for (const Ext2ListEntry& e : whole.List("/files"))
            if (e.name != "." && e.name != "..")
                inodeOf[e.name] = e.inode;
        ASSERT_EQ(inodeOf.size(), static_cast<std::size_t>(kCutFiles));
        const std::vector<std::uint32_t> tableBlock = whole.InodeTableBlocks(64);
        std::map<std::string, std::uint32_t> lastBlock;
        // The last file (by inode) whose first indirect block (listed after its 12 direct
        // blocks) follows them and group 1's inode table.
        std::uint32_t indirect = 0;
        for (const auto& [name, inode] : inodeOf) {
            const std::vector<std::uint32_t> blocks = whole.Blocks("<" + std::to_string(inode) + ">");
            lastBlock[name] = blocks.empty() ? 0 : *std::max_element(blocks.begin(), blocks.end());
            if (blocks.size() > 13 && *std::max_element(blocks.begin(), blocks.begin() + 12) < blocks[12] &&
                blocks[12] > tableBlock[63])
                indirect = std::max(indirect, blocks[12]);
        }
        ASSERT_NE(tableBlock[32], 0u); // inode 33 is the first of group 1
        ASSERT_NE(indirect, 0u);

        struct Cut {
            const char* what;
            std::uint64_t blocks; // the copy keeps this many blocks
        };
        const Cut cuts[] = {
            {"by 1 KiB", 16384 - 1},
            {"to half", 8192},
            {"inside group 1's inode table", tableBlock[32] + 2},
            // A file whose direct blocks are all there, but not the block that maps the rest.
            {"at a file's indirect block", indirect},
        };
        for (const Cut& cut : cuts) {
            SCOPED_TRACE(cut.what);
            const std::string dir = ScratchDir("ext2-cut-" + type);
            const std::string copy = dir + "/copy.img";
            std::filesystem::copy_file(source, copy);
            std::filesystem::resize_file(copy, cut.blocks * 1024);

            CImageFileDevice device(copy.c_str());
            VolumeProbeResult probe;
            ASSERT_TRUE(ProbeVolume(&device, 0, probe));
            EXPECT_EQ(probe.fileSystemType, type == "ext3" ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2);
            EXPECT_EQ(probe.totalSectors, 16384u * 2); // the volume's own size
            TreePtr root(QuickScanRecordedVolume(&device, probe.fileSystemType, nullptr));
            ASSERT_TRUE(root);
            auto paths = Paths(root.get());

            int exact = 0, failed = 0, unlisted = 0;
            for (int i = 0; i < kCutFiles; ++i) {
                const std::string name = CutFileName(i);
                SCOPED_TRACE(name);
                const std::uint32_t inode = inodeOf[name];
                const bool listed = tableBlock[inode - 1] < cut.blocks;
                ASSERT_EQ(paths.count("/files/" + name), listed ? 1u : 0u);
                if (!listed) {
                    ++unlisted;
                    continue;
                }
                ToggleCheckState(paths["/files/" + name], false);
                (lastBlock[name] < cut.blocks ? exact : failed)++;
            }
            // Nothing else under the root but the two folders: no node for an inode past the end.
            for (const auto& [path, node] : paths)
                EXPECT_TRUE(path.rfind("/files", 0) == 0 || path.rfind("/lost+found", 0) == 0) << path;

            const std::string out = dir + "/out";
            RecordingRecoverCallback callback;
            RecoverFolderJob job;
            std::string made;
            ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), out, &made), 1);
            for (int i = 0; i < kCutFiles; ++i) {
                const std::string name = CutFileName(i);
                if (!paths.count("/files/" + name))
                    continue;
                SCOPED_TRACE(name);
                const std::vector<std::uint8_t> want = CutFileBytes(i);
                const std::string target = made + "/files/" + name;
                if (lastBlock[name] < cut.blocks) {
                    EXPECT_EQ(ReadFileBytes(target), want);
                    continue;
                }
                // What is kept is the start of the file and never all of it.
                const std::vector<std::uint8_t> got = std::filesystem::exists(target) ? ReadFileBytes(target)
                                                                                       : std::vector<std::uint8_t>{};
                EXPECT_LT(got.size(), want.size());
                EXPECT_TRUE(std::equal(got.begin(), got.end(), want.begin()));
            }
            EXPECT_EQ(callback.files, exact);
            if (cut.blocks == 16384 - 1) {
                EXPECT_EQ(exact, kCutFiles);
            } else if (cut.blocks == indirect) {
                EXPECT_GT(exact, 0);
                EXPECT_GT(failed, 0);
            } else {
                EXPECT_GT(exact, 0);
                EXPECT_GT(failed, 0);
                EXPECT_GT(unlisted, 0);
                // The inodes past the end are named in the reader's log.
                std::uint32_t firstPast = 1;
                while (firstPast <= 64 && tableBlock[firstPast - 1] < cut.blocks)
                    ++firstPast;
                const std::vector<std::uint8_t> log = ReadFileBytes(GetExt2ErrorLogPath());
                const std::string line = "Inodes " + std::to_string(firstPast) +
                                         " to 64 (block groups 1 to 1) lie past the end of the device";
                EXPECT_NE(std::string(log.begin(), log.end()).find(line), std::string::npos) << line;
            }
        }
    }
}

namespace {

// Two files of a little over 3 MiB on a 1 KiB-block volume: 12 direct blocks, 256 blocks under
// the single indirect block, the rest under the double indirect block. "/big.bin" is live,
// "/gone.bin" was deleted with kill_file (its block pointers kept).
constexpr std::size_t kMappedBytes = 3 * 1024 * 1024 + 700;

std::vector<std::uint8_t> MappedFileBytes(const std::string& path) {
    return PatternBytes(kMappedBytes, path == "/big.bin" ? 31 : 32);
}

std::string MappedFilesVolume() {
    return CachedFixture("ext2-mapped-files-v1.img", [](const std::string& tmp) {
        const std::string dir = tmp + ".d";
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        bool ok = RequireExt2Tools() && WriteFileBytes(dir + "/big.bin", MappedFileBytes("/big.bin")) &&
                  WriteFileBytes(dir + "/gone.bin", MappedFileBytes("/gone.bin"));
        Ext2ImageOptions o;
        o.sizeKiB = 16 * 1024;
        o.contentDir = dir;
        ok = ok && Ext2Image::Format(tmp, o);
        ok = ok && Ext2Image(tmp).KillFile("/gone.bin");
        std::filesystem::remove_all(dir);
        return ok;
    });
}

// The indirect blocks of a file as debugfs's `stat` names them, in the order it lists them:
// "(IND):n" for single indirect blocks, "(DIND):n" for the double indirect block.
struct IndirectBlocks {
    std::uint32_t single = 0;      // the inode's single indirect block
    std::uint32_t dbl = 0;         // its double indirect block
    std::uint32_t firstUnder = 0;  // the first single indirect block under the double one
};

IndirectBlocks FindIndirectBlocks(Ext2Image& image, const std::string& path) {
    IndirectBlocks found;
    std::string out;
    if (!image.Debugfs({"stat " + path}, &out, false))
        return found;
    auto after = [&](const std::string& label, std::size_t from, std::size_t* at) -> std::uint32_t {
        *at = out.find(label, from);
        return *at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::strtoul(out.c_str() + *at + label.size(), nullptr, 10));
    };
    std::size_t at = 0;
    found.single = after("(IND):", 0, &at);
    found.dbl = after("(DIND):", 0, &at);
    if (at != std::string::npos)
        found.firstUnder = after("(IND):", at, &at);
    return found;
}

} // namespace

// One unreadable indirect block costs only the span it maps: that span is written as zeros,
// the data after it comes back exact, the file is not counted as recovered, and both the
// activity log and the EXT2 error log say how many bytes are unknown. A live file and a deleted
// one whose pointers kill_file kept; the single indirect block, the double indirect block (the
// rest of the file is under it) and the first indirect block under the double one.
TEST(Ext2Recovery, UnreadableIndirectBlockLosesOnlyItsSpan) {
    ASSERT_TRUE(RequireExt2Tools());
    const std::string logFolder = ScratchDir("ext2-indirect-log");
    InitLog((logFolder + "/BrulinLog.log").c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
    const std::string volume = MappedFilesVolume();
    ASSERT_FALSE(volume.empty());
    Ext2Image image(volume);
    const std::vector<std::uint8_t> volumeBytes = ReadFileBytes(volume);

    enum Which { kNone, kSingle, kDouble, kUnderDouble };
    constexpr std::uint64_t kBlock = 1024;
    constexpr std::uint64_t kSingleFrom = 12 * kBlock;
    constexpr std::uint64_t kDoubleFrom = (12 + 256) * kBlock;
    struct Case {
        const char* path;
        Which which;
        std::uint64_t from;  // first unknown byte
        std::uint64_t bytes; // unknown bytes
    };
    const Case cases[] = {
        {"/big.bin", kNone, 0, 0},
        {"/big.bin", kSingle, kSingleFrom, 256 * kBlock},
        {"/gone.bin", kSingle, kSingleFrom, 256 * kBlock},
        {"/big.bin", kDouble, kDoubleFrom, kMappedBytes - kDoubleFrom},
        {"/big.bin", kUnderDouble, kDoubleFrom, 256 * kBlock},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path) + " case " + std::to_string(n++));
        const IndirectBlocks blocks = FindIndirectBlocks(image, c.path);
        ASSERT_NE(blocks.single, 0u);
        ASSERT_NE(blocks.dbl, 0u);
        ASSERT_NE(blocks.firstUnder, 0u);
        const std::uint32_t bad = c.which == kSingle ? blocks.single
                                  : c.which == kDouble ? blocks.dbl
                                  : c.which == kUnderDouble ? blocks.firstUnder
                                                            : 0;
        MemoryDevice device(volumeBytes);
        if (bad) {
            device.FailSector(2 * std::uint64_t{bad});
            device.FailSector(2 * std::uint64_t{bad} + 1);
        }
        TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        ASSERT_TRUE(paths.count(c.path));
        CFileNode* node = paths[c.path];
        EXPECT_EQ(node->m_pProperties->GetFileSize(), kMappedBytes);
        ToggleCheckState(node, false);

        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), ScratchDir("ext2-indirect"), &made), 1);
        std::vector<std::uint8_t> want = MappedFileBytes(c.path);
        std::fill(want.begin() + static_cast<std::ptrdiff_t>(c.from),
                  want.begin() + static_cast<std::ptrdiff_t>(c.from + c.bytes), 0);
        const std::string target = made + c.path;
        EXPECT_EQ(ReadFileBytes(target), want);
        EXPECT_EQ(callback.files, bad ? 0 : 1);
        if (!bad)
            continue;
        EXPECT_EQ(callback.bytes, 0u);
        const std::vector<std::uint8_t> log = ReadFileBytes(logFolder + "/BrulinLog.log");
        const std::string line = std::to_string(c.bytes) + " bytes of " + target + " are unknown";
        EXPECT_NE(std::string(log.begin(), log.end()).find(line), std::string::npos) << line;
        const std::vector<std::uint8_t> errors = ReadFileBytes(GetExt2ErrorLogPath());
        const std::string error = "indirect block " + std::to_string(bad) + " could not be read; " +
                                  std::to_string(c.bytes) + " bytes of the file (from byte " +
                                  std::to_string(c.from) + ") are unknown";
        EXPECT_NE(std::string(errors.begin(), errors.end()).find(error), std::string::npos) << error;
    }
}
