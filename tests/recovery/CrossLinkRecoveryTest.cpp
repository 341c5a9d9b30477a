// Deleted files whose clusters a later file took, on volumes made by the real tools: the quick
// scans and the deep scan flag them Cross Link (state 0x04), the recovery writes what their
// clusters hold but does not count them as recovered and names them in the log, while a
// deleted file whose clusters stayed free comes back with its own bytes.
#include "carving/IntelligentSearch.h"
#include "filesystems/CrossLink.h"
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
#include "tests/recovery/FakeTree.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/CrossLinkVolumes.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

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

// A live file flagged Cross Link under `root`, or null (there must be none).
const CFileNode* LiveCrossLinkedFile(const CFileNode* root) {
    std::vector<const CFileNode*> stack{root};
    while (!stack.empty()) {
        const CFileNode* node = stack.back();
        stack.pop_back();
        for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
        const IFileProperties* p = node->m_pProperties;
        if (p && !(p->GetFileState() & FILESTATE_DELETED) && (p->GetFileState() & FILESTATE_CROSS_LINK))
            return node;
    }
    return nullptr;
}

// Checks the two flags, recovers only the two files and checks what was written, counted and
// logged.
void CheckFlagsAndRecovery(CFileSystemNode* root, IStorageDevice& device, const CrossLinkFiles& files) {
    ASSERT_TRUE(files.reused);
    ASSERT_TRUE(files.intact);
    EXPECT_EQ(files.reused->m_pProperties->GetFileState(), FILESTATE_DELETED | FILESTATE_CROSS_LINK);
    EXPECT_EQ(files.intact->m_pProperties->GetFileState(), FILESTATE_DELETED);
    EXPECT_EQ(LiveCrossLinkedFile(root), nullptr) << "only deleted files are cross-linked";

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
    const std::string prefix = "Clusters in use by another file: ";
    const std::size_t at = text.find(prefix + made + "/");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find(prefix + made + "/", at + 1), std::string::npos) << text;
    const std::size_t pathAt = at + prefix.size();
    const std::string reusedPath = text.substr(pathAt, text.find_first_of("\r\n", pathAt) - pathAt);
    // What the clusters hold now is written: not the deleted file's own bytes.
    const Bytes written = ReadFileBytes(reusedPath);
    EXPECT_EQ(written.size(), CrossLinkOldBytes().size());
    EXPECT_NE(written, CrossLinkOldBytes());
    // The other file written is the intact one, whole.
    int others = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(made)) {
        if (!e.is_regular_file() || e.path().string() == reusedPath)
            continue;
        ++others;
        EXPECT_EQ(ReadFileBytes(e.path().string()), CrossLinkIntactBytes()) << e.path();
    }
    EXPECT_EQ(others, 1);
}


// One file of a tree whose flag and recovery a test checks: found by its size (and state), with
// the bytes it had; `overwritten` when its clusters hold another file's bytes now.
struct ExpectedFile {
    const char* name;
    const Bytes* own;
    bool deleted;
    bool crossLinked;
    bool overwritten = false;
};

