#pragma once
// Deleted NTFS files whose clusters another file holds: allocated in the volume's $Bitmap, in
// a run of a live file of the same tree, or in a run of a deleted file written later
// (filesystems/CrossLink.h).
#include <cstddef>
#include <cstdint>

class CFileNode;
class CNTFSFileProperties;
class IStorageDevice;
struct NtfsRecordList;

// The live $Bitmap (record 6) of a record list; null when the list has none.
const CNTFSFileProperties* FindNtfsBitmapEntry(const NtfsRecordList& list);

// Flags with FILESTATE_CROSS_LINK the deleted files of the tree under `root` one of whose
// clusters is allocated in the $Bitmap `bitmap` (read through its runs on `device`), which
// holds every cluster of the live files; when there is no $Bitmap or it cannot be read whole,
// the runs of the live files of the tree are taken as well. `clusterCount` (the volume's
// clusters as far as the device holds them) bounds the map: clusters past it are never in
// use. Of two deleted files that claim the same cluster, the one whose record has the smaller
// $LogFile sequence number is flagged, and both where the numbers are equal or missing.
// Returns how many files were flagged.
std::size_t FlagNtfsCrossLinks(CFileNode* root, IStorageDevice* device, const CNTFSFileProperties* bitmap,
                               std::uint64_t clusterCount);
