#include "carving/analysers/FileONEAnalyser.h"

#include <cstring>

namespace {
const std::uint8_t kFileTypeGuid[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                        0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};
}

int FileONEAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kFileTypeGuid, sizeof(kFileTypeGuid)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = kFixedSize;
    return 1;
}