// Checks the files' Cross Link flags, recovers just those files and checks what was written
// and counted: a file without the flag comes back with its own bytes and counts as recovered;
// a flagged one is written, at its size, with what its clusters hold, and does not count (an
// overwritten one is not written with its own bytes).
void CheckFilesAndRecovery(CFileSystemNode* root, IStorageDevice& device, const std::vector<ExpectedFile>& files) {
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    if (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root, false);
    int good = 0;
    for (const ExpectedFile& f : files) {
        SCOPED_TRACE(f.name);
        CFileNode* node = FileOfSize(root, f.own->size(), f.deleted);
        ASSERT_TRUE(node);
        const std::uint8_t state = node->m_pProperties->GetFileState();
        EXPECT_EQ((state & FILESTATE_CROSS_LINK) != 0, f.crossLinked);
        EXPECT_EQ((state & FILESTATE_DELETED) != 0, f.deleted);
        ToggleCheckState(node, false);
        good += !f.crossLinked;
    }
    const std::string out = ScratchDir("crosslink-recovery");
    RecordingRecoverCallback callback;
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(&callback, &device, &job, root, out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);
    EXPECT_EQ(callback.files, good) << "only the files with their own bytes count as recovered";
    // The sizes tell the written files apart.
    std::size_t written = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(made)) {
        if (!e.is_regular_file())
            continue;
        ++written;
        const Bytes bytes = ReadFileBytes(e.path().string());
        const auto f = std::find_if(files.begin(), files.end(),
                                    [&](const ExpectedFile& x) { return x.own->size() == bytes.size(); });
        ASSERT_NE(f, files.end()) << e.path();
        SCOPED_TRACE(f->name);
        if (f->overwritten) {
            EXPECT_NE(bytes, *f->own) << "the clusters hold another file now";
        } else if (!f->crossLinked) {
            EXPECT_EQ(bytes, *f->own);
        }
    }
    EXPECT_EQ(written, files.size());
}

// The volume with its boot sector(s) and the first records of its MFT zeroed.
Bytes WithoutNtfsBootAndMftStart(const std::string& image, bool backupToo) {
    Bytes bytes = LoadImageBytes(image);
    const std::int64_t mft = NtfsRecordOffset(image, 0);
    EXPECT_GT(mft, 0);
    if (mft <= 0)
        return bytes;
    std::fill_n(bytes.begin(), 512, 0);
    if (backupToo)
        std::fill_n(bytes.end() - 512, 512, 0);
    std::fill_n(bytes.begin() + mft, 8 * 1024, 0); // $MFT ... $BadClus... the records 0 to 7
    return bytes;
}

// The volume with both its FATs zeroed.
Bytes WithoutFats(const std::string& image) {
    Bytes volume = LoadImageBytes(image);
    CFATDBR dbr(volume.data(), 512);
    EXPECT_TRUE(dbr.IsValid());
    if (dbr.IsValid())
        std::fill_n(volume.begin() + dbr.GetReservedSectors() * 512, 2ull * dbr.GetSectorsPerFAT() * 512, 0);
    return volume;
}

// The FAT quick scan of a volume at sector 0 of `device`, live entries listed too.
TreePtr FatQuickScanTree(IStorageDevice& device) {
    std::uint8_t boot[512];
    EXPECT_EQ(device.ReadSectors(boot, 0, 1), 1);
    CFATSearchedPartitionInfo partition;
    EXPECT_TRUE(InitFATSearchedPartitionInfo(partition, boot, sizeof boot, 0));
    return TreePtr(BuildFatFileTree(nullptr, &partition, nullptr, &device, 1));
}

class CrossLinkRecovery : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(LogPath().empty()); }
};

// ---- NTFS ----------------------------------------------------------------------------------

// The NTFS quick scan of the device and the checks.
void NtfsQuickScanAndCheck(IStorageDevice& device) {
    CNullDirBuildCallback build;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&device, &params, &build));
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FindCrossLinkFiles(root.get()));
}

TEST_F(CrossLinkRecovery, NtfsQuickScan) {
    const std::string image = NtfsCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    NtfsQuickScanAndCheck(device);
}

// Without its $Bitmap record the volume's allocation is not known: the live file's runs tell.
TEST_F(CrossLinkRecovery, NtfsQuickScanWithoutTheBitmapRecord) {
    const std::string image = NtfsCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    const std::int64_t bitmapRecord = NtfsRecordOffset(image, 6);
    ASSERT_GT(bitmapRecord, 0);
    Bytes bytes = LoadImageBytes(image);
    std::fill_n(bytes.begin() + bitmapRecord, 1024, 0);
    MemoryDevice device(std::move(bytes));
    NtfsQuickScanAndCheck(device);
}

