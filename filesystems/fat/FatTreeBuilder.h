#pragma once
// The quick scan of a FAT12/16/32 partition: boot sector (or its FAT32 backup), the FATs, and
// the directory tree from the root down, built on a worker thread.
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTables.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class CRawFileList;
class FatDirectorySectorSet;
class IDIRBuildCallback;
class IStorageDevice;

// The argument and result of one build on a worker thread; the caller owns it.
struct FatTreeBuildTask {
    IDIRBuildCallback* callback = nullptr;
    CFATSearchedPartitionInfo* partition = nullptr;
    IStorageDevice* device = nullptr;
    std::uint32_t takeAll = 0;
    FileTreePtr result;
    std::atomic<bool> done{false};
    // The complete build of a found partition only (FatCompleteTree.h).
    const FatDirectorySectorSet* directorySectors = nullptr;
    CRawFileList* resultSink = nullptr;
    std::uint32_t partitionIndex = 0;

    // Runs FatCompleteBuildTree on a worker thread and waits for it. Root or null (also when
    // the thread cannot start).
    static FileTreePtr Run(IDIRBuildCallback* callback,
                           const FatDirectorySectorSet* directorySectors,
                           CFATSearchedPartitionInfo* partition, CRawFileList* resultSink,
                           IStorageDevice* device, std::uint32_t partitionIndex);
};

// Scanner status.
enum : std::uint32_t { FATSCAN_RUNNING = 0, FATSCAN_CANCELLED = 2 };

// The state of one directory-tree build.
class FatDirectoryScanner {
public:
    // A null callback is replaced by one that does nothing.
    FatDirectoryScanner(IDIRBuildCallback* callback, IStorageDevice* device);
    ~FatDirectoryScanner();
    FatDirectoryScanner(const FatDirectoryScanner&) = delete;
    FatDirectoryScanner& operator=(const FatDirectoryScanner&) = delete;

    // Takes the layout of the volume whose boot sector `dbr` lies at `partitionFirst`, sizes
    // the cluster-use bitmap and marks the root as known. The tables may be null.
    void SetLayout(const CFATDBR& dbr, std::uint64_t partitionFirst, const IFATTable* fat);

    FileTreePtr BuildQuickTree(bool takeAll);
    // The complete build of a found partition (FatCompleteTree.cpp): the layout from the
    // partition record, the tree from the directory sectors the search met.
    void SetSearchedLayout(const CFATSearchedPartitionInfo& partition, const IFATTable* fat);
    FileTreePtr BuildCompleteTree(const FatDirectorySectorSet& records,
                                  std::uint32_t partitionIndex);
    void BuildFatLostFiles(const FatDirectorySectorSet& records, CFileNode* lostFolders,
                           std::size_t recordCount);
    // 1 when the root was read whole, else 0 (what was found is kept either way).
    int ReadRootDirectory(bool takeAll);
    // Reads the directory chain that starts at `firstCluster` into `node`: 1 done, 0 stopped
    // (cancel, loop, failed read, or a first cluster without its dot entries).
    int ReadDirectoryChain(CFileNode* node, std::uint32_t firstCluster, bool isRoot, bool takeAll);
    // Turns the entries of `block` into nodes under `parent`. Returns the bytes consumed, the
    // offset of an unfinished long-name run (to be carried into the next read), or -1 at the
    // end of the directory.
    std::int64_t ParseDirectoryBlock(const std::uint8_t* block, std::size_t length,
                                     CFileNode* parent, bool lostMode, bool takeAll);
    // Deletes the tree and every directory node still mapped, with their properties.
    void FreeScannerTree(CFileNode* root);

    CFileSystemNode* MakeFatRootNode(std::uint32_t partitionIndex);
    // A folder of the builder named "DIR<n>" (n counts within this scanner).
    CFileNode* MakeFatDirNode(std::uint32_t firstCluster, std::uint32_t parentCluster);
    CFileNode* MakeLostFoldersNode();

    FatRunSource RunSource();
    std::uint64_t ClusterToSector(std::uint32_t cluster) const {
        return dataStart + static_cast<std::uint64_t>(cluster - 2) * sectorsPerCluster;
    }
    bool IsDataCluster(std::uint64_t cluster) const {
        return cluster >= 2 && cluster < clusterCount + 2;
    }

    IDIRBuildCallback* callback;
    IStorageDevice* device;
    FileSystemType type = FILESYSTEM_UNKNOWN;
    std::uint64_t partitionFirst = 0;
    std::uint32_t sectorsPerCluster = 1;
    std::uint64_t rootSector = UINT64_MAX; // FAT12/16 root area
    std::uint32_t rootSectors = 0;
    std::uint32_t rootCluster = 0;         // FAT32
    bool walkRoot = false;
    std::uint64_t dataStart = 0;
    std::uint64_t sectorCount = 0;
    std::uint64_t clusterCount = 0;
    const IFATTable* fat = nullptr;        // not owned
    FatEntryChecks checks;
    std::uint32_t status = FATSCAN_RUNNING;
    std::map<std::uint32_t, CFileNode*> directories; // by first cluster (2 and above)
    std::vector<bool> readClusters;                  // clusters already read as directory data
    std::vector<bool> clusterUse;                    // one bit per data cluster (cluster - 2)
    std::deque<CFileNode*> queue;
    CFileSystemNode* root = nullptr; // the tree being built; the Build... call hands it out

private:
    std::unique_ptr<IDIRBuildCallback> m_nullCallback;
    std::vector<std::uint8_t> m_buffer;
    std::uint32_t m_dirCounter = 0;
    CTreeArena m_arena; // the entries' nodes and properties
};

// Negative when `newer` should replace `existing` (same first cluster).
int CompareDuplicateDirectories(const CFATFileProperties* newer,
                                const CFATFileProperties* existing);
// Removes deleted folders without children (breadth first from the root).
void PruneEmptyDeletedFolders(CFileNode* root);
// The sector is a FAT boot sector whose size holds its FATs and one of whose two FAT starts
// (relative to `partitionFirst`) reads and looks like a FAT.
bool ValidateFatBootSector(IStorageDevice* device, const std::uint8_t* sector,
                           std::uint64_t partitionFirst);
// The build itself (runs on the worker). `partition` gives the partition's first sector (kept
// first sector) and its evidence flags. Root or null.
FileTreePtr FatQuickBuildTree(CFATSearchedPartitionInfo* partition, IStorageDevice* device,
                              IDIRBuildCallback* callback, bool takeAll);
// Runs FatQuickBuildTree on a worker thread and waits for it (platform::WaitForWorker).
// `task` may be null. Root or null (also when the thread cannot start).
FileTreePtr BuildFatFileTree(IDIRBuildCallback* callback, CFATSearchedPartitionInfo* partition,
                             FatTreeBuildTask* task, IStorageDevice* device, std::uint32_t takeAll);
