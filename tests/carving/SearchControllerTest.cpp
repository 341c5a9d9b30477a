#include "carving/RAWSearchController.h"
#include "carving/analysers/FilePNGAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "tests/carving/ActivityLog.h"
#include "tests/carving/TestAnalysers.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <string>

using namespace carvingtest;
using namespace testsupport;

namespace {

// Files that start "SZ" and give their length in the u32 at 4; sized only when the reader can
// reach their last byte (as a walk would), and every sizing is counted.
class SizerAnalyser : public IRawFileAnalyser {
public:
    explicit SizerAnalyser(int typeId = 90) : IRawFileAnalyser(typeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override {
        if (sector[0] != 'S' || sector[1] != 'Z')
            return 0;
        record->m_u32FileType = static_cast<std::uint32_t>(m_typeId);
        return 1;
    }
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override {
        ++calls;
        RawFileReader reader(device, record->m_u64StartSector);
        ByteSpan head = reader.Read(0, 8);
        if (head.empty())
            return 0;
        const std::uint32_t length = head.u32(4);
        if (reader.Read(length - 1, 1).empty())
            return 0;
        record->m_u64Size = length;
        return 1;
    }
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override {
        AddSignatureKey(keys, 0, "SZ", 2);
        return true;
    }
    int calls = 0;
};

void PlantSizer(MemoryDevice& dev, std::uint64_t sector, std::uint32_t length) {
    std::uint8_t* p = dev.Sector(sector);
    p[0] = 'S';
    p[1] = 'Z';
    std::memcpy(p + 4, &length, 4);
}

struct Search {
    explicit Search(MemoryDevice& dev, RawFileAnalyserList& list, std::uint32_t step = 10) {
        controller.SetDevice(&dev);
        controller.SetSectorsPerStep(step);
        controller.SetResultSink(&sink);
        controller.SetAnalyserListForTesting(&list);
        controller.BeginSearch();
    }
    void Run(std::uint64_t sectors, std::uint32_t step = 10) {
        for (std::uint64_t s = 0; s < sectors; s += step)
            controller.AnalyzeSectors(s, std::min<std::uint64_t>(step, sectors - s), &stats);
    }
    CRAWSearchController controller;
    CRawFileList sink;
    IntelligentSearchStats stats;
};

} // namespace

TEST(RAWSearchController, KindAndNoAnalysers) {
    CRAWSearchController c;
    EXPECT_EQ(c.GetKind(), 2u);
    MemoryDevice dev(100);
    PlantSizer(dev, 3, 100);
    RawFileAnalyserList empty;
    Search s(dev, empty);
    s.Run(100);
    EXPECT_EQ(s.sink.Size(), 0u);
    EXPECT_TRUE(dev.Calls().empty()); // no analyser: the device is not even read
}

TEST(RAWSearchController, SizesAFileExactlyWhenItsChunkIsTheOldest) {
    // 10-sector chunks: a file in chunk 2 is sized while chunk 22 is analysed.
    MemoryDevice dev(400);
    PlantSizer(dev, 25, 20 * 512);
    RawFileAnalyserList list;
    list.Append(std::make_unique<SizerAnalyser>());
    auto* sizer = static_cast<SizerAnalyser*>(list.At(0));
    Search s(dev, list);
    for (std::uint64_t chunk = 0; chunk < 22; ++chunk)
        s.controller.AnalyzeSectors(chunk * 10, 10, &s.stats);
    ASSERT_EQ(s.sink.Size(), 1u);
    const CRawFileInfo* r = s.sink.Records()[0];
    EXPECT_EQ(r->m_u64StartSector, 25u);
    EXPECT_EQ(r->m_u32AnalyserType, 90u);
    EXPECT_EQ(r->m_u64Size, 0u);
    EXPECT_EQ(sizer->calls, 0);
    EXPECT_EQ(s.controller.GetPendingCount(), 1u);
    s.controller.AnalyzeSectors(220, 10, &s.stats);
    EXPECT_EQ(sizer->calls, 1);
    EXPECT_EQ(r->m_u64Size, 20u * 512);
    EXPECT_EQ(s.controller.GetPendingCount(), 0u);
    EXPECT_EQ(s.stats.counters[ISS_FilesIdentified], 1u);
    EXPECT_EQ(s.stats.counters[ISS_TotalFilesFound], 1u);
}

TEST(RAWSearchController, AFileWhoseSizingThrowsStaysUnsizedAndTheLogSaysWhy) {
    // A walk that fails on a damaged file: with a message for the file at 5, without one at 25.
    class FailingSizer : public SizerAnalyser {
    public:
        int ComputeFileSize(CRawFileInfo* record, IStorageDevice*) override {
            ++calls;
            if (record->m_u64StartSector == 25)
                throw 7;
            throw std::runtime_error("walk left the file");
        }
    };
    ActivityLogPath();
    MemoryDevice dev(400);
    PlantSizer(dev, 5, 10 * 512);
    PlantSizer(dev, 25, 10 * 512);
    RawFileAnalyserList list;
    list.Append(std::make_unique<FailingSizer>());
    auto* sizer = static_cast<FailingSizer*>(list.At(0));
    Search s(dev, list);
    s.Run(400);
    EXPECT_EQ(sizer->calls, 2);
    ASSERT_EQ(s.sink.Size(), 2u);
    EXPECT_EQ(s.sink.Records()[0]->m_u64Size, 0u);
    EXPECT_EQ(s.sink.Records()[1]->m_u64Size, 0u);
    EXPECT_EQ(s.controller.GetPendingCount(), 0u);
    const std::string log = ActivityLogText();
    EXPECT_NE(log.find("Sizing the carved file at sector 5 failed: walk left the file\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Sizing the carved file at sector 25 failed\r\n"), std::string::npos) << log;
}

TEST(RAWSearchController, FilesBeyondTheRingStayUnsized) {
    MemoryDevice dev(1000);
    PlantSizer(dev, 5, 10 * 512);        // fits the ring
    PlantSizer(dev, 15, 195 * 512);      // reaches the last sector of the ring exactly
    PlantSizer(dev, 27, 194 * 512);      // one sector more than the ring holds from there
    RawFileAnalyserList list;
    list.Append(std::make_unique<SizerAnalyser>());
    Search s(dev, list);
    s.Run(1000);
    s.controller.EndSearch();
    ASSERT_EQ(s.sink.Size(), 3u);
    EXPECT_EQ(s.sink.Records()[0]->m_u64Size, 10u * 512);
    EXPECT_EQ(s.sink.Records()[1]->m_u64Size, 195u * 512);
    EXPECT_EQ(s.sink.Records()[2]->m_u64Size, 0u); // left to the tree, on the real device
}

TEST(RAWSearchController, FilesInsideASizedArchiveOfTheirTypeAreDropped) {
    // Archives and containers (here with the ids of TAR and CAB): a file sized from its header
    // covers its sectors at once; one sized later from the ring drops the files of its type
    // found inside it meanwhile. Files of other types stay, and so do files inside files of a
    // type that does not nest (whose sizes may be estimates).
    ASSERT_TRUE(AnalyserNestsOwnType(59));
    ASSERT_TRUE(AnalyserNestsOwnType(10));
    ASSERT_FALSE(AnalyserNestsOwnType(90));
    for (int sizerType : {59, 90}) {
        SCOPED_TRACE(sizerType);
        MemoryDevice dev(600);
        PlantSizer(dev, 12, 100 * 512); // sized from the ring: 13 to 111 lie inside
        PlantSizer(dev, 40, 10 * 512);
        PlantSizer(dev, 111, 5 * 512);
        PlantSizer(dev, 112, 5 * 512); // the first sector behind it
        std::memcpy(dev.Sector(50), "MM", 2);
        std::memcpy(dev.Sector(300), "MM", 2); // sized from its header: 301 to 307 lie inside
        std::memcpy(dev.Sector(304), "MM", 2);
        std::memcpy(dev.Sector(308), "MM", 2);
        RawFileAnalyserList list;
        list.Append(std::make_unique<SizerAnalyser>(sizerType));
        list.Append(std::make_unique<SigAnalyser>(10, 0, "MM", false, 10, 4096));
        Search s(dev, list);
        s.Run(600);
        s.controller.EndSearch();
        std::vector<std::uint64_t> starts;
        for (const CRawFileInfo* r : s.sink.Records())
            starts.push_back(r->m_u64StartSector);
        const std::vector<std::uint64_t> nested = {12, 50, 112, 300, 308};
        const std::vector<std::uint64_t> flat = {12, 40, 50, 111, 112, 300, 308};
        EXPECT_EQ(starts, sizerType == 59 ? nested : flat);
        EXPECT_EQ(s.stats.counters[ISS_FilesIdentified], starts.size());
        EXPECT_EQ(s.stats.counters[ISS_TotalFilesFound], starts.size());
    }
}

TEST(RAWSearchController, SmallDevicesAndShortLastChunk) {
    // Fewer than 20 chunks: nothing is sized during the search.
    {
        MemoryDevice dev(150);
        PlantSizer(dev, 1, 512);
        RawFileAnalyserList list;
        list.Append(std::make_unique<SizerAnalyser>());
        Search s(dev, list);
        s.Run(150);
        s.controller.EndSearch();
        ASSERT_EQ(s.sink.Size(), 1u);
        EXPECT_EQ(s.sink.Records()[0]->m_u64Size, 0u);
    }
    // 20 full chunks and a last chunk of 4 sectors: of the oldest chunk's files only those in
    // its first 4 sectors are sized.
    {
        MemoryDevice dev(204);
        PlantSizer(dev, 3, 512);
        PlantSizer(dev, 4, 512);
        PlantSizer(dev, 200, 512);
        RawFileAnalyserList list;
        list.Append(std::make_unique<SizerAnalyser>());
        Search s(dev, list);
        s.Run(204);
        s.controller.EndSearch();
        ASSERT_EQ(s.sink.Size(), 3u);
        EXPECT_EQ(s.sink.Records()[0]->m_u64Size, 512u);
        EXPECT_EQ(s.sink.Records()[1]->m_u64Size, 0u);
        EXPECT_EQ(s.sink.Records()[2]->m_u64Size, 0u);
        EXPECT_EQ(s.controller.GetPendingCount(), 0u);
    }
}

TEST(RAWSearchController, FirstAnalyserWinsAndRejectedMatchesLeaveNoTrace) {
    MemoryDevice dev(40);
    std::memcpy(dev.Sector(2), "MMxx", 4);
    std::memcpy(dev.Sector(3), "Mzzz", 4);
    std::memcpy(dev.Sector(4), "nope", 4);
    std::memcpy(dev.Sector(5), "MMyy", 4);
    dev.FailSector(25); // chunk 2 cannot be read: it counts as zeros
    std::memcpy(dev.Sector(22), "MMzz", 4);
    RawFileAnalyserList list;
    list.Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 777));
    list.Append(std::make_unique<SigAnalyser>(6, 0, "M", false, 6));
    Search s(dev, list);
    s.Run(40);
    ASSERT_EQ(s.sink.Size(), 3u);
    const std::uint64_t starts[] = {2, 3, 5};
    const std::uint32_t types[] = {1, 6, 1};
    for (int i = 0; i < 3; ++i) {
        const CRawFileInfo* r = s.sink.Records()[i];
        EXPECT_EQ(r->m_u64StartSector, starts[i]);
        EXPECT_EQ(r->m_u32FileType, types[i]);
        EXPECT_EQ(r->m_u64Size, types[i] == 1 ? 777u : 0u);
        EXPECT_EQ(r->m_pAnalyser, list.At(types[i] == 1 ? 0 : 1));
    }
}

