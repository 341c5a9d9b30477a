#include "carving/partition/PartitionSearcher.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsStructures.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"
#include "storage/PartitionTable.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/LostPartitionDisks.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <strings.h>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <tuple>

using namespace testsupport;

namespace {

// Collects what the search reports; cancels once `cancelAfterSteps` candidates were counted.
class RecordingCallback : public IPartitionSearchCallback {
public:
    explicit RecordingCallback(std::int64_t cancelAfterSteps = -1)
        : m_cancelAfter(cancelAfterSteps) {}

    int PumpMessages() override {
        ++pumps;
        return 0;
    }
    void StepProgress() override { ++steps; }
    int IsCancelled() override {
        workerThread = std::this_thread::get_id();
        if (m_cancelAfter >= 0 && steps >= m_cancelAfter)
            cancelled = true;
        return cancelled ? 1 : 0;
    }
    void SetStage(int s) override { stage = s; }
    void AddProgress() override { ++added; }
    void SetRange(std::uint64_t first, std::uint64_t last) override {
        rangeFirst = first;
        rangeLast = last;
    }
    void SetPosition(int) override {}
    void OnPartitionFound(const FoundPartitionInfo* partition) override {
        found.push_back(partition->TakeCopy());
        stepsAtFound.push_back(steps);
        ASSERT_FALSE(cancelled);
    }

    std::vector<FoundPartitionInfo> found;
    std::vector<std::int64_t> stepsAtFound;
    std::int64_t steps = 0, pumps = 0, added = 0;
    int stage = 0;
    std::uint64_t rangeFirst = 99, rangeLast = 0;
    bool cancelled = false;
    std::thread::id workerThread;

private:
    std::int64_t m_cancelAfter;
};

// A search set up as the wizard does (FAT, NTFS and EXT2/EXT3 recognisers).
struct Search {
    CPartitionSearcher searcher;
    RecordingCallback callback;

    Search(IStorageDevice* disk, int heads, std::int64_t cancelAfterSteps = -1)
        : callback(cancelAfterSteps) {
        searcher.SetDevice(disk);
        searcher.AddPartitionFileSystemController(&searcher.FatController());
        searcher.AddPartitionFileSystemController(&searcher.NtfsController());
        searcher.AddPartitionFileSystemController(&searcher.Ext2Controller());
        searcher.AddPartitionSearchAlgorithms(heads);
    }
    std::vector<FoundPartitionInfo>& Run() {
        searcher.StartPartitionSearch(&callback);
        return callback.found;
    }
};

using Found = std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::string>;

std::set<Found> Summary(const std::vector<FoundPartitionInfo>& found) {
    std::set<Found> out;
    for (const FoundPartitionInfo& f : found) {
        EXPECT_TRUE(
            out.insert({f.u64FirstSector, f.u64SectorCount, f.fileSystemType, f.szVolumeLabel})
                .second)
            << "reported twice: " << f.u64FirstSector;
        EXPECT_NE(f.pDevice, nullptr);
        if (f.pDevice) {
            EXPECT_EQ(f.pDevice->GetStartSector(), f.u64FirstSector);
            EXPECT_EQ(f.pDevice->GetSectorCount(), f.u64SectorCount);
        }
    }
    return out;
}

FileSystemType TypeOf(LostFsKind kind) {
    switch (kind) {
    case LostFsKind::kFat12:
        return FILESYSTEM_FAT12;
    case LostFsKind::kFat16:
        return FILESYSTEM_FAT16;
    case LostFsKind::kFat32:
        return FILESYSTEM_FAT32;
    case LostFsKind::kNtfs:
        return FILESYSTEM_NTFS;
    case LostFsKind::kExt2:
        return FILESYSTEM_EXT2;
    case LostFsKind::kExt3:
        return FILESYSTEM_EXT3;
    }
    return FILESYSTEM_UNKNOWN;
}

// What the search should report for a partition the tools made (FAT partitions here are
// multiples of 64 sectors, which mkfs.fat uses whole); an NTFS volume leaves its last sector to
// the backup boot sector.
Found Expected(const LostPartitionRecipe& p) {
    const std::uint64_t size = p.kind == LostFsKind::kNtfs ? p.sectors - 1 : p.sectors;
    return {p.start, size, TypeOf(p.kind), p.label};
}

std::set<Found> Expected(const std::vector<LostPartitionRecipe>& parts) {
    std::set<Found> out;
    for (const LostPartitionRecipe& p : parts)
        out.insert(Expected(p));
    return out;
}

// A classic disk of 10 cylinders of 255 heads: partitions at 63, at cylinder boundaries and one
// track after them. The NTFS volume at 63 ends one sector after a probed sector, so its backup
// boot sector (16128 = 16065 + 63) is probed.
constexpr std::uint64_t kCyl = 16065;
// The steps of `step` sectors that begin on a disk of `total` sectors.
constexpr std::uint64_t Steps(std::uint64_t total, std::uint64_t step) {
    return (total + step - 1) / step;
}
const std::vector<LostPartitionRecipe>& ClassicParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {63, kCyl + 1, LostFsKind::kNtfs, "OldNtfs"},
        {2 * kCyl, 8000, LostFsKind::kFat12, "SMALLFAT"},
        {3 * kCyl + 63, 32000, LostFsKind::kFat16, "MIDFAT16"},
        {5 * kCyl, 80256, LostFsKind::kFat32, "BIGFAT32"},
    };
    return parts;
}
LostPartitionDisk ClassicDisk() {
    return CachedLostPartitionDisk("lostpart-classic-v2", 10 * kCyl, ClassicParts());
}

// A disk partitioned on 1 MiB boundaries. The first NTFS volume's backup boot sector lies on a
// 1 MiB boundary (18432).
const std::vector<LostPartitionRecipe>& AlignedParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {2048, 8 * 2048 + 1, LostFsKind::kNtfs, "Aligned One"},
        {10 * 2048, 34 * 2048, LostFsKind::kFat32, "ALIGNFAT32"},
        {44 * 2048, 4 * 2048, LostFsKind::kFat16, "ALIGNFAT16"},
        {48 * 2048, 8 * 2048, LostFsKind::kNtfs, "Aligned Two"},
    };
    return parts;
}
LostPartitionDisk AlignedDisk() {
    return CachedLostPartitionDisk("lostpart-aligned-v2", 57 * 2048, AlignedParts());
}

