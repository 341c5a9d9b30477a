#include "carving/analysers/AnalyserFormats.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cctype>
#include <memory>
#include <zlib.h>
#include <cstring>
#include <strings.h>

int IsValidZipRecord(ByteSpan r) {
    if (!r.has(0, 4))
        return 0;
    switch (r.u32(0)) {
    case kZipLocalHeader:
        return r.has(0, 30) && r.u16(8) <= 10 && r.u16(26) <= 1040;
    case kZipCentralHeader:
    case kZipEndOfCentral:
        return 1;
    default:
        return 0;
    }
}

int GetZipRecordLength(ByteSpan r, std::uint32_t* length) {
    if (!length || !r.has(0, 4))
        return 0;
    std::uint64_t n = 0;
    switch (r.u32(0)) {
    case kZipLocalHeader:
        if (!r.has(0, 30))
            return 0;
        n = 30ull + r.u16(26) + r.u16(28) + r.u32(18);
        break;
    case kZipCentralHeader:
        if (!r.has(0, 46))
            return 0;
        n = 46ull + r.u16(28) + r.u16(30) + r.u16(32);
        break;
    case kZipEndOfCentral:
        if (!r.has(0, 22))
            return 0;
        n = 22ull + r.u16(20);
        break;
    default:
        return 0;
    }
    if (n > 0xFFFFFFFFull)
        return 0;
    *length = static_cast<std::uint32_t>(n);
    return 1;
}

int IsValidRarBlock(ByteSpan b) {
    if (!b.has(0, 7))
        return 0;
    switch (b.u8(2)) {
    case 0x73:
    case 0x75:
    case 0x76:
    case 0x78:
    case 0x7A:
    case 0x7B:
        return 1;
    case 0x74:
        return b.has(0, 16) && b.u32(7) <= b.u32(11) && b.u8(15) <= 4;
    case 0x77:
        return b.has(0, 14) && b.u8(13) == 0;
    default: // 0x72 marker, 0x79 authenticity, unknown types
        return 0;
    }
}

int GetRarBlockSize(ByteSpan b, std::uint64_t* size) {
    if (!size || !IsValidRarBlock(b))
        return 0;
    const std::uint64_t head = b.u16(5);
    if (head <= 6)
        return 0;
    std::uint64_t n = 0;
    switch (b.u8(2)) {
    case 0x73:
        if (head < 10)
            return 0;
        n = head;
        break;
    case 0x74:
        if (!b.has(7, 4))
            return 0;
        n = head + b.u32(7);
        // A packed size beyond 4 GiB keeps its high half in the header (flag 0x100).
        if ((b.u16(3) & 0x100) && head >= 40 && b.has(32, 4))
            if (__builtin_add_overflow(n, std::uint64_t(b.u32(32)) << 32, &n))
                return 0;
        break;
    case 0x77:
        if (!b.has(7, 4))
            return 0;
        n = head + b.u32(7);
        break;
    case 0x75:
        if (!b.has(7, 2))
            return 0;
        n = head + b.u16(7);
        break;
    case 0x76:
        n = head;
        break;
    case 0x7B:
        // The end of the archive: the fields behind its head (CRC, volume number) are part of
        // the head, nothing follows.
        n = head;
        break;
    case 0x78:
    case 0x7A:
        if (head < 10 || !b.has(7, 4))
            return 0;
        n = head + b.u32(7);
        break;
    default:
        return 0;
    }
    *size = n;
    return 1;
}

int ReadAtomSize(ByteSpan atom, std::uint32_t* size) {
    if (!size || !atom.has(0, 4))
        return 0;
    const std::uint32_t v = atom.be32(0);
    if (v == 0 || v == 0xFFFFFFFFu)
        return 0;
    *size = v;
    return 1;
}

namespace {

bool IsTopLevelAtomType(const std::uint8_t* type) {
    static const char* const kTypes[] = {"mdat", "moov", "free", "skip", "wide", "pnot",
                                         "moof", "mfra", "ftyp", "uuid", "meta", "udta",
                                         "sidx", "styp", "pdin", "junk"};
    for (const char* t : kTypes)
        if (strncasecmp(reinterpret_cast<const char*>(type), t, 4) == 0)
            return true;
    return false;
}

} // namespace

