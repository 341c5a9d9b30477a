#include "storage/VolumeProbe.h"

#include "logging/Log.h"
#include "storage/DeviceList.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

// The file-system layer's installer (filesystems/probes), present when the program links it.
// Storage sits below that layer, so it refers to it weakly and never names its readers.
void RegisterVolumeProbes() __attribute__((weak));

namespace {
std::atomic<VolumeAnalyzerFactory> g_factory{nullptr};
std::atomic<BootSectorClassifier> g_classifier{nullptr};
// Set by any explicit SetVolumeProbeHooks: from then on the program's choice stands.
std::atomic<bool> g_hooksChosen{false};

// On first use with nothing installed, the engine installs its own probes itself, so no
// program can forget to; without them (not linked) it says so loudly, once.
void InstallProbesOnFirstUse() {
    static std::once_flag once;
    if (g_hooksChosen.load())
        return;
    std::call_once(once, [] {
        if (g_hooksChosen.load())
            return;
        if (RegisterVolumeProbes)
            RegisterVolumeProbes();
        else
            LogError("No volume probes are linked into this program: every file system reads as UNKNOWN");
    });
}
} // namespace

void IVolume::GetVolumeLabel(char* buffer, unsigned length) const {
    if (!buffer)
        return;
    std::memcpy(buffer, m_szVolumeLabel, std::min<std::size_t>(length, kVolumeLabelSize));
}

void IVolume::SetVolumeLabel(const char* label) {
    std::memset(m_szVolumeLabel, 0, sizeof(m_szVolumeLabel));
    if (!label)
        return;
    std::size_t n = 0;
    while (n < kVolumeLabelSize - 1 && label[n] != '\0')
        ++n;
    std::memcpy(m_szVolumeLabel, label, n);
}

void SetVolumeProbeHooks(VolumeAnalyzerFactory factory, BootSectorClassifier classifier) {
    g_hooksChosen.store(true);
    g_factory.store(factory);
    g_classifier.store(classifier);
}

VolumeAnalyzerFactory GetVolumeAnalyzerFactory() {
    InstallProbesOnFirstUse();
    return g_factory.load();
}
BootSectorClassifier GetBootSectorClassifier() {
    InstallProbesOnFirstUse();
    return g_classifier.load();
}

void CreateVolumeAnalyzersThroughHook(VolumeProbeList& probes, IStorageDevice* device,
                                      std::uint64_t firstSector) {
    InstallProbesOnFirstUse();
    if (VolumeAnalyzerFactory factory = g_factory.load())
        factory(probes, device, firstSector);
}

IVolume* FindVolumeAnalyzer(const VolumeProbeList& probes) {
    for (IVolume* probe : probes) {
        if (probe && probe->GetFileSystemType() != FILESYSTEM_UNKNOWN)
            return probe;
    }
    return probes.empty() ? nullptr : probes.back();
}

bool ProbeVolume(IStorageDevice* device, std::uint64_t firstSector, VolumeProbeResult& result) {
    result = VolumeProbeResult{};
    VolumeProbeList probes;
    CreateVolumeAnalyzersThroughHook(probes, device, firstSector);
    if (IVolume* probe = FindVolumeAnalyzer(probes)) {
        result.fileSystemType = probe->GetFileSystemType();
        result.totalSectors = probe->GetTotalSectors();
        probe->GetVolumeLabel(result.label, kVolumeLabelSize);
        result.label[kVolumeLabelSize - 1] = '\0';
    }
    DeleteDeviceList(probes);
    return result.fileSystemType != FILESYSTEM_UNKNOWN;
}

std::uint32_t ClassifyBootSector(const std::uint8_t* sector, std::size_t size) {
    InstallProbesOnFirstUse();
    BootSectorClassifier classifier = g_classifier.load();
    if (!classifier || !sector || size < kSectorSize)
        return FILESYSTEM_UNKNOWN;
    return classifier(sector, size);
}