// EXT2 and EXT3 partitions. The EXT2 volume has three block groups of 8192 1 KiB blocks, so
// its backup superblock of group 1 lies 2 sectors after a 1 MiB boundary (18432).
const std::vector<LostPartitionRecipe>& ExtParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {2048, 40960, LostFsKind::kExt2, "lost ext2"},
        {3 * kCyl, 16000, LostFsKind::kExt3, "lostext3"},
    };
    return parts;
}
LostPartitionDisk ExtDisk() {
    return CachedLostPartitionDisk("lostpart-ext-v1", 4 * kCyl, ExtParts());
}

// Cylinders of 240 heads (15120 sectors) that no 255-head or 1 MiB candidate reaches.
constexpr std::uint64_t kCyl240 = 15120;
const std::vector<LostPartitionRecipe>& Heads240Parts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {kCyl240, 15104, LostFsKind::kFat16, "HEADS240A"},
        {3 * kCyl240 + 63, 8000, LostFsKind::kFat12, "HEADS240B"},
    };
    return parts;
}
LostPartitionDisk Heads240Disk() {
    return CachedLostPartitionDisk("lostpart-240-v2", 6 * kCyl240, Heads240Parts());
}

// A small disk of cylinders of 16 heads (1008 sectors), partitioned by its geometry: three
// primary partitions from sector 63 on, then logical ones one track after their cylinders.
// Only the first lies where a 255-head or 1 MiB candidate probes.
constexpr std::uint64_t kCyl16 = 16 * 63;
const std::vector<LostPartitionRecipe>& Heads16Parts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {63, 52 * kCyl16 - 63, LostFsKind::kFat16, "HEADS16A", false, 16},
        {52 * kCyl16, 52 * kCyl16, LostFsKind::kNtfs, "Heads16 B", false, 16},
        {104 * kCyl16, 52 * kCyl16, LostFsKind::kFat16, "HEADS16C", false, 16},
        {156 * kCyl16 + 63, 52 * kCyl16 - 63, LostFsKind::kFat12, "HEADS16D", true, 16},
        {208 * kCyl16 + 63, 52352, LostFsKind::kNtfs, "Heads16 E", true, 16},
        {260 * kCyl16 + 63, 52 * kCyl16 - 63, LostFsKind::kFat16, "HEADS16F", true, 16},
    };
    return parts;
}
LostPartitionDisk Heads16Disk() {
    return CachedLostPartitionDisk("lostpart-16-v1", 312 * kCyl16, Heads16Parts());
}

// The same starts as the 16-head disk, but every partition ends where the next one (or its
// extended boot record) begins and every boot sector records 255 heads: only following each
// partition to the sector after it, or one track later, reaches the five after the first.
const std::vector<LostPartitionRecipe>& AdjacentParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {63, 52 * kCyl16 - 63, LostFsKind::kFat16, "ADJACENTA", false, 255},
        {52 * kCyl16, 52 * kCyl16, LostFsKind::kNtfs, "Adjacent B", false, 255},
        {104 * kCyl16, 52 * kCyl16, LostFsKind::kFat16, "ADJACENTC", false, 255},
        {156 * kCyl16 + 63, 52 * kCyl16 - 63, LostFsKind::kFat12, "ADJACENTD", true, 255},
        {208 * kCyl16 + 63, 52 * kCyl16 - 63, LostFsKind::kNtfs, "Adjacent E", true, 255},
        {260 * kCyl16 + 63, 52 * kCyl16 - 63, LostFsKind::kFat16, "ADJACENTF", true, 255},
    };
    return parts;
}
LostPartitionDisk AdjacentDisk() {
    return CachedLostPartitionDisk("lostpart-adjacent-v1", 312 * kCyl16, AdjacentParts());
}

// Partitions that follow each other off every cylinder and MiB boundary, each a little larger
// than its file system: the FAT volumes are rounded down to whole tracks by mkfs.fat (40000
// sectors hold 39942 in tracks of 63; the second volume records tracks of 32 sectors), and the
// NTFS volume leaves 50 sectors of its partition free. The next partition, or the extended boot
// record a track before it, starts right at the partition's end, so between one file system's
// end and the next one's start lie up to 113 sectors. Only the first lies where a candidate
// sequence probes.
const std::vector<LostPartitionRecipe>& ShortParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {63, 40000, LostFsKind::kFat16, "SHORTFAT16", false, 255},
        {40063, 30001, LostFsKind::kFat16, "TRACK32", false, 16, 32},
        {70127, 20000, LostFsKind::kNtfs, "Short NTFS", true, 255, 63, 19950},
        {90190, 70000, LostFsKind::kFat32, "SHORTFAT32", true, 255},
        {160253, 50000, LostFsKind::kFat12, "SHORTFAT12", true, 255},
    };
    return parts;
}
// The disk ends a few sectors after its last partition: the window after it is cut short.
constexpr std::uint64_t kShortDiskSectors = 160253 + 50000 + 20;
LostPartitionDisk ShortDisk() {
    return CachedLostPartitionDisk("lostpart-short-v1", kShortDiskSectors, ShortParts());
}

