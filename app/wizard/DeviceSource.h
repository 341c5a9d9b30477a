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
    // True when the last CollectDisks found no disk only because the user may not read any:
    // at least one disk refused to open for lack of rights and none opened.
    virtual bool DisksNeedRights() const { return false; }
};

// The machine's disks and volumes through the storage enumeration.
class CEnumerationDeviceSource : public IDeviceSource {
public:
    void CollectDisks(DiskList& disks) override;
    void CollectVolumes(VolumeList& volumes, DiskList& disks) override;
    void FreeVolumes(VolumeList& volumes) override;
    void FreeDisks(DiskList& disks) override;
    bool DisksNeedRights() const override { return m_needRights; }

private:
    bool m_needRights = false;
};
