#include "tools/FindFile.h"

#include "HandTree.h"
#include "ui/views/FileListModel.h"

#include <gtest/gtest.h>

using namespace handtree;

namespace {

// Root/A{x1.txt, abc, abcdir/}, Root/B{n.bin, xabcx.txt, C{abc.doc}}, Root/D{abc2/}.
struct FindTree {
    testsupport::TreePtr root = NewRoot();
    CFileSystemNode *a, *b, *c, *d;
    CFileListModel list;
    FindTree() {
        a = AddFolder(root.get(), "A");
        AddFile(a, "x1.txt");
        AddFile(a, "abc");
        AddFolder(a, "abcdir");
        b = AddFolder(root.get(), "B");
        AddFile(b, "n.bin");
        AddFile(b, "xabcx.txt");
        c = AddFolder(b, "C");
        AddFile(c, "abc.doc");
        d = AddFolder(root.get(), "D");
        AddFolder(d, "abc2");
        root->RecountCounters();
    }
};

std::string Selected(const CTreeFindView& view) { return NameOf(view.RowNode(view.SelectedRow())); }

// Presses Find Next `presses` times; each hit as its name, each message as its id.
std::vector<std::string> Presses(CFindFileState& state, CTreeFindView& view, const std::string& text, int presses,
                                 bool matchCase = false, bool wholeWord = false) {
    std::vector<std::string> out;
    for (int i = 0; i < presses; ++i) {
        const int r = state.OnFindNext(view, text, matchCase, wholeWord);
        out.push_back(r == 0 ? Selected(view) : std::to_string(r));
        if (r != 0)
            break;  // the dialog closes
    }
    return out;
}

using V = std::vector<std::string>;

} // namespace

TEST(FindFile, CycleCases) {
    struct Case {
        const char* what;
        std::string text;
        bool matchCase, wholeWord;
        CFileSystemNode* FindTree::*startFolder;
        long startRow;
        V expected;
    };
    const Case cases[] = {
        {"part of a name, through the following folders, skipping folders with only sub-folders that match, "
         "then back at the first hit",
         "abc", false, false, &FindTree::a, -1, V{"abc", "xabcx.txt", "abc.doc", "61217"}},
        {"whole word finds only the exact name", "abc", false, true, &FindTree::a, -1, V{"abc", "61217"}},
        {"match case", "ABC", true, false, &FindTree::a, -1, V{"61218"}},
        {"empty name: next file of any name, from the first row when none is selected", "", false, false,
         &FindTree::b, -1, V{"n.bin", "xabcx.txt", "abc.doc", "x1.txt", "abc", "61217"}},
        {"starts after the selected row and wraps around", "*.txt", false, false, &FindTree::a, 0,
         V{"xabcx.txt", "x1.txt", "61217"}},
        {"one match in the whole tree", "n.bin", false, false, &FindTree::a, -1, V{"n.bin", "61217"}},
        {"one match, listed at the start", "x1", false, false, &FindTree::a, -1, V{"x1.txt", "61217"}},
        {"nothing anywhere", "zzz", false, false, &FindTree::a, -1, V{"61218"}},
        {"a name with a forbidden character", "a:b", false, false, &FindTree::a, -1, V{"61218"}},
    };
    for (const Case& c : cases) {
        FindTree tree;
        CTreeFindView view(tree.root.get(), tree.list);
        view.SelectFolder(tree.*(c.startFolder));
        view.SelectRow(c.startRow);
        CFindFileState state;
        EXPECT_EQ(Presses(state, view, c.text, 10, c.matchCase, c.wholeWord), c.expected) << c.what;
    }
}

TEST(FindFile, ChangingTheTextStartsANewCycle) {
    FindTree tree;
    CTreeFindView view(tree.root.get(), tree.list);
    view.SelectFolder(tree.a);
    CFindFileState state;
    EXPECT_EQ(Presses(state, view, "abc", 2), (V{"abc", "xabcx.txt"}));
    EXPECT_EQ(NameOf(state.StartNode()), "abc");
    // A new text: its first hit starts the cycle.
    EXPECT_EQ(Presses(state, view, "*.doc", 2), (V{"abc.doc", "61217"}));
    FindTree other;
    CTreeFindView view2(other.root.get(), other.list);
    view2.SelectFolder(other.b);
    CFindFileState state2;
    EXPECT_EQ(Presses(state2, view2, "abc", 1), (V{"xabcx.txt"}));
    EXPECT_EQ(Presses(state2, view2, "abc", 1, false, true), (V{"abc"}));  // Whole Word changed
    EXPECT_EQ(NameOf(state2.StartNode()), "abc");
    EXPECT_EQ(Presses(state2, view2, "abc", 3, false, true), (V{"61217"}));
}

TEST(FindFile, EmptyTreesAndListsEndTheSearch) {
    testsupport::TreePtr root = NewRoot();
    CFileListModel list;
    CTreeFindView view(root.get(), list);
    CFindFileState state;
    EXPECT_EQ(state.OnFindNext(view, "", false, false), CFindFileState::kMessageNoFiles);
    // Folders only, nothing selected: the walk wraps once and stops.
    AddFolder(AddFolder(root.get(), "E"), "F");
    AddFolder(root.get(), "G");
    EXPECT_EQ(state.OnFindNext(view, "", false, false), CFindFileState::kMessageNoFiles);
}

TEST(FindFile, NextFolderItemIsPreOrderWithWrapAround) {
    FindTree tree;
    CTreeFindView view(tree.root.get(), tree.list);
    V order;
    CFileNode* item = view.FirstRootFolder();
    for (int i = 0; i < 7; ++i, item = NextFolderItem(view, item))
        order.push_back(NameOf(item));
    EXPECT_EQ(order, (V{"A", "abcdir", "B", "C", "D", "abc2", "A"}));
}