// A device that shows another one with chosen sectors replaced and counts every read.
class OverlayDevice : public IStorageDevice {
public:
    explicit OverlayDevice(IStorageDevice* inner, std::uint64_t sectors = 0)
        : m_inner(inner), m_sectors(sectors ? sectors : inner->GetSectorCount()) {}
    void Zero(std::uint64_t sector) { m_replaced[sector].assign(kSectorSize, 0); }
    // Replaces the sectors from `first` with `bytes` (whole sectors).
    void Set(std::uint64_t first, const std::vector<std::uint8_t>& bytes) {
        for (std::size_t off = 0; off + kSectorSize <= bytes.size(); off += kSectorSize)
            m_replaced[first + off / kSectorSize].assign(bytes.begin() + off,
                                                         bytes.begin() + off + kSectorSize);
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        reads.push_back(first);
        if (first >= m_sectors || count > m_sectors - first)
            ++readsPastEnd;
        for (std::uint64_t bad : failing)
            if (bad >= first && bad - first < count)
                return 0;
        if (first >= m_sectors || count > m_sectors - first ||
            !m_inner->ReadSectors(buffer, first, count))
            return 0;
        for (const auto& [sector, bytes] : m_replaced)
            if (sector >= first && sector < first + count)
                std::memcpy(static_cast<std::uint8_t*>(buffer) + (sector - first) * kSectorSize,
                            bytes.data(), kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_sectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }
    std::vector<std::uint64_t> reads;
    int readsPastEnd = 0;            // reads that asked for a sector past the end
    std::set<std::uint64_t> failing; // reads that touch these fail

private:
    IStorageDevice* m_inner;
    std::uint64_t m_sectors;
    std::map<std::uint64_t, std::vector<std::uint8_t>> m_replaced;
};

// ---------------------------------------------------------------------------------------------
// Trees

struct NodeFacts {
    bool folder;
    std::uint64_t size;
    std::uint8_t state;
    std::vector<DataRun> runs;
    friend bool operator==(const NodeFacts&, const NodeFacts&) = default;
};

std::map<std::string, NodeFacts> Flatten(const CFileNode* root) {
    std::map<std::string, NodeFacts> out;
    std::vector<std::pair<const CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, prefix] = stack.back();
        stack.pop_back();
        for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            std::string path = prefix + c->m_pProperties->GetName();
            while (out.count(path))
                path += "#2";
            NodeFacts facts{c->IsFolder(),
                            c->m_pProperties->GetFileSize(),
                            c->m_pProperties->GetFileState(),
                            {}};
            std::unique_ptr<IDataRunList> runs(c->m_pProperties->GetDataRunList());
            if (runs)
                for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun())
                    facts.runs.push_back(*r);
            out[path] = facts;
            stack.push_back({c, path + "/"});
        }
    }
    return out;
}

const CFileNode* FindPath(const CFileNode* root, const std::string& path) {
    const CFileNode* node = root;
    std::size_t from = 0;
    while (node && from <= path.size()) {
        std::size_t slash = path.find('/', from);
        std::string part =
            path.substr(from, slash == std::string::npos ? std::string::npos : slash - from);
        const CFileNode* next = nullptr;
        for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            if (strcasecmp(part.c_str(), c->m_pProperties->GetName()) == 0) // FAT short names
                next = c;
        node = next;
        if (slash == std::string::npos)
            return node;
        from = slash + 1;
    }
    return nullptr;
}

std::vector<std::uint8_t> ReadThroughRuns(IStorageDevice& dev, const CFileNode* node) {
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    node->GetFileSystemInfo(&first, &spc);
    std::vector<std::uint8_t> out;
    std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
    if (!runs || spc == 0)
        return out;
    for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun()) {
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(r->count) * spc * kSectorSize, 0);
        if (r->start >= 0) {
            EXPECT_TRUE(dev.ReadSectors(buf.data(), first + r->start * spc, r->count * spc));
        }
        out.insert(out.end(), buf.begin(), buf.end());
    }
    out.resize(std::min<std::size_t>(out.size(), node->m_pProperties->GetFileSize()));
    return out;
}

TreePtr QuickScan(IStorageDevice* partition, std::uint32_t type) {
    CNullDirBuildCallback quiet;
    if (type == FILESYSTEM_NTFS) {
        NtfsTreeBuildParams params;
        InitNtfsTreeBuildParams(&params);
        return TreePtr(BuildNtfsFileTree(partition, &params, &quiet));
    }
    CFATSearchedPartitionInfo part;
    part.m_u64KeptFirstSector = 0;
    part.m_u32EvidenceFlags = FATEVIDENCE_FAT12_BOOT | FATEVIDENCE_FAT16_BOOT |
                              FATEVIDENCE_FAT32_BOOT | FATEVIDENCE_USE_FIRST_FAT |
                              FATEVIDENCE_USE_SECOND_FAT;
    return TreePtr(BuildFatFileTree(&quiet, &part, nullptr, partition, 1));
}

} // namespace

// ---------------------------------------------------------------------------------------------

TEST(PartitionSearchSequences, CylinderAndMegabyteCandidates) {
    CPartitionSearchAccordingTo255Head s255(kCyl * 10);
    EXPECT_EQ(s255.GetCandidateCount(), 10u);
    EXPECT_EQ(s255.SkipsSharedCandidates(), 0);
    for (std::uint64_t j = 0; j < 10; ++j)
        EXPECT_EQ(s255.GetNextCandidate(), j * kCyl);
    EXPECT_TRUE(s255.Probes(63));
    EXPECT_TRUE(s255.Probes(9 * kCyl + 63));
    EXPECT_FALSE(s255.Probes(10 * kCyl)); // past the last candidate
    EXPECT_FALSE(s255.Probes(64));

    CPartitionSearchAccordingTo240Head s240(kCyl240 * 40);
    EXPECT_EQ(s240.GetCandidateCount(), 40u);
    EXPECT_EQ(s240.SkipsSharedCandidates(), 1);
    EXPECT_EQ(s240.GetNextCandidate(), 0u);
    EXPECT_EQ(s240.GetNextCandidate(), kCyl240);

    CPartitionSearchAccordingTo1MiB mib(2048 * 5 + 2047);
    EXPECT_EQ(mib.GetCandidateCount(), 6u);
    EXPECT_EQ(mib.GetTrackOffset(), 0u);
    EXPECT_EQ(mib.GetNextCandidate(), 0u);
    EXPECT_EQ(mib.GetNextCandidate(), 2048u);
    EXPECT_TRUE(mib.Probes(4096));
    EXPECT_FALSE(mib.Probes(4096 + 63));
}

