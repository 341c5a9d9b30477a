#pragma once
// The quick scan of a volume, whatever its file system (see FileSystems.h): on a partition
// device (first sector 0) or on a disk at the partition's first sector.
#include "filesystems/FileNode.h"

#include <cstdint>

class IDIRBuildCallback;
class IStorageDevice;

// Reads the boot sector at `firstSector` of `device`, picks the quick scan of the file system
// told by it (NTFS or FAT) and runs that scan on a worker thread (waiting through
// platform::WaitForWorker). The tree's file-system information is relative to `device`, so
// recovery reads from the same device. `takeAll` is the FAT scan's take-all mode; the FAT scan
// follows the FAT copies that the scan options allow (UseFirstFatCopy, UseSecondFatCopy; the
// second only when the first is unusable). Null when the sector is no file system's boot
// sector, on cancel, or when the scan found nothing.
FileTreePtr QuickScanVolume(IStorageDevice* device, std::uint64_t firstSector,
                            IDIRBuildCallback* callback, bool takeAll = true);

// Whether QuickScanRecordedVolume can scan a volume recorded under `fileSystemType`.
bool CanQuickScanFileSystemType(std::uint32_t fileSystemType);
// The quick scan of the volume that fills `device` and is recorded (in a volume list or a
// partition table) under `fileSystemType`: a file system told by its boot sector is scanned
// as the boot sector at sector 0 says (QuickScanVolume, take-all mode), the others as recorded.
// Null for a type no file system has, on cancel, or when the scan found nothing.
FileTreePtr QuickScanRecordedVolume(IStorageDevice* device, std::uint32_t fileSystemType,
                                    IDIRBuildCallback* callback);
