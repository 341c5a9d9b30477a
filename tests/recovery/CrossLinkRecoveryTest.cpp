// Deleted files whose clusters a later file took, on volumes made by the real tools: the quick
// scans and the deep scan flag them Cross Link (state 0x04), the recovery writes what their
// clusters hold but does not count them as recovered and names them in the log, while a
// deleted file whose clusters stayed free comes back with its own bytes.
#include "carving/IntelligentSearch.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "logging/Log.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

// What every volume holds: "old.bin" deleted and then overwritten by "new.bin", "keep.bin"
// live, "intact.bin" deleted after "new.bin" was written (its clusters are free and hold it).
const Bytes& OldBytes() {
    static const Bytes b = PatternBytes(40000, 101);
    return b;
}
const Bytes& NewBytes() {
    static const Bytes b = PatternBytes(40000, 102);
    return b;
}
const Bytes& KeepBytes() {
    static const Bytes b = PatternBytes(20000, 103);
    return b;
}
const Bytes& IntactBytes() {
    static const Bytes b = PatternBytes(30000, 104);
    return b;
}
const Bytes& FillerBytes() {
    static const Bytes b = PatternBytes(100, 105);
    return b;
}

// The process's log goes to a file of its own, read back by the checks; it is set before the
// first line is logged (the first sink stays).
const std::string& LogPath() {
    static const std::string path = [] {
        const std::string p = ScratchDir("crosslink-log") + "/BrulinLog.log";
        InitLog(p.c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
        return p;
    }();
    return path;
}

std::string LogText() {
    const Bytes b = ReadFileBytes(LogPath());
    return std::string(b.begin(), b.end());
}

// The first file under `root` that `match` accepts, or null.
CFileNode* FindFile(CFileNode* root, const std::function<bool(const IFileProperties&)>& match) {
    std::vector<CFileNode*> stack{root};
    while (!stack.empty()) {
        CFileNode* node = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
        if (node != root && node->m_pProperties && !(node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) &&
            match(*node->m_pProperties))
            return node;
    }
    return nullptr;
}

CFileNode* FindByName(CFileNode* root, const char* name, bool deleted) {
    return FindFile(root, [&](const IFileProperties& p) {
        return strcasecmp(p.GetName(), name) == 0 && ((p.GetFileState() & FILESTATE_DELETED) != 0) == deleted;
    });
}

// The reused file and the intact one, as the scan found them.
struct Pair {
    CFileNode* reused = nullptr;
    CFileNode* intact = nullptr;
};

// Checks the two flags, recovers only the two files and checks what was written, counted and
// logged.
void CheckFlagsAndRecovery(CFileSystemNode* root, IStorageDevice& device, const Pair& files) {
    ASSERT_TRUE(files.reused);
    ASSERT_TRUE(files.intact);
    EXPECT_EQ(files.reused->m_pProperties->GetFileState(), FILESTATE_DELETED | FILESTATE_CROSS_LINK);
    EXPECT_EQ(files.intact->m_pProperties->GetFileState(), FILESTATE_DELETED);
    EXPECT_EQ(FindFile(root, [](const IFileProperties& p) {
                  return !(p.GetFileState() & FILESTATE_DELETED) && (p.GetFileState() & FILESTATE_CROSS_LINK);
              }),
              nullptr)
        << "only deleted files are cross-linked";

    // Only the two files are checked; the flagged one can be checked like any other.
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    ToggleCheckState(files.reused, false);
    ToggleCheckState(files.intact, false);
    FileTreeCounters counters;
    root->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, 2u);

    const std::string out = ScratchDir("crosslink-recovery");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root, out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    EXPECT_EQ(callback.files, 1) << "the cross-linked file is not counted as recovered";

    // One log line names the cross-linked file as written.
    const std::string text = LogText();
    const std::string key = "Clusters in use by another file: " + made + "/";
    const std::size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(key, at + 1), std::string::npos) << text;
    const std::size_t pathAt = at + key.size() - made.size() - 1;
    const std::string reusedPath = text.substr(pathAt, text.find_first_of("\r\n", pathAt) - pathAt);
    // What the clusters hold now is written: not the deleted file's own bytes.
    const Bytes written = ReadFileBytes(reusedPath);
    EXPECT_EQ(written.size(), OldBytes().size());
    EXPECT_NE(written, OldBytes());
    // The other file written is the intact one, whole.
    int others = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(made)) {
        if (!e.is_regular_file() || e.path().string() == reusedPath)
            continue;
        ++others;
        EXPECT_EQ(ReadFileBytes(e.path().string()), IntactBytes()) << e.path();
    }
    EXPECT_EQ(others, 1);
}

