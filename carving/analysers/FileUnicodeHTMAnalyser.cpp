#include "carving/analysers/FileUnicodeHTMAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "carving/analysers/TextScan.h"
#include "filesystems/FileProperties.h"

#include <algorithm>

namespace {
const std::uint8_t kStart[4] = {0xFF, 0xFE, 0x3C, 0x00}; // byte-order mark, '<'
constexpr std::size_t kMarkerBytes = 14;                 // "</HTML>" in UTF-16

std::uint32_t UnitAt(ByteSpan s, std::size_t at) {
    return s.has(at, 2) ? s.u16(at) : 0xFFFFFFFF;
}

// The file ends on a whole code unit behind the marker: with the CR LF, CR or LF that follows
// it, if any.
int EndBehindMarker(CRawFileInfo* record, RawFileReader& reader, std::uint64_t end) {
    ByteSpan s = reader.Read(end, 4);
    if (s.empty())
        s = reader.Read(end, 2);
    if (s.empty() && reader.IsWindow())
        return 0; // the line end may lie outside the search's ring: size it on the device
    const std::uint32_t first = UnitAt(s, 0);
    if (first == '\r') {
        end += 2;
        if (UnitAt(s, 2) == '\n')
            end += 2;
    } else if (first == '\n') {
        end += 2;
    }
    record->m_u64Size = end;
    return 1;
}
} // namespace

int FileUnicodeHTMAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (!ByteSpan(sector, kSectorSize).matches(0, kStart, 4))
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileUnicodeHTMAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, kSectorSize);
    if (head.empty())
        return 0;
    const std::uint8_t* h = head.data();
    if (!EqualsNoCase16(h + 2, "<HTML>", 6) && head.u16(4) != '!')
        return 0;
    bool html = false;
    for (std::size_t at = 2; at <= 498 && !html; at += 2)
        html = EqualsNoCase16(h + at, "<HTML>", 6);
    if (!html)
        return 0;

    const std::uint64_t limit = std::min(kLongestScan, GetScanOptions().MaxRawFileSize);
    std::uint64_t x = 14;
    for (;;) {
        if (x > limit) {
            record->m_u64Size = x;
            record->m_bScannedToLimit = true;
            return 1;
        }
        ByteSpan s = reader.Read(x);
        if (s.size() < 2) {
            if (reader.IsWindow())
                return 0;
            record->m_u64Size = x; // the device ends here
            return 1;
        }
        // Positions where a whole marker fits (the reader hands out a sector of look-ahead),
        // or one unit at the very end of the device.
        std::size_t room =
            (s.size() >= kMarkerBytes ? s.size() - kMarkerBytes + 2 : 2) & ~std::size_t(1);
        // ... and none past the limit (at least the unit at x, which is within it).
        room = static_cast<std::size_t>(std::min<std::uint64_t>(room, (limit - x) / 2 * 2 + 2));
        const std::uint8_t* p = s.data();
        for (std::size_t i = 0; i < room; i += 2) {
            const std::uint32_t c = p[i] | (std::uint32_t(p[i + 1]) << 8);
            if (c == '<' && i + kMarkerBytes <= s.size() && EqualsNoCase16(p + i, "</HTML>", 7))
                return EndBehindMarker(record, reader, x + i + kMarkerBytes);
            if (c == 0x0000 || c == 0xFEFF || c == 0xFFFF || !CanBeTextUnit(c)) {
                record->m_u64Size = x + i;
                return 1;
            }
        }
        x += room;
    }
}
