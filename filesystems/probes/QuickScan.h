#pragma once
// One way to run the quick scan of a volume, NTFS or FAT, wherever it lies: on a partition
// device (first sector 0) or on a disk at the partition's first sector.
#include "filesystems/FileNode.h"

#include <cstdint>

class IDIRBuildCallback;
class IStorageDevice;

// Reads the boot sector at `firstSector` of `device`, picks the NTFS or FAT quick scan by it
// and runs that scan on a worker thread (waiting through platform::WaitForWorker). The tree's
// file-system information is relative to `device`, so recovery reads from the same device.
// `takeAll` is the FAT scan's take-all mode; the FAT scan follows the FAT copies that the scan
// options allow (UseFirstFatCopy, UseSecondFatCopy; the second only when the first is unusable).
// Null when the sector is neither file system's, on cancel, or when the scan found nothing.
FileTreePtr QuickScanVolume(IStorageDevice* device, std::uint64_t firstSector,
                            IDIRBuildCallback* callback, bool takeAll = true);
