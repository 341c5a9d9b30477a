#include "storage/VolumeEnumeration.h"

#include "logging/Log.h"
#include "platform/DebugOutput.h"
#include "platform/DriveLetterAssignment.h"
#include "platform/DriveLetters.h"
#include "platform/SystemInfo.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DeviceList.h"
#include "storage/DiskDevice.h"
#include "storage/DynamicDisk.h"
#include "storage/PartitionTable.h"
#include "storage/VolumeDevice.h"
#include "storage/VolumeProbe.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int kDiskNumbersTried = 32;
// Disks and volumes larger than this (12 TiB) are left out.
constexpr std::uint64_t kMaxVolumeBytes = 3072ull << 32;
constexpr std::uint64_t kMaxVolumeSectors = kMaxVolumeBytes / kSectorSize;
constexpr std::uint32_t kBusUsb = 7;

const char kDashes[] =
    "----------------------------------------------------------------------------------------------------\r\n";

template <std::size_t N>
void CopyText(char (&field)[N], const char* text) {
    std::size_t n = text ? std::strlen(text) : 0;
    n = std::min(n, N - 1);
    if (n)
        std::memcpy(field, text, n);
    field[n] = '\0';
}

const char* FileSystemColumn(std::uint32_t type) { return GetFileSystemName(type); }

char LetterColumn(char letter) { return letter ? letter : '*'; }

int DiskNumber(IStorageDevice* disk) {
    auto* d = dynamic_cast<CDiskDevice*>(disk);
    return d ? d->GetDiskNumber() : -1;
}

bool IsUsbDisk(IStorageDevice* disk) {
    auto* d = dynamic_cast<CDiskDevice*>(disk);
    DiskDescriptor descriptor;
    return d && d->QueryDeviceDescriptor(&descriptor) && descriptor.busType == kBusUsb;
}

void AddBasicVolumeRecords(PartitionList& partitionList, IStorageDevice* disk, VolumeList& volumeList) {
    const std::string diskText = DiskDescriptionText(disk);
    const bool usb = IsUsbDisk(disk);
    for (auto& entry : partitionList) {
        if (!entry->pPartitionDevice)
            continue;
        auto record = std::make_unique<VolumeRecord>();
        CBasicPartitionDevice* device = entry->pPartitionDevice.get();
        record->AdoptDevice(std::move(entry->pPartitionDevice));
        record->fileSystemType = entry->fileSystemType;
        record->cDriveLetter = entry->cDriveLetter;
        CopyText(record->szVolumeLabel, entry->szVolumeLabel);
        record->isUsb = usb ? 1 : 0;
        record->members[0] = {device->GetStartSector(), device->GetSectorCount(), disk};
        CopyText(record->szParentDisk, diskText.c_str());
        const VolumeRecord* listed = volumeList.emplace_back(std::move(record)).get();
        LogInfo("%c  %16s  %16" PRId64 "  %16" PRId64 "  %16d  %20s\r\n", LetterColumn(listed->cDriveLetter),
                FileSystemColumn(listed->fileSystemType), static_cast<std::int64_t>(device->GetStartSector()),
                static_cast<std::int64_t>(device->GetSectorCount()), DiskNumber(disk), listed->szVolumeLabel);
    }
}

bool IsFloppyDriveLetter(char letter) {
    const std::string path = platform::GetDriveLetterPath(letter);
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name == "fd0" || name == "fd1";
}

} // namespace

