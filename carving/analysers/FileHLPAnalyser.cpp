#include "carving/analysers/FileHLPAnalyser.h"

namespace {
const std::uint8_t kMagic[4] = {0x3F, 0x5F, 0x03, 0x00};
}

int FileHLPAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kMagic, 4))
        return 0;
    // The file size must cover more than the header and reach the directory's start.
    const std::uint32_t size = s.u32(12);
    if (size <= 511 || size < s.u32(4))
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = size;
    return 1;
}
