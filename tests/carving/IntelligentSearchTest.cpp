// The intelligent search: chunks, progress, cancel, statistics, a controller that throws, and
// the scoring and choice of found partitions.
#include "carving/IntelligentSearch.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "logging/GuardedCall.h"
#include "tests/carving/ActivityLog.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace testsupport;

namespace {

// Records what the search asks of it; reads every chunk and checks its bytes.
class FakeController : public IFileSystemSearchController {
public:
    explicit FakeController(std::uint32_t kind = SEARCH_CONTROLLER_RAW) : m_kind(kind) {}
    void SetDevice(IStorageDevice* d) override { device = d; }
    void SetSectorsPerStep(std::uint32_t s) override { step = s; }
    void BeginSearch() override { ++begins; }
    void EndSearch() override { ++ends; }
    int AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                       IntelligentSearchStats* stats) override {
        chunks.emplace_back(first, count);
        std::vector<std::uint8_t> buf(count * 512);
        EXPECT_EQ(device->ReadSectors(buf.data(), first, count), 1);
        for (std::uint64_t s = 0; s < count; ++s)
            EXPECT_EQ(buf[s * 512], static_cast<std::uint8_t>(first + s)) << first + s;
        stats->counters[ISS_TotalFilesFound] += 1;
        stats->counters[ISS_ChunkCounter15] += 7;
        stats->counters[ISS_FilesIdentified] += count;
        if (first == throwAt)
            throw std::runtime_error("bad chunk");
        return 5;
    }
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>&) override {}
    void SetResultSink(CRawFileList* s) override { sink = s; }
    int SaveState(IRSData*) override { return 1; }
    int LoadState(IRSData*) override { return 1; }
    std::uint32_t GetKind() const override { return m_kind; }
    FileTreePtr BuildDirectoryTree(CSearchedPartitionInfo*, IStorageDevice*, std::uint32_t index,
                                   IDIRBuildCallback*) override {
        ++builds;
        lastIndex = index;
        return std::move(tree);
    }
    bool AcceptsFileSystemType(std::uint32_t type) const override { return type == accepts; }

    IStorageDevice* device = nullptr;
    std::uint32_t step = 0;
    int begins = 0, ends = 0, builds = 0;
    std::uint32_t lastIndex = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> chunks;
    std::uint64_t throwAt = ~0ull;
    CRawFileList* sink = nullptr;
    std::uint32_t accepts = 99;
    FileTreePtr tree;

private:
    std::uint32_t m_kind;
};

class RecordingSearchCallback : public IIntelligentSearchCallback {
public:
    void SetPosition(std::uint64_t chunk) override { positions.push_back(chunk); }
    void SetRange(std::uint64_t first, std::uint64_t last) override {
        ranges.emplace_back(first, last);
    }
    int IsCancelled() override { return ++polls > cancelAfter ? 1 : 0; }
    int PumpMessages() override {
        ++pumps;
        return 0;
    }
    void GetStatistics(IntelligentSearchStats* out) override { *out = stats; }
    void SetStatistics(const IntelligentSearchStats* s) override {
        stats = *s;
        chunk15.push_back(s->counters[ISS_ChunkCounter15]);
    }

    std::vector<std::uint64_t> positions;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    std::vector<std::uint64_t> chunk15;
    int polls = 0, pumps = 0;
    int cancelAfter = 1 << 30;
    IntelligentSearchStats stats;
};

// Sector n begins with the byte n (mod 256).
MemoryDevice NumberedDevice(std::uint64_t sectors) {
    MemoryDevice dev(sectors);
    for (std::uint64_t s = 0; s < sectors; ++s)
        dev.Sector(s)[0] = static_cast<std::uint8_t>(s);
    return dev;
}

std::string LogPath() { return carvingtest::ActivityLogPath(); }
std::string LogText() { return carvingtest::ActivityLogText(); }

} // namespace

