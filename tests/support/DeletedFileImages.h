#pragma once
// Volumes for the Deleted File Recovery tests, made by the real tools and cached: NTFS (mkntfs,
// ntfscp, ntfs_edit), FAT32 and FAT16 (mkfs.fat, mtools), each alone or inside an sfdisk table
// starting at sector 2048, holding the same files of which three are deleted.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct DeletedSample {
    const char* path;  // in the volume
    std::size_t size;
    bool deleted;
};
extern const DeletedSample kDeletedSamples[5];
std::vector<std::uint8_t> DeletedSampleBytes(const DeletedSample& s);
// The deleted samples: path without the leading '/' -> bytes.
std::map<std::string, std::vector<std::uint8_t>> DeletedOriginals();

enum class DeletedFs { Ntfs, Fat32, Fat16 };
constexpr std::uint64_t kDeletedPartitionStart = 2048;

struct DeletedVolumeCase {
    const char* name;  // fixture name
    DeletedFs fs;
    bool partitioned;
    const char* label;
    const char* fsName;
};
extern const DeletedVolumeCase kDeletedVolumeCases[6];
// The cached image ("" and a test failure when it could not be made).
std::string DeletedVolumeImage(const DeletedVolumeCase& c);

} // namespace testsupport
