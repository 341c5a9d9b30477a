#pragma once
// Carved files: one record per file that a signature found, and the list of one deep scan's
// records, which owns them, keeps them in the order found and finds them by start sector.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "filesystems/StoreSection.h"

class IRawFileAnalyser;

constexpr std::uint32_t kNoAnalyserTypeId = 0xFFFF;     // a record no analyser has taken
constexpr std::uint32_t kCustomAnalyserTypeId = 0xFFFFFFFF; // the analyser of script types

class CRawFileInfo {
public:
    // Back to the state of a fresh record.
    void Reset() { *this = CRawFileInfo(); }

    std::uint64_t m_u64StartSector = 0; // sector of the searched device holding the header
    std::uint64_t m_u64Size = 0;        // bytes; 0 = not known yet
    std::uint32_t m_u32FileType = 0;    // the specific type id the analyser wrote
    std::uint32_t m_u32AnalyserType = kNoAnalyserTypeId; // the matching analyser's own id
    IRawFileAnalyser* m_pAnalyser = nullptr; // not owned; null in a record read back from a store
    // Set by an analyser whose size is where its scan for the file's end stopped at
    // ScanOptions.MaxRawFileSize without finding one: the file gives no size of its own, so
    // the limit does not cut it short of one. Stored beside the list's records (SaveFoundFileList).
    bool m_bScannedToLimit = false;
    // The size the file claims when a restore cut m_u64Size to the device or to the largest
    // carved size (FitCarvedFilesToDevice); 0 otherwise. Saved in place of the cut size, so
    // the RAW tree built from the list tells the cut.
    std::uint64_t m_u64ClaimedSize = 0;
};

template <typename T> class IIterator {
public:
    virtual ~IIterator() = default;
    virtual void First() = 0;
    virtual void Next() = 0;
    virtual bool IsDone() const = 0;
    virtual T Current() const = 0;
};

// Walks a vector by index, so appending behind the walk does not disturb it.
template <typename T> class ListIterator : public IIterator<T> {
public:
    explicit ListIterator(const std::vector<T>* list) : m_list(list) {}
    void First() override { m_pos = 0; }
    void Next() override {
        if (m_pos < m_list->size())
            ++m_pos;
    }
    bool IsDone() const override { return m_pos >= m_list->size(); }
    T Current() const override { return IsDone() ? T() : (*m_list)[m_pos]; }

private:
    const std::vector<T>* m_list;
    std::size_t m_pos = 0;
};

class CRawFileList {
public:
    CRawFileList() : m_iterator(&m_list) {}
    CRawFileList(const CRawFileList&) = delete;
    CRawFileList& operator=(const CRawFileList&) = delete;
    ~CRawFileList() { Clear(); }

    // Frees every record; the iterator is then done at once.
    void Clear();
    // Takes ownership of `record`: appends it and enters it by start sector (the first record
    // of a start sector is the one found by sector).
    void Add(CRawFileInfo* record);
    // The record starting at `sector`, or null.
    CRawFileInfo* FindAtSector(std::uint64_t sector) const;
    // Frees the records for which `drop` is true among the newest ones that start after
    // `after` (records are added in the order of their start sectors, so the look goes back
    // from the newest only as far as that). Returns how many were freed.
    template <typename Drop> std::size_t DropNewerThan(std::uint64_t after, Drop drop);
    // Frees every record for which `drop` is true. Returns how many were freed.
    template <typename Drop> std::size_t DropWhere(Drop drop) { return DropFrom(0, drop); }

    std::size_t Size() const { return m_list.size(); }
    const std::vector<CRawFileInfo*>& Records() const { return m_list; }
    ListIterator<CRawFileInfo*>* GetIterator() { return &m_iterator; }
    const std::map<std::uint64_t, CRawFileInfo*>& BySector() const { return m_bySector; }

private:
    // Frees the records from list position `from` on for which `drop` is true.
    template <typename Drop> std::size_t DropFrom(std::size_t from, Drop drop);

    std::map<std::uint64_t, CRawFileInfo*> m_bySector;
    std::vector<CRawFileInfo*> m_list; // owns the records
    ListIterator<CRawFileInfo*> m_iterator;
};

template <typename Drop> std::size_t CRawFileList::DropNewerThan(std::uint64_t after, Drop drop) {
    std::size_t from = m_list.size();
    while (from > 0 && m_list[from - 1]->m_u64StartSector > after)
        --from;
    return DropFrom(from, drop);
}

template <typename Drop> std::size_t CRawFileList::DropFrom(std::size_t from, Drop drop) {
    std::size_t kept = from, dropped = 0;
    for (std::size_t i = from; i < m_list.size(); ++i) {
        CRawFileInfo* r = m_list[i];
        if (!drop(*r)) {
            m_list[kept++] = r;
            continue;
        }
        auto it = m_bySector.find(r->m_u64StartSector);
        if (it != m_bySector.end() && it->second == r)
            m_bySector.erase(it);
        delete r;
        ++dropped;
    }
    m_list.resize(kept);
    return dropped;
}

// {0F1F07F2-A023-4DEF-940E-2CE80A7A8D3D}: the section of the carved-file list.
constexpr RSGuid kFoundFileListSection{
    0x0F1F07F2, 0xA023, 0x4DEF, {0x94, 0x0E, 0x2C, 0xE8, 0x0A, 0x7A, 0x8D, 0x3D}};

// The carved-file list in an open store section (the caller opens and closes
// kFoundFileListSection): u64 count, then per record in list order u64 start sector, u64 size
// (the size it claims when a restore cut it), u32 file-type id, u16 analyser type id (low half).
// When records have a size where a scan for the file's end stopped at the limit
// (m_bScannedToLimit), a scan-limit trailer follows: u32 kScanLimitTrailerTag, u64 count, then
// the list positions of those records, ascending. A list without such records is written
// without it, and a reader that knows no trailer stops before it. Store failures pass through.
void SaveFoundFileList(IRSData* section, const CRawFileList& list);
// Opens kFoundFileListSection, reads what SaveFoundFileList wrote into a new list (records
// without analyser) and closes the section; a section that ends behind the records (as every
// list saved before the trailer did) marks no record scanned to the limit. A trailer with
// another tag, more positions than records or positions out of order or range fails the load
// (RSERR_BAD_HEADER). A store failure (a missing section included) frees the partial list and
// passes on.
std::unique_ptr<CRawFileList> LoadFoundFileList(IRSData* store);

// "SLIM": the tag of the scan-limit trailer of the carved-file list.
constexpr std::uint32_t kScanLimitTrailerTag = 0x4D494C53;

// The record of `list` starting exactly at `sector`, or null.
CRawFileInfo* FindRawFileAtSector(const CRawFileList* list, std::uint64_t sector);
