#include "storage/DynamicDisk.h"

#include "storage/DeviceList.h"
#include "storage/PartitionTable.h"
#include "storage/VolumeNames.h"
#include "storage/VolumeProbe.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kMaxConfigSectors = 2048;

bool ReadOneSector(IStorageDevice* disk, std::uint64_t sector, std::uint8_t* out) {
    return disk && disk->ReadSectors(out, sector, 1) == 1;
}

std::unique_ptr<IDynamicDevice> CreatePlex(const LdmComponentRecord& component, const DynamicVolumeInfo& info,
                                           const std::vector<DynamicMember>& members) {
    switch (component.componentType) {
    case 1:
        return CreateStripedVolumeDevice(DYNAMIC_VOLUME_MIRROR, info, members);
    case 2:
        if (component.partitionCount > 1)
            return CreateSpannedVolumeDevice(DYNAMIC_VOLUME_MIRROR, info, members);
        return CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, info, members);
    default:
        return nullptr;
    }
}

// Chooses the device for a complete volume by its kind and its components.
std::unique_ptr<IDynamicDevice> CreateVolumeDevice(const LdmDatabase& db, const LdmVolumeRecord& volume,
                                                   DynamicVolumeInfo info,
                                                   const std::vector<DynamicMember>& listA,
                                                   const std::vector<DynamicMember>& listB) {
    const LdmComponentRecord& first = db.components[volume.components.front()];
    int typeCode = 0;
    if (volume.volumeKind == 4) {
        typeCode = DYNAMIC_VOLUME_RAID5;
    } else if (volume.componentCount > 1) {
        typeCode = DYNAMIC_VOLUME_MIRROR;
    } else if (first.componentType == 1) {
        typeCode = DYNAMIC_VOLUME_STRIPED;
    } else if (first.componentType == 2) {
        typeCode = first.partitionCount > 1 ? DYNAMIC_VOLUME_SPANNED : DYNAMIC_VOLUME_SIMPLE;
    } else if (first.componentType == 3) {
        typeCode = DYNAMIC_VOLUME_RAID5;
    } else {
        return nullptr;
    }
    DetectVolumeFileSystem(listA, volume.partitionType, info);
    ComputeVolumeSize(info, listA, typeCode);

    switch (typeCode) {
    case DYNAMIC_VOLUME_MIRROR: {
        std::unique_ptr<IDynamicDevice> plexB;
        if (volume.components.size() > 1)
            plexB = CreatePlex(db.components[volume.components[1]], info, listB);
        return CreateMirrorVolumeDevice(info, CreatePlex(first, info, listA), std::move(plexB));
    }
    case DYNAMIC_VOLUME_STRIPED:
        return CreateStripedVolumeDevice(typeCode, info, listA);
    case DYNAMIC_VOLUME_SPANNED:
        return CreateSpannedVolumeDevice(typeCode, info, listA);
    case DYNAMIC_VOLUME_SIMPLE:
        return CreateSimpleVolumeDevice(typeCode, info, listA);
    default:
        return CreateRaid5VolumeDevice(info, listA);
    }
}

} // namespace

int FindPrivHead(IStorageDevice* disk, LdmPrivHead& out) {
    if (!disk)
        return 0;
    const std::uint64_t count = disk->GetSectorCount();
    std::uint8_t sector[kSectorSize];
    const std::uint64_t places[] = {count - 1, 6, 2081};
    for (std::uint64_t place : places) {
        if (count == 0 && place == places[0])
            continue;
        if (ReadOneSector(disk, place, sector) && ParsePrivHead(sector, sizeof sector, out))
            return 1;
    }
    // On a GPT disk the header is the last sector of the LDM metadata partition.
    GptPartitionRecord metadata;
    if (FindGptLdmMetadata(disk, &metadata) && metadata.lastLba >= metadata.firstLba &&
        metadata.lastLba < count && ReadOneSector(disk, metadata.lastLba, sector) &&
        ParsePrivHead(sector, sizeof sector, out))
        return 1;
    return 0;
}

bool ReadLdmConfig(IStorageDevice* disk, const LdmPrivHead& head, LdmDatabase& db) {
    // The area runs to two sectors before the end of the disk; a start past that wraps around
    // and reads the largest area, which the disk clips or refuses.
    std::uint64_t count = disk->GetSectorCount() - head.configStart - 2;
    count = std::min(count, kMaxConfigSectors);
    if (count == 0)
        return true;
    std::vector<std::uint8_t> area(count * kSectorSize);
    if (disk->ReadSectors(area.data(), head.configStart, count) != 1)
        return false;
    db = BuildLdmDatabase(area.data(), area.size());
    return true;
}

