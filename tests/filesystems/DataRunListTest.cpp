#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "filesystems/DataRunList.h"
#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<DataRun> RunsOf(const IDataRunList& list) {
    return {list.Runs().begin(), list.Runs().end()};
}

std::vector<DataRun> Decode(const Bytes& bytes) {
    // Exactly sized heap copy, so ASan catches any read past the buffer.
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    CNoneResidentNTFSDataRunList list;
    EXPECT_EQ(DecodeRunListBytes(&list, copy.get(), bytes.size()), 1);
    return RunsOf(list);
}

const RSGuid kGuid{0xA1B2C3D4, 0x1111, 0x2222, {9, 8, 7, 6, 5, 4, 3, 2}};

std::string StorePath(const char* name) {
    return testsupport::ScratchDir(name) + "/runs.rdf";
}

} // namespace

TEST(MappingPairs, KnownVectors) {
    CNoneResidentNTFSDataRunList list;
    list.PushRun({100, 8});
    list.PushRun({-1, 16});
    list.PushRun({90, 4});
    Bytes expected = {0x11, 0x08, 0x64, 0x01, 0x10, 0x11, 0x04, 0xF6, 0x00};
    EXPECT_EQ(EncodeRunListBytes(list), expected);
    EXPECT_EQ(Decode(expected), RunsOf(list));

    // A count of 128 needs two bytes; offsets at the edges of the 3-byte range.
    CNoneResidentNTFSDataRunList wide;
    wide.PushRun({8388608, 128}); // offset 0x800000: 4 bytes
    wide.PushRun({0, 1});         // offset -8388608: 3 bytes, 00 00 80
    Bytes w = EncodeRunListBytes(wide);
    Bytes expectedWide = {0x42, 0x80, 0x00, 0x00, 0x00, 0x80, 0x00,
                          0x31, 0x01, 0x00, 0x00, 0x80, 0x00};
    EXPECT_EQ(w, expectedWide);
    EXPECT_EQ(Decode(w), RunsOf(wide));
}

TEST(MappingPairs, SignedByteCount) {
    struct Case {
        std::int64_t value;
        int bytes;
    };
    const Case cases[] = {{0, 1},         {127, 1},         {-128, 1},      {128, 2},
                          {-129, 2},      {32767, 2},       {-32768, 2},    {32768, 3},
                          {-8388608, 3},  {8388608, 4},     {INT64_MAX, 8}, {INT64_MIN, 8},
                          {1LL << 55, 8}, {-(1LL << 55), 7}};
    for (const Case& c : cases)
        EXPECT_EQ(GetSignedByteCount(c.value), c.bytes) << c.value;
}

TEST(MappingPairs, RandomRoundTripWithSparseRunsAndStartZero) {
    std::mt19937_64 rng(12345);
    for (int iteration = 0; iteration < 300; ++iteration) {
        CNoneResidentNTFSDataRunList list;
        int runs = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < runs; ++i) {
            DataRun run;
            std::uint64_t pick = rng() % 10;
            int bits = 1 + static_cast<int>(rng() % 62);
            run.count = 1 + static_cast<std::int64_t>(rng() >> (64 - bits));
            if (pick == 0)
                run.start = kSparseRunStart;
            else if (pick == 1 || (i == 0 && iteration % 3 == 0))
                run.start = 0;
            else
                run.start = static_cast<std::int64_t>(rng() >> (64 - bits));
            list.PushRun(run);
        }
        Bytes bytes = EncodeRunListBytes(list);
        ASSERT_EQ(Decode(bytes), RunsOf(list)) << "iteration " << iteration;
        auto record = CreateRunListRecord(&list);
        ASSERT_TRUE(record);
        EXPECT_EQ(GetRunListRecordSize(record.get()), bytes.size());
    }
}

