#pragma once
// Deleted FAT files whose clusters another file holds (filesystems/CrossLink.h).
#include <cstddef>
#include <cstdint>

class CFileNode;
class IFATTable;

// Flags with FILESTATE_CROSS_LINK each deleted file of the FAT tree under `root` whose cluster
// range (its first cluster on, as many clusters as its size needs) holds a cluster with a
// non-zero entry in `fat` (when there is one) or overlaps a run of a live file of the tree.
// `clusterCount` is the volume's data clusters (2 .. count + 1); a range is cut there. Of two
// deleted files whose runs share a cluster, the one with the earlier times (the later of its
// creation and last-write times) is flagged, and both when the times are equal or missing.
// Without `fat` a live file's run is only assumed to follow on from its first cluster: a live
// file whose run reaches the first cluster of another live file is flagged too.
// Returns how many files were flagged.
std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount);
