#include "carving/records/FoundFileEntry.h"
#include "carving/records/RawFileInfo.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileSystemSearchController.h"
#include "tests/support/MemorySection.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

TEST(RawFileTypeTable, BuiltInEntries) {
    EXPECT_STREQ(GetRawFileTypeExtension(0), "Raw");
    EXPECT_STREQ(GetRawFileTypeExtension(27), "FH11");
    EXPECT_STREQ(GetRawFileTypeExtension(47), "PNG");
    EXPECT_STREQ(GetRawFileTypeExtension(68), "ZIP");
    EXPECT_STREQ(GetRawFileTypeDescription(11), "COREL Darw file");
    EXPECT_STREQ(GetRawFileTypeDescription(23), "AutoCad DX File");
    EXPECT_STREQ(GetRawFileTypeDescription(33), "JPEG Graphics file");
    EXPECT_STREQ(GetRawFileTypeExtension(69), "");
    EXPECT_STREQ(GetRawFileTypeExtension(999), "");
    EXPECT_STREQ(GetRawFileTypeExtension(2000), "");
    EXPECT_STREQ(GetRawFileTypeExtension(~0u), "");
    EXPECT_STREQ(GetRawFileTypeDescription(1000), "");
}

TEST(RawFileTypeTable, UserSlotsFillInOrderAndRefuseWhenFull) {
    ClearUserFileTypesForTesting();
    EXPECT_EQ(FindOrAddUserFileType("arc"), 1000u);
    EXPECT_EQ(FindOrAddUserFileType("JPG"), 1001u); // a built-in extension still gets a slot
    EXPECT_EQ(FindOrAddUserFileType("ARC"), 1000u);
    // Long extensions are kept whole.
    EXPECT_EQ(FindOrAddUserFileType("Sixteen_Chars_XY"), 1002u);
    EXPECT_STREQ(GetRawFileTypeExtension(1002), "SIXTEEN_CHARS_XY");
    EXPECT_EQ(FindOrAddUserFileType("sixt"), 1003u); // not confused with the long one
    EXPECT_EQ(FindOrAddUserFileType(""), 0u);
    for (std::uint32_t i = GetUserFileTypeCount(); i < kUserFileTypeSlots; ++i)
        ASSERT_EQ(FindOrAddUserFileType(("X" + std::to_string(i)).c_str()), 1000u + i);
    EXPECT_EQ(FindOrAddUserFileType("ONEMORE"), 0u); // never 2000
    EXPECT_EQ(FindOrAddUserFileType("arc"), 1000u);  // known ones still resolve
    EXPECT_STREQ(GetRawFileTypeExtension(1999), "X999");
    ClearUserFileTypesForTesting();
}

TEST(RawFileList, FreshRecordClearAndIterator) {
    CRawFileInfo r;
    EXPECT_EQ(r.m_u64StartSector, 0u);
    EXPECT_EQ(r.m_u64Size, 0u);
    EXPECT_EQ(r.m_u32FileType, 0u);
    EXPECT_EQ(r.m_u32AnalyserType, 0xFFFFu);
    EXPECT_EQ(r.m_pAnalyser, nullptr);

    CRawFileList list;
    list.Clear();
    list.GetIterator()->First();
    EXPECT_TRUE(list.GetIterator()->IsDone());
    for (std::uint64_t s : {30u, 10u, 20u}) {
        auto* rec = new CRawFileInfo();
        rec->m_u64StartSector = s;
        list.Add(rec);
    }
    std::vector<std::uint64_t> seen;
    auto* it = list.GetIterator();
    for (it->First(); !it->IsDone(); it->Next())
        seen.push_back(it->Current()->m_u64StartSector);
    EXPECT_EQ(seen, (std::vector<std::uint64_t>{30, 10, 20}));
    EXPECT_EQ(list.FindAtSector(20)->m_u64StartSector, 20u);
    EXPECT_EQ(FindRawFileAtSector(&list, 21), nullptr);
    list.Clear();
    it->First();
    EXPECT_TRUE(it->IsDone());
    EXPECT_EQ(list.FindAtSector(20), nullptr);
}

