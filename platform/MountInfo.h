#pragma once
// The kernel's mount table (/proc/<pid>/mountinfo): which block device (major:minor) is mounted
// where, with which file system.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct MountEntry {
    std::uint32_t mountId = 0;
    std::uint32_t parentId = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string root;         // root of the mount inside its file system
    std::string mountPoint;   // where it is mounted (octal escapes decoded)
    std::string mountOptions;
    std::string fsType;
    std::string source;       // e.g. /dev/sda1 (octal escapes decoded)
    std::string superOptions;
};

// Parses mountinfo text. Malformed lines are skipped; the input need not be terminated.
std::vector<MountEntry> ParseMountInfo(const char* data, std::size_t size);
// Reads and parses the mount table at the configured root (SystemRoots::mountInfo).
std::vector<MountEntry> ReadMountInfo();

// Decodes the \ooo escapes the kernel writes for space, tab, newline and backslash. A
// backslash not followed by three octal digits is kept as it is.
std::string UnescapeMountField(const std::string& field);

} // namespace platform