int ReadLdmDatabase(IStorageDevice* disk, const std::vector<IStorageDevice*>& candidates,
                    std::vector<DynamicVolumeEntry>& out) {
    LdmPrivHead head;
    if (!FindPrivHead(disk, head))
        return 0;
    LdmDatabase db;
    if (ReadLdmConfig(disk, head, db))
        BuildDynamicVolumes(candidates, head, db, out);
    return 1;
}

int CollectDynamicVolumes(const std::vector<IStorageDevice*>& disks, std::vector<DynamicVolumeEntry>& out) {
    std::vector<IStorageDevice*> candidates;
    for (IStorageDevice* disk : disks)
        if (disk)
            candidates.push_back(disk);
    for (IStorageDevice* disk : candidates)
        ReadLdmDatabase(disk, candidates, out);
    return static_cast<int>(out.size());
}

IStorageDevice* FindDiskByGuid(const std::vector<IStorageDevice*>& candidates, const std::string& guid) {
    for (IStorageDevice* disk : candidates) {
        LdmPrivHead head;
        if (FindPrivHead(disk, head) && head.diskId == guid)
            return disk;
    }
    return nullptr;
}

void SortMembers(std::vector<DynamicMember>& members) {
    std::stable_sort(members.begin(), members.end(), [](const DynamicMember& a, const DynamicMember& b) {
        if (a.columnIndex != b.columnIndex)
            return a.columnIndex < b.columnIndex;
        return a.volumeOffset < b.volumeOffset;
    });
}

std::vector<DynamicMember> BuildMemberList(const LdmDatabase& db, const LdmComponentRecord& component,
                                           const std::vector<IStorageDevice*>& candidates) {
    std::vector<DynamicMember> members;
    for (std::size_t pi : component.partitions) {
        if (members.size() >= component.partitionCount)
            break;
        const LdmPartitionRecord& part = db.partitions[pi];
        DynamicMember m;
        m.columnIndex = static_cast<std::uint32_t>(part.columnIndex);
        if (part.disk != kNoDiskRecord)
            m.diskGuid = db.disks[part.disk].diskGuid;
        m.disk = FindDiskByGuid(candidates, m.diskGuid);
        LdmPrivHead head;
        const std::uint64_t logicalStart = (m.disk && FindPrivHead(m.disk, head)) ? head.logicalDiskStart : 0;
        m.startSector = part.startSector + logicalStart;
        m.volumeOffset = part.volumeOffset;
        m.sectorCount = part.sizeInSectors;
        members.push_back(std::move(m));
    }
    SortMembers(members);
    return members;
}

void BuildDynamicVolumes(const std::vector<IStorageDevice*>& candidates, const LdmPrivHead& head,
                         const LdmDatabase& db, std::vector<DynamicVolumeEntry>& out) {
    for (const LdmVolumeRecord& volume : db.volumes) {
        if (!IsVolumeComplete(db, volume))
            continue;
        DynamicVolumeInfo info;
        info.groupName = head.groupName;
        info.volumeName = volume.name;
        info.fileSystemType = volume.partitionType;
        info.sectorCount = volume.sizeInSectors;

        const std::vector<DynamicMember> listA =
            BuildMemberList(db, db.components[volume.components[0]], candidates);
        std::vector<DynamicMember> listB;
        if (volume.components.size() > 1)
            listB = BuildMemberList(db, db.components[volume.components[1]], candidates);

        std::unique_ptr<IDynamicDevice> device = CreateVolumeDevice(db, volume, info, listA, listB);
        if (!device)
            continue;
        const bool known = std::any_of(out.begin(), out.end(), [&](const DynamicVolumeEntry& e) {
            return e.device.get() == device.get() || device->IsSameVolume(e.device.get()) == 1;
        });
        if (!known)
            AddDynamicVolumeEntry(std::move(device), volume, out);
    }
}

