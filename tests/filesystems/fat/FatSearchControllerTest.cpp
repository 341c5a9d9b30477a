// The FAT search controller's rules on small devices put together sector by sector: how boot
// sectors, FAT starts and directory sectors become scored partitions, the guesses made from a
// directory's position, save and load of its state, and the complete build's handling of
// damaged ".." links, misplaced directory sectors, placeholders and cancelling.
#include "filesystems/fat/FatCompleteTree.h"
#include "filesystems/fat/FatSearchController.h"

#include "carving/records/RawFileInfo.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "tests/support/FatImages.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>

namespace {

using namespace testsupport;

// One 32-byte directory entry: `name` is the 11 bytes of the 8.3 name.
void PutEntry(std::uint8_t* e, const char* name11, std::uint8_t attr, std::uint32_t cluster,
              std::uint32_t size) {
    std::memcpy(e, name11, 11);
    e[11] = attr;
    const std::uint16_t date = (41 << 9) | (3 << 5) | 4; // 2021-03-04
    const std::uint16_t time = (5 << 11) | (6 << 5) | 4;
    auto put16 = [&](int off, std::uint16_t v) {
        e[off] = static_cast<std::uint8_t>(v);
        e[off + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(14, time);
    put16(16, date);
    put16(18, date);
    put16(20, static_cast<std::uint16_t>(cluster >> 16));
    put16(22, time);
    put16(24, date);
    put16(26, static_cast<std::uint16_t>(cluster));
    for (int i = 0; i < 4; ++i)
        e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
}

// The first sector of a directory at `dot` whose parent is `dotDot`, holding `files` files
// named FILEn.TXT of one cluster each, at clusters from `firstFileCluster`.
void PutDirectory(std::uint8_t* sector, std::uint32_t dot, std::uint32_t dotDot, int files,
                  std::uint32_t firstFileCluster) {
    std::memset(sector, 0, 512);
    PutEntry(sector, ".          ", 0x10, dot, 0);
    PutEntry(sector + 32, "..         ", 0x10, dotDot, 0);
    for (int i = 0; i < files; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "FILE%02d  TXT", i);
        PutEntry(sector + 64 + 32 * i, name, 0x20, firstFileCluster + i, 100);
    }
}

// A part of a directory: `files` live files.
void PutDirectoryPart(std::uint8_t* sector, int files, std::uint32_t firstFileCluster) {
    std::memset(sector, 0, 512);
    for (int i = 0; i < files; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "PART%02d  BIN", i);
        PutEntry(sector + 32 * i, name, 0x20, firstFileCluster + i, 100);
    }
}

void AnalyzeAll(CFATSearchController& c, IStorageDevice& dev, IntelligentSearchStats* stats = nullptr) {
    c.SetDevice(&dev);
    c.SetSectorsPerStep(1000);
    c.BeginSearch();
    const std::uint64_t total = dev.GetSectorCount();
    for (std::uint64_t first = 0; first < total; first += 1000)
        c.AnalyzeSectors(first, std::min<std::uint64_t>(1000, total - first), stats);
    c.EndSearch();
}

std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> Collect(CFATSearchController& c) {
    std::vector<CSearchedPartitionInfo*> raw;
    c.CollectSearchedPartitions(raw);
    std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> out;
    for (CSearchedPartitionInfo* p : raw)
        out.emplace_back(static_cast<CFATSearchedPartitionInfo*>(p));
    return out;
}

const CFATFileProperties* Props(const CFileNode* n) {
    return static_cast<const CFATFileProperties*>(n->m_pProperties.get());
}

int CountNodesNamed(const std::map<std::string, const CFileNode*>& nodes, const std::string& name) {
    int n = 0;
    for (const auto& [path, node] : nodes)
        n += path == name || (path.size() > name.size() && path.compare(path.size() - name.size() - 1, name.size() + 1, "/" + name) == 0);
    return n;
}

// A device of any size that reads as zeros.
class ZeroDevice : public IStorageDevice {
public:
    explicit ZeroDevice(std::uint64_t sectors) : m_sectors(sectors) {}
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (first >= m_sectors || count > m_sectors - first)
            return 0;
        std::memset(buffer, 0, count * 512);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_sectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::uint64_t m_sectors;
};

// A freshly formatted volume (no files) as bytes.
std::vector<std::uint8_t> EmptyVolume(int bits, std::uint32_t sizeKiB) {
    const std::string name = "empty" + std::to_string(bits) + ".img";
    const std::string path = CachedFixture(name, [&](const std::string& tmp) {
        return RequireFatTools() && FatImage::Format(tmp, {bits, sizeKiB, 0, "", 0, ""});
    });
    return path.empty() ? std::vector<std::uint8_t>() : LoadImageBytes(path);
}

class ScopedScanOptions {
public:
    ScopedScanOptions() : m_saved(GetScanOptions()) {}
    ~ScopedScanOptions() { GetScanOptions() = m_saved; }

private:
    ScanOptions m_saved;
};

// ---------------------------------------------------------------------------------------------

TEST(FatSearchController, InterfaceBasics) {
    CFATSearchController c;
    EXPECT_EQ(c.GetKind(), 1u);
    for (std::uint32_t t = 0; t < 8; ++t)
        EXPECT_EQ(c.AcceptsFileSystemType(t), t <= 2) << t;
    MemoryDevice dev(100);
    CSearchedPartitionInfo base;
    base.m_fileSystemType = FILESYSTEM_FAT16;
    EXPECT_EQ(c.BuildDirectoryTree(&base, &dev, 0, nullptr), nullptr) << "not a FAT record";
}

TEST(FatSearchController, BootSectorEvidenceAndScores) {
    const std::vector<std::uint8_t> v16 = EmptyVolume(16, 16 * 1024);
    ASSERT_FALSE(v16.empty());
    CFATDBR dbr(v16.data(), 512);
    ASSERT_EQ(dbr.GetFileSystemType(), FILESYSTEM_FAT16);
    const std::uint64_t at = 333, fat1 = at + dbr.GetReservedSectors(),
                        fat2 = fat1 + dbr.GetSectorsPerFAT();
    struct Case {
        const char* what;
        bool first, second;
        std::uint64_t score; // 0: dropped
        std::uint32_t flags;
    };
    const Case cases[] = {
        {"boot sector and both FAT starts", true, true, 100, 0x2 | 0x40 | 0x80 | 0x100 | 0x200},
        {"boot sector and the second FAT start", false, true, 95, 0x2 | 0x100 | 0x200},
        {"boot sector alone", false, false, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        MemoryDevice dev(at + v16.size() / 512 + 10);
        std::memcpy(dev.Sector(at), v16.data(), 512);
        if (k.first)
            std::memcpy(dev.Sector(fat1), v16.data() + (fat1 - at) * 512, 512);
        if (k.second)
            std::memcpy(dev.Sector(fat2), v16.data() + (fat2 - at) * 512, 512);
        CFATSearchController c;
        IntelligentSearchStats stats;
        AnalyzeAll(c, dev, &stats);
        EXPECT_EQ(stats.counters[ISS_FATBootRecords], 1u);
        auto found = Collect(c);
        if (!k.score) {
            EXPECT_TRUE(found.empty());
            continue;
        }
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0]->m_u64Score, k.score);
        EXPECT_EQ(found[0]->m_u32EvidenceFlags, k.flags);
        EXPECT_EQ(found[0]->m_u64KeptFirstSector, at);
    }

