// The file-list model: cell texts, sorting orders, check toggles with the folder counters on a
// quick-scanned NTFS tree, and the thumbnail request queue and cache.
#include "ui/views/FileListModel.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>

#include "filesystems/FileProperties.h"
#include "tests/ui/views/ViewsFixtures.h"

using namespace viewtests;

namespace {

std::vector<std::string> Names(const std::vector<CFileNode*>& rows) {
    std::vector<std::string> out;
    for (CFileNode* n : rows)
        out.push_back(n->m_pProperties->GetName());
    return out;
}

} // namespace

TEST(FileListSort, TablesPerColumn) {
    HandNodes h;
    const std::uint32_t all = VALIDFIELDS_FILESYSTEM;
    // Names double as labels; "x*" rows lack every key but the name.
    CFileNode* a = h.Add(Record("b.TXT", all, 300, 30, FILEATTR_ARCHIVE, 0));
    CFileNode* b = h.Add(Record("A.jpg", all, 100, 10, FILEATTR_READONLY, 1));
    CFileNode* c = h.Add(Record("c.txt", all, 200, 20, FILEATTR_HIDDEN, 0));
    CFileNode* d = h.Add(Record("d", VALIDFIELD_NAME, 0, 0, 0, 0));
    CFileNode* e = h.Add(Record("e", VALIDFIELD_NAME, 0, 0, 0, 0));
    CFileNode* root = h.Add(Record("Root", 0, 0, 0, FILEATTR_DIRECTORY, 0));
    const std::vector<CFileNode*> start{a, b, c, d, e, root};
    struct Case {
        int column;
        bool descending;
        std::vector<std::string> order;
    } cases[] = {
        {FILECOL_NAME, false, {"Root", "A.jpg", "b.TXT", "c.txt", "d", "e"}},
        {FILECOL_NAME, true, {"e", "d", "c.txt", "b.TXT", "A.jpg", "Root"}},
        // d, e and Root lack the size: first ascending, last descending, in their own order.
        {FILECOL_SIZE, false, {"d", "e", "Root", "A.jpg", "c.txt", "b.TXT"}},
        {FILECOL_SIZE, true, {"b.TXT", "c.txt", "A.jpg", "d", "e", "Root"}},
        // Rows without an extension compare as "" (equal keys keep their order).
        {FILECOL_TYPE, false, {"Root", "d", "e", "A.jpg", "b.TXT", "c.txt"}},
        {FILECOL_MODIFIED, false, {"d", "e", "Root", "A.jpg", "c.txt", "b.TXT"}},
        {FILECOL_ATTRIBUTES, true, {"b.TXT", "c.txt", "A.jpg", "d", "e", "Root"}},
        {FILECOL_STATE, false, {"d", "e", "Root", "b.TXT", "c.txt", "A.jpg"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "column " << k.column << (k.descending ? " desc" : " asc"));
        std::vector<CFileNode*> rows = start;
        SortFileRows(rows, k.column, k.descending);
        EXPECT_EQ(Names(rows), k.order);
    }
    // The program-made root shows empty cells in every column.
    for (int col = 0; col < FILECOL_COUNT; ++col)
        EXPECT_EQ(FileListCellText(root, col), "");
    EXPECT_EQ(FileListCellText(a, FILECOL_TYPE), "TXT");
    EXPECT_EQ(FileListCellText(a, FILECOL_ATTRIBUTES), "A ");
    EXPECT_EQ(FileListCellText(b, FILECOL_STATE), "D ");
}

TEST(FileListSort, ComparatorsAreStrictWeakOrderings) {
    HandNodes h;
    std::mt19937 rng(7);
    std::vector<CFileNode*> rows;
    const char* names[] = {"a", "B", "a.txt", "b.TXT", "c.jpg", "", "Z.z", "z.Z"};
    for (int i = 0; i < 10000; ++i) {
        const std::uint32_t valid = rng() & 0xFF;
        rows.push_back(h.Add(Record(names[rng() % 8], valid, rng() % 5, rng() % 4,
                                    static_cast<std::uint16_t>(rng() % 3), rng() % 3)));
    }
    std::vector<CFileNode*> sample(rows.begin(), rows.begin() + 40);
    for (int col = 0; col < FILECOL_COUNT; ++col) {
        for (bool desc : {false, true}) {
            auto less = [&](CFileNode* x, CFileNode* y) { return FileRowBefore(x, y, col, desc); };
            for (CFileNode* x : sample) {
                ASSERT_FALSE(less(x, x));
                for (CFileNode* y : sample) {
                    const bool eqxy = !less(x, y) && !less(y, x);
                    for (CFileNode* z : sample) {
                        if (less(x, y) && less(y, z)) {
                            ASSERT_TRUE(less(x, z));
                        }
                        const bool eqyz = !less(y, z) && !less(z, y);
                        if (eqxy && eqyz) {
                            ASSERT_TRUE(!less(x, z) && !less(z, x));
                        }
                    }
                }
            }
            std::vector<CFileNode*> sorted = rows;
            SortFileRows(sorted, col, desc);
            ASSERT_TRUE(std::is_sorted(sorted.begin(), sorted.end(), less));
            // Stable: equal rows keep their first order.
            for (std::size_t i = 1; i < sorted.size(); ++i)
                if (!less(sorted[i - 1], sorted[i]) && !less(sorted[i], sorted[i - 1])) {
                    ASSERT_LT(std::find(rows.begin(), rows.end(), sorted[i - 1]),
                              std::find(rows.begin(), rows.end(), sorted[i]));
                }
        }
    }
}

TEST(FileListModel, ListsChecksAndCountsOnNtfsTree) {
    const std::string image = NtfsListImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanNtfs(image);
    ASSERT_TRUE(root);
    CFileNode* docs = nullptr;
    std::vector<CFileNode*> stack{root.get()};
    while (!stack.empty() && !docs) {
        CFileNode* n = stack.back();
        stack.pop_back();
        if (CFileNode* d = Child(n, "docs"))
            docs = d;
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    ASSERT_TRUE(docs && (docs->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY));
    CFileListModel model;
    // A file is no folder to list.
    EXPECT_FALSE(model.SetFolder(Child(docs, "f0.txt"), root.get()));
    ASSERT_TRUE(model.SetFolder(docs, root.get()));
    std::size_t live = 0;
    for (CFileNode* n : model.Rows()) {
        EXPECT_FALSE(n->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
        live += (n->m_pProperties->GetFileState() & FILESTATE_DELETED) ? 0 : 1;
    }
    EXPECT_EQ(live, 12u);
    // Sorting by size twice: ascending, then descending.
    EXPECT_FALSE(model.SortByColumn(FILECOL_SIZE));
    EXPECT_TRUE(std::is_sorted(model.Rows().begin(), model.Rows().end(), [](CFileNode* x, CFileNode* y) {
        return x->m_pProperties->GetFileSize() < y->m_pProperties->GetFileSize();
    }));
    EXPECT_TRUE(model.SortByColumn(FILECOL_SIZE));
    EXPECT_EQ(model.GetSortColumn(), FILECOL_SIZE);
    EXPECT_GE(model.GetFileAt(0)->m_pProperties->GetFileSize(),
              model.GetFileAt(model.GetCount() - 1)->m_pProperties->GetFileSize());
    EXPECT_EQ(model.GetFileAt(model.GetCount()), nullptr);

    // Totals are kept by the volume's folder node above the listed folder.
    CFileNode* up = docs->m_pParent;
    while (up && !up->IsFolder())
        up = up->m_pParent;
    ASSERT_TRUE(up);
    auto* folder = static_cast<CFileSystemNode*>(up);
    // Start from nothing checked.
    while (root->m_pProperties->GetCheckState() != CHECKSTATE_UNCHECKED)
        ToggleCheckState(root.get(), false);
    model.CheckAll(true);
    FileTreeCounters counters;
    folder->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, model.GetCount());
    EXPECT_LT(counters.checkedFiles, counters.files); // sub/ is not listed
    EXPECT_EQ(docs->m_pProperties->GetCheckState(), CHECKSTATE_PARTIAL);
    EXPECT_EQ(root->m_pProperties->GetCheckState(), CHECKSTATE_PARTIAL);
    // One toggle off and on again.
    ASSERT_TRUE(model.ToggleCheck(0));
    folder->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles + 1, model.GetCount());
    EXPECT_EQ(model.GetFileAt(0)->m_pProperties->GetCheckState(), CHECKSTATE_UNCHECKED);
    ASSERT_TRUE(model.ToggleCheck(0));
    EXPECT_FALSE(model.ToggleCheck(model.GetCount()));
    model.CheckAll(false);
    folder->GetCounters(&counters);
    EXPECT_EQ(counters.checkedFiles, 0u);
    EXPECT_EQ(counters.checkedBytes, 0u);
    EXPECT_EQ(docs->m_pProperties->GetCheckState(), CHECKSTATE_UNCHECKED);
    EXPECT_EQ(root->m_pProperties->GetCheckState(), CHECKSTATE_UNCHECKED);
}

TEST(ThumbnailQueue, NewestFirstAtMostFortyAndCacheByNode) {
    HandNodes h;
    std::vector<CFileNode*> rows;
    for (int i = 0; i < 200; ++i)
        rows.push_back(h.Add(Record(("p" + std::to_string(i) + ".png").c_str(), VALIDFIELDS_FILESYSTEM, i)));
    CThumbnailQueue queue;
    queue.Request(rows, 0, 9);
    queue.Request(rows, 100, 149); // fast scrolling: the oldest requests drop out
    EXPECT_EQ(queue.Waiting(), 40u);
    auto waiting = queue.WaitingNodes();
    EXPECT_EQ(waiting.front(), rows[149]);
    EXPECT_EQ(waiting.back(), rows[110]);
    queue.Request(rows, 149, 149); // already waiting: not queued twice
    EXPECT_EQ(queue.Waiting(), 40u);
    CFileNode* first = queue.Pop();
    EXPECT_EQ(first, rows[149]);
    auto pixels = std::make_shared<ThumbnailPixels>();
    pixels->width = 7;
    queue.Store(first, pixels);
    queue.Store(rows[148], nullptr);
    queue.Clear(false);
    queue.Request(rows, 148, 149); // both have results: nothing to do
    EXPECT_EQ(queue.Waiting(), 0u);
    // After a sort the picture follows its node, not its old row.
    std::reverse(rows.begin(), rows.end());
    std::shared_ptr<const ThumbnailPixels> got;
    EXPECT_FALSE(queue.Lookup(rows[149], &got));
    ASSERT_TRUE(queue.Lookup(rows[50], &got));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->width, 7);
    ASSERT_TRUE(queue.Lookup(rows[51], &got));
    EXPECT_FALSE(got);
    queue.Clear(true);
    EXPECT_FALSE(queue.Lookup(rows[50], &got));
    EXPECT_EQ(queue.Pop(), nullptr);
}

TEST(ThumbnailSize, ByTheLongerSide) {
    const struct { int w, h, ew, eh; } cases[] = {
        {40, 30, 40, 30}, {79, 79, 79, 79}, {80, 80, 80, 80}, {200, 100, 80, 40},
        {60, 120, 40, 80}, {5000, 10, 80, 1}, {1, 5000, 1, 80}};
    for (const auto& c : cases) {
        int w = 0, h = 0;
        ThumbnailSize(c.w, c.h, &w, &h);
        EXPECT_EQ(w, c.ew) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.eh) << c.w << "x" << c.h;
    }
}
