// Feeds arbitrary bytes to the NTFS and FAT volume probes and the boot-sector classifier, on a
// device that repeats the input over 64 Ki sectors.
#include "filesystems/probes/VolumeAnalyzers.h"
#include "fuzz/RepeatingDevice.h"
#include "storage/DeviceList.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

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
