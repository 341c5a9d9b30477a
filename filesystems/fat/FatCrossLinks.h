#pragma once
// Deleted FAT files whose clusters another file holds (filesystems/CrossLink.h).
#include <cstddef>
#include <cstdint>

class CFileNode;
class IFATTable;

// Flags with FILESTATE_CROSS_LINK each deleted file of the FAT tree under `root` whose cluster
// range (its first cluster on, as many clusters as its size needs) holds a cluster with a
// non-zero entry in `fat` (when there is one) or overlaps a run of a live file of the tree.
// `clusterCount` is the volume's data clusters (2 .. count + 1); a range is cut there.
// Returns how many files were flagged.
std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount);
