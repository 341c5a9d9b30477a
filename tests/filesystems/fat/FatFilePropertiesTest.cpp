// FAT file properties: names from directory entries, times, save and load, data runs, and the
// choice between two directories with one first cluster.
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/fat/FatTreeBuilder.h"

#include "filesystems/FileNode.h"
#include "tests/support/MemorySection.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

namespace {

using Entry = std::array<std::uint8_t, 32>;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

Entry Short(const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    Put16(&e[14], (10 << 11) | (30 << 5) | 15); // 10:30:30
    Put16(&e[16], (44 << 9) | (6 << 5) | 15);   // 2024-06-15
    Put16(&e[18], (44 << 9) | (6 << 5) | 16);   // 2024-06-16
    Put16(&e[20], static_cast<std::uint16_t>(cluster >> 16));
    Put16(&e[22], (23 << 11) | (59 << 5) | 29); // 23:59:58
    Put16(&e[24], (45 << 9) | (2 << 5) | 28);   // 2025-02-28
    Put16(&e[26], static_cast<std::uint16_t>(cluster));
    for (int i = 0; i < 4; ++i)
        e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return e;
}

Entry Long(std::uint8_t seq, const std::u16string& text) {
    Entry e{};
    e[0] = seq;
    e[11] = 0x0F;
    static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i) {
        std::uint16_t u = i < static_cast<int>(text.size())    ? text[i]
                          : i == static_cast<int>(text.size()) ? 0
                                                               : 0xFFFF;
        Put16(&e[kOffsets[i]], u);
    }
    return e;
}

std::vector<std::uint8_t> Join(std::initializer_list<Entry> entries) {
    std::vector<std::uint8_t> out;
    for (const Entry& e : entries)
        out.insert(out.end(), e.begin(), e.end());
    return out;
}

std::unique_ptr<CFATFileProperties> FromEntries(const std::vector<std::uint8_t>& bytes) {
    return std::unique_ptr<CFATFileProperties>(
        CreateFATFilePropertiesFromEntries(bytes.data(), bytes.size()));
}

std::uint64_t Ticks(int y, int mo, int d, int h, int mi, int s) {
    // 100 ns since 1601-01-01; 1601..1970 is 11644473600 seconds.
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    return (static_cast<std::uint64_t>(timegm(&tm)) + 11644473600ull) * 10000000ull;
}

TEST(FatFileProperties, NamesFromEntries) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> entries;
        std::string name;
        std::uint8_t state;
    };
    const Case cases[] = {
        {"long name stored last part first",
         Join({Long(0x42, u"part two.txt"), Long(0x01, u"Part one and "),
               Short("PARTON~1TXT", 0x20, 5, 10)}),
         "Part one and part two.txt", 0},
        {"'?' in the long name falls back to 8.3",
         Join({Long(0x41, u"what?.txt"), Short("WHAT~1  TXT", 0x20, 5, 10)}), "WHAT~1.TXT", 0},
        {"empty long name falls back to 8.3",
         Join({Long(0x41, u""), Short("EMPTY   TXT", 0x20, 5, 10)}), "EMPTY.TXT", 0},
        {"an unpaired surrogate becomes '_' and the name stays",
         Join({Long(0x41, std::u16string(u"a") + char16_t(0xDC00) + u".txt"),
               Short("A_~1    TXT", 0x20, 5, 10)}),
         "a_.txt", 0},
        {"deleted 8.3 entry", Join({Short("\xE5OO     TXT", 0x20, 5, 10)}), "#OO.TXT", 1},
        {"deleted entry keeps its long name",
         Join({Long(0xE5, u"recovered.doc"), Short("\xE5" "ECOVE~1DOC", 0x20, 5, 10)}),
         "recovered.doc", 1},
    };
    for (const Case& c : cases) {
        auto p = FromEntries(c.entries);
        ASSERT_TRUE(p) << c.what;
        EXPECT_EQ(std::string(p->GetName()), c.name) << c.what;
        EXPECT_EQ(p->GetNameLength(), c.name.size()) << c.what;
        EXPECT_EQ(p->GetFileState(), c.state) << c.what;
        EXPECT_EQ(p->GetFileSize(), 10u);
        EXPECT_EQ(p->GetAttributes(), 0x20);
    }
    EXPECT_FALSE(FromEntries(Join({Long(0x41, u"only a long name")})));
    EXPECT_FALSE(FromEntries({}));
}

