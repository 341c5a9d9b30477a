#pragma once
// FAT images made at test time with mkfs.fat and edited with mtools (mmd, mcopy, mdel,
// mdeltree), with `mdir -/ -a` as the oracle. Images are plain files; a partitioned image has
// an MBR with one partition and the file system at a sector offset.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct FatImageOptions {
    int fatBits = 16;                // 12, 16 or 32
    std::uint32_t sizeKiB = 16 * 1024; // size of the file system
    int sectorsPerCluster = 0;       // 0: mkfs.fat chooses
    std::string label;               // volume label (-n), none when empty
    std::uint64_t offsetSectors = 0; // >0: an MBR partition starting here holds the file system
    std::string extraArgs;           // further mkfs.fat arguments
};

// One FAT image file and the mtools commands that edit it. Every command records a test
// failure (with its output) when it fails and returns false.
class FatImage {
public:
    FatImage() = default;
    explicit FatImage(std::string path, std::uint64_t offsetSectors = 0)
        : m_path(std::move(path)), m_offsetSectors(offsetSectors) {}

    // Creates (or replaces) the image file at `path` and formats it.
    static bool Format(const std::string& path, const FatImageOptions& options);

    const std::string& Path() const { return m_path; }
    std::uint64_t OffsetSectors() const { return m_offsetSectors; }

    // Paths inside the image are written like "/dir/file.txt".
    bool MakeDir(const std::string& dir);
    // Copies a host file in, keeping its modification time (mtools runs with TZ=UTC, so the
    // entry holds the UTC time).
    bool CopyIn(const std::string& hostFile, const std::string& target);
    // Writes `bytes` to `target` through a temporary host file (in the image's folder), whose
    // modification time is `touchDate` (a `touch -d` date such as "2021-03-04 05:06:08 UTC")
    // when given.
    bool WriteFile(const std::string& target, const std::vector<std::uint8_t>& bytes,
                   const std::string& touchDate = "");
    bool Delete(const std::string& file);
    bool DeleteTree(const std::string& dir);
    // `mdir -/ -a` of `dir` (recursive listing with hidden files); "" after a failure.
    std::string Mdir(const std::string& dir = "/");

private:
    bool Mtools(const std::string& command, const std::string& args, std::string* out = nullptr);

    std::string m_path;
    std::uint64_t m_offsetSectors = 0;
};

// The whole image file in memory (fast, for MemoryDevice).
std::vector<std::uint8_t> LoadImageBytes(const std::string& path);

// Required tools present (mkfs.fat, mtools, sfdisk); records failures for missing ones.
bool RequireFatTools();

} // namespace testsupport