class CrossLinkRecovery : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(LogPath().empty()); }
};

// ---- NTFS ----------------------------------------------------------------------------------

// mkntfs, then one ntfs-3g session per step. ntfs-3g places new data after the last allocated
// cluster, and a new file takes the lowest free MFT record: "old.bin" is written last, then
// deleted together with a resident filler of a lower record, so that "new.bin" takes the
// filler's record (the deleted record of "old.bin" stays) and the clusters "old.bin" had.
std::string NtfsVolume() {
    return CachedFixture("crosslink-ntfs-v2.img", [](const std::string& tmp) {
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        if (!MakeNtfsImage(tmp, recipe))
            return false;
        const std::string src = tmp + ".src-";
        for (const auto& [name, bytes] : {std::pair{"filler.txt", &FillerBytes()}, {"old.bin", &OldBytes()},
                                          {"keep.bin", &KeepBytes()}, {"intact.bin", &IntactBytes()},
                                          {"new.bin", &NewBytes()}}) {
            if (!WriteFileBytes(src + name, *bytes))
                return false;
        }
        auto put = [&src](const char* name) { return "put " + src + name + " /" + name + "\n"; };
        return NtfsEdit(tmp, put("intact.bin") + put("keep.bin") + put("filler.txt") + put("old.bin")) &&
               NtfsEdit(tmp, "rm /filler.txt\nrm /old.bin\n") && NtfsEdit(tmp, put("new.bin")) &&
               NtfsEdit(tmp, "rm /intact.bin\n");
    });
}

Pair NtfsPair(CFileNode* root) {
    return {FindByName(root, "old.bin", true), FindByName(root, "intact.bin", true)};
}

TEST_F(CrossLinkRecovery, NtfsQuickScan) {
    const std::string image = NtfsVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&device, &params, &build));
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, NtfsPair(root.get()));
}

// The deep scan's search over the device and the tree of the volume it chose.
TreePtr DeepScanTree(IStorageDevice& device, IFileSystemSearchController& controller,
                     std::vector<std::unique_ptr<CSearchedPartitionInfo>>& owned) {
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    EXPECT_EQ(search.Search(nullptr), 1);
    std::vector<CSearchedPartitionInfo*> list;
    controller.CollectSearchedPartitions(list);
    for (CSearchedPartitionInfo* p : list)
        owned.emplace_back(p);
    ScoreSearchedPartitions(list);
    SortSearchedPartitions(list);
    SelectBestSearchedPartitions(list, device.GetSectorCount());
    // The device holds one volume: the chosen candidate that starts first.
    CSearchedPartitionInfo* volume = nullptr;
    for (CSearchedPartitionInfo* p : list)
        if (p->m_u32Chosen && (!volume || p->m_u64FirstSector < volume->m_u64FirstSector))
            volume = p;
    if (!volume) {
        ADD_FAILURE() << "no volume was chosen among " << list.size();
        return nullptr;
    }
    CNullDirBuildCallback cb;
    return TreePtr(BuildDirectoryTreeByController({&controller}, volume, &device, &cb, 0));
}

TEST_F(CrossLinkRecovery, NtfsDeepScan) {
    const std::string image = NtfsVolume();
    ASSERT_FALSE(image.empty());
    MemoryDevice device(LoadImageBytes(image));
    CNTFSSearchController controller;
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    TreePtr root = DeepScanTree(device, controller, owned);
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, NtfsPair(root.get()));
}

// ---- FAT32 ---------------------------------------------------------------------------------

// Points the FAT32 free-cluster hint at "unknown", so that the next file takes the first free
// clusters from the start of the data area.
bool ForgetFreeHint(const std::string& image) {
    Bytes boot = ReadFileBytes(image);
    if (boot.size() < 1024)
        return false;
    const std::uint64_t fsInfo = boot[48] | (boot[49] << 8);
    std::memset(boot.data() + fsInfo * 512 + 492, 0xFF, 4);
    return WriteFileBytes(image, boot);
}

