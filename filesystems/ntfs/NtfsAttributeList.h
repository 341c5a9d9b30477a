#pragma once
// $ATTRIBUTE_LIST values and the extension records they name.
#include "filesystems/ntfs/NtfsRuns.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct NtfsExtensionRef {
    std::int64_t sector;  // -1 while unresolved
    std::uint64_t record;
};
using NtfsExtensionList = std::vector<NtfsExtensionRef>;

// Parses a list value (entries of at least 0x1A bytes).
NtfsExtensionList ParseAttributeListValue(const std::uint8_t* value, std::size_t len);
// Sectors of the named records through the MFT's extents; records that do not map, and the
// base record itself, are dropped.
void ResolveExtensionRecords(NtfsExtensionList& entries, std::uint64_t baseSector,
                             std::uint32_t sectorsPerRecord, std::uint32_t sectorsPerCluster,
                             std::uint64_t partitionFirst, const NtfsExtentList& mft);