TEST(RawFileList, SaveLoadRoundTripAndDamagedCount) {
    CRawFileList list;
    const struct {
        std::uint64_t start, size;
        std::uint32_t type, analyser;
    } rows[] = {{5, 1234, 47, 47}, {9, 0, 1000, kCustomAnalyserTypeId}, {1ull << 40, 7, 63, 55}};
    for (const auto& row : rows) {
        auto* r = new CRawFileInfo();
        r->m_u64StartSector = row.start;
        r->m_u64Size = row.size;
        r->m_u32FileType = row.type;
        r->m_u32AnalyserType = row.analyser;
        list.Add(r);
    }
    MemorySection section;
    SaveFoundFileList(&section, list);
    EXPECT_EQ(section.bytes.size(), 8u + 3 * 22);
    auto loaded = LoadFoundFileList(&section);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->Size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const CRawFileInfo* r = loaded->Records()[i];
        EXPECT_EQ(r->m_u64StartSector, rows[i].start);
        EXPECT_EQ(r->m_u64Size, rows[i].size);
        EXPECT_EQ(r->m_u32FileType, rows[i].type);
        EXPECT_EQ(r->m_u32AnalyserType, rows[i].analyser & 0xFFFF);
        EXPECT_EQ(r->m_pAnalyser, nullptr);
    }
    EXPECT_EQ(loaded->FindAtSector(9)->m_u32FileType, 1000u);

    // A count far beyond the records ends in the store's short read, not an allocation.
    MemorySection damaged;
    damaged.bytes = section.bytes;
    std::memset(damaged.bytes.data(), 0xFF, 8);
    EXPECT_THROW(LoadFoundFileList(&damaged), CRSException);
}

// Sizes where a scan for a file's end stopped at the limit claim nothing: the list keeps which
// they are behind its records, where a list saved without them simply ends.
TEST(RawFileList, ScanLimitTrailer) {
    auto makeList = [](CRawFileList& list) {
        for (std::uint64_t i = 0; i < 4; ++i) {
            auto* r = new CRawFileInfo();
            r->m_u64StartSector = 10 * i;
            r->m_u64Size = 200000 + i;
            r->m_u32FileType = 29;
            r->m_u32AnalyserType = 29;
            r->m_bScannedToLimit = i == 1 || i == 3;
            list.Add(r);
        }
    };
    CRawFileList list;
    makeList(list);
    MemorySection section;
    SaveFoundFileList(&section, list);
    const std::size_t records = 8 + 4 * 22;
    ASSERT_EQ(section.bytes.size(), records + 4 + 8 + 2 * 8);
    auto loaded = LoadFoundFileList(&section);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->Size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(loaded->Records()[i]->m_bScannedToLimit, i == 1 || i == 3) << i;

    // A list saved before the trailer existed: the records alone.
    MemorySection old;
    old.bytes.assign(section.bytes.begin(), section.bytes.begin() + records);
    loaded = LoadFoundFileList(&old);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->Size(), 4u);
    for (const CRawFileInfo* r : loaded->Records())
        EXPECT_FALSE(r->m_bScannedToLimit);

    // A damaged trailer fails the load instead of marking records at random.
    auto put64 = [](Bytes& b, std::size_t at, std::uint64_t v) {
        for (int i = 0; i < 8; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    const std::size_t countAt = records + 4, firstAt = countAt + 8;
    const struct {
        const char* what;
        std::function<void(Bytes&)> damage;
    } damaged[] = {
        {"another tag", [&](Bytes& b) { b[records] ^= 1; }},
        {"no positions", [&](Bytes& b) { put64(b, countAt, 0); }},
        {"more positions than records", [&](Bytes& b) { put64(b, countAt, 5); }},
        {"more positions than stored", [&](Bytes& b) { put64(b, countAt, 3); }},
        {"a position past the list", [&](Bytes& b) { put64(b, firstAt + 8, 4); }},
        {"a position twice", [&](Bytes& b) { put64(b, firstAt + 8, 1); }},
        {"positions out of order", [&](Bytes& b) { put64(b, firstAt, 3); }},
        {"half a tag", [&](Bytes& b) { b.resize(records + 2); }},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.what);
        MemorySection bad;
        bad.bytes = section.bytes;
        d.damage(bad.bytes);
        EXPECT_THROW(LoadFoundFileList(&bad), CRSException);
    }
}

