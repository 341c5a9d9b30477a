#include "filesystems/probes/QuickScan.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/probes/FileSystems.h"
#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/StorageDevice.h"

FileTreePtr QuickScanVolume(IStorageDevice* device, std::uint64_t firstSector,
                            IDIRBuildCallback* callback, bool takeAll) {
    if (!device)
        return nullptr;
    std::uint8_t sector[kSectorSize];
    if (device->ReadSectors(sector, firstSector, 1) != 1)
        return nullptr;
    CNullDirBuildCallback quiet;
    IDIRBuildCallback* cb = callback ? callback : &quiet;
    const FileSystemDescriptor* fs =
        FindFileSystemByType(ClassifyFileSystemBootSector(sector, sizeof sector));
    if (!fs || !fs->scanAtBootSector)
        return nullptr;
    return fs->scanAtBootSector(device, firstSector, sector, cb, takeAll);
}

bool CanQuickScanFileSystemType(std::uint32_t fileSystemType) {
    return FindFileSystemByType(fileSystemType) != nullptr;
}

FileTreePtr QuickScanRecordedVolume(IStorageDevice* device, std::uint32_t fileSystemType,
                                    IDIRBuildCallback* callback) {
    const FileSystemDescriptor* fs = FindFileSystemByType(fileSystemType);
    if (!device || !fs)
        return nullptr;
    if (fs->scanRecordedVolume)
        return fs->scanRecordedVolume(device, callback);
    return QuickScanVolume(device, 0, callback, true);
}
