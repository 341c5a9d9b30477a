#include "tools/FileSearch.h"

#include "HandTree.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

using namespace handtree;

namespace {

std::vector<std::string> Names(const SearchResult& r) {
    std::vector<std::string> out;
    for (CFileNode* n : r.nodes)
        out.push_back(NameOf(n));
    return out;
}

FileTime Ticks(std::uint64_t t) { return FileTime{t}; }

// Root/A/{a.txt 0 bytes, b.doc 2048 bytes (encrypted), SUB/{c.txt 5000}, TXT (folder)/{d.TXT}},
// Root/e.bin without a valid size or times, Root/f.txt.
struct SmallTree {
    testsupport::TreePtr root = NewRoot();
    CFileSystemNode* a = nullptr;
    SmallTree() {
        a = AddFolder(root.get(), "A");
        auto t = [](std::uint64_t c, std::uint64_t w, std::uint64_t r) {
            return std::array<FileTime, 3>{FileTime{c}, FileTime{w}, FileTime{r}};
        };
        auto add = [&](CFileNode* parent, const char* name, std::uint64_t size, std::uint16_t attrs,
                       std::array<FileTime, 3> times, std::uint32_t valid = VALIDFIELDS_FILESYSTEM) {
            MyFilePropertiesRecord r = FileRecord(name, size, attrs, valid);
            r.creationTime = times[0];
            r.lastWriteTime = times[1];
            r.lastAccessTime = times[2];
            return AddFile(parent, r);
        };
        add(a, "a.txt", 0, 0, t(100, 200, 300));
        add(a, "b.doc", 2048, FILEATTR_ENCRYPTED, t(110, 210, 310));
        CFileSystemNode* sub = AddFolder(a, "SUB");
        add(sub, "c.txt", 5000, 0, t(120, 220, 320));
        CFileSystemNode* txt = AddFolder(a, "TXT");
        add(txt, "d.TXT", 1024, 0, t(130, 230, 330));
        add(root.get(), "e.bin", 7, 0, t(0, 0, 0), VALIDFIELD_NAME | VALIDFIELD_ATTRIBUTES);
        add(root.get(), "f.txt", 1, 0, t(140, 240, 340));
        root->RecountCounters();
    }
};

} // namespace

TEST(FileSearch, CriteriaEdgeCases) {
    SmallTree tree;
    struct Case {
        const char* what;
        FileSearchCriteria c;
        std::vector<std::string> hits;
    };
    auto with = [&](auto edit) {
        FileSearchCriteria c;
        c.location = tree.root.get();
        edit(c);
        return c;
    };
    const Case cases[] = {
        {"empty name finds every file, pre-order, encrypted too",
         with([](FileSearchCriteria& c) { c.name = ""; }),
         {"a.txt", "b.doc", "c.txt", "d.TXT", "e.bin", "f.txt"}},
        {"mask", with([](FileSearchCriteria& c) { c.name = "*.txt"; }), {"a.txt", "c.txt", "d.TXT", "f.txt"}},
        {"folder named like the mask is not a hit, its files are searched",
         with([](FileSearchCriteria& c) { c.name = "TXT"; }), {}},
        {"case sensitive only with the Other panel",
         with([](FileSearchCriteria& c) { c.name = "*.TXT"; c.caseSensitive = true; }),
         {"a.txt", "c.txt", "d.TXT", "f.txt"}},
        {"case sensitive", with([](FileSearchCriteria& c) { c.name = "*.TXT"; c.caseSensitive = true; c.flags = kSearchOther; }),
         {"d.TXT"}},
        {"encrypted left out", with([](FileSearchCriteria& c) { c.flags = kSearchOther; c.includeEncrypted = false; }),
         {"a.txt", "c.txt", "d.TXT", "e.bin", "f.txt"}},
        {"location below the root", with([&](FileSearchCriteria& c) { c.location = tree.a; }),
         {"a.txt", "b.doc", "c.txt", "d.TXT"}},
        {"type", with([](FileSearchCriteria& c) { c.flags = kSearchByType; c.typeMask = ".doc;.dot"; }), {"b.doc"}},
        {"size at most 0 KB: empty files only",
         with([](FileSearchCriteria& c) { c.flags = kSearchBySize; c.sizeKind = kSearchSizeAtMost; c.sizeLimit = 0; }),
         {"a.txt"}},
        {"size at least 0 KB: every file with a size",
         with([](FileSearchCriteria& c) { c.flags = kSearchBySize; c.sizeKind = kSearchSizeAtLeast; c.sizeLimit = 0; }),
         {"a.txt", "b.doc", "c.txt", "d.TXT", "f.txt"}},
        {"size at least 2 KB",
         with([](FileSearchCriteria& c) { c.flags = kSearchBySize; c.sizeKind = kSearchSizeAtLeast; c.sizeLimit = 2048; }),
         {"b.doc", "c.txt"}},
        {"size kind unknown", with([](FileSearchCriteria& c) { c.flags = kSearchBySize; c.sizeKind = 3; }), {}},
        {"modified, inclusive bounds",
         with([](FileSearchCriteria& c) { c.flags = kSearchByDate; c.from = Ticks(210); c.to = Ticks(230); }),
         {"b.doc", "c.txt", "d.TXT"}},
        {"backwards range is swapped",
         with([](FileSearchCriteria& c) { c.flags = kSearchByDate; c.from = Ticks(230); c.to = Ticks(210); }),
         {"b.doc", "c.txt", "d.TXT"}},
        {"created", with([](FileSearchCriteria& c) { c.flags = kSearchByDate; c.dateKind = kSearchDateCreated; c.from = Ticks(0); c.to = Ticks(115); }),
         {"a.txt", "b.doc"}},
        {"accessed", with([](FileSearchCriteria& c) { c.flags = kSearchByDate; c.dateKind = kSearchDateAccessed; c.from = Ticks(0); c.to = Ticks(~0ull); }),
         {"a.txt", "b.doc", "c.txt", "d.TXT", "f.txt"}},
        {"all criteria together",
         with([](FileSearchCriteria& c) {
             c.name = "?.*";
             c.flags = kSearchByType | kSearchByDate | kSearchBySize | kSearchOther;
             c.typeMask = ".txt";
             c.from = Ticks(0);
             c.to = Ticks(225);
             c.sizeKind = kSearchSizeAtLeast;
             c.sizeLimit = 1;
         }),
         {"c.txt"}},
    };
    for (const Case& c : cases) {
        SearchResult result;
        const FileSearchStatus status = RunFileSearch(c.c, result);
        EXPECT_EQ(Names(result), c.hits) << c.what;
        EXPECT_EQ(result.count, c.hits.size()) << c.what;
        EXPECT_EQ(status, c.hits.empty() ? kSearchNoMatch : kSearchFound) << c.what;
    }
}

