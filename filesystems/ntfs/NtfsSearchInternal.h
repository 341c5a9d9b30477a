#pragma once
// What the files of the NTFS search controller share (not part of its interface): the window
// of the $MFT sequence and the record helpers that more than one of them uses.
#include "filesystems/ntfs/NtfsSearchController.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ntfs_search {

constexpr std::uint64_t kMftWindow = 16; // sectors after an $MFT record that its sequence spans

inline bool Magic(const std::uint8_t* p, const char* m) {
    return std::memcmp(p, m, 4) == 0;
}

// The record's first $DATA attribute without a name, or an empty view.
NtfsAttributeView FindUnnamedData(const std::uint8_t* rec, std::size_t len);
// Runs of a non-resident attribute (named or not), VCNs from its lowest VCN, sorted; false when
// the attribute is missing or resident or its mapping pairs do not hold together.
bool AttributeExtents(const NtfsAttributeView& attr, NtfsExtentList& out);
// The long form of a record node: sector, the unnamed $DATA runs, $LogFile sequence number,
// the cluster size those runs imply. False when the record has no such runs.
bool MakeLongNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                  NtfsRecordNode& node);
// The short form for an $MFT record: also needs a cluster size and a first cluster.
bool MakeShortNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                   NtfsRecordNode& node);
// Appends [first, first + count) to ascending ranges, joining it to the last one it follows.
void AddToRanges(std::vector<NtfsSectorRange>& ranges, std::uint64_t first, std::uint64_t count);

} // namespace ntfs_search
