// Feeds arbitrary bytes to the NTFS and FAT volume probes and the boot-sector classifier. The
// device repeats the input over 64 Ki sectors so that reads far from sector 0 (MFT records,
// root directories, FAT sectors) land on fuzzed bytes too.
#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/DeviceList.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class RepeatingDevice : public IStorageDevice {
public:
    RepeatingDevice(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {
        m_bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize);
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (m_bytes.empty() || first >= kSectors || count > kSectors - first || count > 4096)
            return 0;
        const std::uint64_t have = m_bytes.size() / kSectorSize;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::uint64_t i = 0; i < count; ++i)
            std::memcpy(out + i * kSectorSize, m_bytes.data() + ((first + i) % have) * kSectorSize,
                        kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return kSectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    static constexpr std::uint64_t kSectors = 65536;
    std::vector<std::uint8_t> m_bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 256 * 1024)
        return 0;
    RepeatingDevice device(data, size);
    VolumeProbeList probes;
    CreateVolumeAnalyzers(probes, &device, 0);
    if (IVolume* probe = FindVolumeAnalyzer(probes)) {
        char label[100];
        probe->GetVolumeLabel(label, sizeof(label));
        if (strnlen(label, sizeof(label)) == sizeof(label))
            __builtin_trap(); // the label must stay terminated
    }
    DeleteDeviceList(probes);
    std::uint8_t sector[kSectorSize] = {};
    std::memcpy(sector, data, size < kSectorSize ? size : kSectorSize);
    ClassifyFileSystemBootSector(sector, sizeof(sector));
    return 0;
}
