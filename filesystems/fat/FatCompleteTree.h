#pragma once
// The complete tree of a FAT partition that a deep scan found. It does not need the boot sector
// or a tree reachable from the root: every directory whose first sector the search met inside
// the partition is read from its own first cluster, the directories are joined by their ".."
// clusters, what cannot be placed goes under "Lost Folders", directory fragments of unknown
// directories become folders of their own, and carved files are added over the clusters that
// no placed file uses.
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/fat/FatDirectorySectors.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"

#include <cstdint>
#include <memory>
#include <vector>

class CRawFileList;
class IDIRBuildCallback;
class IStorageDevice;

// The build itself (runs on the worker). Root or null (cancelled, or no partition or device).
FileTreePtr FatCompleteBuildTree(CFATSearchedPartitionInfo* partition, IDIRBuildCallback* callback,
                                 const FatDirectorySectorSet* directorySectors,
                                 CRawFileList* resultSink, IStorageDevice* device,
                                 std::uint32_t partitionIndex);

// A placeholder folder of the builder ("DIR<n>") among `folder`'s children that holds a
// directory's content takes over the name of a deleted, empty directory entry beside it that
// points at the same first cluster, or at its low 16 bits (a deleted FAT32 entry may have lost
// the high word).
void FixTempDirectories(CFileNode* folder);

// One bit per data cluster of the scan (bit i is cluster i + 2) over `bits`, set for every
// cluster that a placed file or a directory read occupies.
std::unique_ptr<CClusterUseBitMap> MakeFatClusterUseBitMap(const FatDirectoryScanner& scanner,
                                                           std::vector<std::uint64_t>* bits);

// Carves the partition's unused clusters: the "Raw Files" folder with the carved files of
// `resultSink` that start in clusters `used` does not mark, to be hung under the partition's
// root; null without a sink, or when RAW files are not recovered.
FileTreePtr CarveUnusedFatClusters(IStorageDevice* device, CRawFileList* resultSink,
                                   const CClusterUseBitMap& used, IDIRBuildCallback* callback);
