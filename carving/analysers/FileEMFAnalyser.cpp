#include "carving/analysers/FileEMFAnalyser.h"

int FileEMFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (s.u32(40) != 0x464D4520) // " EMF"
        return 0;
    const std::uint32_t bytes = s.u32(48);
    if (s.u16(58) != 0 || bytes == 0)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = bytes;
    return 1;
}
