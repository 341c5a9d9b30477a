// The deep scan of NTFS: volumes made by mkntfs placed inside larger disks, found by the NTFS
// search controller through the intelligent search, chosen, and their trees built from what the
// search saw.
#include "carving/IntelligentSearch.h"
#include "carving/RAWSearchController.h"
#include "carving/records/FoundFileEntry.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ntfs/NtfsAttributeData.h"
#include "filesystems/ntfs/NtfsFoundTreeBuilder.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "tests/filesystems/ntfs/NtfsTestImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>
#include <tuple>
#include <map>
#include <memory>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

constexpr std::uint64_t kOddStart = 2047; // not a cylinder boundary

// `volume` placed at sector `at` of a disk of `sectors` sectors whose other sectors hold
// pseudo-random bytes (free space that was used once).
std::vector<std::uint8_t> Disk(const std::vector<std::uint8_t>& volume, std::uint64_t at,
                               std::uint64_t sectors, std::uint32_t seed = 77) {
    std::vector<std::uint8_t> disk = PatternBytes(sectors * 512, seed);
    EXPECT_LE(at * 512 + volume.size(), disk.size());
    std::copy(volume.begin(), volume.end(), disk.begin() + static_cast<std::ptrdiff_t>(at * 512));
    return disk;
}

// A small PNG (signature, IHDR, IDAT, IEND; `extra` bytes of image data) at `sector` of `disk`.
std::size_t PlantPng(std::vector<std::uint8_t>& disk, std::uint64_t sector, std::uint32_t extra) {
    std::vector<std::uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, std::uint32_t n) {
        for (int i = 3; i >= 0; --i)
            png.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        png.insert(png.end(), type, type + 4);
        for (std::uint32_t i = 0; i < n; ++i)
            png.push_back(static_cast<std::uint8_t>(i * 7 + 1));
        png.insert(png.end(), {0x12, 0x34, 0x56, 0x78});
    };
    chunk("IHDR", 13);
    png[16] = 0, png[17] = 0, png[18] = 0, png[19] = 9; // width 9
    png[20] = 0, png[21] = 0, png[22] = 0, png[23] = 5; // height 5
    chunk("IDAT", extra);
    chunk("IEND", 0);
    std::copy(png.begin(), png.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    return png.size();
}

struct DeepScanOptions {
    bool readAhead = true;
    bool concurrent = true;
    std::uint32_t chunk = 1000;
    std::vector<IFileSystemSearchController*> extra;
    CRawFileList* sink = nullptr;
};

struct Scan {
    std::unique_ptr<CNTFSSearchController> ntfs = std::make_unique<CNTFSSearchController>();
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    std::vector<CSearchedPartitionInfo*> list;
    IntelligentSearchStats stats;

    std::vector<const CSearchedNTFSPartitionInfo*> Chosen() const {
        std::vector<const CSearchedNTFSPartitionInfo*> out;
        for (auto* r : list)
            if (r->m_u32Chosen)
                out.push_back(dynamic_cast<const CSearchedNTFSPartitionInfo*>(r));
        return out;
    }
    CSearchedNTFSPartitionInfo* Find(std::uint64_t first, std::uint8_t spc) const {
        for (auto* r : list)
            if (r->m_u64FirstSector == first && r->m_sectorsPerCluster == spc)
                return dynamic_cast<CSearchedNTFSPartitionInfo*>(r);
        return nullptr;
    }
};

Scan DeepScan(IStorageDevice& dev, const DeepScanOptions& options = {}) {
    Scan scan;
    CIntelligentSearchController search;
    search.SetDevice(&dev);
    search.SetReadAhead(options.readAhead);
    search.SetConcurrentControllers(options.concurrent);
    search.SetSectorsPerChunk(options.chunk);
    search.AddController(scan.ntfs.get());
    for (auto* c : options.extra)
        search.AddController(c);
    SetControllersResultSink(search.Controllers(), options.sink);
    EXPECT_EQ(search.Search(nullptr), 1);
    scan.stats = search.GetStatistics();
    scan.ntfs->CollectSearchedPartitions(scan.list);
    for (auto* c : options.extra)
        c->CollectSearchedPartitions(scan.list);
    for (auto* r : scan.list)
        scan.owned.emplace_back(r);
    ScoreSearchedPartitions(scan.list);
    SortSearchedPartitions(scan.list);
    SelectBestSearchedPartitions(scan.list, dev.GetSectorCount());
    return scan;
}

std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            std::string p = path + "/" + c->m_pProperties->GetName();
            EXPECT_EQ(out.count(p), 0u) << "duplicate " << p;
            out[p] = c;
            stack.emplace_back(c, p);
        }
    }
    return out;
}

