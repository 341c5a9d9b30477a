#pragma once
// The rows ("Name", "Value") of the file and partition properties dialogs, worked out without
// any window. Sector values are 64-bit throughout.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CFileNode;
class CSearchedPartitionInfo;

using PropertyRow = std::pair<std::string, std::string>;
using PropertyRows = std::vector<PropertyRow>;

// Rows of one found file or folder, chosen by the file system it came from. Empty without a
// node or properties.
PropertyRows FilePropertyRows(const CFileNode* node);
// The "Lay out" text of a run list: "start: length" runs joined by " - ", ended with ".";
// FAT runs show their start as a cluster number (+2).
std::string LayoutText(const CFileNode* node, bool* hasRunList);

// Rows of a found partition, or of a bare lost-partition range (first sector, count) when
// `partition` is null and `hasRange` is set.
PropertyRows PartitionPropertyRows(const CSearchedPartitionInfo* partition, bool hasRange,
                                   std::uint64_t rangeFirst, std::uint64_t rangeCount);