// With the later file's record gone the tree holds no file on the reused clusters: only the
// volume's $Bitmap tells that another file has them.
TEST_F(CrossLinkRecovery, NtfsQuickScanWithTheLaterFilesRecordGone) {
    const std::string image = NtfsCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    Bytes bytes = LoadImageBytes(image);
    const std::u16string name = u"new.bin";
    std::int64_t newRecord = -1;
    for (std::uint64_t record = 16; record < 256 && newRecord < 0; ++record) {
        const std::int64_t at = NtfsRecordOffset(image, record);
        if (at <= 0 || static_cast<std::uint64_t>(at) + 1024 > bytes.size())
            continue;
        const auto* first = bytes.data() + at;
        const auto* found = std::search(first, first + 1024, reinterpret_cast<const std::uint8_t*>(name.data()),
                                        reinterpret_cast<const std::uint8_t*>(name.data() + name.size()));
        if (found != first + 1024)
            newRecord = at;
    }
    ASSERT_GT(newRecord, 0);
    std::fill_n(bytes.begin() + newRecord, 1024, 0);
    MemoryDevice device(std::move(bytes));
    NtfsQuickScanAndCheck(device);
}

// The deep scan's search over `device` with one controller and the tree of the volume it chose
// (null after a failure, which is recorded).
TreePtr DeepScanTree(IStorageDevice& device, IFileSystemSearchController& controller) {
    CIntelligentSearchController search;
    search.SetDevice(&device);
    search.AddController(&controller);
    EXPECT_EQ(search.Search(nullptr), 1);
    std::vector<CSearchedPartitionInfo*> list;
    controller.CollectSearchedPartitions(list);
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned(list.begin(), list.end());
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
    TreePtr root(BuildDirectoryTreeByController({&controller}, volume, &device, &cb, 0));
    EXPECT_TRUE(root);
    return root;
}

// The deep scan of a device of `bytes` and the checks.
void DeepScanAndCheck(std::vector<std::uint8_t> bytes, IFileSystemSearchController& controller) {
    MemoryDevice device(std::move(bytes));
    TreePtr root = DeepScanTree(device, controller);
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FindCrossLinkFiles(root.get()));
}

TEST_F(CrossLinkRecovery, NtfsDeepScan) {
    const std::string image = NtfsCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    CNTFSSearchController controller;
    DeepScanAndCheck(LoadImageBytes(image), controller);
}

// ---- FAT32 ---------------------------------------------------------------------------------

TEST_F(CrossLinkRecovery, Fat32QuickScan) {
    const std::string image = FatCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    std::uint8_t boot[512];
    ASSERT_EQ(device.ReadSectors(boot, 0, 1), 1);
    CFATSearchedPartitionInfo partition;
    ASSERT_TRUE(InitFATSearchedPartitionInfo(partition, boot, sizeof boot, 0));
    TreePtr root(BuildFatFileTree(nullptr, &partition, nullptr, &device, 0));
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FindCrossLinkFiles(root.get()));
}

// Both FATs zeroed: no FAT tells which clusters are taken, the live file's range does.
TEST_F(CrossLinkRecovery, Fat32DeepScanWithBothFatsZeroed) {
    const std::string image = FatCrossLinkVolume();
    ASSERT_FALSE(image.empty());
    Bytes volume = LoadImageBytes(image);
    CFATDBR dbr(volume.data(), 512);
    ASSERT_TRUE(dbr.IsValid());
    std::fill_n(volume.begin() + dbr.GetReservedSectors() * 512, 2ull * dbr.GetSectorsPerFAT() * 512, 0);
    CFATSearchController controller;
    DeepScanAndCheck(std::move(volume), controller);
}

// ---- A deleted file written over a deleted file -----------------------------------------------