// The file's bytes through its run list (clusters counted from the partition's first sector).
std::vector<std::uint8_t> ReadFile(IStorageDevice& dev, const IFileProperties* props,
                                   std::uint64_t first, std::uint32_t spc) {
    std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
    std::vector<std::uint8_t> out;
    if (!runs)
        return out;
    if (runs->IsResident()) {
        std::vector<std::uint8_t> rec(1024);
        const DataRun* r = runs->GetFirstRun();
        EXPECT_TRUE(dev.ReadSectors(rec.data(), r->start, 2));
        EXPECT_TRUE(ApplyFixups(rec.data(), rec.size()));
        std::uint32_t off = runs->GetResidentOffset();
        return std::vector<std::uint8_t>(rec.begin() + off,
                                         rec.begin() + off + props->GetFileSize());
    }
    for (const DataRun* r = runs->GetFirstRun(); r && out.size() < props->GetFileSize();
         r = runs->GetNextRun()) {
        std::vector<std::uint8_t> piece(r->count * spc * 512, 0);
        if (r->start >= 0) {
            EXPECT_TRUE(dev.ReadSectors(piece.data(), first + r->start * spc, r->count * spc));
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(props->GetFileSize());
    return out;
}

std::set<std::string> NtfslsPaths(const std::string& image) {
    std::string text;
    EXPECT_TRUE(MustRun("ntfsls -R -F " + ShellQuote(image) + " 2>/dev/null", &text));
    std::set<std::string> out;
    std::istringstream in(text);
    std::string line, dir;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (line.back() == ':') {
            dir = line.substr(0, line.size() - 1);
            if (dir.size() > 1 && dir.back() == '/')
                dir.pop_back();
            continue;
        }
        if (line == "./" || line == "../")
            continue;
        if (line.back() == '/')
            line.pop_back();
        out.insert((dir == "/" ? "" : dir) + "/" + line);
    }
    return out;
}

std::set<std::string> LivePaths(const std::map<std::string, CFileNode*>& paths) {
    std::set<std::string> live;
    for (auto& [p, node] : paths)
        if (node->m_pProperties->GetFileState() == FILESTATE_LIVE)
            live.insert(p);
    return live;
}

TreePtr BuildTree(Scan& scan, IStorageDevice& dev, CSearchedPartitionInfo* record,
                  std::uint32_t index = 0) {
    std::vector<IFileSystemSearchController*> controllers{scan.ntfs.get()};
    CNullDirBuildCallback cb;
    return TreePtr(BuildDirectoryTreeByController(controllers, record, &dev, &cb, index));
}

// A volume of `clusterSize` clusters with a folder whose index needs several INDX blocks and a
// few files of known bytes.
std::string ClusterVolume(std::uint32_t clusterSize) {
    return CachedFixture(
        "ntfs-deepscan-c" + std::to_string(clusterSize) + "-v2.img", [&](const std::string& tmp) {
            NtfsImageRecipe recipe;
            recipe.sizeMiB = 24;
            recipe.clusterSize = clusterSize;
            recipe.partitionStart = kOddStart;
            return MakeNtfsImage(tmp, recipe) &&
                   NtfsEdit(tmp, "mkdir /dir\nmkdir /dir/sub\nfill /dir 300 2000 9") &&
                   NtfsWriteFile(tmp, "/dir/sub/big.bin", PatternBytes(200000, 41)) &&
                   NtfsWriteFile(tmp, "/top.bin", PatternBytes(70000, 42));
        });
}

void CheckBasicTree(Scan& scan, IStorageDevice& dev, CSearchedPartitionInfo* record,
                    const std::string& image, bool withLabel) {
    TreePtr root = BuildTree(scan, dev, record, 1);
    ASSERT_TRUE(root);
    EXPECT_STREQ(root->m_pProperties->GetName(), "2 NTFS");
    if (withLabel) {
        EXPECT_STREQ(root->GetName(), kBasicNtfsLabel);
    }
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    ASSERT_TRUE(root->GetFileSystemInfo(&first, &spc));
    EXPECT_EQ(first, record->m_u64FirstSector);
    auto paths = Paths(root.get());
    EXPECT_EQ(LivePaths(paths), NtfslsPaths(image));
    for (const char* p : {"/docs/gone.bin", "/trash", "/trash/t1.bin", "/trash/t2.bin"}) {
        ASSERT_TRUE(paths.count(p)) << p;
        EXPECT_EQ(paths[p]->m_pProperties->GetFileState(), FILESTATE_DELETED) << p;
    }
    for (const char* p : {"/readme.txt", "/docs/a.bin", "/docs/b.bin", "/docs/caf\xC3\xA9.txt",
                          "/docs/sub/c.bin", "/docs/gone.bin", "/trash/t1.bin", "/trash/t2.bin"}) {
        ASSERT_TRUE(paths.count(p)) << p;
        const IFileProperties* props = paths[p]->m_pProperties;
        std::vector<std::uint8_t> want = BasicNtfsContent(p);
        if (props->GetFileState() == FILESTATE_LIVE) {
            std::string cat;
            ASSERT_TRUE(MustRun(
                "ntfscat " + ShellQuote(image) + " " + ShellQuote(p) + " 2>/dev/null", &cat));
            EXPECT_EQ(std::vector<std::uint8_t>(cat.begin(), cat.end()), want) << p;
        }
        EXPECT_TRUE(ReadFile(dev, props, first, spc) == want) << p;
    }
    int many = 0;
    for (CFileNode* c = paths["/many"]->m_pFirstChild; c; c = c->m_pNextSibling)
        ++many;
    EXPECT_EQ(many, 400);
    // Recovery's reader of data kept in the MFT record works on the found tree.
    std::vector<std::uint8_t> resident(kNtfsMaxResidentData);
    std::uint64_t length = 0;
    ASSERT_EQ(ReadResidentFileData(&dev, paths["/readme.txt"], &length, resident.data()), 1);
    resident.resize(length);
    EXPECT_TRUE(resident == BasicNtfsContent("/readme.txt"));
    EXPECT_EQ(ReadResidentFileData(&dev, paths["/docs"], &length, resident.data()), 0);
}

} // namespace

