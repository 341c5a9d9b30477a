#include "filesystems/probes/VolumeAnalyzers.h"

#include "filesystems/ext2/Ext2Volume.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatVolumeLabel.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <string>

namespace {
constexpr std::uint64_t kFatProbeSectors = 4;
} // namespace

CNtfsVolumeAnalyze::CNtfsVolumeAnalyze(IStorageDevice* device, std::uint64_t firstSector) {
    if (!device)
        return;
    CNTFSDBR dbr;
    if (!ReadNtfsBootSector(*device, firstSector, dbr))
        return;
    m_fileSystemType = FILESYSTEM_NTFS;
    m_u64TotalSectors = dbr.GetTotalSectors();
    char label[80] = {};
    if (ReadNtfsVolumeLabel(*device, firstSector, dbr, label))
        SetVolumeLabel(label);
}

CFatVolumeAnalyze::CFatVolumeAnalyze(IStorageDevice* device, std::uint64_t firstSector) {
    if (!device)
        return;
    std::uint8_t sectors[kFatProbeSectors * kSectorSize];
    if (device->ReadSectors(sectors, firstSector, kFatProbeSectors) != 1)
        return;
    CFATDBR dbr(sectors, sizeof(sectors));
    if (!dbr.IsValid())
        return;
    m_fileSystemType = dbr.GetFileSystemType();
    m_u64TotalSectors = dbr.GetTotalSectors();
    std::string label;
    if (ReadFatVolumeLabel(device, firstSector, dbr, label))
        SetVolumeLabel(label.c_str());
}

void CreateVolumeAnalyzers(VolumeProbeList& probes, IStorageDevice* device,
                           std::uint64_t firstSector) {
    probes.push_back(new CNtfsVolumeAnalyze(device, firstSector));
    probes.push_back(new CFatVolumeAnalyze(device, firstSector));
    probes.push_back(new CExt2Volume(device, firstSector));
}

std::uint32_t ClassifyFileSystemBootSector(const std::uint8_t* sector, std::size_t size) {
    if (!sector || size < kSectorSize)
        return FILESYSTEM_UNKNOWN;
    const CFATDBR fat(sector, size);
    if (fat.IsValid())
        return fat.GetFileSystemType();
    return IsNTFSBootSector(sector) ? FILESYSTEM_NTFS : FILESYSTEM_UNKNOWN;
}

void RegisterVolumeProbes() {
    SetVolumeProbeHooks(CreateVolumeAnalyzers, ClassifyFileSystemBootSector);
}