TEST(FoundFileEntry, NamesToTypes) {
    const struct {
        const char* name;
        int ok;
        std::uint32_t type;
    } cases[] = {
        {"PHOTO.jpg", 1, 33},  {"PHOTO.JPG", 1, 33},  {"PHOTO.jpeg", 0, 0}, {"PHOTO.JPEG2", 0, 0},
        {".jpg", 0, 0},        {"A.B", 0, 0},         {"SETUP.EXE", 1, 26}, {"lib.dll", 1, 20},
        {"NAME.", 0, 0},       {"ab", 0, 0},          {"NOEXT", 0, 0},      {"a.b.fh11", 1, 27},
        {"song.Mp3", 1, 41},
    };
    for (const auto& c : cases) {
        FoundFileEntry e;
        const int ok = e.SetFromName(c.name, static_cast<std::uint8_t>(std::strlen(c.name)), 12, 34);
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_EQ(e.type, c.type) << c.name;
        EXPECT_EQ(e.firstCluster, ok ? 12u : ~0ull) << c.name;

        std::u16string wide(c.name, c.name + std::strlen(c.name));
        FoundFileEntry w;
        EXPECT_EQ(w.SetFromWideName(wide.data(), wide.size(), 12, 34), c.ok) << c.name;
        EXPECT_EQ(w.type, c.type) << c.name;
    }
    FoundFileEntry e;
    EXPECT_EQ(e.SetFromName("x.jpg", 5, ~0ull, 1), 0); // negative cluster
    EXPECT_EQ(e.SetFromName("x.jpg", 5, 1, 1ull << 63), 0);
    const char16_t nonAscii[] = {u'x', u'.', u'J', 0x0130, u'G'};
    EXPECT_EQ(e.SetFromWideName(nonAscii, 5, 1, 1), 0);
}

TEST(FoundFileEntry, ConfirmedBySignature) {
    CRawFileList carved;
    auto add = [&](std::uint64_t start, std::uint32_t type) {
        auto* r = new CRawFileInfo();
        r->m_u64StartSector = start;
        r->m_u32FileType = type;
        carved.Add(r);
    };
    CSearchedPartitionInfo part;
    part.m_u64FirstSector = 1000;
    part.m_u32SectorCount = 800;
    part.m_sectorsPerCluster = 8;
    add(1000, 33);       // cluster 0: the partition's first sector
    add(1000 + 80, 47);  // cluster 10, PNG
    add(1000 + 160, 68); // cluster 20, ZIP

    FoundFileEntryList entries;
    entries.AddFromName("before.jpg", 10, 0, 999); // entry before the partition: skipped
    entries.AddFromName("zero.jpg", 8, 0, 1001);   // cluster 0 -> sector 1000, JPG: counts
    entries.AddFromName("a.png", 5, 10, 1002);     // counts
    entries.AddFromName("b.jpg", 5, 20, 1003);     // a ZIP lies there: not counted
    entries.AddFromName("c.exe", 5, 30, 1004);     // EXE is never carved
    entries.AddFromName("far.zip", 7, 1000, 1005); // outside the partition
    entries.AddFromName("d.zip", 5, 20, 1800);     // entry at the end: stops the walk
    entries.AddFromName("e.zip", 5, 20, 1500);     // after the stop: not seen
    EXPECT_EQ(entries.Size(), 8u);
    part.m_u64EvidenceB = 5;
    EXPECT_EQ(CountEntriesConfirmedBySignature(entries, &carved, &part), 2u);
    EXPECT_EQ(part.m_u64EvidenceB, 7u);

    // Huge clusters do not wrap around into the partition.
    FoundFileEntryList wrap;
    wrap.AddFromName("w.jpg", 5, (1ull << 62) - 1, 1001);
    EXPECT_EQ(CountEntriesConfirmedBySignature(wrap, &carved, &part), 0u);
}
