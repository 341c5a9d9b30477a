#pragma once
#include <cstdint>

// File-system kinds as stored in volume records, partition entries and folder nodes.
enum FileSystemType : std::uint32_t {
    FILESYSTEM_FAT12 = 0,
    FILESYSTEM_FAT16 = 1,
    FILESYSTEM_FAT32 = 2,
    FILESYSTEM_NTFS = 3,
    FILESYSTEM_EXT2 = 4,
    FILESYSTEM_EXT3 = 5,
    FILESYSTEM_RAW = 6,
    FILESYSTEM_UNKNOWN = 7,
};

// Block codecs of disk images.
enum CompressionType : std::uint32_t {
    COMPRESSION_NONE = 0,
    COMPRESSION_BZIP2 = 1,
    COMPRESSION_ZLIB = 2,
    COMPRESSION_LZMA = 3,
};
