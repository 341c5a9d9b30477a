#include "filesystems/ntfs/NtfsAttributeList.h"

#include "storage/ByteSpan.h"

#include <set>

NtfsExtensionList ParseAttributeListValue(const std::uint8_t* value, std::size_t len) {
    NtfsExtensionList out;
    std::set<std::uint64_t> seen;
    const ByteSpan list(value, len);
    std::size_t pos = 0;
    while (list.has(pos, kNtfsMinAttributeListEntry)) {
        if (list.u32(pos) == 0)
            break;
        const std::uint16_t elen = list.u16(pos + 4);
        if (elen < kNtfsMinAttributeListEntry)
            break;
        const std::uint64_t record = list.u48(pos + 16);
        if (seen.insert(record).second)
            out.push_back({-1, record});
        pos += elen;
    }
    return out;
}

void ResolveExtensionRecords(NtfsExtensionList& entries, std::uint64_t baseSector,
                             std::uint32_t sectorsPerRecord, std::uint32_t sectorsPerCluster,
                             std::uint64_t partitionFirst, const NtfsExtentList& mft) {
    NtfsExtensionList kept;
    for (auto e : entries) {
        e.sector = MftRecordToSector(e.record, sectorsPerRecord, sectorsPerCluster, partitionFirst, mft);
        if (e.sector < 0 || static_cast<std::uint64_t>(e.sector) == baseSector)
            continue;
        kept.push_back(e);
    }
    entries.swap(kept);
}
