#pragma once
// Where the system's device information is read from. Tests point these at a fixture tree so
// that drive and mount tables can be checked without root and without real disks.
#include <string>

namespace platform {

struct SystemRoots {
    std::string sys = "/sys";                        // sysfs
    std::string dev = "/dev";                        // device nodes
    std::string mountInfo = "/proc/self/mountinfo";  // this process's mount table
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