// On random data with planted signatures, the dispatched search gives exactly the records of
// the plain walk over the list.
TEST(RAWSearchController, DispatchedSearchEqualsThePlainWalk) {
    std::mt19937 rng(11);
    const std::uint64_t sectors = 6000;
    MemoryDevice dev(sectors);
    for (auto& b : dev.Bytes())
        b = static_cast<std::uint8_t>(rng());
    const std::uint8_t png[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const char* sigs[] = {"MM", "M", "-lh5-", "SZ", "Q"};
    for (std::uint64_t s = 0; s < sectors; ++s) {
        const unsigned pick = rng() % 16;
        std::uint8_t* p = dev.Sector(s);
        if (pick == 0)
            std::memset(p, 0, 512); // empty sectors
        else if (pick == 1)
            std::memcpy(p, png, 8);
        else if (pick == 2)
            std::memcpy(p + 2, sigs[2], 5);
        else if (pick == 3)
            std::memcpy(p + 257, "ustar", 5);
        else if (pick < 7)
            std::memcpy(p, sigs[rng() % 5], 2);
        if (pick == 4 || pick == 5) {
            const std::uint32_t length = 512 * (1 + rng() % 300);
            std::memcpy(p + 4, &length, 4);
        }
    }
    auto makeList = [] {
        auto list = std::make_unique<RawFileAnalyserList>();
        list->Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 4096));
        list->Append(std::make_unique<ThrowingAnalyser>());
        list->Append(std::make_unique<SizerAnalyser>());
        list->Append(std::make_unique<FilePNGAnalyser>());
        list->Append(std::make_unique<SigAnalyser>(3, 257, "ustar", false, 3));
        list->Append(std::make_unique<SigAnalyser>(4, 2, "-lh5-", false, 4));
        list->Append(std::make_unique<SigAnalyser>(6, 0, "M", false, 6));
        list->Append(std::make_unique<SigAnalyser>(7, 0, "Q", false, 7, 0, false));
        list->Append(std::make_unique<FilePNGAnalyser>());
        return list;
    };
    auto run = [&](bool useIndex) {
        auto list = makeList();
        auto s = std::make_unique<Search>(dev, *list, 100);
        s->controller.SetUseSignatureIndex(useIndex);
        s->Run(sectors, 100);
        s->controller.EndSearch();
        std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t>> out;
        for (const CRawFileInfo* r : s->sink.Records())
            out.emplace_back(r->m_u64StartSector, r->m_u64Size, r->m_u32FileType,
                             r->m_u32AnalyserType);
        return out;
    };
    const auto fast = run(true);
    const auto walk = run(false);
    EXPECT_GT(fast.size(), 2000u);
    ASSERT_EQ(fast.size(), walk.size());
    EXPECT_TRUE(fast == walk);
    std::size_t sized = 0;
    for (const auto& r : fast) {
        EXPECT_NE(std::get<2>(r), 999u); // a rejected match never leaks into a record
        sized += std::get<1>(r) != 0;
    }
    EXPECT_GT(sized, 100u);
}

