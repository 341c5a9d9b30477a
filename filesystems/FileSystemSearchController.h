#pragma once
// The deep scan's view of a file-system search controller, and the common record of a
// partition that a controller found (or that a quick scan works on).
#include <cstdint>
#include <vector>

#include "filesystems/FileNode.h"
#include "filesystems/IntelligentSearchStats.h"
#include "storage/FileSystemType.h"

class CRawFileList;
class IDIRBuildCallback;
class IRSData;
class IStorageDevice;

enum SearchedPartitionKind : std::uint32_t {
    SEARCHED_PARTITION_NTFS = 0,
    SEARCHED_PARTITION_FAT = 1,
    SEARCHED_PARTITION_EXT2 = 2,
    SEARCHED_PARTITION_BASE = 3,
};

class CSearchedPartitionInfo {
public:
    CSearchedPartitionInfo() = default;
    virtual ~CSearchedPartitionInfo() = default;

    virtual std::uint32_t GetKind() const { return SEARCHED_PARTITION_BASE; }
    // The base record is exactly SaveFields / LoadFields; subclasses call them first and then
    // write or read their own fields. Return 1; store failures pass through.
    virtual int Save(IRSData* section) const;
    virtual int Load(IRSData* section);

    // The common fields, little-endian, no padding: 65 bytes.
    void SaveFields(IRSData* section) const;
    void LoadFields(IRSData* section);

    // The partition's size in sectors. The saved field is 32-bit; a record that knows a larger
    // size (volumes of 2 TiB and more) answers it here.
    virtual std::uint64_t GetSectorCount64() const { return m_u32SectorCount; }

    std::uint32_t m_fileSystemType = FILESYSTEM_UNKNOWN;
    std::uint8_t m_sectorsPerCluster = 0;
    std::uint64_t m_u64FirstSector = 0;
    // The partition's start as the scoring of the intelligent search uses it.
    std::uint64_t m_u64KeptFirstSector = 0;
    std::uint64_t m_u64EvidenceB = 0;
    std::uint64_t m_u64EvidenceA = 0;
    std::uint32_t m_u32Identity = 0;
    // 64 bits in memory, so volumes of 2 TiB and more keep their size; the saved record has a
    // 32-bit field here (the name follows it), written clamped with a log line.
    std::uint64_t m_u32SectorCount = 0;
    std::uint64_t m_u64Score = 1;
    double m_relativeScore = 0.0;
    std::uint32_t m_u32Chosen = 0;
};

constexpr std::uint32_t kSearchedPartitionFieldsSize = 65;

// One chunk of the deep scan, read once by the search and read in place by every controller
// (possibly by several at the same time: nobody writes to it).
struct SearchChunk {
    std::uint64_t first = 0; // first sector
    std::uint64_t count = 0; // sectors in the chunk (at most the step)
    // The chunk's bytes: `count` sectors, then zeros up to the step. Sectors that could not be
    // read hold zeros.
    const std::uint8_t* data = nullptr;
    // Sectors right before `data` that hold the device's sectors before `first`.
    std::uint32_t headSectors = 0;
    // False when some sector of the chunk could not be read.
    bool readWhole = true;
    // The search's ring of chunks of the step's size: chunk k of the device (from sector k x
    // step) lies at ring + (k mod ringChunks) x step sectors, and the `keptChunks` chunks
    // before this one (those the device has) are still there. Null when the search keeps no
    // ring.
    const std::uint8_t* ring = nullptr;
    std::uint32_t ringChunks = 0;
    std::uint32_t keptChunks = 0;
};

enum SearchControllerKind : std::uint32_t {
    SEARCH_CONTROLLER_NTFS = 0,
    SEARCH_CONTROLLER_FAT = 1,
    SEARCH_CONTROLLER_RAW = 2,
    SEARCH_CONTROLLER_EXT2 = 3,
};

// Calling order of a deep scan: SetDevice, SetSectorsPerStep (1000); BeginSearch;
// AnalyzeSectors for each chunk in device order; EndSearch; CollectSearchedPartitions. Later
// BuildDirectoryTree for a chosen partition whose type AcceptsFileSystemType takes.
class IFileSystemSearchController {
public:
    IFileSystemSearchController() = default;
    IFileSystemSearchController(const IFileSystemSearchController&) = delete;
    IFileSystemSearchController& operator=(const IFileSystemSearchController&) = delete;
    virtual ~IFileSystemSearchController() = default;

    virtual void SetDevice(IStorageDevice* device) = 0; // kept, not owned
    virtual void SetSectorsPerStep(std::uint32_t sectors) = 0;
    virtual void BeginSearch() = 0;
    virtual void EndSearch() {}
    virtual int AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                               IntelligentSearchStats* stats) = 0;
    // The same for a chunk the search has read already: the controller reads it in place. The
    // results equal those of AnalyzeSectors on the chunk's sectors; a controller that does not
    // read chunks in place reads them through its device.
    virtual int AnalyzeLoadedChunk(const SearchChunk& chunk, IntelligentSearchStats* stats) {
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    }
    // How many chunks before the current one the controller still reads from the ring of
    // AnalyzeLoadedChunk.
    virtual std::uint32_t GetChunksKept() const { return 0; }
    // Appends this controller's partition records; the list's owner deletes them.
    virtual void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) = 0;
    // The object that receives the results (the RAW controller's found-file list).
    virtual void SetResultSink(CRawFileList* sink) = 0; // not owned
    virtual int SaveState(IRSData* section) = 0;
    virtual int LoadState(IRSData* section) = 0;
    virtual std::uint32_t GetKind() const = 0;
    // Root of the partition's tree, or null. `partitionIndex` numbers the root folder's caption.
    virtual FileTreePtr BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                           IStorageDevice* device, std::uint32_t partitionIndex,
                                           IDIRBuildCallback* callback) {
        (void)partition;
        (void)device;
        (void)partitionIndex;
        (void)callback;
        return nullptr;
    }
    virtual bool AcceptsFileSystemType(std::uint32_t type) const {
        (void)type;
        return false;
    }
};
