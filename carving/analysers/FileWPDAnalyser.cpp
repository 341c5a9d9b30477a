#include "carving/analysers/FileWPDAnalyser.h"

namespace {

const std::uint8_t kPrefix[4] = {0xFF, 'W', 'P', 'C'};

// The product and file-type word at 8 and the word at 14 of each kind.
struct Kind {
    std::uint32_t at8;
    std::uint32_t at14;
    std::uint32_t fileType;
};
const Kind kKinds[] = {
    {0x01020A01, 0x00050200, 64}, // document
    {0x00021601, 0x00030000, 65}, // graphics
    {0x00010F0F, 0x00030000, 57}, // presentation
};

} // namespace

int FileWPDAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kPrefix, 4))
        return 0;
    for (const Kind& k : kKinds)
        if (s.u32(8) == k.at8 && s.u32(14) == k.at14) {
            record->m_u32FileType = k.fileType;
            record->m_u64Size = s.u32(20);
            return 1;
        }
    return 0;
}
