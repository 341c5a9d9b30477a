#pragma once
// The file systems the suite reads, one descriptor each, in one list (kFileSystems in
// FileSystems.cpp). Everything that picks code by a file system's id (the quick scans of the
// wizard, the scan-state store's search controllers, found partitions and file properties)
// looks the id up here.
//
// Adding a file system: its own folder under filesystems/ (structures, quick scan, search
// controller, trees), a descriptor for it in FileSystems.cpp and its entry in kFileSystems.
#include "filesystems/FileNode.h"

#include <cstdint>
#include <span>

class CSearchedPartitionInfo;
class IDIRBuildCallback;
class IFileProperties;
class IFileSystemSearchController;
class IStorageDevice;

struct FileSystemDescriptor {
    const char* name;
    // The ids (FileSystemType) its volumes are recorded under.
    std::span<const std::uint32_t> types;
    // The kinds the scan-state store keys its objects on, and their makers.
    std::uint32_t searchControllerKind;  // SearchControllerKind
    std::uint32_t searchedPartitionKind; // SearchedPartitionKind
    std::uint32_t filePropertiesKind;    // FilePropertiesKind
    IFileSystemSearchController* (*newSearchController)();
    CSearchedPartitionInfo* (*newSearchedPartition)();
    IFileProperties* (*newFileProperties)();
    // How its volume is told and scanned. A file system told by its boot sector scans the
    // volume whose boot sector (`sector`, 512 bytes) lies at `firstSector` of `device`
    // (`takeAll`: the FAT scan's take-all mode); the quick scan of a volume recorded under
    // such a file system reads the boot sector again and scans as it says. One told by its
    // recorded type scans the volume that fills `device`; null for the other way.
    FileTreePtr (*scanAtBootSector)(IStorageDevice* device, std::uint64_t firstSector,
                                    const std::uint8_t* sector, IDIRBuildCallback* callback,
                                    bool takeAll);
    FileTreePtr (*scanRecordedVolume)(IStorageDevice* device, IDIRBuildCallback* callback);
};

// Every file system, in the list's order.
std::span<const FileSystemDescriptor* const> FileSystems();
// The file system a volume of `fileSystemType` belongs to; null for RAW, unknown ids.
const FileSystemDescriptor* FindFileSystemByType(std::uint32_t fileSystemType);
const FileSystemDescriptor* FindFileSystemBySearchController(std::uint32_t kind);
const FileSystemDescriptor* FindFileSystemBySearchedPartition(std::uint32_t kind);
const FileSystemDescriptor* FindFileSystemByFileProperties(std::uint32_t kind);