    // Without boot records no partition comes from the boot sector, and FAT starts count for
    // nothing.
    ScopedScanOptions keep;
    GetScanOptions().UseBootRecords = 0;
    MemoryDevice dev(at + v16.size() / 512 + 10);
    std::memcpy(dev.Sector(at), v16.data(), 512);
    std::memcpy(dev.Sector(fat1), v16.data() + (fat1 - at) * 512, 512);
    std::memcpy(dev.Sector(fat2), v16.data() + (fat2 - at) * 512, 512);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_EQ(stats.counters[ISS_FATBootRecords], 0u);
    EXPECT_TRUE(c.Partitions().empty());
}

TEST(FatSearchController, Fat32PrimaryAndBackupBootSectors) {
    const std::vector<std::uint8_t> v32 = EmptyVolume(32, 40 * 1024);
    ASSERT_FALSE(v32.empty());
    CFATDBR dbr(v32.data(), 512);
    ASSERT_EQ(dbr.GetFileSystemType(), FILESYSTEM_FAT32);
    const std::uint64_t at = 1000;
    MemoryDevice dev(at + v32.size() / 512);
    // Boot sector, backup, and the first sector of each FAT.
    for (std::uint64_t s : {std::uint64_t{0}, std::uint64_t{6}, std::uint64_t{dbr.GetReservedSectors()},
                            std::uint64_t{dbr.GetReservedSectors() + dbr.GetSectorsPerFAT()}})
        std::memcpy(dev.Sector(at + s), v32.data() + s * 512, 512);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_EQ(stats.counters[ISS_FATBootRecords], 2u);
    // The primary read as a backup of a partition 6 sectors earlier, and the backup read as a
    // primary 6 sectors later, are built on the way ...
    EXPECT_EQ(c.Partitions().size(), 3u);
    // ... and dropped for want of evidence.
    auto found = Collect(c);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->m_u64KeptFirstSector, at);
    EXPECT_EQ(found[0]->m_u32EvidenceFlags, 0x4u | 0x8 | 0x40 | 0x80 | 0x100 | 0x200);
    EXPECT_EQ(found[0]->m_u64Score, 100u);
    EXPECT_EQ(found[0]->m_u32Root, dbr.GetRootCluster());
    EXPECT_TRUE(c.Partitions().empty()) << "collecting hands everything over";
}

