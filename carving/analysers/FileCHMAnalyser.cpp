#include "carving/analysers/FileCHMAnalyser.h"

namespace {
const char kMagic[4] = {'I', 'T', 'S', 'F'};
const std::uint8_t kGuid1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                 0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
// The second GUID differs from the first only in its first byte (11); some compilers (Free
// Pascal's chmcmd) write the first GUID twice, and those files are accepted too.
constexpr std::uint32_t kHeaderLength = 96;
constexpr std::uint32_t kSectionMagic = 0x1FE;
} // namespace

int FileCHMAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kMagic, 4) || s.u32(8) != kHeaderLength || !s.matches(24, kGuid1, 16) ||
        !s.matches(41, kGuid1 + 1, 15) || (s.u8(40) != 0x10 && s.u8(40) != 0x11) ||
        s.u32(96) != kSectionMagic || s.u32(100) != 0 || s.u32(112) != 0 || s.u32(116) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = s.u64(104);
    return 1;
}