// Damaged mapping pairs stop the decoder at the damage; it never reads past the buffer.
TEST(MappingPairs, DamagedInputStopsDecoding) {
    struct Case {
        const char* what;
        Bytes bytes;
        std::size_t runs;
    };
    const Case cases[] = {
        {"no terminator", {0x11, 0x08, 0x64}, 1},
        {"count runs past the end", {0x11, 0x08, 0x64, 0x04, 0x01}, 1},
        {"offset runs past the end", {0x11, 0x08, 0x64, 0x31, 0x01, 0x02}, 1},
        {"count wider than 8", {0x11, 0x08, 0x64, 0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0}, 1},
        {"offset wider than 8", {0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0}, 0},
        {"count with the top bit set", {0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 1, 0}, 0},
        {"empty", {}, 0},
        {"terminator only", {0x00}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Decode(c.bytes).size(), c.runs) << c.what;
}

TEST(RunListRecord, EmptyListGivesNoRecord) {
    CNoneResidentNTFSDataRunList empty;
    EXPECT_EQ(CreateRunListRecord(&empty), nullptr);
    EXPECT_EQ(CreateRunListRecord(nullptr), nullptr);
    EXPECT_TRUE(EncodeRunListBytes(empty).empty());
    EXPECT_EQ(GetRunListRecordSize(nullptr), 0u);
    RunListRecord noBytes;
    EXPECT_EQ(CreateDataRunListFromRecord(&noBytes), nullptr);
}

TEST(RunListRecord, RecordsRoundTripThroughStore) {
    std::string path = StorePath("run-records");
    CResidentNTFSDataRunList resident;
    resident.SetRun(4242, 1, 0x98);
    CNoneResidentNTFSDataRunList nonResident;
    nonResident.PushRun({1000, 10});
    nonResident.PushRun({-1, 5});
    nonResident.PushRun({10, 3});
    auto residentRecord = CreateRunListRecord(&resident);
    auto nonResidentRecord = CreateRunListRecord(&nonResident);
    ASSERT_TRUE(residentRecord && nonResidentRecord);
    EXPECT_EQ(residentRecord->residentOffset, 0x98);
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(2);
        w.OpenSection(kGuid);
        SaveRunListRecordField(&w, residentRecord.get());
        SaveRunListRecordField(&w, nullptr);
        SaveRunListRecordField(&w, nonResidentRecord.get());
        resident.Save(&w);
        nonResident.Save(&w);
        w.CloseSection();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(kGuid);
    auto first = LoadRunListRecordField(&r);
    auto none = LoadRunListRecordField(&r);
    auto third = LoadRunListRecordField(&r);
    ASSERT_TRUE(first && third);
    EXPECT_EQ(none, nullptr);

    std::unique_ptr<IDataRunList> rebuilt(CreateDataRunListFromRecord(first.get()));
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->GetKind(), DATARUNLIST_NTFS_RESIDENT);
    EXPECT_TRUE(rebuilt->IsResident());
    EXPECT_EQ(rebuilt->GetResidentOffset(), 0x98u);
    EXPECT_EQ(RunsOf(*rebuilt), RunsOf(resident));

    std::unique_ptr<IDataRunList> rebuilt2(CreateDataRunListFromRecord(third.get()));
    ASSERT_TRUE(rebuilt2);
    EXPECT_EQ(rebuilt2->GetKind(), DATARUNLIST_NTFS_NONRESIDENT);
    EXPECT_EQ(RunsOf(*rebuilt2), RunsOf(nonResident));

    CResidentNTFSDataRunList residentBack;
    residentBack.Load(&r);
    EXPECT_EQ(residentBack.GetResidentOffset(), 0x98u);
    EXPECT_EQ(RunsOf(residentBack), RunsOf(resident));
    CNoneResidentNTFSDataRunList listBack;
    listBack.Load(&r);
    EXPECT_EQ(RunsOf(listBack), RunsOf(nonResident));
    // The cursor walk.
    ASSERT_NE(listBack.GetFirstRun(), nullptr);
    EXPECT_EQ(listBack.GetFirstRun()->start, 1000);
    EXPECT_EQ(listBack.GetNextRun()->start, -1);
    EXPECT_EQ(listBack.GetNextRun()->start, 10);
    EXPECT_EQ(listBack.GetNextRun(), nullptr);
    EXPECT_EQ(listBack.GetNextRun(), nullptr);
}

