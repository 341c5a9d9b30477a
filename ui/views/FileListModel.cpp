#include "ui/views/FileListModel.h"

#include <algorithm>
#include <strings.h>

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "ui/controls/Formatting.h"

namespace {

const IFileProperties* Props(const CFileNode* node) {
    return node ? node->m_pProperties.get() : nullptr;
}

std::uint32_t ColumnBit(int column) {
    switch (column) {
    case FILECOL_NAME:
    case FILECOL_TYPE: return VALIDFIELD_NAME;
    case FILECOL_SIZE: return VALIDFIELD_SIZE;
    case FILECOL_MODIFIED: return VALIDFIELD_LAST_WRITE_TIME;
    case FILECOL_CREATED: return VALIDFIELD_CREATION_TIME;
    case FILECOL_ACCESSED: return VALIDFIELD_LAST_ACCESS_TIME;
    case FILECOL_ATTRIBUTES: return VALIDFIELD_ATTRIBUTES;
    case FILECOL_STATE: return VALIDFIELD_STATE;
    default: return 0;
    }
}

bool HasKey(const CFileNode* node, int column) {
    const IFileProperties* p = Props(node);
    const std::uint32_t bit = ColumnBit(column);
    return p && bit && (p->GetValidFields() & bit) != 0;
}

std::uint64_t TimeOf(const IFileProperties* p, int column) {
    FileTime t;
    if (column == FILECOL_MODIFIED)
        p->GetLastWriteTime(&t);
    else if (column == FILECOL_CREATED)
        p->GetCreationTime(&t);
    else
        p->GetLastAccessTime(&t);
    return t.ticks;
}

template <typename T> int Three(T a, T b) { return a < b ? -1 : (b < a ? 1 : 0); }

int CompareNames(const char* a, const char* b) {
    const int r = strcasecmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// Extension with its dot, as the type column sorts it.
std::string DottedExtension(const char* name) {
    const std::string e = FileNameExtension(name);
    return e.empty() ? std::string() : "." + e;
}

} // namespace

std::string FileNameExtension(const char* name) {
    if (!name)
        return {};
    const std::string s(name);
    const std::size_t dot = s.rfind('.');
    if (dot == std::string::npos || s.find_first_of("/\\", dot) != std::string::npos)
        return {};
    return s.substr(dot + 1);
}

std::string FileListCellText(const CFileNode* node, int column) {
    if (!HasKey(node, column))
        return {};
    const IFileProperties* p = Props(node);
    switch (column) {
    case FILECOL_NAME: return p->GetName() ? p->GetName() : "";
    case FILECOL_SIZE: return uifmt::FormatSize(static_cast<std::int64_t>(p->GetFileSize()));
    case FILECOL_TYPE: return FileNameExtension(p->GetName());
    case FILECOL_MODIFIED:
    case FILECOL_CREATED:
    case FILECOL_ACCESSED: return uifmt::FormatFileTime(TimeOf(p, column));
    case FILECOL_ATTRIBUTES: {
        static const struct { std::uint16_t bit; const char* text; } kAttrs[] = {
            {FILEATTR_READONLY, "R "}, {FILEATTR_HIDDEN, "H "},     {FILEATTR_SYSTEM, "S "},
            {FILEATTR_ARCHIVE, "A "},  {FILEATTR_ENCRYPTED, "E "}, {FILEATTR_COMPRESSED, "C "}};
        std::string out;
        for (const auto& a : kAttrs)
            if (p->GetAttributes() & a.bit)
                out += a.text;
        return out;
    }
    case FILECOL_STATE: {
        std::string out;
        const std::uint8_t s = p->GetFileState();
        if (s & 0x01)
            out += "D ";
        if (s & 0x02)
            out += "L ";
        if (s & 0x04)
            out += "C ";
        return out;
    }
    default: return {};
    }
}

int CompareFileRows(const CFileNode* a, const CFileNode* b, int column) {
    const bool ha = HasKey(a, column), hb = HasKey(b, column);
    if (!ha || !hb)
        return ha == hb ? 0 : (ha ? 1 : -1);
    const IFileProperties* pa = Props(a);
    const IFileProperties* pb = Props(b);
    switch (column) {
    case FILECOL_NAME: return CompareNames(pa->GetName(), pb->GetName());
    case FILECOL_SIZE:
        return Three(static_cast<std::int64_t>(pa->GetFileSize()),
                     static_cast<std::int64_t>(pb->GetFileSize()));
    case FILECOL_TYPE:
        return CompareNames(DottedExtension(pa->GetName()).c_str(),
                            DottedExtension(pb->GetName()).c_str());
    case FILECOL_MODIFIED:
    case FILECOL_CREATED:
    case FILECOL_ACCESSED: return Three(TimeOf(pa, column), TimeOf(pb, column));
    case FILECOL_ATTRIBUTES: return Three(pa->GetAttributes(), pb->GetAttributes());
    case FILECOL_STATE: return Three(pa->GetFileState(), pb->GetFileState());
    default: return 0;
    }
}

bool FileRowBefore(const CFileNode* a, const CFileNode* b, int column, bool descending) {
    const int c = CompareFileRows(a, b, column);
    return descending ? c > 0 : c < 0;
}

void SortFileRows(std::vector<CFileNode*>& rows, int column, bool descending) {
    std::stable_sort(rows.begin(), rows.end(), [column, descending](CFileNode* a, CFileNode* b) {
        return FileRowBefore(a, b, column, descending);
    });
}

bool CFileListModel::SetFolder(CFileNode* folder, CFileSystemNode* root) {
    if (!folder || !folder->m_pProperties ||
        !(folder->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY))
        return false;
    m_rows.clear();
    m_folder = folder;
    m_root = root;
    for (CFileNode* c = folder->m_pFirstChild; c; c = c->m_pNextSibling)
        if (c->m_pProperties && !(c->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY))
            m_rows.push_back(c);
    return true;
}

void CFileListModel::SetFileItems(CFileSystemNode* root, const std::vector<CFileNode*>& nodes) {
    m_rows.clear();
    for (CFileNode* n : nodes)
        if (n)
            m_rows.push_back(n);
    m_folder = root;
    m_root = root;
}

void CFileListModel::Clear() {
    m_rows.clear();
    m_folder = nullptr;
    m_root = nullptr;
}

long CFileListModel::IndexOf(const CFileNode* node) const {
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (m_rows[i] == node)
            return static_cast<long>(i);
    return -1;
}

bool CFileListModel::SortByColumn(int column) {
    if (column < 0 || column >= FILECOL_COUNT)
        return false;
    const bool descending = m_descending[column];
    m_descending[column] = !descending;
    SortFileRows(m_rows, column, descending);
    m_sortColumn = column;
    // The flag now holds the direction of the next click; report the one just used.
    return descending;
}

bool CFileListModel::ToggleCheck(std::size_t index) {
    CFileNode* node = GetFileAt(index);
    return node && ToggleCheckState(node, false) == 1;
}

void CFileListModel::CheckAll(bool select) {
    for (CFileNode* node : m_rows) {
        IFileProperties* p = node->m_pProperties;
        if (!p)
            continue;
        const bool checked = p->GetCheckState() == CHECKSTATE_CHECKED;
        if (checked != select)
            ToggleCheckState(node, true);
    }
    // Every folder that holds a listed row: the listed folder (or, for search results, the
    // rows' own folders) and all their ancestors.
    std::vector<CFileNode*> folders;
    for (CFileNode* node : m_rows)
        for (CFileNode* f = node->m_pParent; f; f = f->m_pParent)
            if (std::find(folders.begin(), folders.end(), f) == folders.end())
                folders.push_back(f);
            else
                break;
    CFileNode* top = m_root ? static_cast<CFileNode*>(m_root) : m_folder;
    for (CFileNode* f = top; f && f->m_pParent; f = f->m_pParent)
        top = f->m_pParent;
    // Totals bottom-up: deeper folders first.
    auto depth = [](const CFileNode* n) {
        int d = 0;
        for (; n; n = n->m_pParent)
            ++d;
        return d;
    };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](CFileNode* a, CFileNode* b) { return depth(a) > depth(b); });
    for (CFileNode* f : folders)
        if (f->IsFolder())
            static_cast<CFileSystemNode*>(f)->RecountCounters();
    if (top)
        RecomputeCheckStates(top);
}