TEST(NtfsDeepScan, FindsAVolumeAtAnOddSectorAndBuildsItsTree) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    const std::uint64_t volumeSectors = volume.size() / 512;
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volumeSectors + 3000));
    Scan scan = DeepScan(dev);

    auto chosen = scan.Chosen();
    ASSERT_EQ(chosen.size(), 1u);
    const CSearchedNTFSPartitionInfo* r = chosen[0];
    EXPECT_EQ(r->m_u64FirstSector, kOddStart);
    EXPECT_EQ(r->m_u64KeptFirstSector, kOddStart);
    EXPECT_EQ(r->m_sectorsPerCluster, 8);
    EXPECT_EQ(r->m_fileSystemType, FILESYSTEM_NTFS);
    // The boot sector's total leaves out the backup boot sector at the end.
    EXPECT_EQ(r->m_u64ClusterCount, (volumeSectors - 1) / 8);
    EXPECT_EQ(r->GetSectorCount64(), (volumeSectors - 1) / 8 * 8);
    const std::uint32_t e = r->GetEvidence();
    EXPECT_EQ(e & 0x07u, 0x07u) << std::hex << e; // boot sector, backup, $MFT with its mirror
    EXPECT_EQ(e & 0x08u, 0u);
    EXPECT_TRUE(e & NTFS_EVIDENCE_INDEX) << std::hex << e;
    // mkntfs and ntfs-3g leave $LogFile without restart pages: no 0x40 or 0x80 here.
    EXPECT_GT(r->m_u64EvidenceA, 0u); // index blocks matched to their folders
    EXPECT_EQ(r->m_u64AttrDefConfirmed, 5u);
    EXPECT_EQ(r->m_u64UpCaseConfirmed, 256u);
    EXPECT_NE(r->m_u64MftRecordSector, kNtfsUnknown);
    EXPECT_EQ(r->m_u64LogFileConfirmed, 0u);
    EXPECT_EQ(r->m_u64Score,
              30u + 20u + 10u + 10u); // $MFT and mirror, boot sectors, $UpCase, $AttrDef
    EXPECT_DOUBLE_EQ(r->m_relativeScore, 1.0);
    EXPECT_EQ(scan.list[0], r);
    EXPECT_EQ(scan.stats.counters[ISS_NTFSBootRecords], 2u);
    EXPECT_GE(scan.stats.counters[ISS_NTFSFileRecords], 400u);
    EXPECT_EQ(scan.stats.counters[ISS_TotalFilesFound], scan.stats.counters[ISS_NTFSFileRecords]);

    CheckBasicTree(scan, dev, const_cast<CSearchedNTFSPartitionInfo*>(r), image, true);
    // With "Use $MFT file" off every record is placed by its own header's number: same tree.
    const_cast<CSearchedNTFSPartitionInfo*>(r)->m_u32UseMftFile = 0;
    TreePtr loose = BuildTree(scan, dev, const_cast<CSearchedNTFSPartitionInfo*>(r));
    ASSERT_TRUE(loose);
    EXPECT_EQ(LivePaths(Paths(loose.get())), NtfslsPaths(image));
}

TEST(NtfsDeepScan, FindsAVolumeWhoseBootSectorAndFirstRecordsAreGone) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    auto volume = ReadFileBytes(image);
    const std::uint64_t volumeSectors = volume.size() / 512;
    const std::int64_t mft = NtfsRecordOffset(image, 0);
    ASSERT_GT(mft, 0);
    std::fill(volume.begin(), volume.begin() + 512, 0);                  // boot sector
    std::fill(volume.begin() + mft, volume.begin() + mft + 4 * 1024, 0); // $MFT ... $Volume
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volumeSectors + 3000));
    Scan scan = DeepScan(dev);

    auto chosen = scan.Chosen();
    ASSERT_FALSE(chosen.empty());
    CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->m_u32Chosen);
    const std::uint32_t e = r->GetEvidence();
    EXPECT_FALSE(e & NTFS_EVIDENCE_BOOT);
    EXPECT_TRUE(e & NTFS_EVIDENCE_BACKUP_BOOT) << std::hex << e;
    EXPECT_TRUE(e & NTFS_EVIDENCE_INDEX) << std::hex << e;
    EXPECT_GT(r->m_u64EvidenceA, 0u);
    EXPECT_EQ(r->GetSectorCount64(), (volumeSectors - 1) / 8 * 8);
    for (auto* c : chosen) // nothing chosen overlaps the volume
        if (c != r) {
            EXPECT_TRUE(c->m_u64FirstSector + c->GetSectorCount64() <= kOddStart ||
                        c->m_u64FirstSector >= kOddStart + r->GetSectorCount64());
        }

    // Without its $MFT record every file is placed by its own record number.
    TreePtr root = BuildTree(scan, dev, r);
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    EXPECT_EQ(LivePaths(paths), NtfslsPaths(image));
    ASSERT_TRUE(paths.count("/docs/sub/c.bin"));
    EXPECT_TRUE(ReadFile(dev, paths["/docs/sub/c.bin"]->m_pProperties, kOddStart, 8) ==
                BasicNtfsContent("/docs/sub/c.bin"));
    ASSERT_TRUE(paths.count("/trash/t1.bin"));
    EXPECT_TRUE(ReadFile(dev, paths["/trash/t1.bin"]->m_pProperties, kOddStart, 8) ==
                BasicNtfsContent("/trash/t1.bin"));
    // Files of the $MFT only: with no $MFT record seen there are none, and no tree.
    r->m_u32MftOnly = 1;
    EXPECT_FALSE(BuildTree(scan, dev, r));
}