TEST(IntelligentSearch, DeviceOfNoSectors) {
    LogPath();
    MemoryDevice dev(std::uint64_t{0});
    FakeController a, b;
    CIntelligentSearchController search;
    search.SetDevice(&dev);
    search.AddController(&a);
    search.AddController(&b);
    RecordingSearchCallback cb;
    EXPECT_EQ(search.Search(&cb), 1);
    EXPECT_TRUE(search.IsDone());
    ASSERT_EQ(cb.ranges.size(), 1u);
    EXPECT_EQ(cb.ranges[0], std::make_pair(std::uint64_t{0}, std::uint64_t{0}));
    EXPECT_TRUE(cb.positions.empty());
    for (FakeController* c : {&a, &b}) {
        EXPECT_EQ(c->begins, 1);
        EXPECT_EQ(c->ends, 1);
        EXPECT_EQ(c->step, 1000u);
        EXPECT_TRUE(c->chunks.empty());
        EXPECT_EQ(c->device, &dev); // after the search the controllers keep the device itself
    }
    const std::string log = LogText();
    EXPECT_NE(log.find("Intelligent search result summary:\r\n"), std::string::npos);
    EXPECT_NE(log.find("NTFSFileRecords = 0\r\n"), std::string::npos);
    EXPECT_NE(log.find("TotalFilesFound = 0\r\n"), std::string::npos);
}

TEST(IntelligentSearch, ThreeChunksOfADeviceOf2500Sectors) {
    for (bool concurrent : {false, true})
        for (bool readAhead : {false, true}) {
            SCOPED_TRACE(testing::Message() << concurrent << readAhead);
            MemoryDevice dev = NumberedDevice(2500);
            FakeController a, b;
            CIntelligentSearchController search;
            search.SetConcurrentControllers(concurrent);
            search.SetReadAhead(readAhead);
            search.SetDevice(&dev);
            search.AddController(&a);
            search.AddController(&b);
            RecordingSearchCallback cb;
            ASSERT_EQ(search.Search(&cb), 1);
            const std::vector<std::pair<std::uint64_t, std::uint64_t>> want{
                {0, 1000}, {1000, 1000}, {2000, 500}};
            EXPECT_EQ(a.chunks, want);
            EXPECT_EQ(b.chunks, want);
            EXPECT_EQ(cb.positions, (std::vector<std::uint64_t>{0, 1, 2}));
            EXPECT_EQ(cb.ranges[0], std::make_pair(std::uint64_t{0}, std::uint64_t{3}));
            EXPECT_EQ(cb.pumps, 3);
            // Kept counters add up over the chunks; per-chunk counters start again at 0.
            EXPECT_EQ(search.GetStatistics().counters[ISS_TotalFilesFound], 6u);
            EXPECT_EQ(search.GetStatistics().counters[ISS_FilesIdentified], 5000u);
            EXPECT_EQ(cb.chunk15, (std::vector<std::uint64_t>{14, 14, 14}));
            // Each chunk was read from the device once, by the cache.
            std::uint64_t read = 0;
            for (const auto& call : dev.Calls())
                read += call.count;
            EXPECT_EQ(read, 2500u);
        }
}

