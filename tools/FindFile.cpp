#include "tools/FindFile.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "ui/views/FileListModel.h"

namespace {

bool IsDirectory(const CFileNode* node) {
    return node && node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
}

bool NameMatches(const CFileNode* node, const FileNamePattern& pattern) {
    const IFileProperties* p = node ? node->m_pProperties.get() : nullptr;
    return p && (p->GetValidFields() & VALIDFIELD_NAME) && RegexMatch(p->GetName(), pattern);
}

bool HasMatchingFile(const CFileNode* folder, const FileNamePattern& pattern) {
    for (const CFileNode* c = folder ? folder->m_pFirstChild : nullptr; c; c = c->m_pNextSibling)
        if (!IsDirectory(c) && NameMatches(c, pattern))
            return true;
    return false;
}

CFileNode* NextDirectorySibling(CFileNode* node) {
    for (CFileNode* s = node ? node->m_pNextSibling : nullptr; s; s = s->m_pNextSibling)
        if (IsDirectory(s))
            return s;
    return nullptr;
}

CFileNode* FirstDirectoryChild(CFileNode* node) {
    for (CFileNode* c = node ? node->m_pFirstChild : nullptr; c; c = c->m_pNextSibling)
        if (IsDirectory(c))
            return c;
    return nullptr;
}

} // namespace

CFileNode* NextFolderItem(const IFindFileView& view, CFileNode* folder) {
    if (!folder)
        return view.FirstRootFolder();
    if (CFileNode* child = view.FirstChildFolder(folder))
        return child;
    for (CFileNode* a = folder; a; a = view.ParentFolder(a))
        if (CFileNode* sibling = view.NextSiblingFolder(a))
            return sibling;
    return view.FirstRootFolder();
}

int CFindFileState::SearchFileList(IFindFileView& view, const FileNamePattern& pattern, bool afterSelection) {
    const long rows = view.RowCount();
    if (rows <= 0)
        return kNothingFound;
    const long selected = view.SelectedRow();
    long row = selected < 0 ? 0 : (afterSelection ? selected + 1 : selected);
    for (; row < rows; ++row) {
        CFileNode* node = view.RowNode(row);
        if (!IsDirectory(node) && NameMatches(node, pattern)) {
            view.LocateFile(node);
            return node == m_start && m_searched ? kBackAtStart : kFound;
        }
        if (node && node == m_start)
            return kBackAtStart;
    }
    return kNothingFound;
}

int CFindFileState::FindNext(IFindFileView& view, const FileNamePattern& pattern) {
    int r = SearchFileList(view, pattern, true);
    if (r == kFound)
        return kFound;
    if (r == kNothingFound) {
        if (!m_start) {
            const long selected = view.SelectedRow();
            m_start = view.RowCount() > 0 ? view.RowNode(selected < 0 ? 0 : selected) : nullptr;
        }
        // The folder walk: the following folder items in pre-order, wrapping around, until the
        // walk is back at the selected item. A walk that never meets the selected item (none is
        // selected) stops once it has wrapped around a second time.
        CFileNode* const selected = view.SelectedFolder();
        CFileNode* const firstRoot = view.FirstRootFolder();
        int wraps = 0;
        for (CFileNode* item = NextFolderItem(view, selected); item && item != selected;
             item = NextFolderItem(view, item)) {
            if (item == firstRoot && ++wraps > 1)
                break;
            if (!HasMatchingFile(item, pattern))
                continue;
            view.SelectFolder(item);
            r = SearchFileList(view, pattern, false);
            if (r == kFound)
                return kFound;
            if (r == kBackAtStart)
                break;
        }
        if (view.RowCount() > 0) {
            view.LocateFile(view.RowNode(0));
            if (SearchFileList(view, pattern, false) == kFound)
                return kFound;
        }
    }
    return m_searched ? kBackAtStart : kNothingFound;
}

int CFindFileState::OnFindNext(IFindFileView& view, const std::string& text, bool matchCase, bool wholeWord) {
    const std::string name = text.empty() ? std::string("*") : text;
    if (name.find_first_of("\\/:\"<>|") != std::string::npos)
        return kMessageNoFiles;
    const FileNamePattern pattern = BuildNameFilter(name, matchCase, wholeWord, kNameFilterFind);
    const int r = FindNext(view, pattern);
    if (r == kBackAtStart)
        return kMessageNoMoreFiles;
    if (r != kFound)
        return kMessageNoFiles;
    const long selected = view.SelectedRow();
    CFileNode* hit = selected >= 0 ? view.RowNode(selected) : nullptr;
    if (!m_start)
        m_start = hit;
    if (text != m_lastText || matchCase != m_lastCase || wholeWord != m_lastWhole) {
        m_lastText = text;
        m_lastCase = matchCase;
        m_lastWhole = wholeWord;
        m_start = hit;
    }
    m_searched = true;
    return 0;
}

CTreeFindView::CTreeFindView(CFileSystemNode* root, CFileListModel& list) : m_root(root), m_list(list) {
    if (list.GetFolder() && list.GetFolder() != root)
        m_folder = list.GetFolder();
}

long CTreeFindView::RowCount() const { return static_cast<long>(m_list.GetCount()); }

CFileNode* CTreeFindView::RowNode(long row) const {
    return row < 0 ? nullptr : m_list.GetFileAt(static_cast<std::size_t>(row));
}

void CTreeFindView::LocateFile(CFileNode* node) {
    long index = m_list.IndexOf(node);
    if (index < 0 && node && node->m_pParent) {
        SelectFolder(node->m_pParent);
        index = m_list.IndexOf(node);
    }
    m_selectedRow = index;
}

void CTreeFindView::SelectFolder(CFileNode* folder) {
    m_folder = folder;
    m_list.SetFolder(folder, m_root);
    m_selectedRow = -1;
}

CFileNode* CTreeFindView::FirstRootFolder() const { return FirstDirectoryChild(m_root); }
CFileNode* CTreeFindView::FirstChildFolder(CFileNode* folder) const { return FirstDirectoryChild(folder); }
CFileNode* CTreeFindView::NextSiblingFolder(CFileNode* folder) const { return NextDirectorySibling(folder); }
CFileNode* CTreeFindView::ParentFolder(CFileNode* folder) const {
    return folder && folder->m_pParent != m_root ? folder->m_pParent : nullptr;
}

CFileNode* CListFindView::RowNode(long row) const {
    return row < 0 || row >= RowCount() ? nullptr : m_rows[static_cast<std::size_t>(row)];
}

void CListFindView::LocateFile(CFileNode* node) {
    m_selectedRow = -1;
    for (std::size_t i = 0; node && i < m_rows.size(); ++i)
        if (m_rows[i] == node) {
            m_selectedRow = static_cast<long>(i);
            return;
        }
}
