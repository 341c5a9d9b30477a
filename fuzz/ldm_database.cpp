// Feeds arbitrary bytes to the dynamic-disk database reader, both as a configuration area given
// directly and as the configuration area of an in-memory disk whose volumes are then read.
#include "storage/DynamicDisk.h"
#include "storage/LdmDatabase.h"

#include <cstring>
#include <vector>

namespace {

// The disk GUID of the seeds' simple volume, so that their volumes find this disk.
constexpr char kDiskGuid[] = "d17c2c04-6afc-46c3-84b7-cdc2f3956c5c";
constexpr std::uint64_t kConfigStart = 32;

class FuzzDisk : public IStorageDevice {
public:
    FuzzDisk(const std::uint8_t* data, std::size_t size) {
        const std::uint64_t areaSectors = (size + kSectorSize - 1) / kSectorSize;
        m_bytes.assign((kConfigStart + areaSectors + 3) * kSectorSize, 0);
        if (size)
            std::memcpy(m_bytes.data() + kConfigStart * kSectorSize, data, size);
        std::uint8_t* head = m_bytes.data() + m_bytes.size() - kSectorSize;
        std::memcpy(head, "PRIVHEAD", 8);
        std::memcpy(head + 0x30, kDiskGuid, sizeof kDiskGuid - 1);
        head[0x11B + 7] = 1;  // logical disk start 1
        head[0x12B + 7] = static_cast<std::uint8_t>(kConfigStart);
        m_bytes[0x1BE + 4] = 0x42;
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        const std::uint64_t total = GetSectorCount();
        if (first >= total || count > total - first)
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * kSectorSize, count * kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_bytes.size() / kSectorSize; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    const LdmDatabase db = BuildLdmDatabase(data, size);
    for (const LdmVolumeRecord& v : db.volumes)
        (void)IsVolumeComplete(db, v);

    FuzzDisk disk(data, size);
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
