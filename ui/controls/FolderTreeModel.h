#pragma once
// What the folder tree shows: the home folder, the file-system root and the mounted volumes
// that can take files, then each folder's subfolders, read lazily. Read-only mounts, pseudo
// file systems (proc, sysfs, tmpfs under /run, ...), optical media and files are never listed;
// volumes on removable drives are named "Removable (<mount point>)". No window code.
#include "platform/MountInfo.h"

#include <string>
#include <vector>

struct FolderEntry {
    std::string text;   // what the tree shows (names from disk made safe to show)
    std::string path;   // the folder's path (bytes as on disk)
};

// True when a mount can take files and is listed (see the header comment).
bool IsMountShown(const platform::MountEntry& mount);
// True when the mount's block device (or the disk holding it) is removable.
bool IsRemovableMount(const platform::MountEntry& mount);
// The text of a volume at the top level.
std::string VolumeText(const platform::MountEntry& mount);

// The top level: home folder, file-system root, then every shown mount except "/" and the
// mounts already holding the home folder, in mount-table order.
std::vector<FolderEntry> FolderTreeRoots(const std::string& homeDir,
                                         const std::vector<platform::MountEntry>& mounts);
// The subfolders of `path`, hidden ones included, sorted by name (case-insensitive first),
// without the mount points that are not shown. Unreadable folders give an empty list.
std::vector<FolderEntry> ListSubfolders(const std::string& path, const std::vector<platform::MountEntry>& mounts);
