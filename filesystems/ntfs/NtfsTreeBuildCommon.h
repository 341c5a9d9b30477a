#pragma once
// What the quick-scan and deep-scan tree builders share (not part of their interface).
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "filesystems/ntfs/NtfsVolumeReader.h"

#include <cstdint>

namespace ntfs_tree {

// The user cancelled: the callback answered -1.
inline bool Cancelled(IDIRBuildCallback* cb, int result) { return cb && result == -1; }

// Parent reference from the base record's names: the second's when it is 5 or more, else the
// first's when it is 5 or more, else -1.
std::int64_t BaseParentReference(const MftRecordView& view);

// Deletes the properties no tree node took and empties the list.
void FreeEntries(NtfsRecordList* list);

// Clears the m_pSourceRecord of every node under `root` (and its own), without allocating: the
// builder's records go away, the tree stays.
void ForgetSourceRecords(CFileNode* root);

} // namespace ntfs_tree