std::string FormatText256(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

LogElapsedTime::LogElapsedTime(const char* name) : m_name(name), m_start(platform::GetTickCount()) {}

LogElapsedTime::~LogElapsedTime() {
    const std::uint32_t elapsed = platform::GetTickCount() - m_start;
    platform::DebugOutput(FormatText256("%s dwElapsedTime %u \n", m_name, elapsed).c_str());
}

std::string DiskDescriptionText(IStorageDevice* disk) {
    auto* d = dynamic_cast<CDiskDevice*>(disk);
    DiskDescriptor descriptor;
    if (!d || !d->QueryDeviceDescriptor(&descriptor))
        return {};
    // Whole: a loop device's product is its backing file's path, which may be long.
    std::string text;
    if (descriptor.vendor[0] && descriptor.vendor[0] != '(')
        text = std::string(descriptor.vendor) + "  ";
    return text + descriptor.product + "  " + descriptor.busTypeName;
}

void CollectDisks(DiskList& diskList, int* refused) {
    if (refused)
        *refused = 0;
    LogInfo("%s", kDashes);
    LogInfo("Disk    TotalSectors       Cylinders    Heads    Sectors/Track     DIskInfo");
    for (int number = 0; number < kDiskNumbersTried; ++number) {
        auto owned = std::make_unique<CDiskDevice>(number);
        CDiskDevice* disk = owned.get();
        if (!disk->IsOpen()) {
            if (refused && (disk->OpenError() == EACCES || disk->OpenError() == EPERM))
                ++*refused;
            continue;
        }
        DiskGeometry geometry;
        if (!disk->GetDriveGeometry(&geometry))
            geometry = DiskGeometry{};
        const std::string text = DiskDescriptionText(disk);
        const std::uint64_t sectors = disk->GetSectorCount();
        LogInfo("%d  %16" PRId64 "  %10" PRId64 "  %10d   %16d   %30s", number, static_cast<std::int64_t>(sectors),
                static_cast<std::int64_t>(geometry.cylinders), static_cast<int>(geometry.tracksPerCylinder),
                static_cast<int>(geometry.sectorsPerTrack), text.c_str());
        if (sectors > kMaxVolumeSectors)
            continue;
        diskList.push_back(owned.release());
    }
    LogInfo("%s", kDashes);
}

void CollectBasicVolumes(DiskList& diskList, VolumeList& volumeList) {
    LogInfo("-----------------------------begin collect basic volume-----------------------------------");
    LogInfo("DriverLetter   FileSystem  StartSector     TotalSectors     ParentDisk: Disk      VolumeLabel\r\n");
    for (IStorageDevice* disk : diskList) {
        if (!disk || IsDynamicDisk(disk))
            continue;
        PartitionList partitions;
        if (IsGptDisk(disk)) {
            ReadGptPartitions(disk, partitions);
        } else {
            ReadWholeDiskVolume(disk, partitions);
            ReadMbrPartitions(disk, partitions);
        }
        if (partitions.empty())
            continue;
        AssignDriveLetters(disk, partitions);
        AddBasicVolumeRecords(partitions, disk, volumeList);
    }
    LogInfo("-----------------------------end collect basic volume-----------------------------------\r\n");
}

void CollectDynamicVolumeRecords(DiskList& diskList, VolumeList& volumeList) {
    LogInfo("-----------------------------begin collect dynamic volume-----------------------------------");
    LogInfo("DriverLetter   FileSystem   DynamicVolumeType   TotalSectors       VolumeLabel      ParentDiskInfo\r\n");
    std::vector<DynamicVolumeEntry> entries;
    CollectDynamicVolumes(diskList, entries);
    for (DynamicVolumeEntry& entry : entries) {
        if (!entry.device)
            continue;
        // Volumes over 12 TiB are left out (and their devices freed with the entries).
        if (entry.sectorCount > kMaxVolumeSectors)
            continue;
        auto record = std::make_unique<VolumeRecord>();
        record->isDynamic = 1;
        record->fileSystemType = entry.fileSystemType;
        record->cDriveLetter = entry.driveLetter;
        CopyText(record->szVolumeLabel, entry.label.c_str());
        std::vector<const DynamicMember*> members;
        entry.device->GetMembers(members);
        std::string parents;
        int used = 0;
        for (const DynamicMember* m : members) {
            if (!m->disk || used == kMaxMemberExtents)
                continue;
            record->members[used++] = {m->startSector, m->sectorCount, m->disk};
            parents += DiskDescriptionText(m->disk) + "\n";
        }
        if (!parents.empty())
            parents.pop_back();
        CopyText(record->szParentDisk, parents.c_str());
        record->AdoptDevice(std::move(entry.device));
        const VolumeRecord* listed = volumeList.emplace_back(std::move(record)).get();
        LogInfo("%c  %16s  %16s  %16" PRId64 "  %20s  %50s\r\n", LetterColumn(listed->cDriveLetter),
                FileSystemColumn(listed->fileSystemType), entry.typeName.c_str(),
                static_cast<std::int64_t>(entry.sectorCount), listed->szVolumeLabel, listed->szParentDisk);
    }
    LogInfo("-----------------------------end collect dynamic volume-------------------------------------\r\n");
}

void CCollectFloppyDiskDevice::CollectFloppyDiskDevice(VolumeList& volumeList) {
    LogElapsedTime timer("CCollectFloppyDiskDevice::CollectFloppyDiskDevice");
    platform::RefreshDriveLetters();
    for (char letter : {'A', 'B'}) {
        auto device = std::make_unique<CVolumeDevice>(letter);
        // Only floppy drives get the letters A and B; anything else ends the collection.
        if (device->GetMediaType() == 0 || !IsFloppyDriveLetter(letter))
            break;
        auto record = std::make_unique<VolumeRecord>();
        CVolumeDevice* probed = device.get();
        record->AdoptDevice(std::move(device));
        record->cDriveLetter = letter;
        record->isFloppy = 1;
        VolumeProbeResult probe;
        ProbeVolume(probed, 0, probe);
        record->fileSystemType = probe.fileSystemType;
        CopyText(record->szVolumeLabel, probe.label);
        volumeList.push_back(std::move(record));
    }
}

void CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume(VolumeList& volumeList,
                                                                                        DiskList& diskList) {
    if (diskList.empty())
        return;
    LogElapsedTime timer("CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume");
    CollectBasicVolumes(diskList, volumeList);
    CollectDynamicVolumeRecords(diskList, volumeList);
    CCollectFloppyDiskDevice floppies;
    floppies.CollectFloppyDiskDevice(volumeList);
    sort(volumeList);
}

void CCollectAllBasicPartitionandDynamicVolume::sort(VolumeList& volumeList) {
    LogElapsedTime timer("CCollectAllBasicPartitionandDynamicVolume::sort");
    // Stable: lettered volumes by letter, then the unlettered ones in their order.
    std::stable_sort(volumeList.begin(), volumeList.end(), [](const auto& a, const auto& b) {
        const int ka = a->cDriveLetter ? static_cast<unsigned char>(a->cDriveLetter) : 256;
        const int kb = b->cDriveLetter ? static_cast<unsigned char>(b->cDriveLetter) : 256;
        return ka < kb;
    });
}

void FreeVolumeRecords(VolumeList& volumeList) { volumeList.clear(); }

bool VolumeListHolds(const VolumeList& volumeList, const VolumeRecord* record) {
    return record && std::any_of(volumeList.begin(), volumeList.end(),
                                 [record](const auto& listed) { return listed.get() == record; });
}

VolumeRecord* FindVolumeByDriveLetter(const VolumeList& volumeList, char letter) {
    for (const auto& record : volumeList)
        if (record && record->cDriveLetter == letter)
            return record.get();
    return nullptr;
}

bool VolumesOverlap(const VolumeRecord* a, const VolumeRecord* b) {
    if (!a || !b)
        return false;
    auto sameDisk = [](IStorageDevice* x, IStorageDevice* y) {
        const int nx = DiskNumber(x), ny = DiskNumber(y);
        return (nx >= 0 && ny >= 0) ? nx == ny : x == y;
    };
    for (int i = 0; i < kMaxMemberExtents && a->members[i].pDisk; ++i) {
        const MemberExtent& x = a->members[i];
        for (int j = 0; j < kMaxMemberExtents && b->members[j].pDisk; ++j) {
            const MemberExtent& y = b->members[j];
            if (!sameDisk(x.pDisk, y.pDisk))
                continue;
            // Compared as differences, so that huge extents cannot wrap.
            const bool xBeforeYEnd = x.u64FirstSector < y.u64FirstSector ||
                                     x.u64FirstSector - y.u64FirstSector < y.u64SectorCount;
            const bool yBeforeXEnd = y.u64FirstSector < x.u64FirstSector ||
                                     y.u64FirstSector - x.u64FirstSector < x.u64SectorCount;
            if (xBeforeYEnd && yBeforeXEnd)
                return true;
        }
    }
    return false;
}
