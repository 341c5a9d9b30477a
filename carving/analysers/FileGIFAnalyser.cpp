#include "carving/analysers/FileGIFAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

constexpr std::uint8_t kImage = 0x2C;     // ','
constexpr std::uint8_t kExtension = 0x21; // '!'
constexpr std::uint8_t kTrailer = 0x3B;   // ';'
// How far behind the extensions the next image separator is looked for.
constexpr std::uint64_t kSeparatorSearch = 512;

// Byte reads at file offsets, refused beyond the size cap so that no walk over damaged bytes
// can run for the whole device.
class GifBytes {
public:
    GifBytes(IStorageDevice* device, std::uint64_t firstSector, std::uint64_t limit)
        : m_reader(device, firstSector), m_limit(limit) {}
    bool Get(std::uint64_t offset, std::uint8_t* value) {
        if (offset > m_limit)
            return false;
        ByteSpan s = m_reader.Read(offset, 1);
        if (s.empty())
            return false;
        *value = s.u8(0);
        return true;
    }
    // Steps over data sub-blocks from `at` (a length byte, then that many bytes, up to a zero
    // length). Returns the offset behind the terminating zero, or 0 when a byte cannot be read.
    std::uint64_t SkipSubBlocks(std::uint64_t at) {
        std::uint8_t m = 0;
        for (;;) {
            if (!Get(at, &m))
                return 0;
            if (m == 0)
                return at + 1;
            at += std::uint64_t(m) + 1;
        }
    }

private:
    RawFileReader m_reader;
    std::uint64_t m_limit;
};

std::uint64_t ColourTableBytes(std::uint8_t packed) {
    return (packed & 0x80) ? 3ull << ((packed & 7) + 1) : 0;
}

} // namespace

int FileGIFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "GIF87a", 6) != 0 && std::memcmp(sector, "GIF89a", 6) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileGIFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    GifBytes gif(device, record->m_u64StartSector, GetScanOptions().MaxRawFileSize);
    std::uint8_t screenFlags = 0;
    if (!gif.Get(10, &screenFlags))
        return 0;
    std::uint64_t p = 13 + ColourTableBytes(screenFlags);
    std::uint8_t b = 0;
    if (!gif.Get(p, &b))
        return 0;
    for (;;) {
        if (b != kImage && b != kExtension)
            break; // the trailer: the size takes it in
        while (b == kExtension) {
            // Introducer, label, then sub-blocks.
            p = gif.SkipSubBlocks(p + 2);
            if (p == 0 || !gif.Get(p, &b))
                return 0;
        }
        if (b == kTrailer)
            break; // extensions (comments, say) after the last image
        // The next image separator, allowing for a little junk.
        std::uint64_t n = p;
        for (;;) {
            if (!gif.Get(n, &b))
                return 0;
            if (b == kImage)
                break;
            if (++n - p > kSeparatorSearch)
                return 0;
        }
        std::uint8_t packed = 0, unused = 0;
        if (!gif.Get(n + 5, &unused) || !gif.Get(n + 7, &unused) || !gif.Get(n + 9, &packed))
            return 0;
        // Descriptor, local colour table, LZW code size, then the data sub-blocks.
        p = gif.SkipSubBlocks(n + 10 + ColourTableBytes(packed) + 1);
        if (p == 0 || !gif.Get(p, &b))
            return 0;
    }
    record->m_u64Size = p + 1;
    return 1;
}