TEST(PartitionSearchSequences, LastPartialStepIsACandidateOnTheDisk) {
    struct Case {
        std::uint64_t total;
        std::uint64_t cylinders, mebibytes;
    };
    const Case cases[] = {
        {0, 0, 0},           {1, 1, 1},
        {2047, 1, 1},        {2048, 1, 1},
        {2049, 1, 2},        {10 * kCyl - 1, 10, 79},
        {10 * kCyl, 10, 79}, {10 * kCyl + 1, 11, 79},
        {86016, 6, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.total);
        CPartitionSearchAccordingTo255Head s255(c.total);
        CPartitionSearchAccordingTo1MiB mib(c.total);
        EXPECT_EQ(s255.GetCandidateCount(), c.cylinders);
        EXPECT_EQ(mib.GetCandidateCount(), c.mebibytes);
        std::uint64_t last = 0;
        for (std::uint64_t j = 0; j < c.cylinders; ++j)
            last = s255.GetNextCandidate();
        if (c.cylinders != 0) {
            EXPECT_LT(last, c.total);
        }
        EXPECT_FALSE(s255.Probes(c.total));
        EXPECT_FALSE(mib.Probes(c.total));
    }
    // The track after the last cylinder boundary is probed only when it lies on the disk.
    EXPECT_TRUE(CPartitionSearchAccordingTo255Head(9 * kCyl + 64).Probes(9 * kCyl + 63));
    EXPECT_TRUE(CPartitionSearchAccordingTo255Head(9 * kCyl + 30).Probes(9 * kCyl));
    EXPECT_FALSE(CPartitionSearchAccordingTo255Head(9 * kCyl + 63).Probes(9 * kCyl + 63));
}

TEST(PartitionSearch, FindsEveryPartitionOfAWipedClassicDisk) {
    LostPartitionDisk disk = ClassicDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    ASSERT_EQ(dev.GetSectorCount(), 10 * kCyl);
    Search search(&dev, 255);
    EXPECT_EQ(Summary(search.Run()), Expected(ClassicParts()));
    // 10 cylinders and 79 MiB (the last one partial), each counted once.
    EXPECT_EQ(search.callback.rangeFirst, 0u);
    EXPECT_EQ(search.callback.rangeLast, 10u + 79u);
    EXPECT_EQ(search.callback.steps, 89);
    EXPECT_EQ(search.callback.stage, 1);
    EXPECT_NE(search.callback.workerThread, std::this_thread::get_id());
    EXPECT_TRUE(search.searcher.IsDone());
}

TEST(PartitionSearch, FindsEveryPartitionOfAWipedAlignedDisk) {
    LostPartitionDisk disk = AlignedDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    Search search(&dev, 255);
    EXPECT_EQ(Summary(search.Run()), Expected(AlignedParts()));
    EXPECT_EQ(search.callback.rangeLast, Steps(57 * 2048, kCyl) + 57);
}

TEST(PartitionSearch, FindsExt2AndExt3Partitions) {
    LostPartitionDisk disk = ExtDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    std::uint8_t backup[2 * kSectorSize];
    ASSERT_TRUE(dev.ReadSectors(backup, 9 * 2048 + 2, 2));
    ASSERT_EQ(backup[56] | backup[57] << 8, 0xEF53)
        << "no backup superblock where the test expects it";
    Search search(&dev, 255);
    EXPECT_EQ(Summary(search.Run()), Expected(ExtParts()));
    // An unreadable sector between boot block and superblock: the superblock is read on its own.
    OverlayDevice damaged(&dev);
    damaged.failing = {2048 + 1, 9 * 2048 + 1};
    Search again(&damaged, 255);
    EXPECT_EQ(Summary(again.Run()), Expected(ExtParts()));

    // A copy of the disk that stops inside a partition: that one is found up to the copy's end,
    // those past it not at all, and nothing else (the EXT2 volume's backup superblock in group
    // 1, on a probed sector, is still no partition).
    const LostPartitionRecipe& ext2 = ExtParts()[0];
    const LostPartitionRecipe& ext3 = ExtParts()[1];
    struct Cut {
        std::uint64_t diskSectors;
        std::set<Found> expected;
    };
    const Cut cuts[] = {
        {ext3.start + ext3.sectors / 2,
         {Expected(ext2), Found{ext3.start, ext3.sectors / 2, FILESYSTEM_EXT3, ext3.label}}},
        {ext2.start + 20000, {Found{ext2.start, 20000, FILESYSTEM_EXT2, ext2.label}}},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.diskSectors);
        OverlayDevice cut(&dev, c.diskSectors);
        Search search(&cut, 255);
        EXPECT_EQ(Summary(search.Run()), c.expected);
    }
}

TEST(PartitionSearch, BackupBootSectorIsNeverAPartition) {
    LostPartitionDisk classic = ClassicDisk();
    LostPartitionDisk aligned = AlignedDisk();
    ASSERT_FALSE(classic.wiped.empty());
    ASSERT_FALSE(aligned.wiped.empty());
    struct Case {
        std::string image;
        std::uint64_t volume, backup;
    };
    for (const Case& c :
         {Case{classic.wiped, 63, 63 + kCyl}, Case{aligned.wiped, 2048, 9 * 2048}}) {
        CImageFileDevice dev(c.image.c_str());
        CNTFSDBR backup;
        ASSERT_TRUE(ReadNtfsBootSector(dev, c.backup, backup)) << c.backup;
        CPartitionSearcher searcher;
        searcher.SetDevice(&dev);
        searcher.NtfsController().SetDevice(&dev);
        searcher.AddPartitionFileSystemController(&searcher.NtfsController());
        FoundPartitionInfo record;
        EXPECT_EQ(searcher.ProbeSector(c.backup, &record), 0);
        EXPECT_EQ(record.pDevice, nullptr);
        EXPECT_EQ(searcher.ProbeSector(c.volume, &record), 1);
        EXPECT_EQ(record.u64FirstSector, c.volume);
    }
}

TEST(PartitionSearch, Heads240FindsWhatOtherSequencesMiss) {
    LostPartitionDisk disk = Heads240Disk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    {
        Search search(&dev, 255);
        EXPECT_TRUE(search.Run().empty());
    }
    OverlayDevice counted(&dev);
    Search search(&counted, 240);
    EXPECT_EQ(Summary(search.Run()), Expected(Heads240Parts()));
    const std::uint64_t total = 6 * kCyl240;
    EXPECT_EQ(search.callback.rangeLast,
              Steps(total, kCyl) + Steps(total, kCyl240) + Steps(total, 2048));
    EXPECT_EQ(search.callback.steps, static_cast<std::int64_t>(search.callback.rangeLast));
}

