#pragma once
// Deleted EXT2/EXT3 inodes whose blocks another file holds (filesystems/CrossLink.h).
#include <cstddef>

class CExt2FileSystem;
class CFileNode;

// Flags with FILESTATE_CROSS_LINK each deleted file of the tree under `root` (built from `fs`)
// one of whose data blocks is marked used in its group's block bitmap, which holds every block
// a live inode claims. When a group's bitmap cannot be read, the runs of the live files of the
// tree are taken as well. Returns how many files were flagged.
std::size_t FlagExt2CrossLinks(CFileNode* root, CExt2FileSystem& fs);