TEST(FatSearchController, BootSectorThatDoesNotFitTheDevice) {
    const std::vector<std::uint8_t> v16 = EmptyVolume(16, 16 * 1024);
    ASSERT_FALSE(v16.empty());
    // The device ends a few sectors after the FATs: too few clusters for FAT16.
    MemoryDevice dev(300);
    std::memcpy(dev.Sector(10), v16.data(), 512);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_EQ(stats.counters[ISS_FATBootRecords], 0u);
    EXPECT_TRUE(c.Partitions().empty());
}

TEST(FatSearchController, GuessFromADirectory) {
    CFATSearchController c;
    ZeroDevice dev(200000);
    c.SetDevice(&dev);
    // A FAT16 guess: one reserved sector, two FATs just before 32 root sectors.
    auto g = c.GuessPartitionFromDirectory(2000, 10, 4);
    ASSERT_TRUE(g);
    const std::uint64_t d = 2000 - 8 * 4;
    EXPECT_EQ(g->m_u64FirstSector, d);
    EXPECT_EQ(g->m_fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_FAT16));
    EXPECT_EQ(g->m_u16ReservedSectors, 1u);
    EXPECT_EQ(g->m_u32Root, 32u);
    EXPECT_EQ(g->m_u32EvidenceFlags, 0x10u);
    const std::uint64_t f = g->m_u32SectorsPerFat;
    EXPECT_EQ(f, (4ull * g->m_u32ClusterCount + 1023) / 1024);
    EXPECT_EQ(g->m_u64KeptFirstSector, d - 1 - 2 * f - 32);
    EXPECT_EQ(g->m_u32SectorCount, 1 + 2 * f + 32 + std::uint64_t{g->m_u32ClusterCount} * 4);
    EXPECT_LE(g->m_u64KeptFirstSector + g->m_u32SectorCount, dev.GetSectorCount());

    // Far into a large device: FAT32, root cluster 2, clusters cut to what fits before the
    // data area.
    ZeroDevice large(4000000);
    c.SetDevice(&large);
    auto g32 = c.GuessPartitionFromDirectory(150000, 2, 1);
    ASSERT_TRUE(g32);
    EXPECT_EQ(g32->m_fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_FAT32));
    EXPECT_EQ(g32->m_u32Root, 2u);
    EXPECT_EQ(g32->m_u64KeptFirstSector, 150000 - 1 - 2ull * g32->m_u32SectorsPerFat);
    c.SetDevice(&dev);

    // No room for the FATs in front of the data area, or no data cluster: nothing.
    EXPECT_FALSE(c.GuessPartitionFromDirectory(2, 2, 1));
    EXPECT_FALSE(c.GuessPartitionFromDirectory(100, 200, 1));
    EXPECT_FALSE(c.GuessPartitionFromDirectory(100000, 1, 1));
    EXPECT_FALSE(c.GuessPartitionFromDirectory(100000, 0, 1));

    // The type is chosen for the whole device behind the data area.
    EXPECT_EQ(GuessFatType(1000, 1, 1000 + 3000).type, static_cast<std::uint32_t>(FILESYSTEM_FAT12));
    EXPECT_EQ(GuessFatType(1000, 1, 1000 + 30000).type, static_cast<std::uint32_t>(FILESYSTEM_FAT16));
    EXPECT_EQ(GuessFatType(100000, 1, 100000 + 3000000).type, static_cast<std::uint32_t>(FILESYSTEM_FAT32));
    // A small partition near the start of a large disk: the FATs that fit in front decide.
    const FatTypeGuess small = GuessFatType(600, 1, 100000000);
    EXPECT_EQ(small.type, static_cast<std::uint32_t>(FILESYSTEM_FAT16));
    EXPECT_LE(2 * small.sectorsPerFat + 1, 600u);
    EXPECT_EQ(GuessFatType(1000, 1, 1000).type, 7u);
}

