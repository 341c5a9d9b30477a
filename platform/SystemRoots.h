#pragma once
// Where the system's device information is read from. Tests point these at a fixture tree so
// that drive and mount tables can be checked without root and without real disks. Every sysfs
// path is made here, from the roots.
#include <cstdint>
#include <string>

namespace platform {

struct SystemRoots {
    std::string sys = "/sys";                        // sysfs
    std::string dev = "/dev";                        // device nodes
    std::string mountInfo = "/proc/self/mountinfo";  // this process's mount table

    // <sys>/block: one entry (a link) per disk.
    std::string DisksDir() const { return sys + "/block"; }
    // <sys>/block/<name>: the folder of the disk `name`, holding a folder per partition.
    std::string DiskDir(const std::string& name) const { return DisksDir() + "/" + name; }
    // <sys>/class/block/<name>: the folder of any block device (disk or partition) by name.
    std::string BlockDeviceDir(const std::string& name) const { return sys + "/class/block/" + name; }
    // <sys>/dev/block/<major>:<minor>: the folder of a block device by device number.
    std::string BlockDeviceDir(std::uint32_t major, std::uint32_t minor) const {
        return sys + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    }
};

// The roots in effect (the real ones unless a test replaced them).
SystemRoots GetSystemRoots();
void SetSystemRoots(const SystemRoots& roots);
// Back to /sys, /dev and /proc/self/mountinfo.
void ResetSystemRoots();

// Reads a small text file whole ("" when it cannot be read); ReadSysValue also drops trailing
// newlines, as sysfs attributes end with one.
std::string ReadTextFile(const std::string& path);
std::string ReadSysValue(const std::string& path);

} // namespace platform
