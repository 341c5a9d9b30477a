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

bool NameAt6(const std::uint8_t* p, const char* name) {
    return strncasecmp(reinterpret_cast<const char*>(p + 6), name, 4) == 0;
}

} // namespace

BRULIN_DEFINE_ANALYSER_FACTORY(FileJPGAnalyser)

bool FileJPGAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKey(keys, 0, kJfifStart, 2);
    return true;
}

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
    bool frame = false, scan = false;
    std::uint32_t width = 0, height = 0;
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
        if (type == 0xC0) { // baseline frame
            ByteSpan f = reader.Read(b, 10);
            if (f.empty() || f.u8(4) != 8)
                return 0;
            height = f.be16(5);
            width = f.be16(7);
            if (variant != Variant::Exif && f.u8(9) != 3)
                return 0;
            frame = true;
        } else if (type == 0xDA) { // start of scan
            if (!frame)
                return 0;
            ByteSpan sos = reader.Read(b, 5);
            if (sos.empty() || (variant != Variant::Exif && sos.u8(4) != 3))
                return 0;
            scan = true;
        }
        b += length + 2;
    }

    // The entropy-coded data cannot hold FF D9 (an FF there is followed by 00 or a restart
    // marker), so the first FF D9 ends the image. The search runs no further than the image's
    // raw size would make plausible (the size cap when the frame gives no height), nor past
    // the size cap.
    const std::uint64_t c = b;
    std::uint64_t stop = std::uint64_t(width) * height * 3;
    if (stop == 0 || stop > limit)
        stop = limit;
    if (stop == 0)
        stop = 1;
    std::uint64_t j = 0;
    while (j < stop) {
        ByteSpan s = reader.Read(c + j);
        if (s.empty())
            return EndUnreadable(record, reader, c + j);
        const std::uint8_t* d = s.data();
        const std::size_t n = s.size();
        const std::uint64_t count = std::min<std::uint64_t>(n, stop - j);
        std::uint64_t i = 0;
        while (i < count) {
            const void* ff = std::memchr(d + i, 0xFF, static_cast<std::size_t>(count - i));
            if (!ff) {
                i = count;
                break;
            }
            i = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - d);
            if (i + 1 < n) {
                if (d[i + 1] == 0xD9) {
                    record->m_u64Size = c + j + i + 2;
                    return 1;
                }
                ++i;
                continue;
            }
            // The span's last byte pairs with the first byte of the next read (which may
            // replace the bytes at hand, so `d` is not used after it).
            ByteSpan next = reader.Read(c + j + i + 1, 1);
            if (next.empty())
                return EndUnreadable(record, reader, c + j + i + 1);
            if (next.u8(0) == 0xD9) {
                record->m_u64Size = c + j + i + 2;
                return 1;
            }
            i = count;
        }
        j += count;
    }
    // No end marker where one was plausible: the image is taken to end there.
    record->m_u64Size = c + stop + 2;
    return 1;
}
