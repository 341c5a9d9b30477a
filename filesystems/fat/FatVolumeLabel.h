#pragma once
// Reads the volume label of a FAT volume from its root directory.
#include "filesystems/fat/FatStructures.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <string>

// Looks for the live volume-label entry in the root directory of the FAT volume whose boot
// sector `dbr` lies at `partitionFirst` on `device`. Returns true and sets `label` at the first
// one; false when the directory ends (an invalid entry), a read fails or the sector is not FAT.
bool ReadFatVolumeLabel(IStorageDevice* device, std::uint64_t partitionFirst, const CFATDBR& dbr,
                        std::string& label, const FatEntryChecks& checks = {});
