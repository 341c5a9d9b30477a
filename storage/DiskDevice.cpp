#include "storage/DiskDevice.h"

#include "platform/DriveTable.h"
#include "storage/ImageFileDevice.h"

#include <cerrno>
#include <cstring>
#include <utility>

const char* GetBusTypeName(std::uint32_t busType) {
    switch (busType) {
    case 1:
        return "SCSI Disk Device";
    case 2:
        return "ATAPI Bus";
    case 3:
        return "ATA Bus";
    case 4:
        return "1394 Disk Device";
    case 5:
        return "SSA Disk Device";
    case 6:
        return "FIBER Disk Device";
    case 7:
        return "USB Device";
    case 8:
        return "RAID Disk Device";
    default:
        return "";
    }
}

char* TrimSpaces(char* text) {
    if (!text)
        return nullptr;
    char* p = text;
    while (*p == ' ')
        ++p;
    if (!*p)
        return text; // all spaces
    if (char* run = std::strstr(p, "  "))
        run[1] = '\0'; // one space of the run stays
    return p;
}

namespace {

void CopyField(char (&field)[260], const std::string& value) {
    char tmp[260];
    std::size_t n = value.size() < sizeof tmp - 1 ? value.size() : sizeof tmp - 1;
    std::memcpy(tmp, value.data(), n);
    tmp[n] = '\0';
    const char* trimmed = TrimSpaces(tmp);
    std::size_t len = std::strlen(trimmed);
    std::memmove(field, trimmed, len);
    field[len] = '\0';
}

} // namespace

CDiskDevice::CDiskDevice(int diskNumber) : m_diskNumber(diskNumber) { Open(); }

int CDiskDevice::Open() {
    m_openError = ENODEV;
    if (m_diskNumber < 0 || m_diskNumber >= platform::kMaxPhysicalDrives)
        return 0;
    Close();
    platform::PhysicalDrive drive;
    if (!platform::GetPhysicalDrive(m_diskNumber, drive))
        return 0;
    platform::FileHandle file = platform::OpenReadOnly(drive.devicePath);
    if (!file.Valid()) {
        m_openError = errno;
        return 0;
    }
    m_file = std::move(file);
    m_openError = 0;
    m_devicePath = drive.devicePath;
    m_kernelName = drive.name;
    m_sysPath = drive.sysPath;
    m_removable = drive.removable;
    return 1;
}

int CDiskDevice::Close() {
    m_file.Close();
    return 1;
}

int CDiskDevice::GetDiskNumber() const {
    return (m_diskNumber >= 0 && m_diskNumber <= 20) ? m_diskNumber : -1;
}

int CDiskDevice::GetDriveGeometry(DiskGeometry* geometry) {
    std::uint64_t bytes = 0;
    if (!geometry || !m_file.Valid() || !platform::GetSize(m_file.Get(), bytes))
        return 0;
    geometry->tracksPerCylinder = platform::kTracksPerCylinder;
    geometry->sectorsPerTrack = platform::kSectorsPerTrack;
    geometry->bytesPerSector = kSectorSize;
    geometry->cylinders = bytes / kSectorSize / (platform::kTracksPerCylinder * platform::kSectorsPerTrack);
    geometry->mediaType = m_removable ? kMediaRemovable : kMediaFixed;
    return 1;
}

std::uint32_t CDiskDevice::GetTracksPerCylinder() {
    DiskGeometry g;
    return GetDriveGeometry(&g) ? g.tracksPerCylinder : platform::kTracksPerCylinder;
}

std::uint64_t CDiskDevice::GetSectorCount() {
    if (!m_file.Valid())
        return 0;
    DiskGeometry g;
    if (!GetDriveGeometry(&g))
        return 0;
    const std::uint64_t cylinder = std::uint64_t(g.tracksPerCylinder) * g.sectorsPerTrack;
    const std::uint64_t fromGeometry = g.cylinders * cylinder;
    std::uint64_t bytes = 0;
    std::uint64_t size = fromGeometry;
    if (platform::GetSize(m_file.Get(), bytes) && bytes / kSectorSize >= fromGeometry)
        size = bytes / kSectorSize;
    m_sectorCount = size;
    return size;
}

int CDiskDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!buffer || first >= m_sectorCount || !m_file.Valid() ||
        !storage_detail::SectorRangeFits(first, count))
        return 0;
    const std::uint64_t n = (count > m_sectorCount - first) ? m_sectorCount - first : count;
    // A clipped read leaves no stale bytes behind the sectors it delivered.
    if (n < count)
        std::memset(static_cast<std::uint8_t*>(buffer) + n * kSectorSize, 0,
                    static_cast<std::size_t>((count - n) * kSectorSize));
    return storage_detail::ReadWholeSectors(m_file.Get(), buffer, first, n);
}

int CDiskDevice::QueryDeviceDescriptor(DiskDescriptor* descriptor) {
    if (!descriptor)
        return 0;
    std::memset(descriptor, 0, sizeof *descriptor);
    platform::PhysicalDrive drive;
    if (m_sysPath.empty()) {
        if (!platform::GetPhysicalDrive(m_diskNumber, drive))
            return 0;
    } else {
        drive.name = m_kernelName;
        drive.sysPath = m_sysPath;
        drive.devicePath = m_devicePath;
        drive.loop = m_kernelName.rfind("loop", 0) == 0;
    }
    platform::DriveIdentity id;
    if (!platform::ReadDriveIdentity(drive, id))
        return 0;
    descriptor->busType = id.busType;
    CopyField(descriptor->vendor, id.vendor);
    CopyField(descriptor->product, id.product);
    CopyField(descriptor->productRevision, id.revision);
    CopyField(descriptor->serialNumber, id.serial);
    CopyField(descriptor->busTypeName, GetBusTypeName(id.busType));
    return 1;
}
