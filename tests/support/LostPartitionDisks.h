#pragma once
// Whole-disk images for the lost-partition search: an MBR made by sfdisk with partitions at
// explicit starts (logical ones in an extended partition), each formatted by the real tool (mkfs.fat in place, mkntfs into a file that
// is then copied to its start, mke2fs -d at its offset) with a few files, and the same disk with
// its table wiped.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

enum class LostFsKind { kFat12, kFat16, kFat32, kNtfs, kExt2, kExt3 };

struct LostPartitionRecipe {
    std::uint64_t start = 0;              // first sector on the disk
    std::uint64_t sectors = 0;            // partition size
    LostFsKind kind = LostFsKind::kFat16; // EXT2/EXT3 use 1 KiB blocks
    std::string label;
    // A logical partition in the extended partition, whose table sector lies one track before
    // the first logical partition.
    bool logical = false;
    // The disk geometry the FAT and NTFS boot sectors record (mkfs.fat -g, mkntfs -H -S);
    // 0 heads: what the tools choose for an image file.
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 63;
    // The sectors the file system is made on when a tool left the rest of the partition free;
    // 0: the whole partition (mkfs.fat still rounds a FAT volume to the geometry's tracks).
    std::uint64_t fsSectors = 0;
};

struct LostPartitionDisk {
    std::string intact; // the disk with its partition table
    std::string wiped;  // the same bytes with sector 0 zeroed
};

// Makes (once per build tree, through the fixture kit) the disk `name` of `diskSectors`
// sectors holding `partitions`. Each file system gets the files of LostPartitionFiles(). Empty
// paths after a failure (recorded as a test failure).
LostPartitionDisk CachedLostPartitionDisk(const std::string& name, std::uint64_t diskSectors,
                                          const std::vector<LostPartitionRecipe>& partitions);

// The files put into every partition: path (with '/' separators, no leading '/') and bytes.
struct LostPartitionFile {
    std::string path;
    std::vector<std::uint8_t> bytes;
};
const std::vector<LostPartitionFile>& LostPartitionFiles();

} // namespace testsupport