TEST(PartitionSearch, FollowsTheGeometryItsBootSectorsRecord) {
    LostPartitionDisk disk = Heads16Disk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    const std::uint64_t total = dev.GetSectorCount();
    ASSERT_EQ(total, 312 * kCyl16);
    OverlayDevice counted(&dev);
    Search search(&counted, 255);
    // The volume at 63 records 16 heads x 63 sectors: the rest of the search probes those
    // cylinders too (once), and finds every partition, nothing else.
    EXPECT_EQ(Summary(search.Run()), Expected(Heads16Parts()));
    EXPECT_EQ(search.callback.rangeLast,
              Steps(total, kCyl) + Steps(total, 2048) + Steps(total, kCyl16));
    EXPECT_EQ(search.callback.steps, static_cast<std::int64_t>(search.callback.rangeLast));
    std::map<std::uint64_t, int> probes;
    for (std::uint64_t s : counted.reads)
        ++probes[s];
    EXPECT_EQ(probes.count(52 * kCyl16 + 63), 1u);
    EXPECT_EQ(probes.count(52 * kCyl16 + 64), 0u);

    // A boot sector whose geometry is already searched (or none at all) adds nothing. (The
    // partition right after it is wiped, so that following it finds no boot sector that
    // records the geometry.)
    std::vector<std::uint8_t> boot(kSectorSize);
    ASSERT_TRUE(dev.ReadSectors(boot.data(), 63, 1));
    for (std::uint32_t heads : {255u, 0u}) {
        OverlayDevice same(&dev);
        boot[0x1A] = static_cast<std::uint8_t>(heads);
        same.Set(63, boot);
        same.Zero(Heads16Parts()[1].start);
        Search again(&same, 255);
        std::set<Found> found = Summary(again.Run());
        EXPECT_EQ(found.size(), 1u) << heads;
        EXPECT_EQ(found.count(Expected(Heads16Parts()[0])), 1u) << heads;
        EXPECT_EQ(again.callback.rangeLast, Steps(total, kCyl) + Steps(total, 2048)) << heads;
    }
}

TEST(PartitionSearch, FollowsEachPartitionToTheNextOne) {
    LostPartitionDisk disk = AdjacentDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    ASSERT_EQ(dev.GetSectorCount(), 312 * kCyl16);
    for (const LostPartitionRecipe& p : AdjacentParts()) {
        std::uint8_t boot[kSectorSize];
        ASSERT_TRUE(dev.ReadSectors(boot, p.start, 1));
        const ByteSpan b(boot, sizeof boot);
        ASSERT_EQ(b.u16(0x1A), 255u) << p.start;
        ASSERT_EQ(b.u16(0x18), 63u) << p.start;
        ASSERT_EQ(b.u32(0x1C), p.start) << p.start;
    }
    // Where following the partitions probes: from each one's end up to two tracks after it,
    // which holds the next one's start (at the end, or one track later). Nothing else finds
    // these sectors; each window is one read.
    const std::uint64_t followed[] = {52416, 104832, 157248, 209664, 262080};
    for (bool wipeExtendedRecords : {false, true}) {
        SCOPED_TRACE(wipeExtendedRecords ? "extended boot records wiped" : "as sfdisk left it");
        OverlayDevice counted(&dev);
        if (wipeExtendedRecords)
            for (const LostPartitionRecipe& p : AdjacentParts())
                if (p.logical)
                    for (std::uint64_t s = p.start - 63; s < p.start; ++s)
                        counted.Zero(s);
        Search search(&counted, 255);
        EXPECT_EQ(Summary(search.Run()), Expected(AdjacentParts()));
        EXPECT_EQ(counted.readsPastEnd, 0);
        std::map<std::uint64_t, int> probes;
        for (std::uint64_t s : counted.reads)
            ++probes[s];
        for (std::uint64_t s : followed)
            EXPECT_EQ(probes[s], 1) << "sector " << s;
        // The last partition ends with the disk: nothing is probed after it.
        EXPECT_EQ(probes.count(312 * kCyl16 - 1), 0u);
        EXPECT_EQ(search.callback.steps, static_cast<std::int64_t>(search.callback.rangeLast));
    }

    // A boot sector that passes no check where following leads is no partition: with the
    // second partition's $MFT and $MFTMirr damaged, the chain stops after the first one.
    CNTFSDBR ntfs;
    const LostPartitionRecipe& second = AdjacentParts()[1];
    ASSERT_TRUE(ReadNtfsBootSector(dev, second.start, ntfs));
    OverlayDevice damaged(&dev);
    damaged.Zero(second.start + ntfs.GetMftCluster() * ntfs.GetSectorsPerCluster() + 2);
    damaged.Zero(second.start + ntfs.GetMftMirrorCluster() * ntfs.GetSectorsPerCluster() + 2);
    Search search(&damaged, 255);
    EXPECT_EQ(Summary(search.Run()), std::set<Found>{Expected(AdjacentParts()[0])});

    // Cancelled while following: nothing more is reported.
    Search cancelled(&dev, 255, 1);
    EXPECT_EQ(Summary(cancelled.Run()), std::set<Found>{Expected(AdjacentParts()[0])});
}

