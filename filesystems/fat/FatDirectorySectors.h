#pragma once
// The directory sectors a FAT search met on a device, in sector order: the search records them
// and the complete tree build of a found partition starts from them.
#include <cstddef>
#include <cstdint>
#include <vector>

class IRSData;

// One directory sector (16 bytes when saved): its sector, and the clusters of its "." and ".."
// entries, or kNotFirst for both when the sector is part of a directory but not its start.
struct FatDirectorySectorRecord {
    static constexpr std::uint32_t kNotFirst = 0xFFFFFFFF;

    std::uint64_t sector = 0;
    std::uint32_t dotCluster = kNotFirst;
    std::uint32_t dotDotCluster = kNotFirst;

    bool IsFirstSector() const { return dotCluster != kNotFirst; }
    bool operator==(const FatDirectorySectorRecord&) const = default;
};

constexpr std::uint32_t kFatDirectorySectorRecordSize = 16;

// An ordered set of records keyed by sector. A search appends in ascending sector order, which
// costs nothing more than a push; other orders are inserted in place. A second record for a
// sector already present is not added.
class FatDirectorySectorSet {
public:
    using const_iterator = std::vector<FatDirectorySectorRecord>::const_iterator;

    // True when the record was added.
    bool Insert(const FatDirectorySectorRecord& record);
    void Clear() { m_records.clear(); }
    std::size_t Size() const { return m_records.size(); }
    bool Empty() const { return m_records.empty(); }
    const_iterator begin() const { return m_records.begin(); }
    const_iterator end() const { return m_records.end(); }
    // The records with first <= sector < end, as an iterator range.
    std::pair<const_iterator, const_iterator> Range(std::uint64_t first, std::uint64_t end) const;
    const FatDirectorySectorRecord* Find(std::uint64_t sector) const;

    // u32 count, then each record's 16 bytes in sector order. Store failures pass through.
    void Save(IRSData* section) const;
    // Replaces the set with what Save wrote. The count is not trusted for allocation: records
    // are read one by one, so a damaged count ends in the store's short-read failure.
    void Load(IRSData* section);

private:
    std::vector<FatDirectorySectorRecord> m_records;
};