// The same over every registered analyser (as the next ones are added they are covered too):
// sectors carry the analysers' own key bytes at their offsets, so each is asked often.
TEST(RAWSearchController, RegistryDispatchEqualsThePlainWalk) {
    std::mt19937 rng(5);
    const std::uint64_t sectors = 8000;
    MemoryDevice dev(sectors);
    for (auto& b : dev.Bytes())
        b = static_cast<std::uint8_t>(rng());
    RawFileAnalyserList probe;
    CreateAllRawFileAnalysers(&probe);
    std::vector<SignatureKey> keys;
    for (std::size_t i = 0; i < probe.Size(); ++i)
        probe.At(i)->GetSignatureKeys(keys);
    ASSERT_FALSE(keys.empty());
    const std::uint8_t png[16] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A,
                                  0,    0,    0,    13,   'I',  'H',  'D',  'R'};
    for (std::uint64_t s = 0; s < sectors; ++s) {
        std::uint8_t* p = dev.Sector(s);
        const unsigned pick = rng() % 8;
        if (pick == 0) {
            std::memset(p, 0, 512);
        } else if (pick == 1) {
            std::memcpy(p, png, sizeof png);
        } else if (pick < 6) {
            // One to three keys, so several analysers may want the same sector.
            for (unsigned k = 0; k <= rng() % 3; ++k) {
                const SignatureKey& key = keys[rng() % keys.size()];
                std::memcpy(p + key.offset, key.bytes, key.length);
            }
        }
    }
    auto run = [&](bool useIndex) {
        RawFileAnalyserList list;
        CreateAllRawFileAnalysers(&list);
        Search s(dev, list, 1000);
        s.controller.SetUseSignatureIndex(useIndex);
        s.Run(sectors, 1000);
        s.controller.EndSearch();
        std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t>> out;
        for (const CRawFileInfo* r : s.sink.Records())
            out.emplace_back(r->m_u64StartSector, r->m_u64Size, r->m_u32FileType,
                             r->m_u32AnalyserType);
        return out;
    };
    const auto fast = run(true);
    const auto walk = run(false);
    EXPECT_GT(fast.size(), 500u);
    EXPECT_TRUE(fast == walk);
}

TEST(RAWSearchController, ChunksOutOfOrderStartANewWindow) {
    MemoryDevice dev(600);
    PlantSizer(dev, 15, 512);
    PlantSizer(dev, 305, 2 * 512);
    RawFileAnalyserList list;
    list.Append(std::make_unique<SizerAnalyser>());
    Search s(dev, list);
    s.controller.AnalyzeSectors(0, 10, &s.stats);
    s.controller.AnalyzeSectors(10, 10, &s.stats);
    // A gap: the file at 15 is no longer waiting; the ring restarts at 300.
    for (std::uint64_t first = 300; first < 600; first += 10)
        s.controller.AnalyzeSectors(first, 10, &s.stats);
    s.controller.EndSearch();
    ASSERT_EQ(s.sink.Size(), 2u);
    EXPECT_EQ(s.sink.Records()[0]->m_u64Size, 0u);
    EXPECT_EQ(s.sink.Records()[1]->m_u64Size, 2u * 512);
    EXPECT_EQ(s.controller.GetRing().GetWindowStart(), 400u);
}