TEST(FatSearchController, DirectoryConfirmsAKnownPartition) {
    MemoryDevice dev(20000);
    // A directory whose "." names cluster 2 at sector 9988 places a data area there for every
    // cluster size; the next, "." cluster 5 at sector 10000, fits only 4 sectors per cluster.
    PutDirectory(dev.Sector(9988), 2, 0, 3, 20);
    PutDirectory(dev.Sector(10000), 5, 2, 3, 40);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_EQ(stats.counters[ISS_FATFolders], 2u);
    EXPECT_EQ(stats.counters[ISS_TotalFilesFound], 6u);
    auto parts = c.Partitions();
    ASSERT_EQ(parts.size(), 8u) << "one guess per cluster size, none added for the second";
    for (const CFATSearchedPartitionInfo* p : parts) {
        EXPECT_EQ(p->m_u64FirstSector, 9988u);
        EXPECT_EQ(p->m_u64EvidenceA, p->m_sectorsPerCluster == 4 ? 1u : 0u);
    }
    auto found = Collect(c);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->m_sectorsPerCluster, 4u);
    EXPECT_EQ(found[0]->m_u64Score, 20u);
    ASSERT_EQ(c.DirectorySectors().Size(), 2u);
    EXPECT_EQ(*c.DirectorySectors().Find(10000), (FatDirectorySectorRecord{10000, 5, 2}));
}

TEST(FatSearchController, NamesConfirmedByCarvedFiles) {
    MemoryDevice dev(20000);
    PutDirectory(dev.Sector(9988), 2, 0, 1, 20);
    std::uint8_t* dir = dev.Sector(10000);
    PutDirectory(dir, 5, 2, 1, 30);
    PutEntry(dir + 96, "PHOTO   JPG", 0x20, 40, 5000);  // a JPEG carved where it starts
    PutEntry(dir + 128, "DOC     PDF", 0x20, 41, 5000);  // something else carved there
    PutEntry(dir + 160, "PIC     JPG", 0x20, 42, 5000);  // nothing carved there
    PutEntry(dir + 192, "\xE5OST    JPG", 0x20, 43, 5000); // deleted, carved
    PutEntry(dir + 224, "EMPTY   JPG", 0x20, 0, 0);     // no cluster: no entry
    const std::uint16_t jpg = LookupExtensionType(u"JPG", 3);
    const std::uint16_t png = LookupExtensionType(u"PNG", 3);
    ASSERT_NE(jpg, 0);
    CRawFileList carved;
    auto carve = [&](std::uint64_t cluster, std::uint32_t type) {
        auto* r = new CRawFileInfo;
        r->m_u64StartSector = 9988 + (cluster - 2) * 4;
        r->m_u32FileType = type;
        carved.Add(r);
    };
    carve(40, jpg);
    carve(41, png);
    carve(43, jpg);
    CFATSearchController c;
    c.SetResultSink(&carved);
    AnalyzeAll(c, dev);
    EXPECT_EQ(c.FoundFiles().Size(), 4u) << "JPG and PDF names with a data cluster";
    auto found = Collect(c);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->m_u64EvidenceB, 2u);
    EXPECT_EQ(c.FoundFiles().Size(), 0u) << "cleared with the search state";
}

