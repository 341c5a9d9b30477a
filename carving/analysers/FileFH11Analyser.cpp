#include "carving/analysers/FileFH11Analyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <cstring>

namespace {
const std::uint8_t kSignature[16] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C,
                                     0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
const std::uint8_t kEnd[11] = {'D', 'e', 'c', 'o', 'd', 'e', 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
} // namespace

int FileFH11Analyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kSignature, sizeof(kSignature)) || s.u16(34) != 0x3131) // version "11"
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileFH11Analyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    TextEndMarker marker;
    marker.length = sizeof(kEnd);
    std::memcpy(marker.bytes, kEnd, marker.length);
    return FindTextEnd(record, device, &marker);
}
