#pragma once
// Physical disks, numbered as in the platform's drive table (disk 0 is the first drive of
// the sorted table).
#include "platform/File.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <string>

// What a physical disk tells about itself.
struct DiskDescriptor {
    std::uint32_t busType;  // 1 SCSI, 2 ATAPI, 3 ATA, 4 1394, 5 SSA, 6 fibre, 7 USB, 8 RAID, ...
    char vendor[260];
    char product[260];
    char productRevision[260];
    char serialNumber[260];
    char busTypeName[260];
};

// Cylinders/heads/sectors view of a disk (heads and sectors per track are synthesised as 255
// and 63; cylinders are as many as fit in the disk's length).
struct DiskGeometry {
    std::uint64_t cylinders = 0;
    std::uint32_t mediaType = 0; // 11 removable, 12 fixed
    std::uint32_t tracksPerCylinder = 0;
    std::uint32_t sectorsPerTrack = 0;
    std::uint32_t bytesPerSector = 0;
};
constexpr std::uint32_t kMediaRemovable = 11;
constexpr std::uint32_t kMediaFixed = 12;

// Display name of a bus number (1..8); "" for any other number.
const char* GetBusTypeName(std::uint32_t busType);

// Cuts `text` after the first space of its first run of two or more spaces (after any leading
// spaces), and returns a pointer to its first character that is not a space (the text itself
// when it is all spaces). Null gives null.
char* TrimSpaces(char* text);

class CDiskDevice : public IStorageDevice {
public:
    // Opens drive `diskNumber` (0..19) of the drive table.
    explicit CDiskDevice(int diskNumber);
    ~CDiskDevice() override = default;

    // Clipped at the size found by GetSectorCount (nothing is read before it has run); the
    // part of the buffer past a clipped read is zero-filled.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    // The disk's length in sectors (also stored as the read bound); 0 when not open or the
    // size cannot be found.
    std::uint64_t GetSectorCount() override;
    int Open() override;
    int Close() override;

    int IsOpen() const { return m_file.Valid() ? 1 : 0; }
    // Why the last Open failed (the system's error number; ENODEV when the table has no such
    // drive); 0 while open.
    int OpenError() const { return m_openError; }
    // The number when it lies in 0..20, else -1.
    int GetDiskNumber() const;
    // 255 (synthesised; also when the disk cannot be queried).
    std::uint32_t GetTracksPerCylinder();
    int GetDriveGeometry(DiskGeometry* geometry);
    int QueryDeviceDescriptor(DiskDescriptor* descriptor);

    // Where the disk was opened ("" before a successful Open) and its kernel name.
    const std::string& GetDevicePath() const { return m_devicePath; }
    const std::string& GetKernelName() const { return m_kernelName; }

private:
    platform::FileHandle m_file;
    int m_diskNumber;
    int m_openError = 0;
    std::uint64_t m_sectorCount = 0;
    bool m_removable = false;
    std::string m_devicePath;
    std::string m_kernelName;
    std::string m_sysPath;
};