// "new.bin" was written into the clusters of the deleted "old.bin" and deleted as well. The
// records' $LogFile sequence numbers tell which came later: old.bin alone is flagged. Without
// them (the library writes none) nothing tells, and both are. The deleted "intact.bin" that
// shares no cluster is never flagged.
TEST_F(CrossLinkRecovery, NtfsDeletedFileOverADeletedOne) {
    for (const bool stamped : {true, false}) {
        SCOPED_TRACE(stamped ? "sequence numbers" : "no sequence numbers");
        const std::string image = NtfsOverwrittenDeletedVolume(stamped);
        ASSERT_FALSE(image.empty());
        const std::vector<ExpectedFile> files = {
            {"old.bin", &CrossLinkOldBytes(), true, true, true},
            {"new.bin", &OverwritingNewBytes(), true, !stamped},
            {"intact.bin", &CrossLinkIntactBytes(), true, false},
            {"keep.bin", &CrossLinkKeepBytes(), false, false},
        };
        {
            SCOPED_TRACE("quick scan");
            CImageFileDevice device(image.c_str());
            CNullDirBuildCallback build;
            NtfsTreeBuildParams params;
            InitNtfsTreeBuildParams(&params);
            TreePtr root(BuildNtfsFileTree(&device, &params, &build));
            ASSERT_TRUE(root);
            CheckFilesAndRecovery(root.get(), device, files);
        }
        for (const bool backupToo : {false, true}) {
            SCOPED_TRACE(backupToo ? "deep scan, both boot sectors gone" : "deep scan, boot sector gone");
            MemoryDevice device(WithoutNtfsBootAndMftStart(image, backupToo));
            CNTFSSearchController controller;
            TreePtr root = DeepScanTree(device, controller);
            ASSERT_TRUE(root);
            CheckFilesAndRecovery(root.get(), device, files);
        }
    }
}

// The same on FAT32: "NEW.BIN" starts at the first cluster of the deleted "OLD.BIN". With a
// later time it keeps the clusters; with the same time nothing tells and both are flagged.
TEST_F(CrossLinkRecovery, Fat32DeletedFileOverADeletedOne) {
    for (const bool sameTimes : {false, true}) {
        SCOPED_TRACE(sameTimes ? "same times" : "later time");
        const std::string image = FatOverwrittenDeletedVolume(sameTimes);
        ASSERT_FALSE(image.empty());
        const std::vector<ExpectedFile> files = {
            {"OLD.BIN", &CrossLinkOldBytes(), true, true, true},
            {"NEW.BIN", &OverwritingNewBytes(), true, sameTimes},
            {"INTACT.BIN", &CrossLinkIntactBytes(), true, false},
            {"KEEP.BIN", &CrossLinkKeepBytes(), false, false},
        };
        {
            SCOPED_TRACE("quick scan");
            CImageFileDevice device(image.c_str());
            TreePtr root = FatQuickScanTree(device);
            ASSERT_TRUE(root);
            CheckFilesAndRecovery(root.get(), device, files);
        }
        {
            SCOPED_TRACE("deep scan, both FATs zeroed");
            MemoryDevice device(WithoutFats(image));
            CFATSearchController controller;
            TreePtr root = DeepScanTree(device, controller);
            ASSERT_TRUE(root);
            CheckFilesAndRecovery(root.get(), device, files);
        }
    }
}

// ---- A live file whose chain is not known ------------------------------------------------------

// "X.BIN" lies in two pieces around "Y.BIN". With both FATs zeroed its clusters are taken to
// follow on from its first one, a run that reaches Y.BIN's first cluster: X.BIN is flagged and
// not counted, Y.BIN comes back whole. With the FATs the chains are known and both are whole.
TEST_F(CrossLinkRecovery, Fat32LiveFileAssumedInOnePieceOverAnotherLiveFile) {
    const std::string image = FatSplitLiveFileVolume();
    ASSERT_FALSE(image.empty());
    {
        SCOPED_TRACE("quick scan");
        CImageFileDevice device(image.c_str());
        TreePtr root = FatQuickScanTree(device);
        ASSERT_TRUE(root);
        CheckFilesAndRecovery(root.get(), device,
                              {{"X.BIN", &SplitLiveBytes(), false, false}, {"Y.BIN", &SplitNeighbourBytes(), false, false}});
    }
    {
        SCOPED_TRACE("deep scan, both FATs zeroed");
        MemoryDevice device(WithoutFats(image));
        CFATSearchController controller;
        TreePtr root = DeepScanTree(device, controller);
        ASSERT_TRUE(root);
        CheckFilesAndRecovery(root.get(), device,
                              {{"X.BIN", &SplitLiveBytes(), false, true, true},
                               {"Y.BIN", &SplitNeighbourBytes(), false, false}});
    }
}

