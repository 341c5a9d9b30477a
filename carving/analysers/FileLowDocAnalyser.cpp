#include "carving/analysers/FileLowDocAnalyser.h"

#include <cstring>

namespace {
const std::uint8_t kWord2[4] = {0xDB, 0xA5, 0x2D, 0x00};
const std::uint8_t kWord1[4] = {0x94, 0xA6, 0x2E, 0x00};
} // namespace

int FileLowDocAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kWord2, 4) != 0 && std::memcmp(sector, kWord1, 4) != 0)
        return 0;
    const ByteSpan s(sector, kSectorSize);
    // Text end plus the tail behind it, rounded up to whole pages (64 bits: no wrap).
    const std::uint64_t end = std::uint64_t(s.u32(292)) + s.u16(296);
    record->m_u32FileType = kTypeId;
    record->m_u64Size = (end + 511) / 512 * 512;
    return 1;
}