TEST(NtfsDeepScan, ClusterSizesFromHalfAKilobyteTo64KiB) {
    for (std::uint32_t size : {512u, 4096u, 8192u, 65536u}) {
        SCOPED_TRACE(size);
        const std::string image = ClusterVolume(size);
        ASSERT_FALSE(image.empty());
        const auto volume = ReadFileBytes(image);
        MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 500, size));
        Scan scan = DeepScan(dev);
        const std::uint8_t spc = static_cast<std::uint8_t>(size / 512);
        CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, spc);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->m_u32Chosen);
        EXPECT_EQ(scan.Chosen().size(), 1u);
        // Index blocks are placed whether their VCNs count clusters or 512-byte units.
        EXPECT_TRUE(r->GetEvidence() & NTFS_EVIDENCE_INDEX) << std::hex << r->GetEvidence();
        EXPECT_GT(r->m_u64EvidenceA, 0u);
        EXPECT_EQ(r->GetEvidence() & 0x07u, 0x07u) << std::hex << r->GetEvidence();

        TreePtr root = BuildTree(scan, dev, r);
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        EXPECT_EQ(LivePaths(paths), NtfslsPaths(image));
        ASSERT_TRUE(paths.count("/dir/sub/big.bin") && paths.count("/top.bin") &&
                    paths.count("/dir/f000299"));
        EXPECT_TRUE(ReadFile(dev, paths["/dir/sub/big.bin"]->m_pProperties, kOddStart, spc) ==
                    PatternBytes(200000, 41));
        EXPECT_TRUE(ReadFile(dev, paths["/top.bin"]->m_pProperties, kOddStart, spc) ==
                    PatternBytes(70000, 42));
        EXPECT_TRUE(ReadFile(dev, paths["/dir/f000299"]->m_pProperties, kOddStart, spc) ==
                    NtfsEditPattern(2000, 9 + 299));
    }
}

TEST(NtfsDeepScan, TwoVolumesOneOverwritingTheStartOfTheOther) {
    // The older volume starts at sector 8192; a newer, smaller one written at 2048 covers its
    // boot sector and the start of its MFT.
    const std::string older = ClusterVolume(4096);
    const std::string newer =
        CachedFixture("ntfs-deepscan-small-v1.img", [](const std::string& tmp) {
            NtfsImageRecipe recipe;
            recipe.sizeMiB = 8;
            recipe.partitionStart = 2048;
            return MakeNtfsImage(tmp, recipe) &&
                   NtfsWriteFile(tmp, "/new.bin", PatternBytes(30000, 5));
        });
    ASSERT_FALSE(older.empty());
    ASSERT_FALSE(newer.empty());
    const auto a = ReadFileBytes(older);
    const auto b = ReadFileBytes(newer);
    auto disk = Disk(a, 8192, 8192 + a.size() / 512 + 100);
    std::copy(b.begin(), b.end(), disk.begin() + 2048 * 512);
    MemoryDevice dev(disk);
    Scan scan = DeepScan(dev);

    CSearchedNTFSPartitionInfo* rb = scan.Find(2048, 8);
    ASSERT_TRUE(rb);
    EXPECT_TRUE(rb->m_u32Chosen);
    EXPECT_EQ(rb->GetSectorCount64(), (b.size() / 512 - 1) / 8 * 8);
    CSearchedNTFSPartitionInfo* ra = scan.Find(8192, 8);
    ASSERT_TRUE(ra); // still found: its backup boot sector, mirror and index blocks
    EXPECT_TRUE(ra->GetEvidence() & NTFS_EVIDENCE_BACKUP_BOOT);
    // The chosen partitions never overlap.
    auto chosen = scan.Chosen();
    for (std::size_t i = 0; i < chosen.size(); ++i)
        for (std::size_t j = i + 1; j < chosen.size(); ++j)
            EXPECT_TRUE(chosen[i]->m_u64FirstSector + chosen[i]->GetSectorCount64() <=
                            chosen[j]->m_u64FirstSector ||
                        chosen[j]->m_u64FirstSector + chosen[j]->GetSectorCount64() <=
                            chosen[i]->m_u64FirstSector);

    // Each tree holds its own files only.
    TreePtr tb = BuildTree(scan, dev, rb);
    ASSERT_TRUE(tb);
    auto pb = Paths(tb.get());
    EXPECT_EQ(LivePaths(pb), NtfslsPaths(newer));
    EXPECT_TRUE(ReadFile(dev, pb["/new.bin"]->m_pProperties, 2048, 8) == PatternBytes(30000, 5));
    // The older volume's MFT lay in its first clusters: nothing of the newer one shows in what
    // is left of its tree.
    EXPECT_FALSE(ra->m_u32Chosen);
    if (TreePtr ta = BuildTree(scan, dev, ra)) {
        EXPECT_FALSE(Paths(ta.get()).count("/new.bin"));
    }
}

