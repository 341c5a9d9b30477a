#pragma once
// A fuzz input as a large sector device: the input, padded to whole sectors, repeats over the
// whole device, so that reads far from sector 0 (MFT records, root directories, FAT sectors,
// later partition starts) land on fuzzed bytes too.
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class RepeatingDevice : public IStorageDevice {
public:
    RepeatingDevice(const std::uint8_t* data, std::size_t size, std::uint64_t sectors = 65536)
        : m_bytes(data, data + size), m_sectors(sectors) {
        m_bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize);
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (m_bytes.empty() || first >= m_sectors || count > m_sectors - first || count > 4096)
            return 0;
        const std::uint64_t have = m_bytes.size() / kSectorSize;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::uint64_t i = 0; i < count; ++i)
            std::memcpy(out + i * kSectorSize, m_bytes.data() + ((first + i) % have) * kSectorSize,
                        kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_sectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint64_t m_sectors;
};
