#include "tests/support/MemoryDevice.h"

#include <cstring>

namespace testsupport {

int MemoryDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    m_calls.push_back({first, count});
    const std::uint64_t total = GetSectorCount();
    if (!buffer || first >= total || count > total - first)
        return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::uint64_t i = 0; i < count; ++i) {
        if (m_failing.count(first + i))
            return 0;
        std::memcpy(out + i * kSectorSize, m_bytes.data() + (first + i) * kSectorSize, kSectorSize);
    }
    return 1;
}

} // namespace testsupport
