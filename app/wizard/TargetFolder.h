#pragma once
// Checks of the folder that recovered files go to, on POSIX paths: the codes of
// ValidateTargetFolder, whether the folder lies on the drive being recovered, its free space
// for this user, and whether its file system is NTFS. Every check looks at the folder's nearest
// existing ancestor, since a target that does not exist yet is made by the recovery.
#include "platform/MountInfo.h"

#include <cstdint>
#include <string>
#include <vector>

class IStorageDevice;

enum TargetFolderCode : int {
    kTargetOk = 0,
    kTargetNoMedium = 1,
    kTargetNoDrive = 2,
    kTargetNotFormatted = 3,
    kTargetInvalidName = 4,
    kTargetRamDisk = 5,
    kTargetNotReady = 6,
    kTargetNotWritable = 7,
    kTargetNotAbsolute = 8,
    kTargetBadParameter = 9,
    kTargetBadSymbol = 10,
    kTargetTooLong = 11,
    kTargetEmpty = 12,
};

constexpr std::size_t kMaxTargetPathLength = 245;
// The probe file made (with O_EXCL) and removed in the folder that is checked.
constexpr const char* kTargetProbeName = "!t_1_e_s_2_3_t.tst";

// The folder itself when it exists, else its nearest existing ancestor ("" when the path is
// not absolute). *error receives the errno that stopped the walk (0 when none).
std::string NearestExistingFolder(const std::string& path, int* error = nullptr);
// The mount that holds `path` (an existing path): the entry of the path's device whose mount
// point is the longest prefix of the path; null when none matches.
const platform::MountEntry* MountOfPath(const std::string& path, const std::vector<platform::MountEntry>& mounts);
bool IsReadOnlyMount(const platform::MountEntry& mount);

// 0 when the folder can take files, else a TargetFolderCode. `mounts` is the mount table to
// judge by (tests inject one); the other form reads the system's.
int ValidateTargetFolder(const std::string& path, const std::vector<platform::MountEntry>& mounts);
int ValidateTargetFolder(const std::string& path);
// The string id of a code's message (147 + code for 1..12, 160 otherwise; 0 for 0).
int TargetFolderMessageId(int code);

// The whole disk (device number) holding a block device, and the device's own extent on it.
struct DriveIdentity {
    bool known = false;
    std::uint32_t diskMajor = 0, diskMinor = 0;
    bool partition = false;          // the extent below is a part of the disk
    std::uint64_t firstSector = 0;   // 512-byte sectors
    std::uint64_t sectorCount = 0;
};
// Through <sys>/dev/block: a whole disk or a partition of one.
DriveIdentity DriveOfDeviceNumber(std::uint32_t major, std::uint32_t minor);
// The drive of a kernel block-device name ("sda", "sda1").
DriveIdentity DriveOfBlockName(const std::string& name);
// The drive that a source device reads (a disk, a partition window over a disk, a volume node);
// unknown for image files and devices that read no block device.
DriveIdentity DriveOfSourceDevice(IStorageDevice* device);
// The drive of the file system that holds `path` (an existing path).
DriveIdentity DriveOfPath(const std::string& path);
// True when the target (its nearest existing ancestor) lies on the source's disk, and, when
// both are parts of the disk, their extents overlap.
bool IsSameDrive(const DriveIdentity& target, const DriveIdentity& source);
bool IsSourceDrive(const std::string& target, const DriveIdentity& source);

// Bytes this user may write on the target's file system (statvfs f_bavail x f_frsize); 0 when
// unknown or the path is empty.
std::uint64_t TargetFolderFreeBytes(const std::string& target);
struct TargetSpace {
    std::uint64_t freeForCaller = 0, total = 0, totalFree = 0;
};
TargetSpace TargetSpaceOf(const std::string& target);
// True when the target's mount is NTFS (ntfs, ntfs3, or a FUSE block mount as ntfs-3g makes);
// `known` tells whether a mount was found at all.
bool IsNtfsTarget(const std::string& target, const std::vector<platform::MountEntry>& mounts, bool* known = nullptr);