std::uint32_t MapPartitionTypeToFileSystem(std::uint8_t partitionType) {
    switch (partitionType) {
    case 0x01: case 0x11:
        return FILESYSTEM_FAT12;
    case 0x04: case 0x06: case 0x0E: case 0x14: case 0x16: case 0x1E:
        return FILESYSTEM_FAT16;
    case 0x0B: case 0x0C: case 0x1B:
        return FILESYSTEM_FAT32;
    case 0x07: case 0x17:
        return FILESYSTEM_NTFS;
    case 0x82: case 0x83: case 0x85: case 0x8E: case 0x92: case 0x93:
        return FILESYSTEM_EXT2;
    default:
        return FILESYSTEM_UNKNOWN;
    }
}

void DetectVolumeFileSystem(const std::vector<DynamicMember>& members, std::uint8_t partitionType,
                            DynamicVolumeInfo& info) {
    info.fileSystemType = MapPartitionTypeToFileSystem(partitionType);
    if (members.empty())
        return;
    std::uint8_t sector[kSectorSize];
    if (!ReadOneSector(members.front().disk, members.front().startSector, sector))
        return;
    const std::uint32_t found = ClassifyBootSector(sector, sizeof sector);
    if (found != FILESYSTEM_UNKNOWN)
        info.fileSystemType = found;
}

void ComputeVolumeSize(DynamicVolumeInfo& info, const std::vector<DynamicMember>& members, int typeCode) {
    if (members.empty())
        return;
    const bool allPresent = std::all_of(members.begin(), members.end(), [](const DynamicMember& m) {
        return m.disk && m.disk->GetSectorCount() >= m.sectorCount;
    });
    if (allPresent) {
        std::uint64_t sum = 0;
        for (const DynamicMember& m : members)
            sum += m.sectorCount;
        if (typeCode == DYNAMIC_VOLUME_RAID5) {
            const std::uint64_t n = members.size();
            sum = static_cast<std::uint64_t>(static_cast<unsigned __int128>(sum) * (n - 1) / n);
        }
        info.sectorCount = sum;
        return;
    }
    // A member is missing: the file system at the volume's start says how large it is.
    const DynamicMember& first = members.front();
    std::uint8_t sector[kSectorSize];
    if (!ReadOneSector(first.disk, first.startSector, sector))
        return;
    VolumeProbeResult probe;
    ProbeVolume(first.disk, first.startSector, probe);
    const bool fatInfo = info.fileSystemType <= FILESYSTEM_FAT32;
    const bool fatFound = probe.fileSystemType <= FILESYSTEM_FAT32;
    if (fatInfo && fatFound)
        info.sectorCount = probe.totalSectors;
    else if (probe.fileSystemType == FILESYSTEM_NTFS)
        info.sectorCount = probe.totalSectors + 1;  // the backup boot sector follows the file system
    else
        info.sectorCount = 1;
}

void AddDynamicVolumeEntry(std::unique_ptr<IDynamicDevice> device, const LdmVolumeRecord& volume,
                           std::vector<DynamicVolumeEntry>& out) {
    DynamicVolumeEntry entry;
    entry.sectorCount = device->GetSectorCount();
    // Letters only for volumes whose every member lies on a disk that is dynamic.
    std::vector<const DynamicMember*> members;
    device->GetMembers(members);
    const bool allDynamic = std::all_of(members.begin(), members.end(), [](const DynamicMember* m) {
        return IsDynamicDiskDevice(m->disk) == 1;
    });
    if (allDynamic) {
        entry.driveLetter = device->GetDriveLetter();
        if (!entry.driveLetter)
            entry.driveLetter = GetVolumeGuidDriveLetter(volume.volumeGuid);
    }
    entry.fileSystemType = device->GetFileSystemType();
    // What the probes find on the volume itself wins over the partition type.
    VolumeProbeList probes;
    CreateVolumeAnalyzersThroughHook(probes, device.get(), 0);
    if (IVolume* probe = FindVolumeAnalyzer(probes)) {
        entry.fileSystemType = probe->GetFileSystemType();
        if (entry.fileSystemType <= FILESYSTEM_NTFS) {
            char label[kVolumeLabelSize] = {};
            probe->GetVolumeLabel(label, kVolumeLabelSize);
            label[kVolumeLabelSize - 1] = '\0';
            entry.label = label;
        }
    }
    DeleteDeviceList(probes);
    const int type = device->GetVolumeType();
    entry.typeName = (type < 2 || type > 6) ? "UNKNOWN" : GetDynamicVolumeTypeName(type - 2);
    entry.device = std::move(device);
    out.push_back(std::move(entry));
}

int IsDynamicDiskDevice(IStorageDevice* disk) { return IsDynamicDisk(disk) ? 1 : 0; }
