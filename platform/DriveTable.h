#pragma once
// The physical-drive table: the machine's real disks from sysfs, sorted, numbered from 0 (the
// numbering the rest of the system uses for its disks), each with its /dev node, and what sysfs
// tells about the drive (vendor, model, revision, serial, bus).
#include "platform/SystemRoots.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr int kMaxPhysicalDrives = 20;

struct PhysicalDrive {
    std::string name;        // kernel name, e.g. "sda", "nvme0n1", "loop3"
    std::string devicePath;  // <dev>/<name>
    std::string sysPath;     // <sys>/block/<name>
    std::uint64_t sysSectors = 0; // size from sysfs, in 512-byte units (0 when unknown)
    bool removable = false;
    bool loop = false;
};

// Disks under <sys>/block: devices under /devices/virtual/ are skipped, except loop devices
// that have a backing file; optical drives and floppies are skipped. Sorted by name: by family
// ("loop", "nvme", "sd", ...), then in natural order within it (sda < sdz < sdaa,
// nvme2n1 < nvme10n1), at most kMaxPhysicalDrives.
std::vector<PhysicalDrive> ListPhysicalDrives(const SystemRoots& roots);
std::vector<PhysicalDrive> ListPhysicalDrives(); // with GetSystemRoots()
// Drive `number` of the current table; false when there is no such drive.
bool GetPhysicalDrive(int number, PhysicalDrive& out);

// Bus numbers as the system records them (1 SCSI, 2 ATAPI, 3 ATA, 4 1394, 5 SSA, 6 fibre,
// 7 USB, 8 RAID, ...).
enum BusType : std::uint32_t {
    kBusUnknown = 0,
    kBusScsi = 1,
    kBusAtapi = 2,
    kBusAta = 3,
    kBus1394 = 4,
    kBusSsa = 5,
    kBusFibre = 6,
    kBusUsb = 7,
    kBusRaid = 8,
    kBusIscsi = 9,
    kBusSas = 10,
    kBusSata = 11,
    kBusSd = 12,
    kBusMmc = 13,
    kBusVirtual = 14,
    kBusFileBackedVirtual = 15,
    kBusNvme = 17,
};

struct DriveIdentity {
    std::uint32_t busType = kBusUnknown;
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
};
// Reads the identity of a drive from sysfs. False when the drive's sysfs folder is missing.
bool ReadDriveIdentity(const PhysicalDrive& drive, DriveIdentity& out);

// Synthesised geometry: 255 heads, 63 sectors per track, as many cylinders as fit.
constexpr std::uint32_t kTracksPerCylinder = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;

// The kernel name of the block device major:minor ("" when unknown), from <sys>/dev/block.
std::string BlockDeviceName(std::uint32_t major, std::uint32_t minor);
// Device number of a block-device node; false when `path` is not a block device.
bool BlockDeviceNumber(const std::string& path, std::uint32_t& major, std::uint32_t& minor);

// The order of the drive table (see ListPhysicalDrives).
bool DriveNameLess(const std::string& a, const std::string& b);

} // namespace platform
