#pragma once
// Sector devices over the volumes of Windows dynamic disks: simple, spanned, striped, mirrored
// and RAID-5. Each presents the volume as one device of 512-byte sectors built from extents
// ("members") on the physical disks; the disks are not owned and must outlive the device.
#include "storage/StorageDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the dynamic-disk database says about one volume.
struct DynamicVolumeInfo {
    std::string groupName;   // disk group name, at most 32 bytes
    std::string volumeName;  // at most 127 bytes
    std::uint32_t fileSystemType = 7;
    std::uint64_t sectorCount = 0;
};

// One extent of a volume on a physical disk.
struct DynamicMember {
    std::uint32_t columnIndex = 0;
    std::string diskGuid;              // GUID text of the disk that holds the extent
    std::uint64_t startSector = 0;     // on the physical disk
    std::uint64_t volumeOffset = 0;    // where the extent begins in the volume
    std::uint64_t sectorCount = 0;
    IStorageDevice* disk = nullptr;    // not owned; null when no disk carries that GUID

    bool operator==(const DynamicMember& o) const {
        return sectorCount == o.sectorCount && startSector == o.startSector &&
               volumeOffset == o.volumeOffset && disk == o.disk && diskGuid == o.diskGuid;
    }
};

// Volume type codes.
enum : int {
    DYNAMIC_VOLUME_SIMPLE = 2,
    DYNAMIC_VOLUME_MIRROR = 3,
    DYNAMIC_VOLUME_SPANNED = 4,
    DYNAMIC_VOLUME_STRIPED = 5,
    DYNAMIC_VOLUME_RAID5 = 6,
};

class IDynamicDevice : public IStorageDevice {
public:
    // 1 when `other` has the same type and holds every member of this volume.
    virtual int IsSameVolume(IDynamicDevice* other) = 0;
    virtual int GetVolumeType() = 0;
    virtual std::uint32_t GetFileSystemType() = 0;
    // Appends pointers to this volume's member records (a mirror: those of its plexes).
    virtual void GetMembers(std::vector<const DynamicMember*>& members) = 0;
    // The drive letter the system gave this volume, 0 when none.
    virtual char GetDriveLetter() = 0;
};

constexpr std::uint32_t kDynamicStripeSectors = 128;
constexpr std::uint32_t kMirrorChunkSectors = 63;

// Factories; each copies the info and the members and returns null when the members cannot make
// that kind of volume. `typeCode` is kept as given (3 for a plex inside a mirror).
std::unique_ptr<IDynamicDevice> CreateSimpleVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                         const std::vector<DynamicMember>& members);
std::unique_ptr<IDynamicDevice> CreateSpannedVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                          const std::vector<DynamicMember>& members);
std::unique_ptr<IDynamicDevice> CreateStripedVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                          const std::vector<DynamicMember>& members);
// Needs at least two members, of which at most one may lack its disk.
std::unique_ptr<IDynamicDevice> CreateRaid5VolumeDevice(const DynamicVolumeInfo& info,
                                                        const std::vector<DynamicMember>& members);
// Keeps the non-null plexes in the order a, b; null when both are null.
std::unique_ptr<IDynamicDevice> CreateMirrorVolumeDevice(const DynamicVolumeInfo& info,
                                                         std::unique_ptr<IDynamicDevice> a,
                                                         std::unique_ptr<IDynamicDevice> b);