void ThumbnailSize(int width, int height, int* outWidth, int* outHeight) {
    int w = std::max(width, 1), h = std::max(height, 1);
    if (w >= 80 || h >= 80) {
        const long long longer = std::max(w, h);
        if (w >= h) {
            h = static_cast<int>(std::max<long long>(1, h * 80LL / longer));
            w = 80;
        } else {
            w = static_cast<int>(std::max<long long>(1, w * 80LL / longer));
            h = 80;
        }
    }
    *outWidth = w;
    *outHeight = h;
}

void CThumbnailQueue::Request(const std::vector<CFileNode*>& rows, long first, long last) {
    std::lock_guard<std::mutex> hold(m_lock);
    if (first < 0)
        first = 0;
    for (long i = first; i <= last && i < static_cast<long>(rows.size()); ++i) {
        CFileNode* node = rows[static_cast<std::size_t>(i)];
        if (!node || m_cache.count(node) ||
            std::find(m_queue.begin(), m_queue.end(), node) != m_queue.end())
            continue;
        m_queue.push_front(node);
        if (m_queue.size() > kMaxWaiting)
            m_queue.pop_back();
    }
}

CFileNode* CThumbnailQueue::Pop() {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_queue.empty())
        return nullptr;
    CFileNode* node = m_queue.front();
    m_queue.pop_front();
    return node;
}

void CThumbnailQueue::Store(CFileNode* node, std::shared_ptr<const ThumbnailPixels> pixels) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_cache[node] = std::move(pixels);
}

bool CThumbnailQueue::Lookup(const CFileNode* node,
                             std::shared_ptr<const ThumbnailPixels>* pixels) const {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto it = m_cache.find(node);
    if (it == m_cache.end())
        return false;
    if (pixels)
        *pixels = it->second;
    return true;
}

void CThumbnailQueue::Clear(bool cache) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_queue.clear();
    if (cache)
        m_cache.clear();
}

std::size_t CThumbnailQueue::Waiting() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_queue.size();
}

std::vector<CFileNode*> CThumbnailQueue::WaitingNodes() const {
    std::lock_guard<std::mutex> hold(m_lock);
    return {m_queue.begin(), m_queue.end()};
}
