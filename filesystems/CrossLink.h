#pragma once
// Deleted files whose clusters another file now holds. A tree builder fills one cluster-use map
// with what it knows to be in use (the volume's own allocation record, the live files' runs),
// then flags every deleted file that touches a marked cluster with FILESTATE_CROSS_LINK: its
// clusters no longer hold its own bytes. One map per tree and one walk over it keep the cost
// linear in the files and their clusters. Deleted files that claim the same clusters as each
// other are told apart by when each was written, where the file system keeps a mark of it.
#include "filesystems/ClusterUseBitMap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CFileNode;
class IFileProperties;

// True when a deleted file (not folder) lies under `root`: without one there is nothing to flag.
bool HasDeletedFiles(CFileNode* root);

// Marks the clusters of every live file (not folder) under `root`: its runs cut at its size.
void MarkLiveFileClusters(CFileNode* root, CClusterUseBitMap& map);

// The empty map a tree's cross-link pass starts from: `clusterCount` clusters placed by the
// root's file-system information. Null when there is nothing to flag (no deleted file) or the
// root gives no usable information. `bits` is the map's storage.
std::unique_ptr<CClusterUseBitMap> CreateCrossLinkMap(CFileNode* root, std::vector<std::uint64_t>* bits,
                                                      std::uint64_t clusterCount);

// Calls `visit` for the properties of every deleted file (not folder) under `root`; the live
// ones for VisitLiveFiles.
void VisitDeletedFiles(CFileNode* root, const std::function<void(IFileProperties& properties)>& visit);
void VisitLiveFiles(CFileNode* root, const std::function<void(IFileProperties& properties)>& visit);

// Adds FILESTATE_CROSS_LINK to every deleted file (not folder) under `root` for which `inUse`
// answers true. Returns how many files were flagged.
using CrossLinkTest = std::function<bool(const IFileProperties& properties)>;
std::size_t FlagCrossLinkedFiles(CFileNode* root, const CrossLinkTest& inUse);

// The common case: a deleted file is cross-linked when its runs touch `map`.
std::size_t FlagCrossLinkedFiles(CFileNode* root, const CClusterUseBitMap& map);

// When a deleted file was written, as far as its file system tells: of two files that claim
// the same cluster, the one with the larger stamp was written there later. kNoWriteStamp when
// nothing tells.
constexpr std::uint64_t kNoWriteStamp = 0;
using WriteStampOf = std::function<std::uint64_t(const IFileProperties& properties)>;

// The clusters a file claims: `visit`(first cluster, count) for each run of them.
using ClaimedClustersOf = std::function<void(const IFileProperties& properties, const ClusterRunVisit& visit)>;

// Adds FILESTATE_CROSS_LINK to every deleted file (not folder) under `root` one of whose
// claimed clusters (below `clusterCount`) a deleted file with a larger stamp also claims: the
// later file's bytes are there now. Where the stamps cannot tell (equal, or one of them
// missing) both files are flagged. The claims of all deleted files are swept once in cluster
// order, so the cost grows with their runs, not with pairs of files. Returns how many files
// were newly flagged.
std::size_t FlagOverwrittenDeletedFiles(CFileNode* root, std::uint64_t clusterCount, const ClaimedClustersOf& claimsOf,
                                        const WriteStampOf& stampOf);
