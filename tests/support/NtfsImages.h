#pragma once
// NTFS images for tests, made by the real tools: mkntfs into an image file, ntfscp to copy files
// in, and the ntfs_edit helper (libntfs-3g, no FUSE) to make folders, fill folders with many
// files, fragment free space and delete files and folders. Every function records a test
// failure with the tool's output when the tool fails.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct NtfsImageRecipe {
    std::uint64_t sizeMiB = 32;
    std::uint32_t clusterSize = 4096;   // mkntfs -c
    bool compressed = false;            // mkntfs -C (new files in the root compress)
    std::uint64_t partitionStart = 0;   // mkntfs -p (sectors before the volume on its disk)
    std::string label = "BrulinNtfs";   // mkntfs -L
};

// Creates (or replaces) `image` as an NTFS volume of recipe.sizeMiB.
bool MakeNtfsImage(const std::string& image, const NtfsImageRecipe& recipe);

// Copies a host file into the image with ntfscp; the folders of `dest` must exist.
bool NtfsCopyIn(const std::string& image, const std::string& hostFile, const std::string& dest);
// Writes `bytes` to a scratch file and copies it in with ntfscp.
bool NtfsWriteFile(const std::string& image, const std::string& dest,
                   const std::vector<std::uint8_t>& bytes);

// Path of the ntfs_edit helper program.
std::string NtfsEditTool();
// Runs ntfs_edit commands (one a line) on the image; `compress` lets files created by "put"
// and "fill" in a compressed folder be compressed. Standard output goes to *output.
bool NtfsEdit(const std::string& image, const std::string& commands, std::string* output = nullptr,
              bool compress = false);
// `word` as one word of an ntfs_edit command: in double quotes when it holds a blank, a quote or
// a backslash (host paths may hold blanks).
std::string NtfsEditWord(const std::string& word);
bool NtfsMkdir(const std::string& image, const std::string& path);
bool NtfsDelete(const std::string& image, const std::string& path);
// MFT record number of `path`, or -1.
std::int64_t NtfsRecordNumber(const std::string& image, const std::string& path);

// Byte offset of MFT record `record` in the image, assuming it lies in the MFT's first run
// (true for the low records of a fresh volume); -1 when the boot sector cannot be read.
std::int64_t NtfsRecordOffset(const std::string& image, std::uint64_t record);
// Overwrites `count` bytes at `offset` of a file with zeros.
bool ZeroFileRange(const std::string& path, std::uint64_t offset, std::uint64_t count);

} // namespace testsupport

namespace testsupport {
// The bytes ntfs_edit writes for "fill" (seed + file index) and "interleave" (seed, seed + 1).
std::vector<std::uint8_t> NtfsEditPattern(std::size_t size, std::uint32_t seed);
} // namespace testsupport