TEST(FatFileProperties, Times) {
    auto p = FromEntries(Join({Short("README  TXT", 0x21, 5, 10)}));
    ASSERT_TRUE(p);
    FileTime t;
    EXPECT_EQ(p->GetCreationTime(&t)->ticks, Ticks(2024, 6, 15, 10, 30, 30));
    EXPECT_EQ(p->GetLastWriteTime(&t)->ticks, Ticks(2025, 2, 28, 23, 59, 58));
    EXPECT_EQ(p->GetLastAccessTime(&t)->ticks, Ticks(2024, 6, 16, 0, 0, 0));
    EXPECT_EQ(p->GetValidFields(), 255u);
    EXPECT_EQ(p->GetFileSystemKind(), 1u);

    EXPECT_EQ(ConvertFatDateTime(0, 0).ticks, 0u);
    EXPECT_EQ(ConvertFatDateTime((43 << 9) | (2 << 5) | 29, 0).ticks, 0u) << "2023-02-29";
    EXPECT_EQ(ConvertFatDateTime((44 << 9) | (2 << 5) | 29, 0).ticks, Ticks(2024, 2, 29, 0, 0, 0));
    EXPECT_EQ(ConvertFatDateTime((44 << 9) | (1 << 5) | 1, 24 << 11).ticks, 0u) << "hour 24";
    EXPECT_EQ(ConvertFatDateTime((0 << 9) | (1 << 5) | 1, 0).ticks, Ticks(1980, 1, 1, 0, 0, 0));
}

TEST(FatFileProperties, SaveAndLoad) {
    auto p = FromEntries(Join({Long(0x41, u"n\u00e4me.bin"), Short("NAME~1  BIN", 0x20, 9, 5000)}));
    ASSERT_TRUE(p);
    p->m_u32FirstCluster = 9;
    p->m_u32ParentCluster = 3;
    CFATDataRunList runs;
    runs.AddRun(7, 2);
    runs.AddRun(20, 3);
    p->m_runRecord = CreateRunListRecord(&runs);
    p->SetCheckState(2);
    p->SetMark(1);

    testsupport::MemorySection section;
    EXPECT_EQ(p->Save(&section), 1);
    CFATFileProperties q;
    q.SetCheckState(1);
    EXPECT_EQ(q.Load(&section), 1);
    EXPECT_EQ(section.pos, section.bytes.size());
    EXPECT_EQ(std::string(q.GetName()), "n\xC3\xA4me.bin");
    EXPECT_EQ(q.GetFileSize(), 5000u);
    EXPECT_EQ(q.GetAttributes(), 0x20);
    FileTime a, b;
    EXPECT_EQ(q.GetCreationTime(&a)->ticks, p->GetCreationTime(&b)->ticks);
    EXPECT_EQ(q.GetLastWriteTime(&a)->ticks, p->GetLastWriteTime(&b)->ticks);
    EXPECT_EQ(q.GetLastAccessTime(&a)->ticks, p->GetLastAccessTime(&b)->ticks);
    EXPECT_EQ(q.m_u32FirstCluster, 9u);
    EXPECT_EQ(q.m_u32ParentCluster, 3u);
    EXPECT_EQ(q.GetCheckState(), 0);
    EXPECT_EQ(q.GetMark(), 0);
    std::unique_ptr<IDataRunList> list(q.GetDataRunList());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->GetRunCount(), 2u);
    EXPECT_EQ(list->Runs()[0], (DataRun{7, 2}));
    EXPECT_EQ(list->Runs()[1], (DataRun{20, 3}));

    CFATFileProperties folder; // no runs, no name
    testsupport::MemorySection s2;
    folder.Save(&s2);
    CFATFileProperties r;
    r.Load(&s2);
    EXPECT_EQ(r.GetNameLength(), 0);
    EXPECT_EQ(r.GetDataRunList(), nullptr);

    testsupport::MemorySection truncated;
    truncated.bytes.assign(s2.bytes.begin(), s2.bytes.begin() + 10);
    EXPECT_THROW(r.Load(&truncated), CRSException);
}

