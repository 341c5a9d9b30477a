#pragma once
// How volumes get drive letters on Linux: the volume mounted at "/" is C, the other mounted
// block devices take D onwards in mount-table order, the floppy drives fd0 and fd1 are A and B,
// and a volume that is not mounted has no letter. A device mounted at several places (bind
// mounts) gets one letter and is shown with its shortest mount path. The letters are recorded in
// the process's drive-letter table (platform/DriveLetters.h).
#include "platform/MountInfo.h"
#include "platform/SystemRoots.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct AssignedDriveLetter {
    char letter = 0;
    std::string kernelName; // e.g. "sda1"
    std::string devicePath; // <dev>/<kernel name>
    std::string mountPath;  // "" for a floppy drive that is not mounted
};

// Works the letters out from a parsed mount table; kernel names and floppy drives come from
// the configured sysfs root, device paths from the configured /dev root.
std::vector<AssignedDriveLetter> ComputeDriveLetters(const std::vector<MountEntry>& mounts);

// Reads the mount table at the configured roots, works the letters out, replaces the process's
// drive-letter table with them and returns them.
std::vector<AssignedDriveLetter> RefreshDriveLetters();

// From the last refresh: the letter of the block device with this kernel name (0 when none), and
// the mount path shown for a letter ("" when none).
char GetDriveLetterOfDevice(const std::string& kernelName);
std::string GetDriveLetterMountPath(char letter);

} // namespace platform
