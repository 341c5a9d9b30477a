#include "carving/analysers/FileAUAnalyser.h"

int FileAUAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, ".snd", 4))
        return 0;
    // The data offset lies behind the 24-byte header; a data size of all ones means "unknown".
    const std::uint32_t offset = s.be32(4), size = s.be32(8);
    if (offset <= 23 || size == 0xFFFFFFFFu)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = std::uint64_t(offset) + size;
    return 1;
}
