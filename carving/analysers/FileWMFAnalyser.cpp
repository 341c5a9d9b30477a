#include "carving/analysers/FileWMFAnalyser.h"

#include <cstring>

namespace {
const std::uint8_t kStandard[4] = {0x01, 0x00, 0x09, 0x00};
const std::uint8_t kPlaceable[4] = {0xD7, 0xCD, 0xC6, 0x9A};
constexpr std::size_t kPlaceableSize = 22;

// The size in bytes of the standard header at `at` (its size field counts 16-bit words), or 0
// when the header is not one.
std::uint64_t StandardHeaderSize(const ByteSpan& s, std::size_t at) {
    if (!s.matches(at, kStandard, sizeof(kStandard)) || s.u16(at + 16) != 0)
        return 0;
    return std::uint64_t(s.u32(at + 6)) * 2;
}
} // namespace

int FileWMFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    std::uint64_t size = 0;
    if (s.matches(0, kStandard, sizeof(kStandard))) {
        if (s.u16(16) != 0)
            return 0;
        size = StandardHeaderSize(s, 0);
    } else if (s.matches(0, kPlaceable, sizeof(kPlaceable))) {
        // The placeable header's checksum is the XOR of its first ten 16-bit words.
        std::uint16_t sum = 0;
        for (std::size_t i = 0; i < 10; ++i)
            sum ^= s.u16(2 * i);
        if (sum != s.u16(20))
            return 0;
        const std::uint64_t words = StandardHeaderSize(s, kPlaceableSize);
        if (words == 0)
            return 0;
        size = kPlaceableSize + words;
    } else {
        return 0;
    }
    record->m_u32FileType = kTypeId;
    record->m_u64Size = size;
    return 1;
}
