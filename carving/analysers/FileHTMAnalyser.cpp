#include "carving/analysers/FileHTMAnalyser.h"

#include "carving/analysers/FileUnicodeHTMAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "carving/analysers/TextScan.h"
#include "filesystems/FileProperties.h"

#include <algorithm>

namespace {
constexpr std::size_t kMarkerBytes = 7; // "</HTML>"
}

int FileHTMAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    bool found = EqualsNoCase(sector, "<HTML>", 6) || EqualsNoCase(sector, "<!DOCTYPE HTML", 14);
    if (!found && sector[0] == '<' && sector[1] == '!')
        for (std::size_t at = 0; at <= 504 && !found; ++at)
            found = sector[at] == '<' && EqualsNoCase(sector + at, "<HTML>", 6);
    if (!found)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileHTMAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    {
        RawFileReader probe(device, record->m_u64StartSector);
        ByteSpan head = probe.Read(0, 2);
        if (head.empty())
            return 0;
        if (head.u8(0) == 0xFF && head.u8(1) == 0xFE) {
            FileUnicodeHTMAnalyser wide;
            return wide.ComputeFileSize(record, device);
        }
    }
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = std::min(kLongestScan, GetScanOptions().MaxRawFileSize);
    std::uint64_t x = 0;
    for (;;) {
        if (x > limit) {
            record->m_u64Size = x;
            record->m_bScannedToLimit = true;
            return 1;
        }
        ByteSpan s = reader.Read(x);
        if (s.empty()) {
            if (reader.IsWindow())
                return 0;
            record->m_u64Size = x; // the device ends here
            return 1;
        }
        // Positions where a whole marker fits (or one byte at the very end of the device),
        // none past the limit.
        std::size_t room = s.size() >= kMarkerBytes ? s.size() - kMarkerBytes + 1 : 1;
        room = static_cast<std::size_t>(std::min<std::uint64_t>(room, limit - x + 1));
        const std::uint8_t* p = s.data();
        for (std::size_t i = 0; i < room; ++i) {
            const std::uint8_t b = p[i];
            if (b == '<' && i + kMarkerBytes <= s.size() && EqualsNoCase(p + i, "</HTML>", 7)) {
                record->m_u64Size = x + i + kMarkerBytes;
                return 1;
            }
            if (!CanBeTextUnit(b)) {
                record->m_u64Size = x + i;
                return 1;
            }
        }
        x += room;
    }
}