TEST(PartitionSearch, FollowsFileSystemsSmallerThanTheirPartitions) {
    LostPartitionDisk disk = ShortDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    ASSERT_EQ(dev.GetSectorCount(), kShortDiskSectors);
    // What the tools made: each file system's own size from its boot sector, smaller than its
    // partition but for the last; and no partition after the first where a sequence probes.
    const CPartitionSearchAccordingTo255Head cylinders(kShortDiskSectors);
    const CPartitionSearchAccordingTo1MiB mebibytes(kShortDiskSectors);
    std::vector<Found> each;
    std::vector<std::uint64_t> ends; // where each file system ends
    for (const LostPartitionRecipe& p : ShortParts()) {
        std::uint8_t boot[kSectorSize];
        ASSERT_TRUE(dev.ReadSectors(boot, p.start, 1));
        const ByteSpan b(boot, sizeof boot);
        std::uint64_t size = p.kind == LostFsKind::kNtfs ? b.u64(0x28)
                             : b.u16(0x13) != 0         ? b.u16(0x13)
                                                        : b.u32(0x20);
        if (&p != &ShortParts().back()) {
            ASSERT_LT(size, p.sectors - (p.kind == LostFsKind::kNtfs)) << p.start;
        }
        each.push_back({p.start, size, TypeOf(p.kind), p.label});
        ends.push_back(p.start + size + (p.kind == LostFsKind::kNtfs));
        if (p.start != ShortParts()[0].start) {
            ASSERT_FALSE(cylinders.Probes(p.start) || mebibytes.Probes(p.start)) << p.start;
        }
    }
    const std::set<Found> expected(each.begin(), each.end());

    struct Case {
        const char* what;
        bool wipeExtendedRecords;
        std::set<std::uint64_t> failing;
    };
    const Case cases[] = {
        {"as sfdisk left the extended boot records", false, {}},
        {"extended boot records wiped", true, {}},
        // One read of the sectors after the first volume fails: the others are still probed.
        {"a damaged sector after the first volume", true, {ends[0] + 10}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OverlayDevice counted(&dev);
        counted.failing = c.failing;
        if (c.wipeExtendedRecords)
            for (const LostPartitionRecipe& p : ShortParts())
                if (p.logical)
                    for (std::uint64_t s = p.start - 63; s < p.start; ++s)
                        counted.Zero(s);
        Search search(&counted, 255);
        EXPECT_EQ(Summary(search.Run()), expected);
        EXPECT_EQ(counted.readsPastEnd, 0);
        EXPECT_EQ(search.callback.steps, static_cast<std::int64_t>(search.callback.rangeLast));
        if (!c.failing.empty())
            continue;
        // After each file system, the sectors up to two tracks on come from one read.
        std::map<std::uint64_t, int> reads;
        for (std::uint64_t s : counted.reads)
            ++reads[s];
        for (std::uint64_t end : ends)
            EXPECT_EQ(reads[end], end < kShortDiskSectors ? 1 : 0) << "sector " << end;
    }

    // The FAT32 volume's boot sector damaged: its backup copy (its sector 6) lies in the
    // sectors probed after the FAT12 volume, and is no partition; the chain ends there.
    const LostPartitionRecipe& fat32 = ShortParts()[3];
    std::uint8_t backup[kSectorSize];
    ASSERT_TRUE(dev.ReadSectors(backup, fat32.start + 6, 1));
    ASSERT_EQ(std::memcmp(backup + 3, "mkfs.fat", 8), 0);
    OverlayDevice damaged(&dev);
    damaged.Zero(fat32.start);
    Search search(&damaged, 255);
    EXPECT_EQ(Summary(search.Run()), (std::set<Found>{each[0], each[1], each[2]}));
}

TEST(PartitionSearch, FindsAFileSystemInTheLastPartialStep) {
    struct Case {
        const char* what;
        std::string image;
        std::uint64_t diskSectors;
        LostPartitionRecipe part;
    };
    const LostPartitionRecipe lastCylinder{80388, 5568, LostFsKind::kFat12, "LASTCYL"};
    const LostPartitionRecipe lastMiB{86016, 960, LostFsKind::kFat12, "LASTMIB"};
    const LostPartitionRecipe wholeDisk{0, 2000, LostFsKind::kFat12, "SMALLDISK"};
    const std::string small = CachedFixture("lostpart-small-v1.img", [](const std::string& tmp) {
        FatImageOptions o;
        o.fatBits = 12;
        o.sizeKiB = 1000;
        o.label = "SMALLDISK";
        return FatImage::Format(tmp, o);
    });
    const Case cases[] = {
        {"in the last, partial cylinder",
         CachedLostPartitionDisk("lostpart-lastcyl-v1", 86016, {lastCylinder}).wiped, 86016,
         lastCylinder},
        {"in the last, partial MiB",
         CachedLostPartitionDisk("lostpart-lastmib-v1", 87016, {lastMiB}).wiped, 87016, lastMiB},
        {"at sector 0 of a disk under 1 MiB", small, 2000, wholeDisk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.image.empty());
        CImageFileDevice dev(c.image.c_str());
        ASSERT_EQ(dev.GetSectorCount(), c.diskSectors);
        OverlayDevice counted(&dev);
        Search search(&counted, 255);
        EXPECT_EQ(Summary(search.Run()), std::set<Found>{Expected(c.part)});
        for (std::uint64_t s : counted.reads)
            EXPECT_LT(s, c.diskSectors);
        EXPECT_EQ(counted.readsPastEnd, 0);
    }
}

TEST(PartitionSearch, EverySectorIsProbedOnce) {
    // 2 x 17 cylinders of 240 heads and a few sectors: the 240-head candidates 0, 17 and 34 lie
    // on 255-head cylinders.
    struct ZeroDisk : IStorageDevice {
        std::uint64_t sectors;
        explicit ZeroDisk(std::uint64_t n) : sectors(n) {}
        int ReadSectors(void* b, std::uint64_t first, std::uint64_t count) override {
            if (first >= sectors || count > sectors - first)
                return 0;
            std::memset(b, 0, count * kSectorSize);
            return 1;
        }
        std::uint64_t GetSectorCount() override { return sectors; }
        int Open() override { return 1; }
        int Close() override { return 1; }
    };
    ZeroDisk blank(34 * kCyl240 + 100);
    OverlayDevice counted(&blank);
    Search search(&counted, 240);
    EXPECT_TRUE(search.Run().empty());
    std::map<std::uint64_t, int> probes;
    for (std::uint64_t s : counted.reads)
        ++probes[s];
    for (const auto& [sector, n] : probes)
        EXPECT_EQ(n, 1) << "sector " << sector;
    for (std::uint64_t s :
         {std::uint64_t{0}, std::uint64_t{63}, kCyl, kCyl + 63, kCyl240, kCyl240 + 63, 17 * kCyl240,
          17 * kCyl240 + 63, std::uint64_t{2048}, std::uint64_t{4096}})
        EXPECT_EQ(probes.count(s), 1u) << "sector " << s;
    EXPECT_EQ(probes.count(2048 + 63), 0u);
    const std::uint64_t c255 = Steps(blank.sectors, kCyl), c240 = Steps(blank.sectors, kCyl240),
                        cMib = Steps(blank.sectors, 2048);
    EXPECT_EQ(search.callback.rangeLast, c255 + c240 + cMib);
    // 255 heads: two probes per candidate; 240 heads: two per candidate except at 0, 17 and 34
    // (the last, partial cylinder; all three already probed); 1 MiB: one per candidate except
    // sector 0.
    EXPECT_EQ(probes.size(), 2 * c255 + 2 * (c240 - 3) + (cMib - 1));
}

TEST(PartitionSearch, SizePastTheDiskEndIsClamped) {
    LostPartitionDisk classic = ClassicDisk();
    LostPartitionDisk aligned = AlignedDisk();
    ASSERT_FALSE(classic.wiped.empty());
    ASSERT_FALSE(aligned.wiped.empty());
    struct Case {
        std::string image;
        std::uint64_t diskSectors; // the disk is cut here
        std::uint64_t start;
        FileSystemType type;
    };
    for (const Case& c : {Case{classic.wiped, 8 * kCyl, 5 * kCyl, FILESYSTEM_FAT32},
                          Case{aligned.wiped, 52 * 2048, 48 * 2048, FILESYSTEM_NTFS}}) {
        CImageFileDevice dev(c.image.c_str());
        OverlayDevice cut(&dev, c.diskSectors);
        Search search(&cut, 255);
        bool seen = false;
        for (const FoundPartitionInfo& f : search.Run()) {
            if (f.u64FirstSector != c.start)
                continue;
            seen = true;
            EXPECT_EQ(f.fileSystemType, c.type);
            EXPECT_EQ(f.u64SectorCount, c.diskSectors - c.start);
            ASSERT_NE(f.pDevice, nullptr);
            EXPECT_EQ(f.pDevice->GetSectorCount(), c.diskSectors - c.start);
        }
        EXPECT_TRUE(seen) << c.start;
    }
}

TEST(PartitionSearch, DamagedStructuresDecide) {
    LostPartitionDisk classic = ClassicDisk();
    ASSERT_FALSE(classic.wiped.empty());
    CImageFileDevice dev(classic.wiped.c_str());
    const LostPartitionRecipe& ntfs = ClassicParts()[0];
    const LostPartitionRecipe& fat16 = ClassicParts()[2];
    std::uint8_t boot[kSectorSize];
    ASSERT_TRUE(dev.ReadSectors(boot, fat16.start, 1));
    const std::uint64_t firstFat = fat16.start + (boot[14] | boot[15] << 8);
    CNTFSDBR ntfsBoot;
    ASSERT_TRUE(ReadNtfsBootSector(dev, ntfs.start, ntfsBoot));
    const std::uint64_t mft =
        ntfs.start + ntfsBoot.GetMftCluster() * ntfsBoot.GetSectorsPerCluster();
    const std::uint64_t mirror =
        ntfs.start + ntfsBoot.GetMftMirrorCluster() * ntfsBoot.GetSectorsPerCluster();

    std::set<Found> all = Expected(ClassicParts());
    std::set<Found> withoutFat16 = all, withoutNtfs = all;
    withoutFat16.erase(Expected(fat16));
    withoutNtfs.erase(Expected(ntfs));
    struct Case {
        const char* what;
        std::vector<std::uint64_t> zeroed;
        const std::set<Found>* expected;
    };
    const Case cases[] = {
        {"FAT boot sector without a FAT", {firstFat}, &withoutFat16},
        {"$MFT damaged, $MFTMirr sound", {mft + 2}, &all},
        {"$MFT and $MFTMirr damaged", {mft + 2, mirror + 2}, &withoutNtfs},
        {"$Volume record damaged in both copies", {mft + 6, mirror + 6}, &withoutNtfs},
    };
    for (const Case& c : cases) {
        OverlayDevice damaged(&dev);
        for (std::uint64_t s : c.zeroed)
            damaged.Zero(s);
        Search search(&damaged, 255);
        EXPECT_EQ(Summary(search.Run()), *c.expected) << c.what;
    }
}

// The 1024-byte record `rec` (fix-ups as on disk) rewritten as a record of `size` bytes: same
// header and attributes, an update-sequence array for `size` / 512 sectors, fix-ups applied.
std::vector<std::uint8_t> ResizeRecord(std::vector<std::uint8_t> rec, std::uint32_t size) {
    EXPECT_TRUE(ApplyFixups(rec.data(), rec.size()));
    const ByteSpan r(rec.data(), rec.size());
    const std::uint32_t inUse = r.u32(0x18);
    const std::uint16_t attrs = r.u16(0x14);
    const std::uint16_t usn = r.u16(0x30);
    const std::uint16_t sectors = static_cast<std::uint16_t>(size / kSectorSize);
    const std::uint16_t newAttrs =
        static_cast<std::uint16_t>((0x30 + 2 * (sectors + 1) + 7) / 8 * 8);
    EXPECT_LE(inUse - attrs + newAttrs, size - 2u);
    std::vector<std::uint8_t> out(size, 0);
    std::memcpy(out.data(), rec.data(), 0x30);
    std::memcpy(out.data() + newAttrs, rec.data() + attrs, inUse - attrs);
    MutableByteSpan w(out.data(), out.size());
    w.put16(0x04, 0x30);
    w.put16(0x06, static_cast<std::uint16_t>(sectors + 1));
    w.put16(0x14, newAttrs);
    w.put32(0x18, inUse - attrs + newAttrs);
    w.put32(0x1C, size);
    w.put16(0x30, usn);
    for (std::uint16_t i = 1; i <= sectors; ++i) {
        w.put16(0x30 + 2 * i, w.view().u16(i * kSectorSize - 2));
        w.put16(i * kSectorSize - 2, usn);
    }
    return out;
}

TEST(PartitionSearch, MftRecordsOf512To4096Bytes) {
    LostPartitionDisk classic = ClassicDisk();
    ASSERT_FALSE(classic.wiped.empty());
    CImageFileDevice dev(classic.wiped.c_str());
    const LostPartitionRecipe& ntfs = ClassicParts()[0];
    std::vector<std::uint8_t> boot(kSectorSize);
    ASSERT_TRUE(dev.ReadSectors(boot.data(), ntfs.start, 1));
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.SetData(boot.data()));
    const std::uint64_t mft = ntfs.start + dbr.GetMftCluster() * dbr.GetSectorsPerCluster();
    const std::uint64_t mirror =
        ntfs.start + dbr.GetMftMirrorCluster() * dbr.GetSectorsPerCluster();
    std::vector<std::uint8_t> records(4 * 1024);
    ASSERT_TRUE(dev.ReadSectors(records.data(), mft, 8));

    for (std::uint32_t size : {512u, 2048u, 4096u}) {
        SCOPED_TRACE(size);
        OverlayDevice resized(&dev);
        boot[0x40] = static_cast<std::uint8_t>(-std::countr_zero(size));
        resized.Set(ntfs.start, boot);
        std::vector<std::uint8_t> mftBytes;
        for (int i = 0; i < 4; ++i) {
            auto rec =
                ResizeRecord({records.begin() + i * 1024, records.begin() + (i + 1) * 1024}, size);
            mftBytes.insert(mftBytes.end(), rec.begin(), rec.end());
        }
        resized.Set(mft, mftBytes);
        resized.Zero(mirror + 2); // only the resized copy can pass
        CPartitionSearcher searcher;
        searcher.SetDevice(&resized);
        searcher.NtfsController().SetDevice(&resized);
        searcher.AddPartitionFileSystemController(&searcher.NtfsController());
        FoundPartitionInfo record;
        ASSERT_EQ(searcher.ProbeSector(ntfs.start, &record), 1);
        EXPECT_STREQ(record.szVolumeLabel, "OldNtfs");
        EXPECT_EQ(record.u64SectorCount, ntfs.sectors - 1);
        // The same records read with the wrong size do not pass.
        boot[0x40] = static_cast<std::uint8_t>(size == 4096 ? -11 : -12);
        resized.Set(ntfs.start, boot);
        EXPECT_EQ(searcher.ProbeSector(ntfs.start, &record), 0);
    }
}

