#include "carving/analysers/FileBMPAnalyser.h"

int FileBMPAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (s.u16(0) != 0x4D42)
        return 0;
    if (s.u16(6) != 0 || s.u16(8) != 0)
        return 0;
    const std::uint32_t infoSize = s.u32(14); // 40: version 3, 124: version 5
    if (infoSize != 40 && infoSize != 124)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = s.u32(2);
    return 1;
}
