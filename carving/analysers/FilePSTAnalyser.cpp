#include "carving/analysers/FilePSTAnalyser.h"

namespace {
const std::uint8_t kMagic[4] = {'!', 'B', 'D', 'N'};
constexpr std::uint8_t kAnsiStore = 14;
constexpr std::uint8_t kUnicodeStore = 23;
} // namespace

int FilePSTAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kMagic, 4))
        return 0;
    record->m_u32FileType = kTypeId;
    switch (s.u8(10)) {
    case kAnsiStore:
        record->m_u64Size = s.u32(168);
        break;
    case kUnicodeStore:
        record->m_u64Size = s.u64(184); // the end of a Unicode store is a 64-bit offset
        break;
    default:
        record->m_u64Size = kUnknownFormatSize;
        break;
    }
    return 1;
}
