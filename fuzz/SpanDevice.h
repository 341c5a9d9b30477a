#pragma once
// A fuzz input as a sector device: the bytes padded with zeros to whole sectors.
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

class SpanDevice : public IStorageDevice {
public:
    SpanDevice(const std::uint8_t* data, std::size_t size) : SpanDevice(std::vector<std::uint8_t>(data, data + size)) {}
    explicit SpanDevice(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {
        m_bytes.resize((m_bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize);
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

protected:
    std::vector<std::uint8_t> m_bytes;
};
