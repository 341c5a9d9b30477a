#include "storage/VolumeNames.h"

const char* GetFileSystemName(std::uint32_t fileSystemType) {
    static const char* const kNames[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"};
    return fileSystemType < 6 ? kNames[fileSystemType] : "UNKNOWN";
}

const char* GetDynamicVolumeTypeName(int type) {
    switch (type) {
    case 1: return "MIRROR";
    case 2: return "SPANNED";
    case 3: return "STRIPPED";
    case 4: return "RAID5";
    default: return "SIMPLE";
    }
}
