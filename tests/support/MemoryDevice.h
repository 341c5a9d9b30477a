#pragma once
// An in-memory sector device for tests: holds its bytes, records every read, and can be told
// to fail chosen sectors.
#include "storage/StorageDevice.h"

#include <cstdint>
#include <set>
#include <vector>

namespace testsupport {

class MemoryDevice : public IStorageDevice {
public:
    struct ReadCall {
        std::uint64_t first;
        std::uint64_t count;
    };

    explicit MemoryDevice(std::uint64_t sectorCount) : m_bytes(sectorCount * kSectorSize) {}
    explicit MemoryDevice(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {
        m_bytes.resize((m_bytes.size() + kSectorSize - 1) / kSectorSize * kSectorSize);
    }

    // Reads that touch a failing sector return 0; the sectors before it are delivered.
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override;
    std::uint64_t GetSectorCount() override { return m_bytes.size() / kSectorSize; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }
    std::uint8_t* Sector(std::uint64_t n) { return m_bytes.data() + n * kSectorSize; }
    void FailSector(std::uint64_t n) { m_failing.insert(n); }
    void ClearFailures() { m_failing.clear(); }
    const std::vector<ReadCall>& Calls() const { return m_calls; }
    void ClearCalls() { m_calls.clear(); }

private:
    std::vector<std::uint8_t> m_bytes;
    std::set<std::uint64_t> m_failing;
    std::vector<ReadCall> m_calls;
};

} // namespace testsupport
