#pragma once
// Partition tables of basic disks: MBR with its extended chains, GPT, and a file system written
// straight onto a disk. Every usable partition becomes a PartitionEntry with a window device
// over the disk and what the volume probes say of it. Also the drive letters of partitions.
#include "storage/FileSystemType.h"
#include "storage/StorageDevice.h"
#include "storage/VolumeProbe.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CBasicPartitionDevice;

struct PartitionEntry {
    PartitionEntry();
    ~PartitionEntry();
    PartitionEntry(const PartitionEntry&) = delete;
    PartitionEntry& operator=(const PartitionEntry&) = delete;

    std::uint64_t u64FirstSector = 0;
    std::uint64_t u64SectorCount = 0;
    char szVolumeLabel[kVolumeLabelSize] = {};
    char cDriveLetter = 0;
    std::uint32_t fileSystemType = FILESYSTEM_UNKNOWN;
    // Owned by the entry until someone takes it over with release().
    std::unique_ptr<CBasicPartitionDevice> pPartitionDevice;
};

// The partitions of one disk in the order in which they were found.
using PartitionList = std::vector<std::unique_ptr<PartitionEntry>>;

// One 16-byte entry of an MBR or EBR.
struct MbrPartitionRecord {
    std::uint8_t bootFlag = 0;
    std::uint8_t type = 0;
    std::uint32_t firstSector = 0; // relative to the table's base
    std::uint32_t sectorCount = 0;
    bool empty = true;             // all 16 bytes zero
};

constexpr std::uint8_t kPartitionTypeExtendedChs = 0x05;
constexpr std::uint8_t kPartitionTypeExtendedLba = 0x0F;
constexpr std::uint8_t kPartitionTypeDynamic = 0x42;
constexpr std::uint8_t kPartitionTypeGptProtective = 0xEE;

// Parses the four entries of a 512-byte MBR or EBR. Returns true when the sector is a valid
// table: it ends in 0x55 0xAA and every boot flag is 0x00 or 0x80.
bool ParseMbrTable(const std::uint8_t* sector, std::size_t size, MbrPartitionRecord entries[4]);

// One 128-byte GPT partition entry.
struct GptPartitionRecord {
    std::uint8_t typeGuid[16] = {};
    std::uint64_t firstLba = 0;
    std::uint64_t lastLba = 0; // inclusive
};
constexpr std::size_t kGptEntrySize = 128;
constexpr std::size_t kGptEntryCount = 128;
constexpr std::uint64_t kGptEntryArraySector = 2;
constexpr std::uint64_t kGptEntryArraySectors = kGptEntryCount * kGptEntrySize / kSectorSize;

bool ParseGptEntry(const std::uint8_t* bytes, std::size_t size, GptPartitionRecord& entry);
// Upper-case GUID text: the first three fields little-endian, then the last eight bytes.
std::string FormatGuid(const std::uint8_t guid[16]);
bool IsKnownGptType(const GptPartitionRecord& entry);
// GPT types of a dynamic disk's database and data, and of the Microsoft reserved partition.
inline constexpr char kGptTypeLdmMetadata[] = "5808C8AA-7E8F-42E0-85D2-E1E90434CFB3";
inline constexpr char kGptTypeLdmData[] = "AF9B60A0-1431-4F62-BC68-3311714A69AD";
inline constexpr char kGptTypeMicrosoftReserved[] = "E3C9E316-0B5C-4DB8-817D-F92DF00215AE";
bool IsGptTypeOf(const GptPartitionRecord& entry, const char* type);
// The reserved partition and the two dynamic-disk types never hold a volume of their own.
bool IsNonVolumeGptType(const GptPartitionRecord& entry);
// Reads the GPT entry array; true with *metadata set when it holds an LDM metadata partition.
// *anyLdm (when given) says whether any entry is LDM metadata or LDM data, or the first entry
// is named "LDM metadata partition".
bool FindGptLdmMetadata(IStorageDevice* disk, GptPartitionRecord* metadata, bool* anyLdm = nullptr);

// A dynamic disk: sector 0 is a valid table with an entry of type 0x42, or the GPT entry array
// holds LDM metadata or LDM data partitions.
bool IsDynamicDisk(IStorageDevice* disk);
// Sector 0 ends in 0x55 0xAA and its first entry has type 0xEE.
bool IsGptDisk(IStorageDevice* disk);

// Appends the partitions of the GPT entry array (sectors 2 to 33) whose type is known, except
// the reserved and dynamic-disk types (IsNonVolumeGptType).
// Returns the list's size afterwards, 0 when the array cannot be read.
std::size_t ReadGptPartitions(IStorageDevice* disk, PartitionList& list);
// Appends one entry when sector 0 itself starts a file system a probe recognises. Returns 1
// when an entry was added.
int ReadWholeDiskVolume(IStorageDevice* disk, PartitionList& list);
// Appends the primary partitions of the MBR and the logical ones of its extended chains.
bool ReadMbrPartitions(IStorageDevice* disk, PartitionList& list);
// Walks the chain of EBRs from `ebrSector` (the extended partition starts at `extendedStart`).
// Returns true when any partition was added.
bool ReadExtendedPartitions(IStorageDevice* disk, std::uint64_t extendedStart,
                            std::uint64_t ebrSector, PartitionList& list);
// Adds the partition of one MBR or EBR entry whose offsets are relative to `baseSector`.
bool AddPrimaryPartition(IStorageDevice* disk, const MbrPartitionRecord& entry,
                         std::uint64_t baseSector, PartitionList& list);

// The most logical partitions one extended chain may link before the walk gives up.
constexpr int kMaxExtendedLinks = 256;

// Drive letters. A partition is matched to the kernel's partition of the disk by its first
// sector (<sys>/block/<disk>/<partition>/start; a file system on the whole disk is the disk
// itself) and takes the drive letter of that block device (platform/DriveLetterAssignment.h),
// none when it is not mounted. `disk` must be an open CDiskDevice; for other devices nothing
// is assigned.
void AssignDriveLetters(IStorageDevice* disk, PartitionList& list);
// The same for the disk with this kernel name.
void AssignDriveLettersForDisk(const std::string& kernelName, PartitionList& list);

// Letters of dynamic volumes by their Windows device names: such names do not exist on this
// system, so there is never a letter (0).
char GetDynamicVolumeDriveLetter(const char* volumeName, const char* groupName);
char GetVolumeGuidDriveLetter(const std::uint8_t guid[16]);
