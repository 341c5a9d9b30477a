#include "storage/VolumeDevice.h"

#include "platform/DriveLetters.h"
#include "platform/DriveTable.h"
#include "platform/MountInfo.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDevice.h"

#include <sys/stat.h>

CVolumeDevice::CVolumeDevice(char letter) : m_letter(letter) { Open(); }

CVolumeDevice::CVolumeDevice(const std::string& devicePath) : m_devicePath(devicePath) { Open(); }

int CVolumeDevice::Open() {
    m_file.Close();
    if (m_letter) {
        char upper = (m_letter >= 'a' && m_letter <= 'z') ? static_cast<char>(m_letter - 'a' + 'A') : m_letter;
        if (upper < 'A' || upper > 'Z')
            return 0;
        m_devicePath = platform::GetDriveLetterPath(upper);
    }
    if (m_devicePath.empty())
        return 0;
    m_file = platform::OpenReadOnly(m_devicePath);
    return m_file.Valid() ? 1 : 0;
}

int CVolumeDevice::Close() {
    m_file.Close();
    return 1;
}

int CVolumeDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    return storage_detail::ReadWholeSectors(m_file.Get(), buffer, first, count);
}

std::uint64_t CVolumeDevice::GetSectorCount() {
    std::uint64_t bytes = 0;
    if (!m_file.Valid() || !platform::GetSize(m_file.Get(), bytes))
        return 0;
    return bytes / kSectorSize;
}

std::uint32_t CVolumeDevice::GetMediaType() {
    if (!m_file.Valid())
        return 0;
    std::uint32_t major = 0, minor = 0;
    if (!platform::BlockDeviceNumber(m_devicePath, major, minor))
        return kMediaFixed;
    // A partition has no "removable" attribute of its own: its disk's tells.
    const std::string base = platform::GetSystemRoots().BlockDeviceDir(major, minor);
    std::string removable = platform::ReadSysValue(base + "/removable");
    if (removable.empty())
        removable = platform::ReadSysValue(base + "/../removable");
    return removable == "1" ? kMediaRemovable : kMediaFixed;
}

int CVolumeDevice::GetDiskFreeSpace() {
    if (m_devicePath.empty())
        return 0;
    std::uint32_t major = 0, minor = 0;
    if (!platform::BlockDeviceNumber(m_devicePath, major, minor))
        return 0;
    for (const platform::MountEntry& e : platform::ReadMountInfo()) {
        if (e.major == major && e.minor == minor && e.root == "/") {
            platform::FreeSpace space;
            return platform::GetFreeSpace(e.mountPoint, space) ? 1 : 0;
        }
    }
    return 0;
}
