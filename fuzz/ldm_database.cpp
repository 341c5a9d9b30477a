// Feeds arbitrary bytes to the dynamic-disk database reader, both as a configuration area given
// directly and as the configuration area of an in-memory disk whose volumes are then read.
#include "fuzz/SpanDevice.h"
#include "storage/DynamicDisk.h"
#include "storage/LdmDatabase.h"

#include <cstring>
#include <vector>

namespace {

// The disk GUID of the seeds' simple volume, so that their volumes find this disk.
constexpr char kDiskGuid[] = "d17c2c04-6afc-46c3-84b7-cdc2f3956c5c";
constexpr std::uint64_t kConfigStart = 32;

// The input as the configuration area of a dynamic disk, behind a private header that points
// at it and an MBR partition of type 0x42.
std::vector<std::uint8_t> FuzzDiskBytes(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t areaSectors = (size + kSectorSize - 1) / kSectorSize;
    std::vector<std::uint8_t> bytes((kConfigStart + areaSectors + 3) * kSectorSize, 0);
    if (size)
        std::memcpy(bytes.data() + kConfigStart * kSectorSize, data, size);
    std::uint8_t* head = bytes.data() + bytes.size() - kSectorSize;
    std::memcpy(head, "PRIVHEAD", 8);
    std::memcpy(head + 0x30, kDiskGuid, sizeof kDiskGuid - 1);
    head[0x11B + 7] = 1;  // logical disk start 1
    head[0x12B + 7] = static_cast<std::uint8_t>(kConfigStart);
    bytes[0x1BE + 4] = 0x42;
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    const LdmDatabase db = BuildLdmDatabase(data, size);
    for (const LdmVolumeRecord& v : db.volumes)
        (void)IsVolumeComplete(db, v);

    SpanDevice disk(FuzzDiskBytes(data, size));
    std::vector<DynamicVolumeEntry> out;
    CollectDynamicVolumes({&disk, &disk}, out);
    std::vector<std::uint8_t> buffer(8 * kSectorSize);
    for (DynamicVolumeEntry& e : out) {
        const std::uint64_t n = e.device->GetSectorCount();
        e.device->ReadSectors(buffer.data(), 0, n < 8 ? n : 8);
        if (n > 8)
            e.device->ReadSectors(buffer.data(), n - 4, 8);
        e.device->IsSameVolume(e.device.get());
    }
    return 0;
}
