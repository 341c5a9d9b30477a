#pragma once
// The tree of an NTFS partition that the deep scan found. The device is not scanned again: only
// the FILE records that the search saw are read, in the runs it recorded, parsed into the same
// entries and properties as the quick scan's, linked into folders under a root named after the
// partition, and then the clusters no parsed file occupies are carved.
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class CRawFileList;

// One $MFT record of the search that belongs to the partition, and the entries of the FILE
// records inside its extents.
struct NtfsMftGroup {
    const NtfsRecordNode* mft = nullptr;
    NtfsRecordList list; // entries in the order read; list.mft describes the $MFT's extents
    NtfsMftInfo info;
};

class CNtfsFoundTreeBuilder {
public:
    CNtfsFoundTreeBuilder(const std::vector<NtfsRecordNode>* mftRecords,
                          const std::vector<FileRecordRun>* runs)
        : m_mftRecords(mftRecords), m_runs(runs) {}
    CNtfsFoundTreeBuilder(const CNtfsFoundTreeBuilder&) = delete;
    CNtfsFoundTreeBuilder& operator=(const CNtfsFoundTreeBuilder&) = delete;
    ~CNtfsFoundTreeBuilder();

    // The worker's body: builds the tree into the result and sets the done flag.
    void Run();

    // Steps, exposed for tests.
    void MakeGroups();
    // False when cancelled.
    bool ReadFoundMftRecords();
    void ParseMftRecordBlock(std::uint8_t* block, std::uint64_t firstSector, std::uint32_t sectors);

    std::vector<std::unique_ptr<NtfsMftGroup>> m_groups;
    NtfsRecordList m_loose;
    IStorageDevice* m_device = nullptr;
    std::uint64_t m_firstSector = 0;
    std::uint8_t m_sectorsPerCluster = 0;
    const std::vector<NtfsRecordNode>* m_mftRecords;
    const std::vector<FileRecordRun>* m_runs;
    CSearchedPartitionInfo* m_partition = nullptr;
    CRawFileList* m_carved = nullptr;
    std::uint32_t m_partitionIndex = 0;
    IDIRBuildCallback* m_callback = nullptr;
    FileTreePtr m_result;
    std::atomic<bool> m_done{false};
    int m_lostFilesCounter = 0;

private:
    IDIRBuildCallback* Callback();
    FileTreePtr Build();
    std::uint64_t SectorCount() const;
    std::unique_ptr<IDIRBuildCallback> m_quiet;
    std::vector<std::uint8_t> m_block;
    CTreeArena m_arena; // the found tree's properties and nodes
};

// Starts the build on a worker thread and waits for it (the platform's pump hook runs while it
// waits). Null when the partition is not an NTFS record, when no thread could be made, or when
// the tree is empty. `callback` may be null.
FileTreePtr BuildFoundNtfsFileTree(CNtfsFoundTreeBuilder* builder,
                                   CSearchedPartitionInfo* partition, CRawFileList* carved,
                                   IStorageDevice* device, std::uint32_t partitionIndex,
                                   IDIRBuildCallback* callback);

// Every cluster of the tree's files marked, plus the clusters that hold their MFT records.
// Null when the root gives no file-system information.
std::unique_ptr<CClusterUseBitMap> CreateNtfsClusterUseBitMap(CFileNode* root,
                                                              std::vector<std::uint64_t>* bits,
                                                              std::uint64_t clusterCount);

// The carved-files folder of a partition's unused clusters, or null (nothing carved, cancelled,
// or no carving results): the files the search carved (its result sink) that start in a cluster
// of the partition that no file of the tree under `root` uses.
FileTreePtr ScanUnusedClustersForRawFiles(CFileNode* root, IStorageDevice* device,
                                          std::uint64_t clusterCount, CRawFileList* carved,
                                          IDIRBuildCallback* callback);
