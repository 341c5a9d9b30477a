#pragma once
// "Find file by name" without its window: each Find Next moves the file view's selection to the
// next file whose name matches, first in the listed folder, then in the following folders of
// the folder tree (pre-order, wrapping around), until the search comes back to the first file
// it found.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/NameMask.h"

class CFileNode;
class CFileSystemNode;
class CFileListModel;

// What the find needs of the page's file view: its file list (one folder's files, or any rows)
// and its folder tree, whose items are folder nodes.
class IFindFileView {
public:
    virtual ~IFindFileView() = default;
    virtual long RowCount() const = 0;
    // The first selected row, or -1.
    virtual long SelectedRow() const = 0;
    virtual CFileNode* RowNode(long row) const = 0;
    // Selects a file's row, listing its folder first when it is not listed.
    virtual void LocateFile(CFileNode* node) = 0;

    // The selected folder item's node (null when none is selected).
    virtual CFileNode* SelectedFolder() const = 0;
    // Selects a folder item; the list then shows that folder's files, none selected.
    virtual void SelectFolder(CFileNode* folder) = 0;
    virtual CFileNode* FirstRootFolder() const = 0;
    virtual CFileNode* FirstChildFolder(CFileNode* folder) const = 0;
    virtual CFileNode* NextSiblingFolder(CFileNode* folder) const = 0;
    // Null for a top-level item.
    virtual CFileNode* ParentFolder(CFileNode* folder) const = 0;
};

// The next folder item in pre-order: the first child; else the next sibling; else the next
// sibling of the nearest ancestor that has one; else the first top-level item.
CFileNode* NextFolderItem(const IFindFileView& view, CFileNode* folder);

class CFindFileState {
public:
    enum : int { kNothingFound = 1, kBackAtStart = 2, kFound = 4 };
    // Message ids of what ends the dialog.
    enum : int { kMessageNoMoreFiles = 61217, kMessageNoFiles = 61218 };

    // One press of Find Next with the dialog's text and check boxes. 0 when a file was found
    // and selected (the dialog stays open); else the message to show before the dialog closes
    // (kMessageNoMoreFiles, kMessageNoFiles).
    int OnFindNext(IFindFileView& view, const std::string& text, bool matchCase, bool wholeWord);

    int FindNext(IFindFileView& view, const FileNamePattern& pattern);
    int SearchFileList(IFindFileView& view, const FileNamePattern& pattern, bool afterSelection);

    CFileNode* StartNode() const { return m_start; }
    bool Searched() const { return m_searched; }

private:
    std::string m_lastText;
    bool m_lastCase = false;
    bool m_lastWhole = false;
    CFileNode* m_start = nullptr;
    bool m_searched = false;
};

// A file view without windows over a tree and a list model: the folder items are the tree's
// directory nodes below `root` in sibling order; the list shows one folder's files.
class CTreeFindView : public IFindFileView {
public:
    CTreeFindView(CFileSystemNode* root, CFileListModel& list);

    long RowCount() const override;
    long SelectedRow() const override { return m_selectedRow; }
    CFileNode* RowNode(long row) const override;
    void LocateFile(CFileNode* node) override;
    CFileNode* SelectedFolder() const override { return m_folder; }
    void SelectFolder(CFileNode* folder) override;
    CFileNode* FirstRootFolder() const override;
    CFileNode* FirstChildFolder(CFileNode* folder) const override;
    CFileNode* NextSiblingFolder(CFileNode* folder) const override;
    CFileNode* ParentFolder(CFileNode* folder) const override;

    void SelectRow(long row) { m_selectedRow = row; }

private:
    CFileSystemNode* m_root;
    CFileListModel& m_list;
    CFileNode* m_folder = nullptr;
    long m_selectedRow = -1;
};

// A view of rows with no folder tree: the find walks its rows only, wrapping around to the first.
class CFolderlessFindView : public IFindFileView {
public:
    CFileNode* SelectedFolder() const override { return nullptr; }
    void SelectFolder(CFileNode*) override {}
    CFileNode* FirstRootFolder() const override { return nullptr; }
    CFileNode* FirstChildFolder(CFileNode*) const override { return nullptr; }
    CFileNode* NextSiblingFolder(CFileNode*) const override { return nullptr; }
    CFileNode* ParentFolder(CFileNode*) const override { return nullptr; }
};

// A list of files without a folder tree (the search tab's list).
class CListFindView : public CFolderlessFindView {
public:
    explicit CListFindView(std::vector<CFileNode*> rows) : m_rows(std::move(rows)) {}

    long RowCount() const override { return static_cast<long>(m_rows.size()); }
    long SelectedRow() const override { return m_selectedRow; }
    CFileNode* RowNode(long row) const override;
    // Selects the node's row; a node that is not listed clears the selection.
    void LocateFile(CFileNode* node) override;

    void SelectRow(long row) { m_selectedRow = row; }

private:
    std::vector<CFileNode*> m_rows;
    long m_selectedRow = -1;
};
