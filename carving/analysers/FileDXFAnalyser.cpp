#include "carving/analysers/FileDXFAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"

#include <cstring>

namespace {
const char kSignature[] = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n"; // 27 bytes
const char kEnd[] = "EOF\r\n";
} // namespace

int FileDXFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature) - 1) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileDXFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    TextEndMarker marker;
    marker.length = sizeof(kEnd) - 1;
    std::memcpy(marker.bytes, kEnd, marker.length);
    return FindTextEnd(record, device, &marker);
}