namespace {

// Counts sectors and reads every chunk; throws on one chunk after counting half of it.
class CountingController : public IFileSystemSearchController {
public:
    explicit CountingController(std::uint64_t throwAt) : m_throwAt(throwAt) {}
    void SetDevice(IStorageDevice* d) override { m_device = d; }
    void SetSectorsPerStep(std::uint32_t) override {}
    void BeginSearch() override {}
    int AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                       IntelligentSearchStats* stats) override {
        std::vector<std::uint8_t> buf(count * 512);
        EXPECT_TRUE(m_device->ReadSectors(buf.data(), first, count));
        std::uint64_t sum = 0;
        for (std::uint8_t b : buf)
            sum += b;
        stats->counters[ISS_FilesIdentified] += count;
        stats->counters[ISS_TotalFilesFound] += 1;
        if (first == m_throwAt)
            throw std::runtime_error("damaged");
        m_sum += sum;
        return 1;
    }
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>&) override {}
    void SetResultSink(CRawFileList*) override {}
    int SaveState(IRSData*) override { return 1; }
    int LoadState(IRSData*) override { return 1; }
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_RAW; }

    std::uint64_t m_sum = 0;

private:
    IStorageDevice* m_device = nullptr;
    std::uint64_t m_throwAt;
};

std::vector<std::uint8_t> SavedRecords(const std::vector<CSearchedPartitionInfo*>& list) {
    MemorySection s;
    for (auto* r : list)
        r->Save(&s);
    return s.bytes;
}

} // namespace

TEST(NtfsDeepScan, ConcurrentControllersAndReadAheadGiveTheSequentialResults) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    auto disk = Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 3000);
    for (std::uint64_t at : {100u, 1500u, 2040u}) // PNGs in the free space before the volume
        PlantPng(disk, at, 3000 + static_cast<std::uint32_t>(at));
    MemoryDevice dev(disk);

    struct Run {
        std::vector<std::uint8_t> records;
        IntelligentSearchStats stats;
        std::vector<NtfsRecordNode> mft;
        std::vector<FileRecordRun> runs;
        std::uint64_t sum;
        std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t>> carved;
    };
    auto run = [&](bool readAhead, bool concurrent, std::uint32_t chunk) {
        CountingController counting(3000);
        CRAWSearchController raw;
        CRawFileList carved;
        DeepScanOptions o;
        o.readAhead = readAhead;
        o.concurrent = concurrent;
        o.chunk = chunk;
        o.extra = {&counting, &raw};
        o.sink = &carved;
        Scan scan = DeepScan(dev, o);
        Run result{SavedRecords(scan.list),        scan.stats,     scan.ntfs->GetMftRecords(),
                   scan.ntfs->GetFileRecordRuns(), counting.m_sum, {}};
        for (const CRawFileInfo* f : carved.Records())
            result.carved.emplace_back(f->m_u64StartSector, f->m_u64Size, f->m_u32FileType);
        return result;
    };
    const Run sequential = run(false, false, 1000);
    ASSERT_FALSE(sequential.records.empty());
    ASSERT_EQ(sequential.carved.size(), 3u);
    EXPECT_EQ(std::get<0>(sequential.carved[2]), 2040u);
    // The throwing controller lost its own chunk only: the NTFS controller saw everything.
    // (the carver counts its three files there too)
    EXPECT_EQ(sequential.stats.counters[ISS_FilesIdentified], dev.GetSectorCount() - 1000 + 3);
    for (auto [readAhead, concurrent, chunk] :
         {std::tuple{true, true, 1000u}, std::tuple{true, false, 1000u},
          std::tuple{false, true, 1000u}}) {
        SCOPED_TRACE(testing::Message() << readAhead << concurrent << chunk);
        const Run other = run(readAhead, concurrent, chunk);
        EXPECT_EQ(other.records, sequential.records);
        EXPECT_EQ(0, std::memcmp(&other.stats, &sequential.stats, sizeof other.stats));
        EXPECT_EQ(other.mft, sequential.mft);
        EXPECT_EQ(other.runs, sequential.runs);
        EXPECT_EQ(other.sum, sequential.sum);
        EXPECT_EQ(other.carved, sequential.carved);
    }
    // Chunk borders cut FILE records, index blocks and log pages anywhere: the NTFS controller
    // finds the same partitions whatever the chunk size.
    for (std::uint32_t chunk : {333u, 64u, 17u}) {
        SCOPED_TRACE(chunk);
        CountingController counting(~0ull);
        DeepScanOptions o;
        o.chunk = chunk;
        Scan scan = DeepScan(dev, o);
        EXPECT_EQ(SavedRecords(scan.list), sequential.records);
        EXPECT_EQ(scan.ntfs->GetMftRecords(), sequential.mft);
    }
}

