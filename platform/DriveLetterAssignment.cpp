#include "platform/DriveLetterAssignment.h"

#include "platform/DriveLetters.h"
#include "platform/DriveTable.h"

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace platform {
namespace {

std::mutex g_mutex;
std::vector<AssignedDriveLetter>& Assigned() {
    static std::vector<AssignedDriveLetter> letters;
    return letters;
}

bool IsFloppyName(const std::string& name) {
    return name == "fd0" || name == "fd1";
}

// Kernel name of a mounted block device: from the device number, or for file systems that
// report an anonymous device number, from a /dev source path that sysfs knows.
std::string MountedDeviceName(const MountEntry& mount, const SystemRoots& roots) {
    if (mount.major != 0)
        return BlockDeviceName(mount.major, mount.minor);
    const std::string prefix = "/dev/";
    if (mount.source.compare(0, prefix.size(), prefix) != 0)
        return "";
    const std::string name = fs::path(mount.source).filename().string();
    std::error_code ec;
    if (name.empty() || !fs::exists(roots.BlockDeviceDir(name), ec))
        return "";
    return name;
}

} // namespace

std::vector<AssignedDriveLetter> ComputeDriveLetters(const std::vector<MountEntry>& mounts) {
    const SystemRoots roots = GetSystemRoots();
    // One record per mounted device, in the order of its first mount, with its shortest path.
    std::vector<AssignedDriveLetter> devices;
    for (const MountEntry& mount : mounts) {
        const std::string name = MountedDeviceName(mount, roots);
        if (name.empty() || mount.mountPoint.empty())
            continue;
        AssignedDriveLetter* known = nullptr;
        for (AssignedDriveLetter& d : devices) {
            if (d.kernelName == name)
                known = &d;
        }
        if (!known) {
            AssignedDriveLetter d;
            d.kernelName = name;
            d.devicePath = (fs::path(roots.dev) / name).string();
            d.mountPath = mount.mountPoint;
            devices.push_back(d);
        } else if (mount.mountPoint.size() < known->mountPath.size()) {
            known->mountPath = mount.mountPoint;
        }
    }

    std::vector<AssignedDriveLetter> result;
    for (int i = 0; i < 2; ++i) {
        const std::string name = "fd" + std::to_string(i);
        std::error_code ec;
        if (!fs::exists(roots.DiskDir(name), ec))
            continue;
        AssignedDriveLetter floppy;
        floppy.letter = static_cast<char>('A' + i);
        floppy.kernelName = name;
        floppy.devicePath = (fs::path(roots.dev) / name).string();
        for (const AssignedDriveLetter& d : devices) {
            if (d.kernelName == name)
                floppy.mountPath = d.mountPath;
        }
        result.push_back(floppy);
    }
    for (AssignedDriveLetter& d : devices) {
        if (d.mountPath == "/") {
            d.letter = 'C';
            result.push_back(d);
        }
    }
    char next = 'D';
    for (AssignedDriveLetter& d : devices) {
        if (d.letter != 0 || IsFloppyName(d.kernelName))
            continue;
        if (next > 'Z')
            break;
        d.letter = next++;
        result.push_back(d);
    }
    return result;
}

std::vector<AssignedDriveLetter> RefreshDriveLetters() {
    std::vector<AssignedDriveLetter> letters =
        ComputeDriveLetters(ReadMountInfo());
    std::lock_guard<std::mutex> lock(g_mutex);
    ClearDriveLetters();
    for (const AssignedDriveLetter& d : letters)
        SetDriveLetterPath(d.letter, d.devicePath);
    Assigned() = letters;
    return letters;
}

char GetDriveLetterOfDevice(const std::string& kernelName) {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const AssignedDriveLetter& d : Assigned()) {
        if (d.kernelName == kernelName)
            return d.letter;
    }
    return 0;
}

std::string GetDriveLetterMountPath(char letter) {
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const AssignedDriveLetter& d : Assigned()) {
        if (d.letter == letter)
            return d.mountPath;
    }
    return "";
}

} // namespace platform
