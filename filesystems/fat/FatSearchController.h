#pragma once
// The FAT member of the deep scan's search controllers. It is fed every sector of a device in
// chunks and recognises FAT boot sectors (and FAT32 backups), sectors that begin a FAT, and
// directory sectors; from these it infers FAT12/16/32 partitions, also ones whose boot sector
// is gone (placed by a directory's own cluster number), scores them by their evidence and
// later builds the complete tree of a chosen one.
#include "carving/records/FoundFileEntry.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/fat/FatDirectorySectors.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatStructures.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The cluster-count window and FAT entry width (in half-bytes) of each FAT type.
struct FatTypeLimits {
    std::uint64_t minClusters; // inclusive
    std::uint64_t maxClusters; // exclusive
    std::uint32_t halfBytes;   // FAT entry width in 4-bit units
};
// FAT12, FAT16 or FAT32; null for any other type.
const FatTypeLimits* GetFatTypeLimits(std::uint32_t type);
// Sectors a FAT of `clusters` entries needs: ceil(halfBytes * clusters / 1024).
std::uint64_t FatSectorsNeeded(const FatTypeLimits& limits, std::uint64_t clusters);

// What a directory's position implies when the boot sector is gone: the type, the clusters
// and the FAT size of a partition whose data area starts at `dataStart`, with `spc` sectors per
// cluster, on a device of `deviceSectors`. The partition is taken to reach the device's end,
// cut to what the type can count and to what two FATs in front of the data area can map.
struct FatTypeGuess {
    std::uint32_t type = 7; // FILESYSTEM_UNKNOWN: no type fits
    std::uint64_t clusters = 0;
    std::uint64_t sectorsPerFat = 0;
};
FatTypeGuess GuessFatType(std::uint64_t dataStart, std::uint32_t spc, std::uint64_t deviceSectors);

class CFATSearchController : public IFileSystemSearchController {
public:
    CFATSearchController();
    ~CFATSearchController() override;

    void SetDevice(IStorageDevice* device) override;
    void SetSectorsPerStep(std::uint32_t sectors) override;
    void BeginSearch() override {}
    void EndSearch() override {}
    // Looks at every sector of the range; unreadable sectors are skipped. Always 1.
    int AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                       IntelligentSearchStats* stats) override;
    int AnalyzeLoadedChunk(const SearchChunk& chunk, IntelligentSearchStats* stats) override;
    // Scores the partitions, drops those without enough evidence and hands the rest over (in
    // data-area order). Everything but the directory-sector set is reset.
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) override;
    void SetResultSink(CRawFileList* sink) override { m_sink = sink; }
    // The directory-sector set only.
    int SaveState(IRSData* section) override;
    int LoadState(IRSData* section) override;
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_FAT; }
    // The complete tree of a FAT partition record, built on a worker thread; null for a record
    // of another kind.
    FileTreePtr BuildDirectoryTree(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                   std::uint32_t partitionIndex,
                                   IDIRBuildCallback* callback) override;
    bool AcceptsFileSystemType(std::uint32_t type) const override {
        return type == FILESYSTEM_FAT12 || type == FILESYSTEM_FAT16 || type == FILESYSTEM_FAT32;
    }

    // The steps of the search, callable on their own.
    // A FAT boot sector `sector` read at `s`: adds its partition (and, for FAT32, the partition
    // it is the backup of). False when it gives no partition (or boot sectors are not used).
    bool AddBootSector(std::uint64_t s, const std::uint8_t* sector);
    // A sector that begins a FAT was seen at `s`.
    void FatStartSeen(std::uint64_t s);
    // The first sector of a directory at `s` whose "." entry names cluster `dotCluster`:
    // confirms a known partition that places cluster `dotCluster` at `s`, or guesses new ones.
    void AddFirstDirectorySector(std::uint64_t s, std::uint32_t dotCluster);
    // The partition that a directory's first sector at `s` with "." cluster `c` implies for
    // `spc` sectors per cluster when no boot sector is known; null when none fits.
    std::unique_ptr<CFATSearchedPartitionInfo> GuessPartitionFromDirectory(std::uint64_t s,
                                                                           std::uint32_t c,
                                                                           std::uint32_t spc) const;
    // The partition that a boot sector at `s` describes (`backup`: the sector is the FAT32
    // backup copy of a boot sector at `s`), or null when its geometry does not fit the device
    // or its own FAT.
    std::unique_ptr<CFATSearchedPartitionInfo> MakePartitionFromBootSector(std::uint64_t s,
                                                                           const CFATDBR& dbr,
                                                                           bool backup) const;

    const FatDirectorySectorSet& DirectorySectors() const { return m_directorySectors; }
    const FoundFileEntryList& FoundFiles() const { return m_foundFiles; }
    // Partitions found so far (before they are collected), in data-area order.
    std::vector<const CFATSearchedPartitionInfo*> Partitions() const;

private:
    void AnalyzeSector(std::uint64_t s, const std::uint8_t* sector, IntelligentSearchStats* stats);
    // Reads the scan options this call works with.
    void TakeOptions();
    void AddPartition(std::unique_ptr<CFATSearchedPartitionInfo> partition, bool withFatStarts);
    CFATSearchedPartitionInfo* FindSamePartition(std::uint64_t dataStart, std::uint32_t spc) const;
    // A FAT32 partition placed by its directories alone: the FSInfo sector nearest before its
    // data area places its first sector (one sector before the FSInfo), and the FATs that fit
    // between the reserved sectors and the data area bound its size.
    void PlaceByFSInfo(CFATSearchedPartitionInfo& p) const;

    IStorageDevice* m_device = nullptr;
    std::uint64_t m_deviceSectors = 0;
    std::uint32_t m_sectorsPerStep = 1000;
    CRawFileList* m_sink = nullptr;

    // Partitions found so far by data-area start (owned until collected).
    std::multimap<std::uint64_t, std::unique_ptr<CFATSearchedPartitionInfo>> m_partitions;
    // The sectors where each known partition's two FATs must begin, not yet seen.
    std::multimap<std::uint64_t, CFATSearchedPartitionInfo*> m_fatStarts;
    FatDirectorySectorSet m_directorySectors;
    // FSInfo sectors met, in sector order.
    struct FSInfoSeen {
        std::uint64_t sector;
        std::uint32_t freeClusters;
    };
    std::vector<FSInfoSeen> m_fsInfoSectors;
    // Names of files met in directory sectors with a carving type's extension.
    FoundFileEntryList m_foundFiles;

    // Options of the current AnalyzeSectors call.
    bool m_useBootRecords = true;
    bool m_useFirstFat = true;
    bool m_useSecondFat = true;
    FatEntryChecks m_checks;

    std::vector<std::uint8_t> m_buffer; // one read of a chunk (or part of it)
};