TEST(NtfsDeepScan, ControllerStateSavesAndLoads) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 100));
    Scan scan = DeepScan(dev);
    MemorySection section;
    EXPECT_EQ(scan.ntfs->SaveState(&section), 1);
    CNTFSSearchController loaded;
    EXPECT_EQ(loaded.LoadState(&section), 1);
    EXPECT_EQ(section.pos, section.bytes.size());
    EXPECT_EQ(loaded.GetMftRecords(), scan.ntfs->GetMftRecords());
    EXPECT_EQ(loaded.GetFileRecordRuns(), scan.ntfs->GetFileRecordRuns());

    // A record saved and loaded comes back whole; the loaded controller builds the same tree.
    CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
    ASSERT_TRUE(r);
    MemorySection rs;
    r->Save(&rs);
    EXPECT_EQ(rs.bytes.size(), kSearchedPartitionFieldsSize + kSearchedNtfsExtraSize);
    CSearchedNTFSPartitionInfo back;
    back.Load(&rs);
    MemorySection again;
    back.Save(&again);
    EXPECT_EQ(again.bytes, rs.bytes);
    EXPECT_EQ(back.GetSectorCount64(), r->GetSectorCount64());
    std::vector<IFileSystemSearchController*> controllers{&loaded};
    CNullDirBuildCallback cb;
    TreePtr a(BuildDirectoryTreeByController(controllers, &back, &dev, &cb, 0));
    TreePtr b = BuildTree(scan, dev, r);
    ASSERT_TRUE(a && b);
    auto pa = Paths(a.get()), pb = Paths(b.get());
    EXPECT_EQ(pa.size(), pb.size());
    EXPECT_EQ(LivePaths(pa), LivePaths(pb));

    // Truncated state throws as the store does, never reads past the section.
    MemorySection cut;
    cut.bytes.assign(section.bytes.begin(), section.bytes.begin() + section.bytes.size() / 2);
    CNTFSSearchController partial;
    EXPECT_THROW(partial.LoadState(&cut), CRSException);
}

TEST(NtfsDeepScan, ClusterUseBitMapMarksFilesAndRecords) {
    const std::string image = ClusterVolume(4096);
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 100));
    Scan scan = DeepScan(dev);
    CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
    ASSERT_TRUE(r);
    TreePtr root = BuildTree(scan, dev, r);
    ASSERT_TRUE(root);
    std::vector<std::uint64_t> bits;
    auto map = CreateNtfsClusterUseBitMap(root.get(), &bits, r->m_u64ClusterCount);
    ASSERT_TRUE(map);
    auto paths = Paths(root.get());
    auto* big = dynamic_cast<CNTFSFileProperties*>(paths["/dir/sub/big.bin"]->m_pProperties.get());
    ASSERT_TRUE(big);
    std::unique_ptr<IDataRunList> runs(big->GetDataRunList());
    ASSERT_TRUE(runs && runs->GetFirstRun());
    const DataRun* run = runs->GetFirstRun();
    EXPECT_TRUE(map->IsMarked(run->start));
    EXPECT_TRUE(map->IsClusterUsed(kOddStart + run->start * 8 + 3));
    EXPECT_TRUE(map->IsMarked((big->GetRecordSector() - kOddStart) / 8));
    EXPECT_TRUE(map->IsClusterUsed(kOddStart - 1)); // before the partition
    EXPECT_TRUE(map->IsClusterUsed(kOddStart + r->m_u64ClusterCount * 8 + 100)); // past its end
    // Most of the 24 MiB volume is free.
    std::uint64_t used = 0;
    for (std::uint64_t c = 0; c < r->m_u64ClusterCount; ++c)
        used += map->IsMarked(c);
    EXPECT_LT(used, r->m_u64ClusterCount / 2);
    EXPECT_GT(used, (200000u + 70000u) / 4096);
    // A root without file-system information gives no map.
    CFileNode plain;
    EXPECT_FALSE(CreateNtfsClusterUseBitMap(&plain, &bits, 10));
}

namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// A 4096-byte $LogFile page: "RSTR" with the client name "NTFS", or "RCRD"; every sector ends
// with the update sequence number unless `broken`.
void WriteLogPage(std::uint8_t* p, bool restart, bool broken = false) {
    std::memset(p, 0, 4096);
    std::memcpy(p, restart ? "RSTR" : "RCRD", 4);
    const std::uint16_t usaOffset = restart ? 30 : 40;
    Put16(p + 4, usaOffset);
    Put16(p + 6, 9);
    Put16(p + usaOffset, 0x0007);
    if (restart) {
        const char16_t name[] = u"NTFS";
        for (int i = 0; i < 4; ++i)
            Put16(p + 144 + 2 * i, name[i]);
    }
    for (int k = 1; k <= 8; ++k)
        Put16(p + k * 512 - 2, broken && k == 5 ? 0x0008 : 0x0007);
}

} // namespace

