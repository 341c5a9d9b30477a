#include "carving/analysers/File3DSAnalyser.h"

int File3DSAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (s.u16(0) != 0x4D4D || s.u16(16) != 0x3D3D) // main chunk, editor chunk
        return 0;
    const std::uint32_t size = s.u32(2);
    if (size == 0 || size < s.u32(18)) // the editor chunk lies inside the main chunk
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = size;
    return 1;
}