TEST(IntelligentSearch, CancelDuringChunkFive) {
    LogPath();
    MemoryDevice dev = NumberedDevice(30000);
    FakeController a, b;
    CIntelligentSearchController search;
    search.SetDevice(&dev);
    search.AddController(&a);
    search.AddController(&b); // on lanes of their own
    RecordingSearchCallback cb;
    cb.cancelAfter = 5; // the sixth poll, before chunk 5, says cancelled
    ASSERT_EQ(search.Search(&cb), 1);
    for (FakeController* c : {&a, &b}) {
        ASSERT_EQ(c->chunks.size(), 5u);
        EXPECT_EQ(c->chunks.back().first, 4000u);
        EXPECT_EQ(c->ends, 1);
    }
    EXPECT_EQ(cb.positions, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
    const std::string log = LogText();
    const auto cancel = log.rfind("Intelligent search was cancelled by user!\r\n");
    ASSERT_NE(cancel, std::string::npos);
    const auto summary = log.rfind("Intelligent search result summary:");
    ASSERT_NE(summary, std::string::npos);
    EXPECT_LT(cancel, summary);
    EXPECT_NE(log.find("TotalFilesFound = 10\r\n", summary), std::string::npos);
}

TEST(IntelligentSearch, AControllerThatThrowsLosesOnlyItsOwnChunk) {
    for (bool concurrent : {false, true}) {
        SCOPED_TRACE(concurrent);
        MemoryDevice dev = NumberedDevice(3000);
        FakeController a, b;
        a.throwAt = 1000;
        CIntelligentSearchController search;
        search.SetConcurrentControllers(concurrent);
        search.SetDevice(&dev);
        search.AddController(&a);
        search.AddController(&b);
        ASSERT_EQ(search.Search(nullptr), 1);
        EXPECT_EQ(a.chunks.size(), 3u);
        EXPECT_EQ(b.chunks.size(), 3u); // the controller after the one that threw still ran
        EXPECT_EQ(search.GetStatistics().counters[ISS_TotalFilesFound], 5u);
        EXPECT_EQ(search.GetStatistics().counters[ISS_FilesIdentified], 5000u);
    }
}

TEST(IntelligentSearch, AControllerThatThrowsIsLoggedOnceAndCountedAtTheEnd) {
    constexpr std::uint32_t kKind = 0x7701; // no other test's controller
    const GuardedSite site{"Analysing a chunk of the deep scan", "search controller of kind"};
    LogPath();
    for (bool concurrent : {false, true}) {
        MemoryDevice dev = NumberedDevice(3000);
        FakeController a(kKind);
        a.throwAt = 2000;
        CIntelligentSearchController search;
        search.SetConcurrentControllers(concurrent);
        search.SetDevice(&dev);
        search.AddController(&a);
        ASSERT_EQ(search.Search(nullptr), 1);
        EXPECT_EQ(a.chunks.size(), 3u);
    }
    EXPECT_EQ(GetGuardedFailureCount(site, kKind), 2u);
    const std::string log = LogText();
    const std::string first = "Analysing a chunk of the deep scan failed (search controller of "
                              "kind 30465): bad chunk; later failures there are counted\r\n";
    const std::size_t at = log.find(first);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(first, at + 1), std::string::npos) << log;
    EXPECT_NE(log.find("Analysing a chunk of the deep scan failed (search controller of kind "
                       "30465) 2 times in all\r\n",
                       at),
              std::string::npos)
        << log;
}

TEST(IntelligentSearch, AnalyzeChunkReturnsTheLastControllersResult) {
    MemoryDevice dev = NumberedDevice(10);
    FakeController a, b;
    b.throwAt = 0;
    CIntelligentSearchController search;
    search.AddController(&a);
    search.AddController(&b);
    a.SetDevice(&dev);
    b.SetDevice(&dev);
    IntelligentSearchStats stats;
    EXPECT_EQ(search.AnalyzeChunk(0, 10, &stats), 0); // the last one threw
    EXPECT_EQ(stats.counters[ISS_FilesIdentified], 10u);
    b.throwAt = ~0ull;
    EXPECT_EQ(search.AnalyzeChunk(0, 10, &stats), 5);
    EXPECT_EQ(stats.counters[ISS_FilesIdentified], 30u);
}

namespace {
CSearchedPartitionInfo Record(std::uint64_t first, std::uint32_t sectors, std::uint64_t score,
                              std::uint64_t a = 0, std::uint64_t b = 0) {
    CSearchedPartitionInfo r;
    r.m_u64FirstSector = r.m_u64KeptFirstSector = first;
    r.m_u32SectorCount = sectors;
    r.m_u64Score = score;
    r.m_u64EvidenceA = a;
    r.m_u64EvidenceB = b;
    return r;
}
} // namespace

TEST(IntelligentSearch, ScoresAreLogarithmsRelativeToTheStrongest) {
    auto r50 = Record(0, 10, 50), r100 = Record(0, 10, 0, 2), r1000 = Record(0, 10, 990, 0, 10);
    auto r1 = Record(0, 10, 1), r0 = Record(0, 10, 0);
    std::vector<CSearchedPartitionInfo*> list{&r50, &r100, &r1000, &r1, &r0};
    ScoreSearchedPartitions(list);
    EXPECT_DOUBLE_EQ(r50.m_relativeScore, std::log(50.0) / std::log(1000.0));
    EXPECT_DOUBLE_EQ(r100.m_relativeScore, std::log(100.0) / std::log(1000.0));
    EXPECT_DOUBLE_EQ(r1000.m_relativeScore, 1.0);
    EXPECT_DOUBLE_EQ(r1.m_relativeScore, 1.0 / std::log(1000.0));
    EXPECT_DOUBLE_EQ(r0.m_relativeScore, 0.0);
    // With nothing above 1 the divisor is 1.
    auto lone = Record(0, 10, 1);
    std::vector<CSearchedPartitionInfo*> one{&lone};
    ScoreSearchedPartitions(one);
    EXPECT_DOUBLE_EQ(lone.m_relativeScore, 1.0);
    SortSearchedPartitions(list);
    EXPECT_EQ(list, (std::vector<CSearchedPartitionInfo*>{&r1000, &r100, &r50, &r1, &r0}));

    // Counts near the top of 64 bits saturate instead of wrapping.
    auto huge = Record(0, 10, ~0ull, ~0ull, ~0ull);
    std::vector<CSearchedPartitionInfo*> big{&huge, &r50};
    ScoreSearchedPartitions(big);
    EXPECT_DOUBLE_EQ(huge.m_relativeScore, 1.0);
    EXPECT_LT(r50.m_relativeScore, 0.25);
}