TEST(FileSearch, BadNamesAndDisplayText) {
    SmallTree tree;
    for (const char* bad : {"a\\b", "a/b", "a:b", "a\"b", "a<b", "a>b", "a|b"}) {
        FileSearchCriteria c;
        c.location = tree.root.get();
        c.name = bad;
        SearchResult result;
        EXPECT_EQ(RunFileSearch(c, result), kSearchBadName) << bad;
        EXPECT_EQ(result.count, 0u);
    }
    FileSearchCriteria c;
    c.name = "";
    EXPECT_EQ(SearchDisplayText(c), "*");
    c.name = "x*";
    EXPECT_EQ(SearchDisplayText(c), "x*");
    c.flags = kSearchByType;
    c.typeDisplay = "JPEG image";
    EXPECT_EQ(SearchDisplayText(c), "JPEG image");
}

TEST(FileSearch, AutoSelectTicksUntickedMatchesAndKeepsCounters) {
    SmallTree tree;
    CFileNode* c = tree.a->m_pFirstChild->m_pNextSibling->m_pNextSibling->m_pFirstChild;
    ASSERT_EQ(NameOf(c), "c.txt");
    ASSERT_EQ(ToggleCheckState(c, false), 1);  // already ticked before the search
    FileSearchCriteria criteria;
    criteria.location = tree.root.get();
    criteria.name = "*.txt";
    criteria.autoSelect = true;
    SearchResult result;
    ASSERT_EQ(RunFileSearch(criteria, result), kSearchFound);
    ASSERT_EQ(result.count, 4u);
    for (CFileNode* n : result.nodes)
        EXPECT_EQ(n->m_pProperties->GetCheckState(), CHECKSTATE_CHECKED) << NameOf(n);
    FileTreeCounters counters;
    tree.root->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, 4u);
    EXPECT_EQ(counters.checkedBytes, 0u + 5000 + 1024 + 1);
    EXPECT_EQ(tree.a->m_pProperties->GetCheckState(), CHECKSTATE_PARTIAL);  // b.doc stays unticked
}

TEST(FileSearch, VeryDeepTreeIsWalkedWithoutRecursion) {
    testsupport::TreePtr root = NewRoot();
    CFileNode* folder = root.get();
    for (int i = 0; i < 100000; ++i)
        folder = AddFolder(folder, "d");
    AddFile(folder, "deep.txt");
    FileSearchCriteria c;
    c.location = root.get();
    c.name = "deep*";
    SearchResult result;
    EXPECT_EQ(RunFileSearch(c, result), kSearchFound);
    EXPECT_EQ(result.count, 1u);
}

