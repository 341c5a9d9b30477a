#include "app/wizard/DeviceSource.h"

#include "storage/DeviceList.h"

void CEnumerationDeviceSource::CollectDisks(DiskList& disks) {
    int refused = 0;
    ::CollectDisks(disks, &refused);
    m_needRights = disks.empty() && refused > 0;
}

void CEnumerationDeviceSource::CollectVolumes(VolumeList& volumes, DiskList& disks) {
    CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(volumes, disks);
}

void CEnumerationDeviceSource::FreeVolumes(VolumeList& volumes) { FreeVolumeRecords(volumes); }

void CEnumerationDeviceSource::FreeDisks(DiskList& disks) { DeleteDeviceList(disks); }
