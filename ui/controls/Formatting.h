#pragma once
// Human-readable forms of sizes, file times and file-system kinds, and small path tests. Pure
// functions, usable from any thread; no window code.
#include "filesystems/FileProperties.h"

#include <cstdint>
#include <string>

namespace uifmt {

// "%.2f GB" above 2^30 bytes, "%.2f MB" above 2^20, "%.2f KB" otherwise (0 and negative counts
// included); the limits are strict.
std::string FormatSize(std::int64_t bytes);
// FormatSize of sectors x 512, computed in 64 bits.
std::string FormatSectorsSize(std::uint32_t sectors);
std::string FormatSectorsSize64(std::uint64_t sectors);
// A FILETIME (100 ns units since 1601-01-01 UTC) as "%d-%d-%d %d:%d:%d" (year, month, day,
// hour, minute, second; UTC, no padding). A value of 2^63 or more gives "".
std::string FormatFileTime(std::uint64_t fileTime);
inline std::string FormatFileTime(const FileTime& time) { return FormatFileTime(time.ticks); }
// "FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown" for 0..7, "" otherwise.
const char* GetFileSystemDisplayName(std::uint32_t type);
// Elapsed milliseconds as "%02d:%02d:%02d" (hours unbounded).
std::string FormatElapsed(std::uint32_t elapsedMs);

// Root of a path: "D:\" for a drive path, "\\server\share\" for a share, the mount point that
// holds it for an absolute POSIX path, "" for anything else. False when the path is null, one
// character or less, or longer than 260.
bool GetRootPath(const char* path, std::string& out);
// True when the folder at `rootPath` lies on an NTFS volume (kernel or FUSE driver).
bool IsNtfsVolume(const char* rootPath);
// True when `path` names an existing folder (stat; the working folder is never changed).
bool FolderExists(const std::string& path);

// A name read from disk, made safe to show: valid UTF-8 passes unchanged, every byte that is
// not part of a valid sequence becomes "\xNN", control characters become "\xNN" as well.
std::string DisplayName(const char* bytes);
std::string DisplayName(const std::string& bytes);

// The path as a link shows it: whole up to 40 characters, else its first 40 and ". . .".
// Characters are counted as code points of the UTF-8 text.
std::string ShortenForLink(const std::string& path);

} // namespace uifmt
