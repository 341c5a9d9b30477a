// Feeds arbitrary bytes, seen as a small disk, to the partition-table readers.
#include "storage/PartitionTable.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class SpanDevice : public IStorageDevice {
public:
    SpanDevice(const std::uint8_t* data, std::size_t size) : m_bytes(data, data + size) {
        m_bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize);
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
    if (size > 64 * 1024)
        return 0;
    SpanDevice disk(data, size);
    PartitionList list;
    IsDynamicDisk(&disk);
    if (IsGptDisk(&disk))
        ReadGptPartitions(&disk, list);
    ReadWholeDiskVolume(&disk, list);
    ReadMbrPartitions(&disk, list);
    for (const auto& entry : list) {
        if (entry->u64FirstSector >= disk.GetSectorCount() ||
            entry->u64SectorCount > disk.GetSectorCount() - entry->u64FirstSector)
            __builtin_trap();
    }
    return 0;
}