TEST(FatSearchController, DotClustersOutsideTheDataArea) {
    MemoryDevice dev(50000);
    PutDirectory(dev.Sector(4000), 0, 0, 2, 30); // "." of 0: places nothing
    PutDirectory(dev.Sector(4100), 1, 0, 2, 30);
    // The high word counts: cluster 0x10005 lies far past sector 4200 at any cluster size.
    PutDirectory(dev.Sector(4200), 0x00010005, 0, 2, 30);
    PutDirectoryPart(dev.Sector(4300), 3, 50);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_TRUE(c.Partitions().empty());
    EXPECT_EQ(stats.counters[ISS_FATFolders], 3u);
    EXPECT_EQ(stats.counters[ISS_FATFolderParts], 1u);
    ASSERT_EQ(c.DirectorySectors().Size(), 4u);
    EXPECT_EQ(c.DirectorySectors().Find(4200)->dotCluster, 0x00010005u);
    EXPECT_EQ(*c.DirectorySectors().Find(4300), (FatDirectorySectorRecord{4300, 0xFFFFFFFF, 0xFFFFFFFF}));
}

TEST(FatSearchController, UnreadableSectorsAreSkipped) {
    MemoryDevice dev(3000);
    PutDirectory(dev.Sector(1500), 2, 0, 2, 10);
    PutDirectory(dev.Sector(1510), 12, 2, 2, 20);
    dev.FailSector(1505);
    dev.FailSector(1510);
    CFATSearchController c;
    IntelligentSearchStats stats;
    AnalyzeAll(c, dev, &stats);
    EXPECT_EQ(stats.counters[ISS_FATFolders], 1u);
    ASSERT_EQ(c.DirectorySectors().Size(), 1u);
    EXPECT_TRUE(c.DirectorySectors().Find(1500));
}

TEST(FatSearchController, SaveAndLoadState) {
    MemoryDevice dev(20000);
    PutDirectory(dev.Sector(5000), 2, 0, 2, 10);
    PutDirectoryPart(dev.Sector(5001), 4, 20);
    PutDirectory(dev.Sector(5007), 9, 2, 1, 30);
    CFATSearchController c;
    AnalyzeAll(c, dev);
    Collect(c);
    ASSERT_EQ(c.DirectorySectors().Size(), 3u) << "the set survives collecting";

    MemorySection section;
    EXPECT_EQ(c.SaveState(&section), 1);
    EXPECT_EQ(section.bytes.size(), 4u + 3 * 16);
    CFATSearchController restored;
    EXPECT_EQ(restored.LoadState(&section), 1);
    EXPECT_TRUE(std::equal(c.DirectorySectors().begin(), c.DirectorySectors().end(),
                           restored.DirectorySectors().begin(), restored.DirectorySectors().end()));

    // A count larger than the section holds fails on the short read, without allocating it.
    MemorySection damaged;
    damaged.bytes = {0xFF, 0xFF, 0xFF, 0x7F};
    damaged.bytes.insert(damaged.bytes.end(), section.bytes.begin() + 4, section.bytes.end());
    CFATSearchController third;
    EXPECT_THROW(third.LoadState(&damaged), CRSException);
}

// ---------------------------------------------------------------------------------------------
// The complete build on hand-made partitions: data area at sector 100, one sector per cluster.

class RecordingCallback : public IDIRBuildCallback {
public:
    explicit RecordingCallback(int cancelAfter = -1) : m_cancelAfter(cancelAfter) {}
    int BeginStage(const char* text, std::int32_t) override {
        stages.push_back(text);
        return Answer();
    }
    int StepBy(std::int32_t) override { return Answer(); }
    int SetPos(std::int32_t) override { return Answer(); }
    int Reset() override { return Answer(); }
    int Poll() override { return Answer(); }
    std::vector<std::string> stages;
    std::atomic<int> calls{0};

private:
    int Answer() {
        const int n = ++calls;
        return m_cancelAfter >= 0 && n > m_cancelAfter ? -1 : 0;
    }
    int m_cancelAfter;
};

