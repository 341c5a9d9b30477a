#pragma once
// A volume (a partition or a whole unpartitioned medium) opened through its block device, or
// through the drive letter the drive-letter table assigned to it.
#include "platform/File.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <string>

class CVolumeDevice : public IStorageDevice {
public:
    // The volume behind drive `letter` (see platform/DriveLetters.h).
    explicit CVolumeDevice(char letter);
    // The volume at `devicePath` (a block device or an image of one).
    explicit CVolumeDevice(const std::string& devicePath);
    ~CVolumeDevice() override = default;

    // Unclipped: a read that runs past the end returns 0.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    // The volume's own length in sectors; 0 when not open.
    std::uint64_t GetSectorCount() override;
    int Open() override;
    int Close() override;

    // 11 removable, 12 fixed, 0 when not open.
    std::uint32_t GetMediaType();
    // 1 when the volume is mounted and the free space of its file system can be queried.
    int GetDiskFreeSpace();

    char GetDriveLetter() const { return m_letter; }
    const std::string& GetDevicePath() const { return m_devicePath; }

private:
    platform::FileHandle m_file;
    char m_letter = 0;        // 0 when opened by path
    std::string m_devicePath; // resolved path
};
