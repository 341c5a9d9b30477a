// The deep scan gives the same results however its chunks are fed: each controller reading
// every chunk itself, the worker alone reading each chunk once for all controllers, or a loader
// reading ahead while every controller analyses on a thread of its own. Compared are the scan
// state file (the controllers' states, the scored partitions, the carved files), the statistics
// and the progress, on a disk made by the real tools with NTFS, FAT32 and carvable pictures.
#include "carving/IntelligentSearch.h"
#include "carving/RAWSearchController.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/DeepScanDisk.h"
#include "tests/support/FixtureKit.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

using namespace testsupport;

namespace {

enum class Feed { EachReadsItself, WorkerAlone, ReadAhead, Parallel };

// Counts the progress and says "cancelled" from the chunk `cancelAt` on.
class Progress : public IIntelligentSearchCallback {
public:
    explicit Progress(std::uint64_t cancelAt) : m_cancelAt(cancelAt) {}
    void SetPosition(std::uint64_t chunk) override { positions.push_back(chunk); }
    void SetRange(std::uint64_t, std::uint64_t last) override { range = last; }
    int IsCancelled() override { return m_polls++ >= m_cancelAt ? 1 : 0; }
    int PumpMessages() override { return 0; }
    void GetStatistics(IntelligentSearchStats* out) override { *out = last; }
    void SetStatistics(const IntelligentSearchStats* s) override {
        last = *s;
        perChunk.push_back(s->counters[ISS_ChunkCounter15]);
    }

    std::vector<std::uint64_t> positions, perChunk;
    std::uint64_t range = 0;
    IntelligentSearchStats last;

private:
    std::uint64_t m_cancelAt;
    std::uint64_t m_polls = 0;
};

struct Outcome {
    std::vector<std::uint8_t> state;
    IntelligentSearchStats stats;
    std::vector<std::uint64_t> positions, perChunk;
    std::size_t partitions = 0, carved = 0;
};

Outcome Scan(const std::string& image, Feed feed, std::uint32_t chunk,
             std::uint64_t cancelAt = ~0ull) {
    Outcome out;
    CImageFileDevice device(image.c_str());
    EXPECT_GT(device.GetSectorCount(), 0u);
    CFATSearchController fat;
    CNTFSSearchController ntfs;
    CRAWSearchController raw;
    CRawFileList carved;
    const std::vector<IFileSystemSearchController*> controllers{&fat, &ntfs, &raw};
    SetControllersResultSink(controllers, &carved);
    std::vector<CSearchedPartitionInfo*> found;
    if (feed == Feed::EachReadsItself) {
        // The controllers as they are called on their own: each reads its chunks itself.
        for (IFileSystemSearchController* c : controllers) {
            c->SetDevice(&device);
            c->SetSectorsPerStep(chunk);
            c->BeginSearch();
        }
        const std::uint64_t total = device.GetSectorCount();
        for (std::uint64_t first = 0; first < total; first += chunk)
            for (IFileSystemSearchController* c : controllers)
                c->AnalyzeSectors(first, std::min<std::uint64_t>(chunk, total - first),
                                  &out.stats);
        for (IFileSystemSearchController* c : controllers)
            c->EndSearch();
    } else {
        CIntelligentSearchController search;
        search.SetDevice(&device);
        search.SetSectorsPerChunk(chunk);
        search.SetReadAhead(feed != Feed::WorkerAlone);
        search.SetConcurrentControllers(feed == Feed::Parallel);
        for (IFileSystemSearchController* c : controllers)
            search.AddController(c);
        Progress progress(cancelAt);
        EXPECT_EQ(search.Search(&progress), 1);
        out.stats = search.GetStatistics();
        out.positions = progress.positions;
        out.perChunk = progress.perChunk;
    }
    for (IFileSystemSearchController* c : controllers)
        c->CollectSearchedPartitions(found);
    ScoreSearchedPartitions(found);
    SortSearchedPartitions(found);
    SelectBestSearchedPartitions(found, device.GetSectorCount());
    out.partitions = found.size();
    out.carved = carved.Size();

    const std::string path = "serial-parallel-" + std::to_string(::getpid()) + ".state";
    {
        CRSDataEx writer(RSDATA_WRITE);
        EXPECT_TRUE(writer.Open(path.c_str(), true));
        try {
            writer.SetStage(1);
            // As the deep scan's step saves its results.
            SaveSearchControllers(&writer, controllers);
            writer.OpenSection(kFoundFileListSection);
            SaveFoundFileList(&writer, carved);
            writer.CloseSection();
            SaveSearchedPartitions(&writer, found);
        } catch (const IRSException& e) {
            ADD_FAILURE() << "the state could not be saved: " << e.GetErrorCode();
        }
        writer.Close();
    }
    out.state = ReadFileBytes(path);
    ::unlink(path.c_str());
    for (CSearchedPartitionInfo* p : found)
        delete p;
    return out;
}

} // namespace

TEST(SerialParallelScan, EveryWayOfFeedingTheChunksGivesTheSameStateFile) {
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    // 1000 is the scan's own chunk; 64 and 7 cut every structure at chunk borders, and the
    // ring of chunks goes round many times.
    for (std::uint32_t chunk : {1000u, 64u, 7u}) {
        SCOPED_TRACE(chunk);
        const Outcome reference = Scan(disk.path, Feed::EachReadsItself, chunk);
        ASSERT_FALSE(reference.state.empty());
        EXPECT_GE(reference.partitions, 2u);
        EXPECT_GE(reference.carved, disk.planted.size());
        const Outcome serial = Scan(disk.path, Feed::WorkerAlone, chunk);
        EXPECT_EQ(serial.state, reference.state);
        const std::uint64_t chunks = serial.positions.size();
        EXPECT_EQ(chunks, (disk.fatStart + disk.fatSectors + 2048 + chunk - 1) / chunk);
        for (Feed feed : {Feed::ReadAhead, Feed::Parallel}) {
            SCOPED_TRACE(static_cast<int>(feed));
            const Outcome other = Scan(disk.path, feed, chunk);
            EXPECT_EQ(other.state, serial.state);
            EXPECT_EQ(0, std::memcmp(&other.stats, &serial.stats, sizeof other.stats));
            EXPECT_EQ(other.positions, serial.positions);
            EXPECT_EQ(other.perChunk, serial.perChunk);
        }
    }
}

TEST(SerialParallelScan, ACancelledScanSavesTheSameStateEitherWay) {
    const DeepScanDisk& disk = CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    // Cancelled inside the NTFS volume, and after the FAT32 volume's boot sector.
    for (std::uint64_t cancelAt : {5u, 30u}) {
        SCOPED_TRACE(cancelAt);
        const Outcome serial = Scan(disk.path, Feed::WorkerAlone, 1000, cancelAt);
        const Outcome parallel = Scan(disk.path, Feed::Parallel, 1000, cancelAt);
        ASSERT_EQ(serial.positions.size(), cancelAt);
        EXPECT_EQ(parallel.positions, serial.positions);
        EXPECT_EQ(parallel.state, serial.state);
        EXPECT_EQ(0, std::memcmp(&parallel.stats, &serial.stats, sizeof parallel.stats));
    }
}
