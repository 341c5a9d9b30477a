#include "carving/analysers/FileEPSAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "carving/analysers/TextScan.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {
const std::uint8_t kSignature[4] = {0xC5, 0xD0, 0xD3, 0xC6};
const char kTextStart[] = "%!PS-Adobe-";
constexpr std::size_t kTextStartLength = sizeof(kTextStart) - 1;
const char kEpsfMark[] = " EPSF-";
constexpr std::size_t kEpsfMarkLength = sizeof(kEpsfMark) - 1;

// "%!PS-Adobe-" at 0 and " EPSF-" before the end of the first line (within the sector).
bool IsTextEps(const std::uint8_t* p, std::size_t n) {
    if (n < kTextStartLength || std::memcmp(p, kTextStart, kTextStartLength) != 0)
        return false;
    for (std::size_t i = kTextStartLength; i + kEpsfMarkLength <= n; ++i) {
        if (p[i] == '\r' || p[i] == '\n')
            return false;
        if (std::memcmp(p + i, kEpsfMark, kEpsfMarkLength) == 0)
            return true;
    }
    return false;
}

// The four bytes at 28: the unused checksum FF FF, then what starts at 30 (the PostScript, or a
// TIFF preview placed first).
bool KnownChecksumField(const std::uint8_t* p) {
    if (p[0] != 0xFF || p[1] != 0xFF)
        return false;
    const int a = std::toupper(p[2]), b = std::toupper(p[3]);
    return (a == '%' && b == '!') || (a == 0 && b == 0) || (a == 'I' && b == 'I');
}
} // namespace

int FileEPSAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (IsTextEps(sector, kSectorSize)) {
        record->m_u32FileType = kTypeId;
        return 1; // sized by the scan
    }
    if (!s.matches(0, kSignature, sizeof(kSignature)) || !KnownChecksumField(sector + 28))
        return 0;
    // Offset and length of the PostScript section, the metafile preview and the TIFF preview:
    // the file ends where the last of them ends.
    std::uint64_t end = 0;
    for (std::size_t field = 4; field <= 20; field += 8)
        end = std::max<std::uint64_t>(end, std::uint64_t(s.u32(field)) + s.u32(field + 4));
    record->m_u32FileType = kTypeId;
    record->m_u64Size = end;
    return 1;
}

int FileEPSAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, kSectorSize);
    if (head.empty() || !IsTextEps(head.data(), head.size()))
        return 0; // the binary form is sized by its header
    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    std::uint64_t lastEnd = 0; // behind the last "%%EOF" line seen
    std::uint64_t x = kTextStartLength;
    const auto finish = [&](std::uint64_t size) {
        record->m_u64Size = size;
        return 1;
    };
    int decided = 0;
    const PercentScan how = ScanPercentMarkers(reader, x, cap, [&](std::uint64_t at, ByteSpan) -> std::uint64_t {
        // "%%EOF" at the start of a line, then its line end (CR, LF or both) and three bytes.
        ByteSpan m = reader.Read(at - 1, 10);
        if (m.empty())
            m = reader.Read(at - 1, 7);
        if (m.empty() || !m.matches(1, "%%EOF", 5) || (m.u8(0) != '\n' && m.u8(0) != '\r') ||
            (m.u8(6) != '\n' && m.u8(6) != '\r'))
            return at + 1;
        std::uint64_t end = at + 6;
        if (m.u8(6) == '\r' && m.has(7, 1) && m.u8(7) == '\n')
            ++end;
        lastEnd = end;
        const std::size_t after = static_cast<std::size_t>(end - (at - 1));
        const bool more = m.has(after, 3) && IsLineText(m.u8(after)) &&
                          IsLineText(m.u8(after + 1)) && IsLineText(m.u8(after + 2));
        if (more)
            return end;
        decided = finish(end);
        return 0;
    });
    if (how == PercentScan::Decided)
        return decided;
    const std::uint64_t size = PercentScanSize(how, x, lastEnd, reader.IsWindow());
    record->m_bScannedToLimit = how == PercentScan::PastCap && size > cap;
    return size ? finish(size) : 0;
}