int ReadAtomHead(ByteSpan head, std::uint64_t* size, std::uint32_t* headerBytes) {
    if (!size || !headerBytes || !head.has(0, 8))
        return 0;
    const std::uint32_t n = head.be32(0);
    if (n == 1) {
        if (!head.has(8, 8))
            return 0;
        const std::uint64_t wide = head.be64(8);
        if (wide < 16)
            return 0;
        *size = wide;
        *headerBytes = 16;
        return 1;
    }
    if (n == 0) { // runs to the end of the file
        *size = 0;
        *headerBytes = 8;
        return 1;
    }
    if (n < 8)
        return 0;
    *size = n;
    *headerBytes = 8;
    return 1;
}

int WalkQuickTimeAtoms(CRawFileInfo* record, IStorageDevice* device) {
    if (!record)
        return 0;
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t p = 0;
    for (std::uint32_t round = 0; round < kMaxQuickTimeAtoms; ++round) {
        if (p > limit)
            break;
        ByteSpan head = reader.Read(p, 16);
        if (head.empty()) {
            // The ring may simply not hold the rest yet: leave the file to the real device.
            if (reader.IsWindow())
                return 0;
            head = reader.Read(p, 8);
            if (head.empty())
                break;
        }
        std::uint64_t size = 0;
        std::uint32_t headerBytes = 0;
        if (!ReadAtomHead(head, &size, &headerBytes))
            break;
        // The first atom's type was tested by the signature; later ones must be top-level atoms.
        if (p != 0 && !IsTopLevelAtomType(head.data() + 4))
            break;
        if (size == 0) {
            // The last atom runs to the end of the file, which nothing here tells: take all
            // that the limit allows.
            p = limit > p ? limit : p + headerBytes;
            break;
        }
        if (size > ~0ull - p) {
            p = ~0ull;
            break;
        }
        p += size;
    }
    if (p == 0)
        return 0;
    record->m_u64Size = p;
    return 1;
}

int DecodeSyncSafeSize(ByteSpan b, std::uint32_t* size) {
    if (!size || !b.has(0, 4))
        return 0;
    const std::uint8_t* p = b.data();
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80)
        return 0;
    *size = (std::uint32_t(p[0]) << 21) | (std::uint32_t(p[1]) << 14) | (std::uint32_t(p[2]) << 7) |
            p[3];
    return 1;
}

int IsValidMp3Header(std::uint32_t h) {
    const std::uint32_t bitrate = (h >> 12) & 15;
    return h >= 0xFFE00000u && ((h >> 19) & 3) != 1 && ((h >> 17) & 3) != 0 && bitrate != 0 &&
           bitrate != 15 && ((h >> 10) & 3) != 3;
}

int GetMp3FrameLength(std::uint32_t h, std::uint32_t* length) {
    if (!length || !IsValidMp3Header(h))
        return 0;
    static const std::uint32_t kRates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    // kbit/s by [MPEG-1 | MPEG-2 and 2.5][layer I, II, III][index].
    static const std::uint32_t kBitRates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    const std::uint32_t version = (h >> 19) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const std::uint32_t versionRow = version == 3 ? 0 : version == 2 ? 1 : 2;
    const bool mpeg1 = version == 3;
    const std::uint32_t layer = (h >> 17) & 3; // 3 layer I, 2 layer II, 1 layer III
    const std::uint32_t rate = kRates[versionRow][(h >> 10) & 3];
    const std::uint32_t bits = kBitRates[mpeg1 ? 0 : 1][3 - layer][(h >> 12) & 15] * 1000;
    const std::uint32_t padding = (h >> 9) & 1;
    if (layer == 3)
        *length = (12 * bits / rate + padding) * 4; // slots of four bytes
    else if (layer == 1 && !mpeg1)
        *length = 72 * bits / rate + padding; // 576 samples a frame
    else
        *length = 144 * bits / rate + padding; // 1152 samples a frame
    return 1;
}

namespace {

constexpr std::size_t kInflateChunk = 64 * 1024;

} // namespace

