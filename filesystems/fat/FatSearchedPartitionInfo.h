#pragma once
// A FAT partition as a search found it, or as a quick scan describes the volume it works on:
// the common record plus the FAT geometry and the evidence that backs it.
#include "filesystems/FileSystemSearchController.h"

#include <cstddef>
#include <cstdint>

// Evidence bits of a FAT partition record.
enum FatEvidenceFlags : std::uint32_t {
    FATEVIDENCE_FAT12_BOOT = 0x001,       // a FAT12 boot sector at the partition's first sector
    FATEVIDENCE_FAT16_BOOT = 0x002,       // a FAT16 boot sector there
    FATEVIDENCE_FAT32_BOOT = 0x004,       // a FAT32 boot sector there
    FATEVIDENCE_FAT32_BACKUP = 0x008,     // a FAT32 backup boot sector at first sector + 6
    FATEVIDENCE_DIRECTORY = 0x010,        // guessed from, or confirmed by, a directory's first sector
    FATEVIDENCE_FIRST_FAT_SEEN = 0x040,   // a FAT start where the first FAT must start
    FATEVIDENCE_USE_FIRST_FAT = 0x080,    // the first FAT copy may be used
    FATEVIDENCE_SECOND_FAT_SEEN = 0x100,  // a FAT start where the second FAT must start
    FATEVIDENCE_USE_SECOND_FAT = 0x200,   // the second FAT copy may be used
    FATEVIDENCE_ANY_BOOT = 0x00F,
    // Both FAT copies seen where they must start and usable (what a quick scan of a sound
    // volume assumes).
    FATEVIDENCE_BOTH_FATS = 0x3C0,
};

// Common-field use: first sector = data-area start (cluster 2); kept first sector = the
// partition's first sector (its boot sector).
class CFATSearchedPartitionInfo : public CSearchedPartitionInfo {
public:
    std::uint32_t GetKind() const override { return SEARCHED_PARTITION_FAT; }
    // The common fields, then reserved (2), sectors per FAT (4), cluster count (4), root (4)
    // and evidence flags (4): 83 bytes. Return 1; store failures pass through.
    int Save(IRSData* section) const override;
    int Load(IRSData* section) override;

    std::uint16_t m_u16ReservedSectors = 0;
    std::uint32_t m_u32SectorsPerFat = 0;
    std::uint32_t m_u32ClusterCount = 0;
    // FAT32: root cluster; FAT12/16: root-directory sectors.
    std::uint32_t m_u32Root = 0;
    std::uint32_t m_u32EvidenceFlags = 0;
};

constexpr std::uint32_t kFatSearchedPartitionRecordSize = 83;

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo();

// Fills `out` for a quick scan of the FAT volume whose boot sector `sector` (`size` bytes, at
// least 512) lies at `firstSector`: type, geometry, the data area's start, the boot sector's
// evidence bit (FAT32 also allows its backup) and both FAT copies seen and usable. False, with
// `out` unchanged, when the sector is no FAT boot sector.
bool InitFATSearchedPartitionInfo(CFATSearchedPartitionInfo& out, const std::uint8_t* sector,
                                  std::size_t size, std::uint64_t firstSector);