// ---------------------------------------------------------------------------------------------

class MapFat : public IFATTable {
public:
    std::uint32_t GetEntry(std::uint32_t c) const override {
        auto it = entries.find(c);
        return it == entries.end() ? 0 : it->second;
    }
    std::map<std::uint32_t, std::uint32_t> entries;
};

TEST(FatRunList, BuiltFromChainsAndFreeClusters) {
    struct Case {
        const char* what;
        std::map<std::uint32_t, std::uint32_t> fat; // empty map with useFat: all free
        bool useFat;
        std::uint32_t spc;
        std::uint32_t first;
        std::uint64_t size;
        bool deleted;
        std::vector<DataRun> runs; // empty and !ok: null
        bool ok;
    };
    const std::uint32_t end = 0xFFFFFFFF;
    const Case cases[] = {
        {"live chain 5-6-9, last run sized by what remains",
         {{5, 6}, {6, 9}, {9, end}}, true, 4, 5, 10000, false, {{3, 2}, {7, 3}}, true},
        {"chain goes on after the size is covered",
         {{5, 6}, {6, 9}, {9, 10}, {10, 30}, {30, end}}, true, 4, 5, 3000, false, {{3, 2}}, true},
        {"contiguous chain longer than the size is cut",
         {{5, 6}, {6, 7}, {7, 8}, {8, 20}, {20, end}}, true, 1, 5, 1000, false, {{3, 2}}, true},
        {"deleted: an end mark is passed over",
         {{12, 0xFFFF + 0u}}, true, 2, 10, 5000, true, {{8, 2}, {11, 3}}, true},
        {"deleted: a cluster of a live chain is passed over",
         {{12, 13}, {13, 40}, {40, end}}, true, 2, 10, 5000, true, {{8, 2}, {12, 3}}, true},
        {"deleted: a bad cluster is passed over",
         {{11, kFatEntryBad}}, true, 2, 10, 3000, true, {{8, 1}, {10, 2}}, true},
        {"deleted, no FAT: one run from the first cluster",
         {}, false, 2, 10, 5000, true, {{8, 5}}, true},
        {"live, no FAT: one run", {}, false, 1, 3, 1025, false, {{1, 3}}, true},
        {"empty file: no run, but a list", {}, true, 1, 0, 0, true, {}, true},
        {"run would leave the data area", {{95, end}}, true, 1, 95, 10 * 512, false, {}, false},
        {"first cluster outside the data area", {}, true, 1, 500, 10, false, {}, false},
        {"first cluster 0 with data", {}, true, 1, 0, 10, false, {}, false},
        {"deleted, no free cluster left",
         {{98, 99}, {99, 100}, {100, 101}, {101, end}}, true, 1, 98, 4000, true, {}, false},
    };
    for (const Case& c : cases) {
        MapFat fat;
        fat.entries = c.fat;
        std::vector<bool> use(103, false);
        FatRunSource src;
        src.fat = c.useFat ? &fat : nullptr;
        src.sectorsPerCluster = c.spc;
        src.clusterCount = 100; // clusters 2..101
        src.clusterUse = &use;
        auto list = BuildFatDataRunList(src, c.first, c.size, c.deleted);
        ASSERT_EQ(list != nullptr, c.ok) << c.what;
        if (!list)
            continue;
        std::vector<DataRun> got(list->Runs().begin(), list->Runs().end());
        EXPECT_EQ(got, c.runs) << c.what;
        // Only chains that were followed mark the clusters they use.
        std::size_t marked = std::count(use.begin(), use.end(), true);
        std::size_t expected = 0;
        if (!(c.deleted && c.useFat))
            for (const DataRun& r : c.runs)
                expected += r.count;
        EXPECT_EQ(marked, expected) << c.what;
    }
}

