#pragma once
// Where the wizard gets its disks and volumes: the machine's enumeration, or a test's images.
#include "storage/VolumeEnumeration.h"

class IDeviceSource {
public:
    virtual ~IDeviceSource() = default;
    // The disks (the caller frees them with FreeDisks).
    virtual void CollectDisks(DiskList& disks) = 0;
    // The volumes of the disks (freed with FreeVolumes before the disks).
    virtual void CollectVolumes(VolumeList& volumes, DiskList& disks) = 0;
    virtual void FreeVolumes(VolumeList& volumes) = 0;
    virtual void FreeDisks(DiskList& disks) = 0;
};

// The machine's disks and volumes through the storage enumeration.
class CEnumerationDeviceSource : public IDeviceSource {
public:
    void CollectDisks(DiskList& disks) override;
    void CollectVolumes(VolumeList& volumes, DiskList& disks) override;
    void FreeVolumes(VolumeList& volumes) override;
    void FreeDisks(DiskList& disks) override;
};