TEST(IntelligentSearch, ChoiceKeepsTheBestNonOverlappingPartitions) {
    struct Case {
        const char* what;
        std::vector<CSearchedPartitionInfo> records; // in sorted order
        std::uint64_t deviceSectors;
        std::vector<int> chosen;
    };
    auto rel = [](CSearchedPartitionInfo r, double s) {
        r.m_relativeScore = s;
        return r;
    };
    const Case cases[] = {
        {"overlap: the higher score wins",
         {rel(Record(100, 500, 0), 0.9), rel(Record(300, 500, 0), 0.8)},
         2000,
         {0}},
        {"equal scores: the first in the list",
         {rel(Record(300, 500, 0), 0.5), rel(Record(100, 500, 0), 0.5)},
         2000,
         {0}},
        {"past the device's end: never",
         {rel(Record(1800, 500, 0), 1.0), rel(Record(0, 100, 0), 0.1)},
         2000,
         {1}},
        {"apart: both, and the gaps between",
         {rel(Record(1000, 500, 0), 1.0), rel(Record(0, 1000, 0), 0.7),
          rel(Record(1500, 500, 0), 0.6), rel(Record(900, 700, 0), 0.5)},
         2000,
         {0, 1, 2}},
        {"a relative score of 0: never", {rel(Record(0, 100, 0), 0.0)}, 2000, {}},
        {"a range that overflows: never", {rel(Record(~0ull - 5, 100, 0), 1.0)}, ~0ull, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<CSearchedPartitionInfo> records = c.records;
        std::vector<CSearchedPartitionInfo*> list;
        for (auto& r : records)
            list.push_back(&r);
        SelectBestSearchedPartitions(list, c.deviceSectors);
        std::vector<int> chosen;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i].m_u32Chosen)
                chosen.push_back(static_cast<int>(i));
        EXPECT_EQ(chosen, c.chosen);
        EXPECT_EQ(list.size(), records.size()); // all stay in the list
    }
}

TEST(IntelligentSearch, TreesAndSinksGoToTheRightController) {
    FakeController fat(SEARCH_CONTROLLER_FAT), ntfs(SEARCH_CONTROLLER_NTFS),
        other(SEARCH_CONTROLLER_NTFS);
    fat.accepts = FILESYSTEM_FAT32;
    ntfs.accepts = FILESYSTEM_NTFS;
    other.accepts = FILESYSTEM_NTFS;
    ntfs.tree.reset(CreateFileSystemNode());
    CFileSystemNode* root = ntfs.tree.get();
    std::vector<IFileSystemSearchController*> controllers{&fat, &ntfs, &other};
    CSearchedPartitionInfo record;
    record.m_fileSystemType = FILESYSTEM_NTFS;
    MemoryDevice dev(10);
    EXPECT_EQ(BuildDirectoryTreeByController(controllers, &record, &dev, nullptr, 3).get(), root);
    EXPECT_EQ(ntfs.builds, 1);
    EXPECT_EQ(ntfs.lastIndex, 3u);
    EXPECT_EQ(other.builds + fat.builds, 0);
    record.m_fileSystemType = FILESYSTEM_EXT2;
    EXPECT_EQ(BuildDirectoryTreeByController(controllers, &record, &dev, nullptr, 0), nullptr);

    CRawFileList sink;
    SetControllersResultSink(controllers, &sink);
    EXPECT_EQ(fat.sink, &sink);
    EXPECT_EQ(other.sink, &sink);
}