// Lengths and counts read from a store are not trusted: a lie ends in a store error (or no
// record), never in a huge allocation or a read past the data.
TEST(RunListRecord, LyingLengthsFailCleanly) {
    std::string path = StorePath("run-lies");
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(kGuid);
        RSWriteValue<std::uint32_t>(&w, 0xFFFFFFF0u); // record length
        w.CloseSection();
        w.OpenSection(RSGuid{1, 1, 1, {}});
        RSWriteValue<std::uint32_t>(&w, 1);       // record present
        RSWriteValue<std::uint32_t>(&w, 1000000); // length beyond the section
        w.Write("\x11\x01\x01", 3);
        w.CloseSection();
        w.OpenSection(RSGuid{2, 2, 2, {}});
        RSWriteValue<std::uint32_t>(&w, 0x7FFFFFFF); // run count
        RSWriteValue<std::int64_t>(&w, 5);
        RSWriteValue<std::int64_t>(&w, 6);
        w.CloseSection();
        w.OpenSection(RSGuid{3, 3, 3, {}});
        RSWriteValue<std::uint32_t>(&w, 7); // neither 0 nor 1
        w.CloseSection();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(kGuid);
    EXPECT_EQ(LoadRunListRecord(&r), nullptr);

    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(RSGuid{1, 1, 1, {}});
    try {
        LoadRunListRecordField(&r);
        FAIL();
    } catch (const IRSException& e) {
        EXPECT_EQ(e.GetErrorCode(), RSERR_SHORT_READ);
    }

    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(RSGuid{2, 2, 2, {}});
    CFATDataRunList list;
    EXPECT_THROW(list.Load(&r), CRSException);
    EXPECT_EQ(list.GetRunCount(), 1u);

    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(RSGuid{3, 3, 3, {}});
    try {
        LoadRunListRecordField(&r);
        FAIL();
    } catch (const IRSException& e) {
        EXPECT_EQ(e.GetErrorCode(), RSERR_BAD_HEADER);
    }
}

TEST(DataRunLists, AddRunMerging) {
    CFATDataRunList fat;
    fat.AddRun(10, 5);
    fat.AddRun(15, 3);
    EXPECT_EQ(RunsOf(fat), (std::vector<DataRun>{{10, 8}}));
    fat.AddRun(30, 2);
    EXPECT_EQ(fat.GetRunCount(), 2u);
    fat.PushRun({-1, 4});
    fat.AddRun(3, 1); // -1 + 4 == 3, but a sparse run never grows
    EXPECT_EQ(RunsOf(fat).back(), (DataRun{3, 1}));
    EXPECT_EQ(fat.GetKind(), DATARUNLIST_FAT);

    // EXT2: start 0 is a hole, kUnknownRunStart an unknown span; each merges with its own kind.
    struct Case {
        const char* what;
        std::vector<DataRun> adds;
        std::vector<DataRun> expected;
    };
    const Case cases[] = {
        {"consecutive blocks", {{100, 2}, {102, 3}}, {{100, 5}}},
        {"gap", {{100, 2}, {103, 1}}, {{100, 2}, {103, 1}}},
        {"holes", {{0, 2}, {0, 3}}, {{0, 5}}},
        {"hole then the block its length points at", {{0, 2}, {2, 1}}, {{0, 2}, {2, 1}}},
        {"block then hole", {{5, 1}, {0, 1}}, {{5, 1}, {0, 1}}},
        {"first add on an empty list", {{7, 1}}, {{7, 1}}},
        {"unknown spans", {{kUnknownRunStart, 2}, {kUnknownRunStart, 3}}, {{kUnknownRunStart, 5}}},
        {"unknown span then the block its length points at",
         {{kUnknownRunStart, 3}, {1, 1}},
         {{kUnknownRunStart, 3}, {1, 1}}},
        {"hole then unknown span", {{0, 2}, {kUnknownRunStart, 1}}, {{0, 2}, {kUnknownRunStart, 1}}},
    };
    for (const Case& c : cases) {
        CExt2DataRunList ext2;
        for (const DataRun& r : c.adds)
            ext2.AddRun(r.start, r.count);
        EXPECT_EQ(RunsOf(ext2), c.expected) << c.what;
    }
    CExt2DataRunList appended;
    appended.AppendRun(1, 1);
    appended.AppendRun(2, 1);
    EXPECT_EQ(appended.GetRunCount(), 2u);
    CRAWDataRunList raw;
    raw.AddRun(1, 1);
    raw.AddRun(2, 1);
    EXPECT_EQ(raw.GetRunCount(), 2u);
    EXPECT_EQ(raw.GetKind(), DATARUNLIST_RAW);
}
