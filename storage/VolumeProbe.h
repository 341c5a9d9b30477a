#pragma once
// What the storage layer needs of the file-system probes: the IVolume answer (type, size,
// label of the file system whose boot sector lies at a sector) and the hooks through which the
// file-system layer installs its probes. Storage code never names a file system's reader; it
// asks through these hooks. On their first use, when no program has set them, the engine
// installs the file-system layer's probes itself (RegisterVolumeProbes in
// filesystems/probes/VolumeAnalyzers.h, when the program links it; otherwise it logs an error).
#include "storage/FileSystemType.h"
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::size_t kVolumeLabelSize = 100;

// The answer of one probe. A probe does its work in its constructor; the object is always
// usable and reports FILESYSTEM_UNKNOWN, 0 sectors and an empty label when it recognised
// nothing. The stored label is always zero-terminated within its 100 bytes.
class IVolume {
public:
    virtual ~IVolume() = default;
    virtual std::uint32_t GetFileSystemType() const { return m_fileSystemType; }
    virtual std::uint64_t GetTotalSectors() const { return m_u64TotalSectors; }
    // Copies min(length, 100) bytes of the label field into buffer.
    virtual void GetVolumeLabel(char* buffer, unsigned length) const;

protected:
    IVolume() = default;
    // Stores a label, cut to 99 bytes so that the field stays terminated.
    void SetVolumeLabel(const char* label);

    std::uint32_t m_fileSystemType = FILESYSTEM_UNKNOWN;
    char m_szVolumeLabel[kVolumeLabelSize] = {};
    std::uint64_t m_u64TotalSectors = 0;
};

// A probe list owns its probes; free it with DeleteDeviceList (storage/DeviceList.h).
using VolumeProbeList = std::vector<IVolume*>;

// Fills `probes` (appending) with the probes for the boot sector at `firstSector` of `device`.
using VolumeAnalyzerFactory = void (*)(VolumeProbeList& probes, IStorageDevice* device,
                                       std::uint64_t firstSector);
// Names the file system of one boot sector (`size` bytes, at least 512 for a match).
using BootSectorClassifier = std::uint32_t (*)(const std::uint8_t* sector, std::size_t size);

// Installs the process's probes (null uninstalls, and no probes are installed on first use
// afterwards). Safe to call from any thread.
void SetVolumeProbeHooks(VolumeAnalyzerFactory factory, BootSectorClassifier classifier);
VolumeAnalyzerFactory GetVolumeAnalyzerFactory();
BootSectorClassifier GetBootSectorClassifier();

// Builds the installed probes for `firstSector` into `probes` (nothing when none is installed).
void CreateVolumeAnalyzersThroughHook(VolumeProbeList& probes, IStorageDevice* device,
                                      std::uint64_t firstSector);

// The first probe that recognised its sector; when none did, the last probe of the list (whose
// type is then FILESYSTEM_UNKNOWN); null only for an empty list.
IVolume* FindVolumeAnalyzer(const VolumeProbeList& probes);

// What the installed probes say about the boot sector at `firstSector`.
struct VolumeProbeResult {
    std::uint32_t fileSystemType = FILESYSTEM_UNKNOWN;
    std::uint64_t totalSectors = 0;
    char label[kVolumeLabelSize] = {};
};
// Runs the whole probe sequence (create, find, ask, delete). Returns true when a probe
// recognised a file system.
bool ProbeVolume(IStorageDevice* device, std::uint64_t firstSector, VolumeProbeResult& result);

// The FAT type when the sector is a FAT boot sector, else FILESYSTEM_NTFS when it is an NTFS
// boot sector, else FILESYSTEM_UNKNOWN (also when no classifier is installed).
std::uint32_t ClassifyBootSector(const std::uint8_t* sector, std::size_t size);