// mkfs.fat and mtools, the files in a folder (a deep scan without FATs places the volume by its
// folders): the filler and "OLD.BIN" are deleted together (so "NEW.BIN" takes the filler's
// directory slot and the deleted entry of "OLD.BIN" stays), then "NEW.BIN" is written from the
// first free cluster on, over most of "OLD.BIN"'s clusters.
std::string FatVolume() {
    return CachedFixture("crosslink-fat32-v2.img", [](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 32;
        options.sizeKiB = 40 * 1024;
        options.sectorsPerCluster = 1;
        if (!RequireFatTools() || !FatImage::Format(tmp, options))
            return false;
        FatImage img(tmp);
        return img.MakeDir("/DOCS") && img.WriteFile("/DOCS/FILLER.TXT", FillerBytes()) &&
               img.WriteFile("/DOCS/OLD.BIN", OldBytes()) && img.WriteFile("/DOCS/KEEP.BIN", KeepBytes()) &&
               img.WriteFile("/DOCS/INTACT.BIN", IntactBytes()) && img.Delete("/DOCS/FILLER.TXT") &&
               img.Delete("/DOCS/OLD.BIN") && ForgetFreeHint(tmp) && img.WriteFile("/DOCS/NEW.BIN", NewBytes()) &&
               img.Delete("/DOCS/INTACT.BIN");
    });
}

// A deleted FAT entry has lost the first letter of its short name.
Pair FatPair(CFileNode* root) {
    auto deletedEnding = [root](const char* ending) {
        return FindFile(root, [ending](const IFileProperties& p) {
            const std::size_t n = std::strlen(p.GetName());
            return (p.GetFileState() & FILESTATE_DELETED) && n == std::strlen(ending) + 1 &&
                   strcasecmp(p.GetName() + 1, ending) == 0;
        });
    };
    return {deletedEnding("LD.BIN"), deletedEnding("NTACT.BIN")};
}

TEST_F(CrossLinkRecovery, Fat32QuickScan) {
    const std::string image = FatVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    std::uint8_t boot[512];
    ASSERT_EQ(device.ReadSectors(boot, 0, 1), 1);
    CFATSearchedPartitionInfo partition;
    ASSERT_TRUE(InitFATSearchedPartitionInfo(partition, boot, sizeof boot, 0));
    TreePtr root(BuildFatFileTree(nullptr, &partition, nullptr, &device, 0));
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FatPair(root.get()));
}

// Both FATs zeroed: no FAT tells which clusters are taken, the live file's range does.
TEST_F(CrossLinkRecovery, Fat32DeepScanWithBothFatsZeroed) {
    const std::string image = FatVolume();
    ASSERT_FALSE(image.empty());
    Bytes volume = LoadImageBytes(image);
    CFATDBR dbr(volume.data(), 512);
    ASSERT_TRUE(dbr.IsValid());
    std::fill_n(volume.begin() + dbr.GetReservedSectors() * 512, 2ull * dbr.GetSectorsPerFAT() * 512, 0);
    MemoryDevice device(volume);
    CFATSearchController controller;
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    TreePtr root = DeepScanTree(device, controller, owned);
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FatPair(root.get()));
}

// ---- EXT2 ----------------------------------------------------------------------------------

// mke2fs -d with the live file, then debugfs: the filler and "old.bin" are removed together,
// so "new.bin" takes the filler's inode (the lowest free one) and the first free blocks of the
// group, which were the filler's and "old.bin"'s.
std::string Ext2Volume() {
    return CachedFixture("crosslink-ext2-v1.img", [](const std::string& tmp) {
        const std::string content = tmp + ".content";
        std::error_code ec;
        std::filesystem::create_directories(content, ec);
        Ext2ImageOptions options;
        options.contentDir = content;
        if (!RequireExt2Tools() || !WriteFileBytes(content + "/keep.bin", KeepBytes()) ||
            !Ext2Image::Format(tmp, options))
            return false;
        Ext2Image img(tmp);
        return img.WriteBytes("/filler.txt", FillerBytes()) && img.WriteBytes("/old.bin", OldBytes()) &&
               img.WriteBytes("/intact.bin", IntactBytes()) && img.Remove("/filler.txt") &&
               img.Remove("/old.bin") && img.WriteBytes("/new.bin", NewBytes()) && img.Remove("/intact.bin");
    });
}

TEST_F(CrossLinkRecovery, Ext2) {
    const std::string image = Ext2Volume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    // The deleted inodes, told apart by their sizes.
    auto deletedOfSize = [&](std::size_t size) {
        return FindFile(root.get(), [size](const IFileProperties& p) {
            return (p.GetFileState() & FILESTATE_DELETED) && p.GetFileSize() == size;
        });
    };
    const Pair files{deletedOfSize(OldBytes().size()), deletedOfSize(IntactBytes().size())};
    CheckFlagsAndRecovery(root.get(), device, files);
}

} // namespace