CFATSearchedPartitionInfo HandMadePartition() {
    CFATSearchedPartitionInfo p;
    p.m_fileSystemType = FILESYSTEM_FAT16;
    p.m_sectorsPerCluster = 1;
    p.m_u64FirstSector = 100;
    p.m_u64KeptFirstSector = 50;
    p.m_u32SectorCount = 5000;
    p.m_u16ReservedSectors = 1;
    p.m_u32SectorsPerFat = 8;
    p.m_u32Root = 32;
    p.m_u32EvidenceFlags = 0x10;
    return p;
}

std::uint64_t SectorOf(std::uint32_t cluster) { return 100 + cluster - 2; }

TEST(FatCompleteBuild, DotDotLinksThatLoopOrPointNowhere) {
    MemoryDevice dev(6000);
    // 5 and 6 name each other as parent; 7 names itself; 8 names a cluster never seen; 9 is a
    // child of the root; 10 a child of 9.
    PutDirectory(dev.Sector(SectorOf(5)), 5, 6, 1, 100);
    PutDirectory(dev.Sector(SectorOf(6)), 6, 5, 1, 110);
    PutDirectory(dev.Sector(SectorOf(7)), 7, 7, 1, 120);
    PutDirectory(dev.Sector(SectorOf(8)), 8, 40, 1, 130);
    PutDirectory(dev.Sector(SectorOf(9)), 9, 0, 1, 140);
    PutDirectory(dev.Sector(SectorOf(10)), 10, 9, 1, 150);
    CFATSearchController c;
    AnalyzeAll(c, dev);
    CFATSearchedPartitionInfo part = HandMadePartition();
    RecordingCallback cb;
    TreePtr root(c.BuildDirectoryTree(&part, &dev, 0, &cb));
    ASSERT_TRUE(root);
    EXPECT_EQ(cb.stages, (std::vector<std::string>{"Reading partition parameters...",
                                                   "Building normal files...", "Building layout...",
                                                   "Building lost files...", "Fixing directories..."}));
    auto nodes = FlattenTree(root.get());
    std::map<std::uint32_t, std::string> where; // folder cluster -> path
    for (const auto& [path, node] : nodes)
        if (Props(node)->GetAttributes() & 0x10)
            where[Props(node)->m_u32FirstCluster] = path;
    ASSERT_EQ(where.count(9), 1u);
    EXPECT_EQ(where[9].rfind("DIR", 0), 0u) << where[9];
    EXPECT_EQ(where[10], where[9] + "/" + where[10].substr(where[10].rfind('/') + 1));
    for (std::uint32_t cl : {5u, 6u, 7u, 8u}) {
        ASSERT_EQ(where.count(cl), 1u) << cl;
        EXPECT_EQ(where[cl].rfind("Lost Folders/", 0), 0u) << cl << " at " << where[cl];
    }
    // Each folder holds its file; no node is its own ancestor (the walk above ended).
    for (std::uint32_t cl = 5; cl <= 10; ++cl)
        EXPECT_TRUE(nodes.count(where[cl] + "/FILE00.TXT")) << cl;
}

TEST(FatCompleteBuild, OnlyDirectoriesAtTheirOwnClusterAreBuilt) {
    MemoryDevice dev(6000);
    PutDirectory(dev.Sector(SectorOf(5)), 5, 0, 1, 100);   // where it belongs
    PutDirectory(dev.Sector(SectorOf(20)), 21, 0, 1, 110); // "." says 21, the position says 20
    CFATSearchController c;
    AnalyzeAll(c, dev);
    CFATSearchedPartitionInfo part = HandMadePartition();
    TreePtr root(c.BuildDirectoryTree(&part, &dev, 0, nullptr));
    ASSERT_TRUE(root);
    auto nodes = FlattenTree(root.get());
    int folders = 0;
    for (const auto& [path, node] : nodes)
        folders += (Props(node)->GetAttributes() & 0x10) != 0;
    EXPECT_EQ(folders, 1) << "only cluster 5; Lost Folders is pruned when empty";

    // With two sectors per cluster, cluster 5 starts at sector 106: the sector at 103 sits in
    // the middle of cluster 3 and is not built.
    part.m_sectorsPerCluster = 2;
    TreePtr root2(c.BuildDirectoryTree(&part, &dev, 0, nullptr));
    ASSERT_TRUE(root2);
    EXPECT_EQ(root2->m_pFirstChild, nullptr);
}

