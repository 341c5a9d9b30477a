#pragma once
// The EXT2/EXT3 volume probe: names the file system (EXT2, or EXT3 when the superblock has a
// journal inode), its size and its label, for the partition that starts at a given sector.
#include "storage/VolumeProbe.h"

#include <cstdint>

class CExt2Volume : public IVolume {
public:
    // Opens the file system of the partition at partitionStart (superblock and group table
    // checked; a damaged primary superblock is passed over for the backup in group 1). A
    // volume that runs past the device's end also needs its root folder on the device; its
    // size is still the volume's own. Anything that fails leaves FILESYSTEM_UNKNOWN, an empty
    // label and 0 sectors.
    CExt2Volume(IStorageDevice* device, std::uint64_t partitionStart);
};
