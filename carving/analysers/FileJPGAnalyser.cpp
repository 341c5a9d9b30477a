#include "carving/analysers/FileJPGAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

enum class Variant { Jfif, Exif, Plain };

const std::uint8_t kJfifStart[4] = {0xFF, 0xD8, 0xFF, 0xE0};
const std::uint8_t kExifStart[4] = {0xFF, 0xD8, 0xFF, 0xE1};
const std::uint8_t kTableStart[4] = {0xFF, 0xD8, 0xFF, 0xDB};

// The scan for the end marker met an unreadable byte at `offset`. On the searched device the
// file is taken to end there; in the RAW search's ring that says nothing, so the walk gives up
// and the file is sized later on the device.
int EndUnreadable(CRawFileInfo* record, const RawFileReader& reader, std::uint64_t offset) {
    if (reader.IsWindow())
        return 0;
    record->m_u64Size = offset;
    return 1;
}

// Start-of-frame markers of the non-differential processes: baseline, extended sequential,
// progressive and lossless, with Huffman (C0 to C3) or arithmetic coding (C9 to CB).
constexpr bool IsFrameMarker(std::uint8_t type) {
    return (type >= 0xC0 && type <= 0xC3) || (type >= 0xC9 && type <= 0xCB);
}

// Sample precision: 8 bits for a baseline frame, 8 or 12 for the other DCT frames, 2 to 16
// for a lossless one.
constexpr bool PlausiblePrecision(std::uint8_t type, std::uint8_t bits) {
    if (type == 0xC0)
        return bits == 8;
    if (type == 0xC3 || type == 0xCB)
        return bits >= 2 && bits <= 16;
    return bits == 8 || bits == 12;
}

// Segments that may stand between the scans of one frame: Huffman and arithmetic tables,
// quantisation tables, restart interval, line count, a further scan, comments and
// application data.
constexpr bool IsBetweenScansMarker(std::uint8_t type) {
    return type == 0xC4 || type == 0xCC || type == 0xDA || type == 0xDB || type == 0xDC ||
           type == 0xDD || type == 0xFE || (type >= 0xE0 && type <= 0xEF);
}

bool NameAt6(const std::uint8_t* p, const char* name) {
    return strncasecmp(reinterpret_cast<const char*>(p + 6), name, 4) == 0;
}

} // namespace

int FileJPGAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const bool app = std::memcmp(sector, kJfifStart, 4) == 0 || std::memcmp(sector, kExifStart, 4) == 0;
    if (app) {
        if (!NameAt6(sector, "JFIF") && !NameAt6(sector, "Exif"))
            return 0;
    } else if (std::memcmp(sector, kTableStart, 4) != 0) {
        return 0;
    }
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileJPGAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    ByteSpan head = reader.Read(0, 10);
    if (head.empty())
        return 0;
    Variant variant = Variant::Plain;
    if (NameAt6(head.data(), "JFIF")) {
        if (!head.matches(6, "JFIF", 4))
            return 0;
        variant = Variant::Jfif;
    } else if (NameAt6(head.data(), "Exif")) {
        variant = Variant::Exif;
    }

    // The markers up to and including the start of scan. Every marker is FF and a type; all but
    // the fill byte carry a big-endian segment length that counts itself.
    std::uint64_t b = 2;
    bool frame = false, scan = false, baseline = false;
    std::uint32_t width = 0, height = 0, components = 0;
    while (!scan) {
        if (b > limit)
            return 0;
        ByteSpan m = reader.Read(b, 2);
        if (m.empty() || m.u8(0) != 0xFF)
            return 0; // truncated, or not a marker: the walk has lost the file
        const std::uint8_t type = m.u8(1);
        std::uint64_t length = 0;
        if (type != 0xFF) {
            ByteSpan seg = reader.Read(b, 4);
            if (seg.empty())
                return 0;
            length = seg.be16(2);
            if (length < 2)
                return 0;
        }
        if (IsFrameMarker(type)) {
            ByteSpan f = reader.Read(b, 10);
            if (f.empty() || !PlausiblePrecision(type, f.u8(4)))
                return 0;
            height = f.be16(5);
            width = f.be16(7);
            components = f.u8(9);
            baseline = type == 0xC0;
            if (baseline ? variant != Variant::Exif && components != 3
                         : components < 1 || components > 4)
                return 0;
            frame = true;
        } else if (type == 0xDA) { // start of scan
            if (!frame)
                return 0;
            ByteSpan sos = reader.Read(b, 5);
            if (sos.empty())
                return 0;
            // A progressive or lossless frame may code its components in separate scans.
            const std::uint32_t inScan = sos.u8(4);
            if (baseline ? variant != Variant::Exif && inScan != 3
                         : inScan < 1 || inScan > components)
                return 0;
            scan = true;
        }
        b += length + 2;
    }

    // In the entropy-coded data an FF is followed by 00 (a stuffed byte), a restart marker or
    // a fill byte; between the scans of a progressive or multi-scan image stand table and scan
    // segments, which are stepped over. The end-of-image marker ends the file; any other pair
    // cannot occur in a whole image, so the file was cut short there (its end overwritten) and
    // ends before it. The search runs no further than the image's raw size would make
    // plausible (the size cap when the frame gives no height), nor past the size cap.
    const std::uint64_t c = b;
    std::uint64_t stop = std::uint64_t(width) * height * 3;
    if (stop == 0 || stop > limit)
        stop = limit;
    if (stop == 0)
        stop = 1;
    const std::uint64_t end = c + stop;
    std::uint64_t p = c;
    while (p < end) {
        ByteSpan s = reader.Read(p);
        if (s.empty())
            return EndUnreadable(record, reader, p);
        const std::uint8_t* d = s.data();
        const std::size_t n = s.size();
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(n, end - p));
        std::size_t i = 0;
        std::uint64_t jump = 0; // where a segment between scans ends, or 0
        while (i < count) {
            const void* ff = std::memchr(d + i, 0xFF, count - i);
            if (!ff) {
                i = count;
                break;
            }
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(ff) - d);
            std::uint8_t next;
            if (i + 1 < n) {
                next = d[i + 1];
            } else {
                // The span's last byte pairs with the first byte of the next read (which may
                // replace the bytes at hand, so `d` is not used after it).
                ByteSpan more = reader.Read(p + i + 1, 1);
                if (more.empty())
                    return EndUnreadable(record, reader, p + i + 1);
                next = more.u8(0);
            }
            const std::uint64_t at = p + i;
            if (next == 0xD9) {
                record->m_u64Size = at + 2;
                return 1;
            }
            if (next == 0x00 || next == 0xFF || (next >= 0xD0 && next <= 0xD7)) {
                ++i;
                continue;
            }
            if (!IsBetweenScansMarker(next)) {
                record->m_u64Size = at; // cut short: the file ends before the pair
                return 1;
            }
            ByteSpan seg = reader.Read(at, 4);
            if (seg.empty())
                return EndUnreadable(record, reader, at);
            const std::uint64_t length = seg.be16(2);
            if (length < 2) {
                record->m_u64Size = at;
                return 1;
            }
            jump = at + 2 + length;
            break;
        }
        if (jump) {
            p = jump;
            continue;
        }
        p += count;
    }
    // No end marker where one was plausible: the image is taken to end there.
    record->m_u64Size = end + 2;
    return 1;
}