// ---- EXT2 ----------------------------------------------------------------------------------

TEST_F(CrossLinkRecovery, Ext2) {
    const std::string image = Ext2CrossLinkVolume();
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    CheckFlagsAndRecovery(root.get(), device, FindCrossLinkFiles(root.get()));
}

// ---- The rules on a hand-made tree -------------------------------------------------------------

// Which deleted files one live file (clusters 10..14 of a 100-cluster volume) cross-links: a
// run cut at the file's size, a run from far past the volume's end, sparse runs and the holes
// of an EXT2 list (runs from block 0) never touch it.
TEST(CrossLinkRules, RunsOfDeletedFilesAgainstTheLiveFiles) {
    struct Case {
        const char* name;
        std::vector<DataRun> runs;
        std::uint64_t size;
        std::uint32_t kind;
        bool crossLinked;
    };
    const Case cases[] = {
        {"inside", {{12, 1}}, 512, FILEPROPS_NTFS, true},
        {"second run", {{50, 2}, {14, 4}}, 4 * 512, FILEPROPS_NTFS, true},
        {"cut at its size", {{5, 5}, {10, 5}}, 5 * 512, FILEPROPS_NTFS, false},
        {"just after", {{15, 20}}, 20 * 512, FILEPROPS_NTFS, false},
        {"past the end", {{std::int64_t{1} << 40, 1000}}, 1000 * 512, FILEPROPS_NTFS, false},
        {"sparse", {{kSparseRunStart, 30}, {60, 1}}, 31 * 512, FILEPROPS_NTFS, false},
        {"EXT2 hole", {{0, 2}, {40, 1}}, 3 * 512, FILEPROPS_EXT2, false},
        {"EXT2 block", {{0, 2}, {11, 1}}, 3 * 512, FILEPROPS_EXT2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreePtr root = MakeRoot(0, 1);
        FileRecipe live;
        live.name = "live";
        live.size = 5 * 512;
        live.runs = {{10, 5}};
        AddFile(root.get(), live);
        FileRecipe gone;
        gone.name = c.name;
        gone.size = c.size;
        gone.runs = c.runs;
        gone.kind = c.kind;
        auto* props =
            static_cast<FakeFileProperties*>(AddFile(root.get(), gone)->m_pProperties.get());
        MyFilePropertiesRecord record = props->GetRecord();
        record.entryState = FILESTATE_DELETED;
        props->SetRecord(record);
        std::vector<std::uint64_t> bits;
        std::unique_ptr<CClusterUseBitMap> map = CreateCrossLinkMap(root.get(), &bits, 100);
        ASSERT_TRUE(map);
        MarkLiveFileClusters(root.get(), *map);
        EXPECT_EQ(FlagCrossLinkedFiles(root.get(), *map), c.crossLinked ? 1u : 0u);
    }
    // Without a deleted file there is nothing to flag and no map is made.
    TreePtr plain = MakeRoot(0, 1);
    FileRecipe live;
    live.name = "live";
    live.size = 512;
    live.runs = {{1, 1}};
    AddFile(plain.get(), live);
    std::vector<std::uint64_t> bits;
    EXPECT_FALSE(CreateCrossLinkMap(plain.get(), &bits, 100));
}

// Deleted files against each other (512-byte clusters of a 100-cluster volume): the stamp is
// the file's last-write time here, 0 for none. A file is flagged when a file with a later stamp
// shares one of its clusters; equal or missing stamps flag both sides; files that only touch
// do not meet; live files take no part.
TEST(CrossLinkRules, DeletedFilesAgainstEachOther) {
    struct File {
        const char* name;
        std::vector<DataRun> runs;
        std::uint64_t stamp;
        bool deleted;
    };
    struct Case {
        const char* name;
        std::vector<File> files;
        std::vector<std::string> flagged;
    };
    const Case cases[] = {
        {"later inside earlier", {{"a", {{10, 5}}, 1, true}, {"b", {{12, 2}}, 2, true}}, {"a"}},
        {"earlier inside later", {{"a", {{10, 5}}, 2, true}, {"b", {{12, 2}}, 1, true}}, {"b"}},
        {"equal stamps", {{"a", {{10, 5}}, 7, true}, {"b", {{14, 6}}, 7, true}}, {"a", "b"}},
        {"one stamp missing", {{"a", {{10, 5}}, 0, true}, {"b", {{10, 5}}, 9, true}}, {"a", "b"}},
        {"touching", {{"a", {{10, 5}}, 1, true}, {"b", {{15, 5}}, 2, true}}, {}},
        {"no stamp, alone", {{"a", {{10, 5}}, 0, true}, {"b", {{50, 5}}, 3, true}}, {}},
        {"two under one", {{"a", {{10, 10}}, 3, true}, {"b", {{12, 3}}, 1, true}, {"c", {{16, 2}}, 2, true}},
         {"b", "c"}},
        {"a chain", {{"a", {{10, 10}}, 1, true}, {"b", {{15, 10}}, 2, true}, {"c", {{22, 10}}, 3, true}},
         {"a", "b"}},
        {"a later one at the end of a long one",
         {{"a", {{10, 30}}, 5, true}, {"b", {{12, 2}}, 1, true}, {"c", {{20, 2}}, 6, true}},
         {"a", "b"}},
        {"second run", {{"a", {{10, 2}, {40, 2}}, 1, true}, {"b", {{41, 1}}, 2, true}}, {"a"}},
        {"own runs overlap", {{"a", {{10, 4}, {12, 4}}, 1, true}}, {}},
        {"three on one start", {{"a", {{10, 5}}, 2, true}, {"b", {{10, 5}}, 1, true}, {"c", {{12, 1}}, 3, true}},
         {"a", "b"}},
        {"live file", {{"a", {{10, 5}}, 9, false}, {"b", {{10, 5}}, 1, true}}, {}},
        {"sparse and past the end", {{"a", {{kSparseRunStart, 5}, {100, 5}}, 1, true}, {"b", {{0, 100}}, 2, true}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TreePtr root = MakeRoot(0, 1);
        std::vector<FakeFileProperties*> props;
        for (const File& f : c.files) {
            FileRecipe recipe;
            recipe.name = f.name;
            for (const DataRun& r : f.runs)
                recipe.size += static_cast<std::uint64_t>(r.count) * 512;
            recipe.runs = f.runs;
            recipe.writeTicks = f.stamp;
            props.push_back(static_cast<FakeFileProperties*>(AddFile(root.get(), recipe)->m_pProperties.get()));
            MyFilePropertiesRecord record = props.back()->GetRecord();
            record.entryState = f.deleted ? FILESTATE_DELETED : FILESTATE_LIVE;
            props.back()->SetRecord(record);
        }
        const std::size_t n = FlagOverwrittenDeletedFiles(
            root.get(), 100,
            [](const IFileProperties& p, const ClusterRunVisit& visit) { VisitFileClusterRuns(p, 512, visit); },
            [](const IFileProperties& p) {
                FileTime t;
                return p.GetLastWriteTime(&t)->ticks;
            });
        std::vector<std::string> flagged;
        for (const FakeFileProperties* p : props)
            if (p->GetFileState() & FILESTATE_CROSS_LINK)
                flagged.push_back(p->name);
        EXPECT_EQ(flagged, c.flagged);
        EXPECT_EQ(n, c.flagged.size());
    }
}

} // namespace
