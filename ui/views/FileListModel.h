#pragma once
// The rows of the found-file list without any window: the files of one folder (or a search's
// nodes), their cell texts, sorting by column, check toggles, and the thumbnail request queue
// and cache that the thumbnail worker and the painter share.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CFileNode;
class CFileSystemNode;

enum FileListColumn : int {
    FILECOL_NAME = 0,
    FILECOL_SIZE = 1,
    FILECOL_TYPE = 2,
    FILECOL_MODIFIED = 3,
    FILECOL_CREATED = 4,
    FILECOL_ACCESSED = 5,
    FILECOL_ATTRIBUTES = 6,
    FILECOL_STATE = 7,
    FILECOL_COUNT = 8,
};

// The text of one cell; empty when the properties do not hold the column's field.
std::string FileListCellText(const CFileNode* node, int column);
// The extension of a name without its dot ("" when there is none).
std::string FileNameExtension(const char* name);

// Three-way comparison of two rows on one column: -1, 0, 1. A row that lacks the key sorts
// below every row that has it; two rows that both lack it are equal.
int CompareFileRows(const CFileNode* a, const CFileNode* b, int column);
// Whether a goes before b: a strict weak ordering in either direction. The rows without the
// key come first in ascending order and last in descending order.
bool FileRowBefore(const CFileNode* a, const CFileNode* b, int column, bool descending);
// Stable sort: rows with equal keys keep their order.
void SortFileRows(std::vector<CFileNode*>& rows, int column, bool descending);

class CFileListModel {
public:
    CFileListModel() { m_rows.reserve(3000); }

    // Lists the files (not the sub-folders) of `folder`, in sibling order. False, and nothing
    // changed, when the node is not a folder.
    bool SetFolder(CFileNode* folder, CFileSystemNode* root);
    // Lists a copy of `nodes` (search results).
    void SetFileItems(CFileSystemNode* root, const std::vector<CFileNode*>& nodes);
    void Clear();

    std::size_t GetCount() const { return m_rows.size(); }
    CFileNode* GetFileAt(std::size_t index) const {
        return index < m_rows.size() ? m_rows[index] : nullptr;
    }
    const std::vector<CFileNode*>& Rows() const { return m_rows; }
    CFileNode* GetFolder() const { return m_folder; }
    CFileSystemNode* GetRoot() const { return m_root; }
    // The row of `node`, or -1.
    long IndexOf(const CFileNode* node) const;

    // A click on a column header: flips that column's direction (the first click sorts
    // ascending) and sorts. Returns true when the sort is now descending.
    bool SortByColumn(int column);
    // The column that shows the sort arrow (-1 before any sort) and its direction.
    int GetSortColumn() const { return m_sortColumn; }
    // (Each column's flag holds the direction of its next click.)
    bool IsSortDescending() const { return m_sortColumn >= 0 && !m_descending[m_sortColumn]; }

    // Toggles one row's check (checked becomes unchecked, anything else checked) and updates
    // the counters and check states of its ancestors. False for a bad index.
    bool ToggleCheck(std::size_t index);
    // Checks (select) or unchecks every listed row, then recounts the listed folder and its
    // ancestors and derives the folders' check states again.
    void CheckAll(bool select);

private:
    std::vector<CFileNode*> m_rows;
    CFileNode* m_folder = nullptr;
    CFileSystemNode* m_root = nullptr;
    bool m_descending[FILECOL_COUNT] = {};
    int m_sortColumn = -1;
};

// A decoded thumbnail: 8-bit RGB pixels (and alpha when the picture has one), made by the
// worker; the window turns it into a bitmap on the UI thread.
struct ThumbnailPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;   // width * height * 3
    std::vector<std::uint8_t> alpha; // empty, or width * height
};

// Size of a thumbnail for a picture of w x h inside an 80 x 80 cell: the picture's own size
// when both sides are below 80, else the longer side becomes 80 and the other follows (at
// least 1).
void ThumbnailSize(int width, int height, int* outWidth, int* outHeight);

// Thumbnail requests and results, shared by the UI thread and the worker. Keyed by node, so a
// picture never shows for another row after a sort or a relisting.
class CThumbnailQueue {
public:
    static constexpr std::size_t kMaxWaiting = 40;

    // Asks for the rows first..last of `rows` (the visible range): each node neither cached
    // nor waiting goes to the front; beyond 40 waiting the oldest request is dropped.
    void Request(const std::vector<CFileNode*>& rows, long first, long last);
    // The newest waiting node, or null.
    CFileNode* Pop();
    // Stores a result (null pixels: no thumbnail for this node).
    void Store(CFileNode* node, std::shared_ptr<const ThumbnailPixels> pixels);
    // Whether the node has a result, and the result (null when it has none).
    bool Lookup(const CFileNode* node, std::shared_ptr<const ThumbnailPixels>* pixels) const;
    // Empties the queue (and the cache too when `cache`).
    void Clear(bool cache);
    std::size_t Waiting() const;
    std::vector<CFileNode*> WaitingNodes() const; // front first

private:
    mutable std::mutex m_lock;
    std::deque<CFileNode*> m_queue;
    std::map<const CFileNode*, std::shared_ptr<const ThumbnailPixels>> m_cache;
};