TEST(FileSearch, LocationsTypesAndDates) {
    testsupport::TreePtr root = NewRoot();
    CFileSystemNode* part = AddFolder(root.get(), "Partition1");
    CFileSystemNode* docs = AddFolder(part, "docs");
    CFileSystemNode* old = AddFolder(docs, "old");
    auto locs = SearchLocations(old);
    ASSERT_EQ(locs.size(), 3u);
    EXPECT_EQ(locs[0].text, "(Everywhere)");
    EXPECT_EQ(locs[0].node, root.get());
    EXPECT_EQ(locs[1].text, "Partition1");
    EXPECT_EQ(locs[1].node, part);
    EXPECT_EQ(locs[2].text, "Partition1\\docs\\old");
    EXPECT_EQ(SearchLocations(part).size(), 2u);
    EXPECT_EQ(SearchLocations(root.get()).size(), 1u);
    EXPECT_TRUE(SearchLocations(nullptr).empty());

    FileTypeMap map;
    AddFileType(map, ".00(All Files)", "*");
    AddFileType(map, ".01", "*");
    AddFileType(map, "JPEG image", ".jpg");
    AddFileType(map, "JPEG image", ".jpeg");
    const auto entries = SearchTypeEntries(map);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].text, "(All Files)");
    EXPECT_EQ(entries[1].text, "File");
    EXPECT_EQ(entries[1].display, "*");
    EXPECT_EQ(entries[2].text, "JPEG image");
    EXPECT_EQ(entries[2].mask, ".jpg;.jpeg");

    FileTime t;
    ASSERT_TRUE(FileTimeFromCalendar(1601, 1, 1, 0, 0, 0, &t));
    EXPECT_EQ(t.ticks, 0u);
    ASSERT_TRUE(FileTimeFromCalendar(1970, 1, 1, 0, 0, 1, &t));
    EXPECT_EQ(t.ticks, 116444736000000000ull + 10000000ull);
    ASSERT_TRUE(FileTimeFromCalendar(2024, 2, 29, 23, 59, 59, &t));
    EXPECT_FALSE(FileTimeFromCalendar(2023, 2, 29, 0, 0, 0, &t));
    EXPECT_FALSE(FileTimeFromCalendar(1600, 12, 31, 0, 0, 0, &t));
    FileTime from, to;
    LastMonthsRange(2, FileTime{100000000000000ull}, &from, &to);
    EXPECT_EQ(to.ticks - from.ticks, 2 * 25920000000000ull);
    LastDaysRange(31, FileTime{5}, &from, &to);
    EXPECT_EQ(from.ticks, 0u);
    EXPECT_GT(FileTimeNow().ticks, 116444736000000000ull);
}

// A FAT volume made by mkfs.fat and mtools, scanned by the FAT quick scan: the search finds the
// files by name, date and size, and the deleted one too.
TEST(FileSearch, RealFatVolume) {
    using namespace testsupport;
    if (!RequireFatTools())
        return;
    const std::string image = CachedFixture("tools_search_fat.img", [](const std::string& path) {
        FatImageOptions options;
        options.fatBits = 16;
        if (!FatImage::Format(path, options))
            return false;
        FatImage img(path);
        return img.MakeDir("/DOCS") &&
               img.WriteFile("/DOCS/REPORT.TXT", std::vector<std::uint8_t>(3000, 'r'), "2021-03-04 05:06:08 UTC") &&
               img.WriteFile("/DOCS/NOTES.TXT", std::vector<std::uint8_t>(10, 'n'), "2022-06-01 12:00:00 UTC") &&
               img.WriteFile("/PHOTO.JPG", std::vector<std::uint8_t>(9000, 'j'), "2023-01-01 00:00:00 UTC") &&
               img.WriteFile("/GONE.TXT", std::vector<std::uint8_t>(100, 'g'), "2021-03-05 00:00:00 UTC") &&
               img.Delete("/GONE.TXT");
    });
    ASSERT_FALSE(image.empty());
    CImageFileDevice device(image.c_str());
    CNullDirBuildCallback build;
    CFATSearchedPartitionInfo part;
    part.m_u64KeptFirstSector = 0;
    part.m_u32EvidenceFlags = 0x3 | 0x3C0;
    TreePtr tree(BuildFatFileTree(&build, &part, nullptr, &device, 1));
    ASSERT_TRUE(tree);

    auto search = [&](auto edit) {
        FileSearchCriteria c;
        c.location = tree.get();
        edit(c);
        SearchResult r;
        RunFileSearch(c, r);
        auto names = Names(r);
        std::sort(names.begin(), names.end());
        return names;
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(search([](FileSearchCriteria& c) { c.name = "*.txt"; }), (V{"#ONE.TXT", "NOTES.TXT", "REPORT.TXT"}));  // the deleted entry too
    EXPECT_EQ(search([](FileSearchCriteria& c) { c.name = "report.txt"; }), (V{"REPORT.TXT"}));
    EXPECT_EQ(search([](FileSearchCriteria& c) {
                  c.flags = kSearchBySize;
                  c.sizeKind = kSearchSizeAtLeast;
                  c.sizeLimit = 3 * 1024;
              }),
              (V{"PHOTO.JPG"}));
    EXPECT_EQ(search([](FileSearchCriteria& c) {
                  c.flags = kSearchByDate;
                  FileTimeFromCalendar(2021, 3, 4, 0, 0, 0, &c.from);
                  FileTimeFromCalendar(2021, 3, 5, 0, 0, 0, &c.to);
              }),
              (V{"#ONE.TXT", "REPORT.TXT"}));  // both bounds inclusive: GONE.TXT is at the upper one
}
