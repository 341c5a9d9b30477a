#pragma once
// The volume probes: given a device and a sector, say which file system's boot sector lies
// there, how many sectors the file system covers and what its label is, without building any
// tree. The probes are tried in a fixed order (NTFS, FAT, then EXT2/EXT3) and the first that
// recognises the sector wins (FindVolumeAnalyzer, storage/VolumeProbe.h).
#include "storage/StorageDevice.h"
#include "storage/VolumeProbe.h"

#include <cstddef>
#include <cstdint>

class CNtfsVolumeAnalyze : public IVolume {
public:
    CNtfsVolumeAnalyze(IStorageDevice* device, std::uint64_t firstSector);
};

class CFatVolumeAnalyze : public IVolume {
public:
    CFatVolumeAnalyze(IStorageDevice* device, std::uint64_t firstSector);
};

// Appends a CNtfsVolumeAnalyze, a CFatVolumeAnalyze and a CExt2Volume for `firstSector`. The
// list owns them: free it with DeleteDeviceList.
void CreateVolumeAnalyzers(VolumeProbeList& probes, IStorageDevice* device,
                           std::uint64_t firstSector);

// The FAT type when the FAT boot-sector test accepts the sector, else FILESYSTEM_NTFS when the
// NTFS test does, else FILESYSTEM_UNKNOWN.
std::uint32_t ClassifyFileSystemBootSector(const std::uint8_t* sector, std::size_t size);

// Installs these probes as the process's volume probes (storage's probe hooks). The engine
// calls it itself on the hooks' first use when nothing was installed; calling it again (or
// earlier) is harmless.
void RegisterVolumeProbes();