TEST(FatCompleteBuild, DotClustersCompareInFull) {
    // Clusters above 0xFFFF: a directory is built only where its whole "." cluster says, not
    // where the low 16 bits alone would put it.
    MemoryDevice dev(SectorOf(0x10010));
    PutDirectory(dev.Sector(SectorOf(0x10005)), 0x10005, 0, 1, 0x10008);
    PutDirectory(dev.Sector(SectorOf(6)), 0x10006, 0, 1, 0x10009);
    CFATSearchController c;
    AnalyzeAll(c, dev);
    CFATSearchedPartitionInfo part = HandMadePartition();
    part.m_fileSystemType = FILESYSTEM_FAT32;
    part.m_u32SectorCount = static_cast<std::uint32_t>(dev.GetSectorCount() - 50);
    TreePtr root(c.BuildDirectoryTree(&part, &dev, 0, nullptr));
    ASSERT_TRUE(root);
    auto nodes = FlattenTree(root.get());
    int folders = 0;
    for (const auto& [path, node] : nodes)
        if (Props(node)->GetAttributes() & 0x10) {
            ++folders;
            EXPECT_EQ(Props(node)->m_u32FirstCluster, 0x10005u) << path;
        }
    EXPECT_EQ(folders, 1);
}

TEST(FatCompleteBuild, LostFragments) {
    MemoryDevice dev(6000);
    // Directory 5 spans clusters 5 and 6 (no FAT to say so): cluster 6 is read as a fragment
    // of an unknown directory. Cluster 30 is a fragment on its own, with a subdirectory entry.
    PutDirectory(dev.Sector(SectorOf(5)), 5, 0, 14, 100);
    PutDirectoryPart(dev.Sector(SectorOf(6)), 5, 200);
    PutDirectoryPart(dev.Sector(SectorOf(30)), 2, 300);
    PutEntry(dev.Sector(SectorOf(30)) + 64, "SUBDIR     ", 0x10, 31, 0);
    PutDirectoryPart(dev.Sector(SectorOf(31)), 2, 400); // the subdirectory's data, no dot entries
    CFATSearchController c;
    AnalyzeAll(c, dev);
    CFATSearchedPartitionInfo part = HandMadePartition();
    TreePtr root(c.BuildDirectoryTree(&part, &dev, 0, nullptr));
    ASSERT_TRUE(root);
    auto nodes = FlattenTree(root.get());
    int lostDirs = 0, withPart4 = 0, withSubdir = 0;
    for (const auto& [path, node] : nodes) {
        if (path.rfind("Lost Folders/DIR", 0) != 0 || path.find('/', 13) != std::string::npos)
            continue;
        ++lostDirs;
        const std::string dir = path + "/";
        withPart4 += nodes.count(dir + "PART04.BIN") != 0;
        if (nodes.count(dir + "SUBDIR")) {
            ++withSubdir;
            EXPECT_TRUE(nodes.count(dir + "PART01.BIN"));
            EXPECT_FALSE(nodes.count(dir + "SUBDIR/PART00.BIN")) << "subdirectories are not followed";
        }
        // A fragment's files keep their own (live) state.
        ASSERT_TRUE(nodes.count(dir + "PART00.BIN")) << path;
        EXPECT_EQ(Props(nodes[dir + "PART00.BIN"])->GetFileState(), FILESTATE_LIVE);
    }
    // Clusters 6, 30 and 31 (whose two files have no dot entries: a fragment of its own).
    EXPECT_EQ(lostDirs, 3);
    EXPECT_EQ(withPart4, 1);
    EXPECT_EQ(withSubdir, 1);
    EXPECT_EQ(CountNodesNamed(nodes, "FILE13.TXT"), 1);
}

