#include "carving/analysers/FileRARAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

const std::uint8_t kMarker4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
const std::uint8_t kMarker5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
// The head-only end-of-archive block of RAR 2.x and 3.x.
const std::uint8_t kOldEnd[7] = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
constexpr std::uint32_t kMaxBlocks = 1000000;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
    std::uint64_t s = 0;
    return __builtin_add_overflow(a, b, &s) ? ~0ull : s;
}

// RAR 1.5 to 4.x: blocks behind the 7-byte marker, the first being the archive header.
int SizeRar4(RawFileReader& reader, std::uint64_t limit, std::uint64_t* result) {
    std::uint64_t x = 7;
    ByteSpan b = reader.Read(x, 32);
    std::uint64_t size = 0;
    if (b.empty() || b.u8(2) != 0x73 || !GetRarBlockSize(b, &size))
        return 0;
    x = SaturatingAdd(x, size);
    for (std::uint32_t block = 0; block < kMaxBlocks; ++block) {
        if (x > limit)
            break;
        // The bytes at hand: normally far more than a block head; fewer at the end of the
        // device, or of the search's window, where the archive may go on.
        b = reader.Read(x);
        if (b.empty() && reader.IsWindow())
            return 0;
        if (b.empty())
            break;
        if (!GetRarBlockSize(b, &size)) {
            if (b.size() < 32 && reader.IsWindow() && !b.matches(0, kOldEnd, sizeof(kOldEnd)))
                return 0;
            if (b.matches(0, kOldEnd, sizeof(kOldEnd)))
                x += sizeof(kOldEnd);
            break;
        }
        x = SaturatingAdd(x, size);
        if (b.u8(2) == 0x7B) // end of archive
            break;
    }
    *result = x;
    return 1;
}

// A RAR 5 variable-length integer: seven bits a byte, low first, at most ten bytes.
bool ReadVint(ByteSpan s, std::size_t* at, std::uint64_t* value) {
    std::uint64_t v = 0;
    for (unsigned shift = 0; shift < 70; shift += 7) {
        if (!s.has(*at, 1))
            return false;
        const std::uint8_t c = s.u8((*at)++);
        if (shift == 63 && c > 1)
            return false;
        v |= std::uint64_t(c & 0x7F) << shift;
        if (!(c & 0x80)) {
            *value = v;
            return true;
        }
    }
    return false;
}

// RAR 5: each block is CRC32, header size (vint), then a header of that size (type, flags,
// optional extra-area and data sizes), then the data; block type 5 ends the archive.
int SizeRar5(RawFileReader& reader, std::uint64_t limit, std::uint64_t* result) {
    std::uint64_t x = 8;
    for (std::uint32_t block = 0; block < kMaxBlocks; ++block) {
        if (x > limit)
            break;
        ByteSpan b = reader.Read(x);
        if (b.empty() && reader.IsWindow())
            return 0; // the window ends here, the archive may not
        if (b.empty()) {
            if (block == 0)
                return 0;
            break;
        }
        std::size_t at = 4;
        std::uint64_t headSize = 0, type = 0, flags = 0, extra = 0, data = 0;
        bool parsed = ReadVint(b, &at, &headSize) && headSize >= 2 && headSize <= 0x200000;
        const std::size_t headStart = at; // the CRC and the size field come before the header
        parsed = parsed && ReadVint(b, &at, &type) && ReadVint(b, &at, &flags) &&
                 (!(flags & 1) || ReadVint(b, &at, &extra)) &&
                 (!(flags & 2) || ReadVint(b, &at, &data)) && type >= 1 && type <= 5 &&
                 (block > 0 || type == 1) && data <= limit && extra < headSize;
        if (!parsed) {
            if (b.size() < 32 && reader.IsWindow())
                return 0;
            if (block == 0)
                return 0; // the main archive header must come first
            break;
        }
        x += headStart + headSize + data;
        if (type == 5)
            break;
    }
    *result = x;
    return 1;
}

} // namespace

int FileRARAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kMarker4, sizeof(kMarker4)) != 0 &&
        std::memcmp(sector, kMarker5, sizeof(kMarker5)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileRARAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan marker = reader.Read(0, 8);
    if (marker.empty())
        return 0;
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t size = 0;
    const int ok = marker.matches(0, kMarker5, sizeof(kMarker5))   ? SizeRar5(reader, limit, &size)
                   : marker.matches(0, kMarker4, sizeof(kMarker4)) ? SizeRar4(reader, limit, &size)
                                                                   : 0;
    if (!ok)
        return 0;
    record->m_u64Size = size;
    return 1;
}
