#pragma once
// The machine's disks and, from them, every volume that can be read: the partitions of basic
// disks, the volumes of dynamic disks and the floppy drives A: and B:. Every step writes a table
// to the activity log and its elapsed time to the debug output.
#include "storage/StorageDevice.h"
#include "storage/VolumeNames.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

constexpr int kMaxMemberExtents = 32;
constexpr std::size_t kVolumeRecordLabelSize = 100;
constexpr std::size_t kParentDiskTextSize = 512;

// Where a volume lies on a physical disk.
struct MemberExtent {
    std::uint64_t u64FirstSector = 0;
    std::uint64_t u64SectorCount = 0;
    IStorageDevice* pDisk = nullptr;  // null: unused (ends the array)
};

// One item of the volume list. The device is read through pStorageDevice; a record that owns
// its device (every record built here: a CBasicPartitionDevice, a dynamic volume device or, for
// floppies, a CVolumeDevice; and every opened image) holds it in ownedDevice as well, and one
// that only points at a device leaves ownedDevice empty. Pointers are never stored in files as
// pointers; whoever saves a record writes it field by field.
struct VolumeRecord {
    std::uint32_t form = 0;  // 0 volume from enumeration, 1 opened disk image
    IStorageDevice* pStorageDevice = nullptr;
    std::uint32_t isDynamic = 0;
    std::uint32_t fileSystemType = 7;
    char cDriveLetter = 0;
    char szVolumeLabel[kVolumeRecordLabelSize] = {};
    std::uint32_t isFloppy = 0;
    std::uint32_t isUsb = 0;
    MemberExtent members[kMaxMemberExtents] = {};
    char szParentDisk[kParentDiskTextSize] = {};
    // Form 1 (an opened disk image; pStorageDevice is the image device): the wizard's id of
    // the image, its display name, its sector count and the path of its ".edi" file.
    std::uint32_t u32ImageId = 0;
    char szImageDisplayName[260] = {};
    std::uint64_t u64ImageSectorCount = 0;
    char szImagePath[260] = {};
    // The device this record owns (pStorageDevice points at it), or empty.
    std::unique_ptr<IStorageDevice> ownedDevice;

    // The record owns `device` from now on and reads through it.
    void AdoptDevice(std::unique_ptr<IStorageDevice> device) {
        pStorageDevice = device.get();
        ownedDevice = std::move(device);
    }
};

using DiskList = std::vector<IStorageDevice*>;
// The list owns its records (and with them the devices they own).
using VolumeList = std::vector<std::unique_ptr<VolumeRecord>>;

// Opens the physical disks 0 to 31 and keeps those that open and are at most 12 TiB. The list
// owns the disks (free them with DeleteDeviceList); it must outlive every volume list made
// from it. `refused`, when given, gets the number of disks that would not open for lack of
// rights (the user may not read them).
void CollectDisks(DiskList& diskList, int* refused = nullptr);

class CCollectAllBasicPartitionandDynamicVolume {
public:
    // Builds the volume list from the disks (basic volumes, dynamic volumes, floppies, then the
    // sort); does nothing when the disk list is empty.
    void CollectAllBasicPartitionandDynamicVolume(VolumeList& volumeList, DiskList& diskList);
    // Lettered volumes A to Z, then the others in the order they were collected.
    void sort(VolumeList& volumeList);
};

class CCollectFloppyDiskDevice {
public:
    // A: then B:, stopping at the first letter that is no floppy drive.
    void CollectFloppyDiskDevice(VolumeList& volumeList);
};

void CollectBasicVolumes(DiskList& diskList, VolumeList& volumeList);
void CollectDynamicVolumeRecords(DiskList& diskList, VolumeList& volumeList);

// Frees every record and the device it owns, and empties the list.
void FreeVolumeRecords(VolumeList& volumeList);
// True when `record` is one of the list's records.
bool VolumeListHolds(const VolumeList& volumeList, const VolumeRecord* record);
// The first record with that drive letter, or null.
VolumeRecord* FindVolumeByDriveLetter(const VolumeList& volumeList, char letter);
// True when an extent of a and an extent of b lie on the same disk and overlap.
bool VolumesOverlap(const VolumeRecord* a, const VolumeRecord* b);
// "vendor  product  bus" (or "product  bus"), at most 49 characters; "" for a device that is no
// physical disk.
std::string DiskDescriptionText(IStorageDevice* disk);

// Writes "<name> dwElapsedTime <ms> \n" to the debug output when it goes out of scope.
class LogElapsedTime {
public:
    explicit LogElapsedTime(const char* name);
    ~LogElapsedTime();
    LogElapsedTime(const LogElapsedTime&) = delete;
    LogElapsedTime& operator=(const LogElapsedTime&) = delete;

private:
    const char* m_name;
    std::uint32_t m_start;
};

// printf into a 256-byte buffer (cut when longer).
std::string FormatText256(const char* format, ...) __attribute__((format(printf, 1, 2)));