TEST(NtfsDeepScan, LogFileRestartAndRecordPages) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    auto volume = ReadFileBytes(image);
    // Where $LogFile lies: the first run of record 2's data.
    const std::int64_t at = NtfsRecordOffset(image, 2);
    ASSERT_GT(at, 0);
    std::vector<std::uint8_t> rec(volume.begin() + at, volume.begin() + at + 1024);
    ASSERT_TRUE(ApplyFixups(rec.data(), rec.size()));
    NtfsExtentList runs;
    ASSERT_TRUE(CollectDataRuns(rec.data(), rec.size(), runs, false, nullptr));
    ASSERT_FALSE(runs.empty());
    const std::uint64_t log = static_cast<std::uint64_t>(runs[0].lcn) * 4096;
    // Two restart pages, then three good record pages and a torn one.
    WriteLogPage(volume.data() + log, true);
    WriteLogPage(volume.data() + log + 4096, true);
    for (int i = 0; i < 4; ++i)
        WriteLogPage(volume.data() + log + 8192 + 4096 * i, false, i == 3);
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 100));
    std::vector<std::uint8_t> first;
    // A chunk of P + 4 sectors ends 4 sectors into the first restart page (at sector P).
    const auto cut = static_cast<std::uint32_t>(kOddStart + log / 512 + 4);
    for (std::uint32_t chunk : {1000u, 61u, cut}) {
        SCOPED_TRACE(chunk);
        DeepScanOptions o;
        o.chunk = chunk;
        Scan scan = DeepScan(dev, o);
        CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetEvidence() & 0xC0u, 0xC0u) << std::hex << r->GetEvidence();
        EXPECT_EQ(r->m_u64LogFileConfirmed, 3u * 8u);
        EXPECT_EQ(r->m_u64Score, 30u + 20u + 20u + 10u + 10u);
        auto saved = SavedRecords(scan.list);
        if (first.empty())
            first = saved;
        else
            EXPECT_EQ(saved, first);
    }
}

TEST(NtfsDeepScan, CarvedFilesInUnusedClustersJoinTheTree) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 100));
    Scan scan = DeepScan(dev);
    CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
    ASSERT_TRUE(r);

    // Where files are and where they are not.
    TreePtr plain = BuildTree(scan, dev, r);
    ASSERT_TRUE(plain);
    std::vector<std::uint64_t> bits;
    auto map = CreateNtfsClusterUseBitMap(plain.get(), &bits, r->m_u64ClusterCount);
    ASSERT_TRUE(map);
    std::uint64_t freeCluster = 0;
    for (std::uint64_t c = r->m_u64ClusterCount / 2; c < r->m_u64ClusterCount && !freeCluster; ++c)
        if (!map->IsMarked(c))
            freeCluster = c;
    ASSERT_NE(freeCluster, 0u);
    auto paths = Paths(plain.get());
    std::unique_ptr<IDataRunList> used(paths["/docs/a.bin"]->m_pProperties->GetDataRunList());
    ASSERT_TRUE(used && used->GetFirstRun());

    const std::uint32_t png = LookupExtensionType(u"PNG", 3);
    ASSERT_NE(png, 0u);
    CRawFileList carved;
    auto add = [&](std::uint64_t sector) {
        auto* f = new CRawFileInfo();
        f->m_u64StartSector = sector;
        f->m_u64Size = 5000;
        f->m_u32FileType = png;
        carved.Add(f);
    };
    add(kOddStart + freeCluster * 8);                // in a free cluster: carved
    add(kOddStart + used->GetFirstRun()->start * 8); // where /docs/a.bin lies: not
    add(kOddStart - 100);                            // before the partition: not
    scan.ntfs->SetResultSink(&carved);
    TreePtr root = BuildTree(scan, dev, r);
    ASSERT_TRUE(root);
    auto withRaw = Paths(root.get());
    int rawFiles = 0;
    for (auto& [p, node] : withRaw)
        if (p.rfind("/Raw Files/", 0) == 0 &&
            !(node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY))
            ++rawFiles;
    EXPECT_EQ(rawFiles, 1);
    EXPECT_EQ(withRaw.size(), paths.size() + 3); // "Raw Files", its PNG folder and the file
    // Nothing carved: no folder.
    CRawFileList none;
    scan.ntfs->SetResultSink(&none);
    TreePtr again = BuildTree(scan, dev, r);
    ASSERT_TRUE(again);
    EXPECT_EQ(Paths(again.get()).size(), paths.size());
}