TEST(FatCompleteBuild, PlaceholderTakesTheNameOfADeletedEntry) {
    // A folder holding a placeholder with content at cluster 0x10005 and a deleted, empty
    // directory entry whose first cluster lost its high word (5).
    TreePtr owner(CreateFileSystemNode());
    CFileSystemNode& folder = *owner;
    auto* rootProps = CreateFATFileProperties();
    rootProps->SetName("1 FAT32");
    rootProps->m_u16Attributes = 0x10;
    folder.SetProperties(std::unique_ptr<IFileProperties>(rootProps));
    auto* a = CreateFileNode();
    auto* ap = CreateFATFileProperties();
    ap->SetName("DIR7");
    ap->m_u16Attributes = 0x10;
    ap->m_state = FILESTATE_FAT_MADE_FOLDER;
    ap->m_u32FirstCluster = 0x10005;
    a->SetProperties(std::unique_ptr<IFileProperties>(ap));
    auto* file = CreateFileNode();
    auto* fp = CreateFATFileProperties();
    fp->SetName("inside.txt");
    file->SetProperties(std::unique_ptr<IFileProperties>(fp));
    a->AddChild(file);
    auto* b = CreateFileNode();
    auto* bp = CreateFATFileProperties();
    bp->SetName("Old Folder");
    bp->m_u16Attributes = 0x10;
    bp->m_state = FILESTATE_DELETED;
    bp->m_u32FirstCluster = 5;
    b->SetProperties(std::unique_ptr<IFileProperties>(bp));
    // An unrelated deleted directory that matches nothing.
    auto* d = CreateFileNode();
    auto* dp = CreateFATFileProperties();
    dp->SetName("Other");
    dp->m_u16Attributes = 0x10;
    dp->m_state = FILESTATE_DELETED;
    dp->m_u32FirstCluster = 6;
    d->SetProperties(std::unique_ptr<IFileProperties>(dp));
    folder.AddChild(a);
    folder.AddChild(b);
    folder.AddChild(d);

    FixTempDirectories(&folder);
    EXPECT_STREQ(a->m_pProperties->GetName(), "Old Folder");
    EXPECT_EQ(a->m_pProperties->GetFileState(), FILESTATE_DELETED);
    EXPECT_EQ(Props(a)->m_u32FirstCluster, 0x10005u);
    EXPECT_STREQ(b->m_pProperties->GetName(), "DIR7");
    EXPECT_STREQ(d->m_pProperties->GetName(), "Other");
    EXPECT_EQ(a->m_pFirstChild, file);

    PruneEmptyDeletedFolders(&folder); // the emptied placeholder and "Other" go
    int children = 0;
    for (CFileNode* n = folder.m_pFirstChild; n; n = n->m_pNextSibling)
        ++children;
    EXPECT_EQ(children, 1);
    EXPECT_EQ(folder.m_pFirstChild, a);
}

TEST(FatCompleteBuild, Cancel) {
    MemoryDevice dev(6000);
    for (std::uint32_t cl = 5; cl < 25; ++cl)
        PutDirectory(dev.Sector(SectorOf(cl)), cl, cl == 5 ? 0 : cl - 1, 2, 100 + 2 * cl);
    PutDirectoryPart(dev.Sector(SectorOf(40)), 3, 300);
    CFATSearchController c;
    AnalyzeAll(c, dev);
    CFATSearchedPartitionInfo part = HandMadePartition();
    RecordingCallback counter;
    TreePtr full(c.BuildDirectoryTree(&part, &dev, 0, &counter));
    ASSERT_TRUE(full);
    const int total = counter.calls;
    ASSERT_GT(total, 20);
    for (int after : {0, 1, 3, total / 3, total / 2, total - 5, total - 1}) {
        RecordingCallback cb(after);
        EXPECT_FALSE(c.BuildDirectoryTree(&part, &dev, 0, &cb)) << "cancel after " << after;
    }
}

} // namespace
