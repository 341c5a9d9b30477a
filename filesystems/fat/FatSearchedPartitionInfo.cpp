#include "filesystems/fat/FatSearchedPartitionInfo.h"

#include "filesystems/StoreSection.h"
#include "filesystems/fat/FatStructures.h"

#include <new>

int CFATSearchedPartitionInfo::Save(IRSData* section) const {
    SaveFields(section);
    RSWriteValue<std::uint16_t>(section, m_u16ReservedSectors);
    RSWriteValue<std::uint32_t>(section, m_u32SectorsPerFat);
    RSWriteValue<std::uint32_t>(section, m_u32ClusterCount);
    RSWriteValue<std::uint32_t>(section, m_u32Root);
    RSWriteValue<std::uint32_t>(section, m_u32EvidenceFlags);
    return 1;
}

int CFATSearchedPartitionInfo::Load(IRSData* section) {
    LoadFields(section);
    m_u16ReservedSectors = RSReadValue<std::uint16_t>(section);
    m_u32SectorsPerFat = RSReadValue<std::uint32_t>(section);
    m_u32ClusterCount = RSReadValue<std::uint32_t>(section);
    m_u32Root = RSReadValue<std::uint32_t>(section);
    m_u32EvidenceFlags = RSReadValue<std::uint32_t>(section);
    return 1;
}

CFATSearchedPartitionInfo* CreateFATSearchedPartitionInfo() {
    return new (std::nothrow) CFATSearchedPartitionInfo();
}

bool InitFATSearchedPartitionInfo(CFATSearchedPartitionInfo& out, const std::uint8_t* sector,
                                  std::size_t size, std::uint64_t firstSector) {
    const CFATDBR dbr(sector, size);
    if (!dbr.IsValid())
        return false;
    CFATSearchedPartitionInfo info;
    info.m_fileSystemType = dbr.GetFileSystemType();
    info.m_sectorsPerCluster = static_cast<std::uint8_t>(dbr.GetSectorsPerCluster());
    info.m_u64KeptFirstSector = firstSector;
    info.m_u16ReservedSectors = static_cast<std::uint16_t>(dbr.GetReservedSectors());
    info.m_u32SectorsPerFat = dbr.GetSectorsPerFAT();
    const bool fat32 = dbr.GetFileSystemType() == FILESYSTEM_FAT32;
    const std::uint64_t rootSectors = fat32 ? 0 : dbr.GetRootDirSectors();
    info.m_u32Root = fat32 ? dbr.GetRootCluster() : dbr.GetRootDirSectors();
    const std::uint64_t dataStart = firstSector + dbr.GetReservedSectors() +
                                    std::uint64_t(dbr.GetFATCount()) * dbr.GetSectorsPerFAT() + rootSectors;
    info.m_u64FirstSector = dataStart;
    const std::uint64_t total = dbr.GetTotalSectors();
    info.m_u32SectorCount = total;
    const std::uint64_t dataSectors = total > dataStart - firstSector ? total - (dataStart - firstSector) : 0;
    const std::uint64_t clusters = dbr.GetSectorsPerCluster() ? dataSectors / dbr.GetSectorsPerCluster() : 0;
    info.m_u32ClusterCount = static_cast<std::uint32_t>(clusters > UINT32_MAX ? UINT32_MAX : clusters);
    std::uint32_t evidence = FATEVIDENCE_BOTH_FATS;
    switch (dbr.GetFileSystemType()) {
    case FILESYSTEM_FAT12:
        evidence |= FATEVIDENCE_FAT12_BOOT;
        break;
    case FILESYSTEM_FAT16:
        evidence |= FATEVIDENCE_FAT16_BOOT;
        break;
    default:
        evidence |= FATEVIDENCE_FAT32_BOOT | FATEVIDENCE_FAT32_BACKUP;
        break;
    }
    info.m_u32EvidenceFlags = evidence;
    out = info;
    return true;
}
