#include "carving/analysers/FileMNYAnalyser.h"

namespace {
const char kMagic[] = "MSISAM Database"; // at offset 4, 15 bytes
}

int FileMNYAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (!ByteSpan(sector, kSectorSize).matches(4, kMagic, 15))
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = kFixedSize;
    return 1;
}