int FindDeflateStreamEnd(RawFileReader& reader, std::uint64_t offset, int windowBits,
                         std::uint64_t limit, std::uint64_t* end, DeflateProgress* progress) {
    if (!end)
        return kStreamDamaged;
    if (progress)
        *progress = DeflateProgress{};
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK)
        return kStreamDamaged;
    std::unique_ptr<std::uint8_t[]> sink(new std::uint8_t[kInflateChunk]);
    std::uint64_t x = offset;
    int result = kStreamDamaged;
    // Until the first block has ended, inflate stops at every block boundary (the wrapper's
    // header counts as one when there is a wrapper), so that a stream that goes wrong later
    // can be told from bytes that never were one.
    const bool wrapped = windowBits > 0;
    int boundaries = 0;
    bool firstBlock = false;
    for (;;) {
        if (x > limit) {
            *end = x;
            result = kStreamPastLimit;
            break;
        }
        ByteSpan in = reader.Read(x);
        if (in.empty()) {
            result = kStreamUnreadable;
            if (progress)
                progress->stoppedAt = x;
            break;
        }
        std::size_t take = in.size() < kInflateChunk ? in.size() : kInflateChunk;
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(take);
        int rc = Z_OK;
        while (z.avail_in > 0 && rc == Z_OK) {
            z.next_out = sink.get();
            z.avail_out = kInflateChunk;
            rc = inflate(&z, firstBlock ? Z_NO_FLUSH : Z_BLOCK);
            if (!firstBlock && rc == Z_OK && (z.data_type & 128) &&
                ++boundaries > (wrapped ? 1 : 0))
                firstBlock = true;
        }
        const std::size_t used = take - z.avail_in;
        x += used;
        if (rc == Z_BUF_ERROR && used > 0)
            rc = Z_OK; // took what it could; more input follows
        if (rc == Z_STREAM_END) {
            firstBlock = true;
            *end = x;
            result = kStreamEnded;
            break;
        }
        if (rc != Z_OK) {
            result = kStreamDamaged;
            if (progress)
                progress->stoppedAt = x;
            break;
        }
    }
    if (progress)
        progress->firstBlockDecoded = firstBlock;
    inflateEnd(&z);
    return result;
}

std::int64_t FindBytesNoCase(const std::uint8_t* hay, std::size_t n, const std::uint8_t* needle,
                             std::size_t m) {
    if (m == 0)
        return 0;
    if (!hay || n < m)
        return -1;
    const int lo = std::tolower(needle[0]);
    const int up = std::toupper(needle[0]);
    std::size_t pos = 0;
    const std::size_t last = n - m; // last start position
    while (pos <= last) {
        const std::uint8_t* a = static_cast<const std::uint8_t*>(std::memchr(hay + pos, lo, last - pos + 1));
        const std::uint8_t* b =
            lo == up ? nullptr
                     : static_cast<const std::uint8_t*>(std::memchr(hay + pos, up, last - pos + 1));
        const std::uint8_t* c = !a ? b : !b ? a : (a < b ? a : b);
        if (!c)
            return -1;
        const std::size_t at = static_cast<std::size_t>(c - hay);
        bool equal = true;
        for (std::size_t i = 1; i < m && equal; ++i)
            equal = std::tolower(c[i]) == std::tolower(needle[i]);
        if (equal)
            return static_cast<std::int64_t>(at);
        pos = at + 1;
    }
    return -1;
}

int FindTextEnd(CRawFileInfo* record, IStorageDevice* device, const TextEndMarker* marker) {
    if (!record || !marker || marker->length == 0 || marker->length > sizeof(marker->bytes))
        return 0;
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit =
        marker->longestScan ? marker->longestScan : GetScanOptions().MaxRawFileSize;
    const std::size_t m = marker->length;
    std::uint64_t x = 0;
    for (;;) {
        if (x > limit) {
            record->m_u64Size = x;
            record->m_bScannedToLimit = true;
            return 1;
        }
        ByteSpan s = reader.Read(x);
        if (s.empty())
            return 0;
        if (s.size() < m) {
            // Too few bytes left here for the marker; step on until the bytes run out.
            ++x;
            continue;
        }
        // Start positions x .. x + last, none past the limit.
        std::uint64_t last = s.size() - m;
        if (last > limit - x)
            last = limit - x;
        const std::int64_t at = FindBytesNoCase(s.data(), static_cast<std::size_t>(last + m),
                                                marker->bytes, m);
        if (at >= 0) {
            record->m_u64Size = x + static_cast<std::uint64_t>(at) + m;
            return 1;
        }
        x += last + 1;
    }
}
