#pragma once
// The EXT2/EXT3 member of the deep scan's search controllers. Fed a device sector by sector,
// it looks for superblocks (primary and backup copies) wherever they lie, derives the
// partition start from each, gathers the group-descriptor table that follows it, keeps every
// partition whose superblock and table hold together, merges the copies of one file system,
// scores them, and later builds the tree of a chosen one.
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/ext2/Ext2SuperBlock.h"

#include <cstdint>
#include <vector>

// A partition found by the EXT2 search. Common fields: type EXT3 with a journal inode else
// EXT2; sectors per cluster = sectors per block; first sector = where the superblock copy
// was found; kept first sector = the partition start derived from it; sector count = the
// file system's sectors (low 32 bits).
class CExt2SearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    CExt2SearchedPartitionInfo();
    // A superblock copy (1024 bytes, as found) at `sector`.
    CExt2SearchedPartitionInfo(const std::uint8_t* superBlock, std::uint64_t sector);

    std::uint32_t GetKind() const override { return SEARCHED_PARTITION_EXT2; }
    // The common fields, the table sector (8 bytes) and the stored-superblock-valid word
    // (4 bytes): 77 bytes. Load refuses (CRSException RSERR_BAD_HEADER) a record whose sectors
    // per cluster is not a power of two from 2 to 128, or whose kept first sector lies after
    // its first sector.
    int Save(IRSData* section) const override;
    int Load(IRSData* section) override;

    // Descriptors the table holds (group count of the normalised superblock, at most what was
    // allocated).
    std::uint32_t GroupCount() const;
    bool TableComplete() const;
    // Re-reads the superblock and the table of a loaded record; false when they no longer
    // read back or do not hold together.
    bool ReadGroupTable(IStorageDevice* device);
    // The partition of the other record is the same: same stored superblock fields, same
    // descriptor words (and, for backup copies, the same start).
    bool IsSamePartition(const CExt2SearchedPartitionInfo& other) const;
    void MergeFrom(const CExt2SearchedPartitionInfo& other);

    CExt2SuperBlock m_superBlock; // the copy exactly as found
    std::uint32_t m_u32TimesSeen = 0;
    std::uint32_t m_u32DescriptorsGathered = 0;
    std::uint64_t m_u64TableSector = 0;
    std::uint64_t m_u64BestSuperBlockSector = 0;
    std::uint32_t m_u32StoredSuperBlockValid = 0;
    std::vector<std::uint8_t> m_table; // group count x 32 bytes once gathering started
};

constexpr std::uint32_t kExt2SearchedPartitionRecordSize = 77;

// An empty record (the form the scan-state loader fills with Load); null when memory runs out.
CExt2SearchedPartitionInfo* CreateExt2SearchedPartitionInfo();

class CEXT2SearchController : public IFileSystemSearchController {
public:
    CEXT2SearchController();
    ~CEXT2SearchController() override;

    void SetDevice(IStorageDevice* device) override { m_device = device; }
    void SetSectorsPerStep(std::uint32_t sectors) override { m_sectorsPerStep = sectors; }
    void BeginSearch() override { m_windowCount = 0; }
    void EndSearch() override {
        m_windowCount = 0;
        m_device = nullptr;
    }
    int AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                       IntelligentSearchStats* stats) override;
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) override;
    void SetResultSink(CRawFileList* sink) override { m_resultSink = sink; }
    int SaveState(IRSData*) override { return 1; }
    int LoadState(IRSData*) override { return 1; }
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_EXT2; }
    FileTreePtr BuildDirectoryTree(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                   std::uint32_t partitionIndex,
                                   IDIRBuildCallback* callback) override;
    bool AcceptsFileSystemType(std::uint32_t type) const override {
        return type == FILESYSTEM_EXT2 || type == FILESYSTEM_EXT3;
    }

    const std::vector<CExt2SearchedPartitionInfo*>& Committed() const { return m_committed; }

private:
    void ProcessWindow(std::uint64_t candidate);
    void CommitPartition(CExt2SearchedPartitionInfo* partition);

    IStorageDevice* m_device = nullptr;
    CRawFileList* m_resultSink = nullptr;
    std::uint32_t m_sectorsPerStep = 0;
    std::vector<CExt2SearchedPartitionInfo*> m_committed;
    std::uint8_t m_window[8 * 512] = {};
    std::uint32_t m_windowCount = 0;
    CExt2SearchedPartitionInfo* m_pending = nullptr;
};