TEST(NtfsDeepScan, EfsStreamOfAFoundFileIsReadAtThePartitionsOffset) {
    // An encrypted file whose $EFS stream (3000 bytes: its length, a zero word, then data) is
    // not resident.
    std::vector<std::uint8_t> efs = PatternBytes(3000, 24);
    for (int i = 0; i < 8; ++i)
        efs[i] = 0;
    efs[0] = 3000 & 0xFF;
    efs[1] = 3000 >> 8;
    const std::string image =
        CachedFixture("ntfs-deepscan-efs-v1.img", [&](const std::string& tmp) {
            NtfsImageRecipe recipe;
            recipe.sizeMiB = 8;
            return MakeNtfsImage(tmp, recipe) &&
                   WriteFileBytes(tmp + ".data", PatternBytes(70000, 23)) &&
                   WriteFileBytes(tmp + ".efs", efs) &&
                   NtfsEdit(tmp, "efs " + NtfsEditWord(tmp + ".data") + " /big.bin " + NtfsEditWord(tmp + ".efs"));
        });
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    MemoryDevice dev(Disk(volume, kOddStart, kOddStart + volume.size() / 512 + 100));
    Scan scan = DeepScan(dev);
    CSearchedNTFSPartitionInfo* r = scan.Find(kOddStart, 8);
    ASSERT_TRUE(r);
    TreePtr root = BuildTree(scan, dev, r);
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    ASSERT_TRUE(paths.count("/big.bin"));
    EXPECT_TRUE(paths["/big.bin"]->m_pProperties->GetAttributes() & FILEATTR_ENCRYPTED);
    std::vector<std::uint8_t> stream(kNtfsMaxEfsStream);
    std::uint64_t length = 0;
    ASSERT_EQ(ReadAttributeData(stream.data(), paths["/big.bin"], &dev, &length), 1);
    stream.resize(length);
    EXPECT_TRUE(stream == efs);
}

TEST(NtfsDeepScan, IndexBlocksAreCheckedInsideTheirBounds) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto volume = ReadFileBytes(image);
    // The first index block of the volume (the folder of 400 files has several).
    std::size_t at = 0;
    for (std::size_t off = 0; off + 4096 <= volume.size() && !at; off += 4096)
        if (std::memcmp(volume.data() + off, "INDX", 4) == 0 &&
            CheckIndexBuffer(volume.data() + off, 4096))
            at = off;
    ASSERT_NE(at, 0u);
    const std::vector<std::uint8_t> good(volume.begin() + at, volume.begin() + at + 4096);
    EXPECT_FALSE(CheckIndexBuffer(good.data(), 4095)); // not all there
    auto broken = [&](auto&& change) {
        std::vector<std::uint8_t> b = good;
        change(b.data());
        return !CheckIndexBuffer(b.data(), b.size());
    };
    const std::uint32_t first = 24 + ByteSpan(good.data(), good.size()).u32(24);
    EXPECT_TRUE(
        broken([&](std::uint8_t* b) { NtfsWr16(b + first + 8, 0xFFF0); })); // entry past the block
    EXPECT_TRUE(broken(
        [&](std::uint8_t* b) { NtfsWr16(b + first + 8, 8); })); // entry shorter than its header
    EXPECT_TRUE(broken([](std::uint8_t* b) {
        b[28] = 0xFF, b[29] = 0xFF, b[30] = 0, b[31] = 0;
    }));                                                                  // used > allocated
    EXPECT_TRUE(broken([](std::uint8_t* b) { b[2 * 512 - 1] ^= 0xFF; })); // torn sector
    EXPECT_TRUE(broken([](std::uint8_t* b) { NtfsWr16(b + 6, 17); }));    // fix-up count
    EXPECT_TRUE(broken([&](std::uint8_t* b) {                             // two parents
        const std::uint32_t second = first + ByteSpan(b, good.size()).u16(first + 8);
        b[second + 16] ^= 0x01;
    }));
    EXPECT_FALSE(broken([](std::uint8_t*) {}));
}

TEST(NtfsDeepScan, FileRecordWhoseUpdateSequenceFailsIsNotTaken) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    auto volume = ReadFileBytes(image);
    const std::int64_t record = NtfsRecordNumber(image, "/docs/a.bin");
    ASSERT_GT(record, 16);
    const std::int64_t offset = NtfsRecordOffset(image, static_cast<std::uint64_t>(record));
    ASSERT_GT(offset, 0);
    const std::uint64_t sector = kOddStart + static_cast<std::uint64_t>(offset) / 512;
    auto taken = [](const Scan& scan, std::uint64_t s) {
        for (const FileRecordRun& run : scan.ntfs->GetFileRecordRuns())
            if (s >= run.firstSector && s - run.firstSector < 2 * run.recordCount)
                return (s - run.firstSector) % 2 == 0;
        return false;
    };
    const std::uint64_t sectors = kOddStart + volume.size() / 512 + 100;
    {
        MemoryDevice dev(Disk(volume, kOddStart, sectors));
        Scan intact = DeepScan(dev);
        for (std::uint64_t s : {sector - 2, sector, sector + 2})
            ASSERT_TRUE(taken(intact, s)) << s;
    }
    // The record's first sector was written and its second was not: the first no longer ends
    // with the update sequence number the header holds.
    volume[static_cast<std::size_t>(offset) + 510] ^= 0xFF;
    MemoryDevice dev(Disk(volume, kOddStart, sectors));
    Scan torn = DeepScan(dev);
    EXPECT_FALSE(taken(torn, sector));
    EXPECT_TRUE(taken(torn, sector - 2));
    EXPECT_TRUE(taken(torn, sector + 2));
    ASSERT_EQ(torn.Chosen().size(), 1u);
    EXPECT_EQ(torn.Chosen()[0]->m_u64FirstSector, kOddStart);
}
