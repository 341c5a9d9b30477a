#pragma once
// A damaged disk for the Deep Scan Recovery tests, made by the real tools and cached in the
// build folder: an sfdisk table with an NTFS partition (a folder, files, a deleted file) and a
// FAT32 partition (the same), a JPEG and a PNG in the unpartitioned gap between them and again
// in free clusters at the end of the FAT32 partition; then the table, the NTFS boot sector and
// the NTFS volume's first MFT records are zeroed. The fixture folder also holds the planted
// pictures and, in originals/, every file put into the two volumes.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct DeepScanFile {
    std::string name; // where it was put ("/dir/one.bin"), or the planted file's name
    std::vector<std::uint8_t> bytes;
    bool deleted = false;
    std::uint64_t sector = 0; // planted files: first sector on the disk
};

struct DeepScanDisk {
    std::string path;   // the damaged disk image ("" after a failure)
    std::string folder; // the fixture folder (disk.img, planted.*, originals/)
    std::uint64_t ntfsStart = 0, ntfsSectors = 0;
    std::uint64_t fatStart = 0, fatSectors = 0;
    std::vector<DeepScanFile> ntfsFiles, fatFiles;
    std::vector<DeepScanFile> planted; // the JPEG and PNG, each twice
};

const DeepScanDisk& CachedDeepScanDisk();

} // namespace testsupport
