#include "filesystems/probes/QuickScan.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/StorageDevice.h"

#include <memory>

FileTreePtr QuickScanVolume(IStorageDevice* device, std::uint64_t firstSector,
                            IDIRBuildCallback* callback, bool takeAll) {
    if (!device)
        return nullptr;
    std::uint8_t sector[kSectorSize];
    if (device->ReadSectors(sector, firstSector, 1) != 1)
        return nullptr;
    CNullDirBuildCallback quiet;
    IDIRBuildCallback* cb = callback ? callback : &quiet;
    switch (ClassifyFileSystemBootSector(sector, sizeof sector)) {
    case FILESYSTEM_NTFS: {
        auto params = std::make_unique<NtfsTreeBuildParams>();
        InitNtfsTreeBuildParams(params.get());
        return BuildNtfsFileTreeAt(device, firstSector, params.get(), cb);
    }
    case FILESYSTEM_FAT12:
    case FILESYSTEM_FAT16:
    case FILESYSTEM_FAT32: {
        CFATSearchedPartitionInfo partition;
        if (!InitFATSearchedPartitionInfo(partition, sector, sizeof sector, firstSector))
            return nullptr;
        // The advanced settings choose which FAT copies the scan may follow.
        const ScanOptions& options = GetScanOptions();
        partition.m_u32EvidenceFlags &= ~std::uint32_t(FATEVIDENCE_BOTH_FATS);
        if (options.UseFirstFatCopy)
            partition.m_u32EvidenceFlags |= FATEVIDENCE_FIRST_FAT_SEEN | FATEVIDENCE_USE_FIRST_FAT;
        if (options.UseSecondFatCopy)
            partition.m_u32EvidenceFlags |= FATEVIDENCE_SECOND_FAT_SEEN | FATEVIDENCE_USE_SECOND_FAT;
        return BuildFatFileTree(cb, &partition, nullptr, device, takeAll ? 1 : 0);
    }
    default:
        return nullptr;
    }
}
