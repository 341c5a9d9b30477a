#pragma once
// Deleted files whose clusters another file now holds. A tree builder fills one cluster-use map
// with what it knows to be in use (the live files' runs, and the volume's own allocation record
// when it can read one), then flags every deleted file that touches a marked cluster with
// FILESTATE_CROSS_LINK: its clusters no longer hold its own bytes. One map per tree and one
// walk over it keep the cost linear in the files and their clusters.
#include "filesystems/ClusterUseBitMap.h"

#include <cstddef>
#include <functional>

class CFileNode;
class IFileProperties;

// True when a deleted file (not folder) lies under `root`: without one there is nothing to flag.
bool HasDeletedFiles(CFileNode* root);

// Marks the clusters of every live file (not folder) under `root`: its runs cut at its size.
void MarkLiveFileClusters(CFileNode* root, CClusterUseBitMap& map);

// True when one of the clusters of the entry's runs (cut at its size) is marked in `map`.
bool RunsTouchMarkedClusters(const IFileProperties& properties, const CClusterUseBitMap& map);

// Adds FILESTATE_CROSS_LINK to every deleted file (not folder) under `root` for which `inUse`
// answers true. Returns how many files were flagged.
using CrossLinkTest = std::function<bool(const IFileProperties& properties)>;
std::size_t FlagCrossLinkedFiles(CFileNode* root, const CrossLinkTest& inUse);

// The common case: a deleted file is cross-linked when its runs touch `map`.
std::size_t FlagCrossLinkedFiles(CFileNode* root, const CClusterUseBitMap& map);
