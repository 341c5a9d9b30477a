#include "carving/analysers/FileCABAnalyser.h"

#include <cstring>

int FileCABAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, "MSCF", 4))
        return 0;
    // Reserved fields are zero, the format version is 1.3, and the cabinet has a size.
    const std::uint32_t size = s.u32(8);
    if (s.u32(4) != 0 || s.u32(12) != 0 || s.u32(20) != 0 || s.u16(24) != 0x0103 || size == 0)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = size;
    return 1;
}
