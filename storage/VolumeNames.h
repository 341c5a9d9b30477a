#pragma once
// Names that the activity log's device tables print.
#include <cstdint>

// "FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"; anything else "UNKNOWN".
const char* GetFileSystemName(std::uint32_t fileSystemType);
// 1 "MIRROR", 2 "SPANNED", 3 "STRIPPED", 4 "RAID5", anything else "SIMPLE".
const char* GetDynamicVolumeTypeName(int type);
