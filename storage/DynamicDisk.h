#pragma once
// Reads the dynamic-disk database of each physical disk and turns every complete volume in it
// into a dynamic volume device. Only reads; nothing is written to any disk.
#include "storage/DynamicVolumeDevice.h"
#include "storage/FileSystemType.h"
#include "storage/LdmDatabase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One dynamic volume found; the entry owns its device.
struct DynamicVolumeEntry {
    std::uint64_t sectorCount = 0;
    std::string typeName;  // "SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5" or "UNKNOWN"
    std::uint32_t fileSystemType = FILESYSTEM_UNKNOWN;
    std::string label;     // at most 99 bytes
    char driveLetter = 0;
    std::unique_ptr<IDynamicDevice> device;
};

// Reads the database of every disk of `disks` (null entries are passed over) and appends one
// entry per distinct complete volume. Returns the number of entries in `out`.
int CollectDynamicVolumes(const std::vector<IStorageDevice*>& disks, std::vector<DynamicVolumeEntry>& out);
// One disk's pass; `candidates` are the disks that member GUIDs are looked up in. Returns 1
// when the disk has a private header.
int ReadLdmDatabase(IStorageDevice* disk, const std::vector<IStorageDevice*>& candidates,
                    std::vector<DynamicVolumeEntry>& out);
// Looks for the private header in the disk's last sector, then sector 6, then sector 2081, then
// (GPT) the last sector of the LDM metadata partition.
int FindPrivHead(IStorageDevice* disk, LdmPrivHead& out);
// Reads the configuration area (at most 2048 sectors) and decodes and links its records.
// Returns false when the area could not be read.
bool ReadLdmConfig(IStorageDevice* disk, const LdmPrivHead& head, LdmDatabase& db);
void BuildDynamicVolumes(const std::vector<IStorageDevice*>& candidates, const LdmPrivHead& head,
                         const LdmDatabase& db, std::vector<DynamicVolumeEntry>& out);

// Members of one component, at most its partition count, sorted by (column, volume offset).
std::vector<DynamicMember> BuildMemberList(const LdmDatabase& db, const LdmComponentRecord& component,
                                           const std::vector<IStorageDevice*>& candidates);
void SortMembers(std::vector<DynamicMember>& members);
// The first candidate whose private header carries `guid`, or null.
IStorageDevice* FindDiskByGuid(const std::vector<IStorageDevice*>& candidates, const std::string& guid);

std::uint32_t MapPartitionTypeToFileSystem(std::uint8_t partitionType);
// Sets info.fileSystemType from the partition type and, when it is recognised, the boot sector
// at the first member's start.
void DetectVolumeFileSystem(const std::vector<DynamicMember>& members, std::uint8_t partitionType,
                            DynamicVolumeInfo& info);
void ComputeVolumeSize(DynamicVolumeInfo& info, const std::vector<DynamicMember>& members, int typeCode);
void AddDynamicVolumeEntry(std::unique_ptr<IDynamicDevice> device, const LdmVolumeRecord& volume,
                           std::vector<DynamicVolumeEntry>& out);
// 1 when the disk is dynamic (IsDynamicDisk): an MBR entry of type 0x42, or LDM partitions in
// its GPT.
int IsDynamicDiskDevice(IStorageDevice* disk);
