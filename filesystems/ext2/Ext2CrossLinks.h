#pragma once
// Deleted EXT2/EXT3 inodes whose blocks another file holds (filesystems/CrossLink.h).
#include <cstddef>

class CExt2FileSystem;
class CFileNode;

// Flags with FILESTATE_CROSS_LINK each deleted file of the tree under `root` (built from `fs`)
// one of whose data blocks is marked used in its group's block bitmap or lies in a run of a
// live file of the tree. A bitmap block that cannot be read marks nothing. Returns how many
// files were flagged.
std::size_t FlagExt2CrossLinks(CFileNode* root, CExt2FileSystem& fs);