TEST(PartitionSearch, FoundPartitionGivesTheIntactPartitionsTree) {
    for (LostPartitionDisk disk : {ClassicDisk(), AlignedDisk()}) {
        ASSERT_FALSE(disk.wiped.empty());
        CImageFileDevice wiped(disk.wiped.c_str());
        CImageFileDevice intact(disk.intact.c_str());
        PartitionList table;
        ASSERT_TRUE(ReadMbrPartitions(&intact, table));
        ASSERT_EQ(table.size(), 4u);
        Search search(&wiped, 255);
        std::vector<FoundPartitionInfo>& found = search.Run();
        ASSERT_EQ(found.size(), 4u);
        for (const FoundPartitionInfo& f : found) {
            const PartitionEntry* entry = nullptr;
            for (const auto& e : table)
                if (e->u64FirstSector == f.u64FirstSector)
                    entry = e.get();
            ASSERT_NE(entry, nullptr) << f.u64FirstSector;
            SCOPED_TRACE(f.szVolumeLabel);
            TreePtr fromFound = QuickScan(f.pDevice.get(), f.fileSystemType);
            TreePtr fromTable = QuickScan(entry->pPartitionDevice.get(), f.fileSystemType);
            ASSERT_TRUE(fromFound);
            ASSERT_TRUE(fromTable);
            EXPECT_EQ(Flatten(fromFound.get()), Flatten(fromTable.get()));
            for (const LostPartitionFile& file : LostPartitionFiles()) {
                const CFileNode* node = FindPath(fromFound.get(), file.path);
                if (!node)
                    for (const auto& [path, facts] : Flatten(fromFound.get()))
                        ADD_FAILURE() << "tree has " << path;
                ASSERT_NE(node, nullptr) << file.path;
                EXPECT_EQ(ReadThroughRuns(*f.pDevice, node), file.bytes) << file.path;
            }
        }
    }
}