TEST(FatRunList, LoopingChainStops) {
    MapFat fat; // a FAT12 table is not checked for loops
    fat.entries = {{5, 6}, {6, 5}};
    FatRunSource src;
    src.fat = &fat;
    src.sectorsPerCluster = 1;
    src.clusterCount = 100;
    auto list = BuildFatDataRunList(src, 5, 0xFFFFFFFF, false);
    if (list) {
        EXPECT_LT(list->GetRunCount(), 200u);
    }
}

TEST(FatDuplicateDirectories, WhichOneStays) {
    auto make = [](std::uint8_t state, std::uint64_t written) {
        auto p = std::make_unique<CFATFileProperties>();
        p->m_state = state;
        p->m_lastWriteTime.ticks = written;
        return p;
    };
    struct Case {
        std::uint8_t existing, newer;
        std::uint64_t existingTime, newerTime;
        int sign; // -1 new wins, 0, 1
    };
    const Case cases[] = {
        {9, 0, 0, 0, -1}, {9, 1, 0, 0, -1}, {9, 9, 0, 0, 0},  {1, 9, 0, 0, 1},
        {1, 0, 0, 0, -1}, {1, 1, 5, 7, -1}, {1, 1, 7, 5, 1},  {1, 1, 5, 5, 1},
        {0, 0, 0, 0, 0},  {0, 1, 0, 9, 1},  {0, 9, 0, 0, 1},
    };
    for (const Case& c : cases) {
        auto e = make(c.existing, c.existingTime);
        auto n = make(c.newer, c.newerTime);
        int r = CompareDuplicateDirectories(n.get(), e.get());
        EXPECT_EQ((r > 0) - (r < 0), c.sign)
            << int(c.existing) << " " << int(c.newer) << " " << c.existingTime << " "
            << c.newerTime;
    }
}

TEST(FatPrune, EmptyDeletedFoldersGo) {
    auto folder = [](CFileNode* parent, const char* name, std::uint8_t state) {
        CFileNode* n = CreateFileNode();
        auto* p = new CFATFileProperties();
        p->SetName(name);
        p->m_u16Attributes = 0x10;
        p->m_state = state;
        n->SetProperties(std::unique_ptr<IFileProperties>(p));
        parent->AddChild(n);
        return n;
    };
    CFileSystemNode* root = CreateFileSystemNode();
    root->SetProperties(std::unique_ptr<IFileProperties>(new CFATFileProperties()));
    root->m_pProperties->SetCheckState(0);
    static_cast<CFATFileProperties*>(root->m_pProperties.get())->m_u16Attributes = 0x10;
    folder(root, "empty deleted", 1);
    folder(root, "empty live", 0);
    CFileNode* outer = folder(root, "deleted with empty deleted child", 1);
    folder(outer, "inner", 1);
    CFileNode* keep = folder(root, "deleted with a file", 1);
    CFileNode* file = CreateFileNode();
    file->SetProperties(std::unique_ptr<IFileProperties>(new CFATFileProperties()));
    keep->AddChild(file);

    PruneEmptyDeletedFolders(root);
    std::vector<std::string> names;
    for (CFileNode* n = root->m_pFirstChild; n; n = n->m_pNextSibling)
        names.push_back(n->m_pProperties->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"deleted with a file",
                                               "deleted with empty deleted child", "empty live"}));
    EXPECT_EQ(outer->m_pFirstChild, nullptr);
    DeleteFileTree(root);
}

} // namespace