TEST(PartitionSearch, CancelStopsAtOnce) {
    LostPartitionDisk disk = ClassicDisk();
    ASSERT_FALSE(disk.wiped.empty());
    CImageFileDevice dev(disk.wiped.c_str());
    {
        Search search(&dev, 255, 0);
        EXPECT_TRUE(search.Run().empty());
        EXPECT_EQ(search.callback.steps, 0);
        EXPECT_TRUE(search.searcher.IsDone());
    }
    // Cancelled after the third cylinder: the partitions at 63 and 2 x 16065 stay reported,
    // nothing after them comes.
    Search search(&dev, 255, 3);
    std::set<Found> expected = {Expected(ClassicParts()[0]), Expected(ClassicParts()[1])};
    EXPECT_EQ(Summary(search.Run()), expected);
    EXPECT_EQ(search.callback.steps, 3);
    // A searcher searches once.
    search.callback.found.clear();
    search.searcher.StartPartitionSearch(&search.callback);
    EXPECT_TRUE(search.callback.found.empty());
}

TEST(PartitionSearch, UnreadableCandidatesAreSkipped) {
    struct FailingDisk : IStorageDevice {
        int ReadSectors(void*, std::uint64_t, std::uint64_t) override { return 0; }
        std::uint64_t GetSectorCount() override { return 20 * kCyl; }
        int Open() override { return 1; }
        int Close() override { return 1; }
    } failing;
    Search search(&failing, 255);
    EXPECT_TRUE(search.Run().empty());
    EXPECT_EQ(search.callback.steps,
              static_cast<std::int64_t>(search.searcher.GetCandidateTotal()));
    // Without a callback or a device nothing runs.
    CPartitionSearcher idle;
    idle.StartPartitionSearch(&search.callback);
    EXPECT_FALSE(idle.IsDone());
}
