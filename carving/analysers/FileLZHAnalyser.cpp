#include "carving/analysers/FileLZHAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

constexpr std::uint32_t kMaxMembers = 1000000;

// "-lh?-" or "-lz?-" with a method the LHA family defines.
bool IsMethod(ByteSpan h) {
    if (!h.has(2, 5) || h.u8(2) != '-' || h.u8(3) != 'l' || h.u8(6) != '-')
        return false;
    const char kind = static_cast<char>(h.u8(4)), m = static_cast<char>(h.u8(5));
    if (kind == 'h')
        return (m >= '0' && m <= '7') || m == 'd';
    if (kind == 'z')
        return m == 's' || m == '4' || m == '5';
    return false;
}

// The length of the member whose header starts the span (header and packed data), or 0 for a
// header that does not hold together.
std::uint64_t MemberLength(ByteSpan h) {
    if (!h.has(0, 22) || !IsMethod(h))
        return 0;
    const std::uint64_t packed = h.u32(7);
    switch (h.u8(20)) { // header level
    case 0:
    case 1: {
        // Byte 0: the header's length behind its first two bytes (unsigned); byte 1: the sum of
        // those bytes. Level 1 counts its extended headers in the packed size.
        const std::uint32_t length = h.u8(0);
        if (length < 20 || !h.has(2, length))
            return 0;
        std::uint8_t sum = 0;
        for (std::uint32_t i = 0; i < length; ++i)
            sum = static_cast<std::uint8_t>(sum + h.u8(2 + i));
        if (sum != h.u8(1))
            return 0;
        return 2 + length + packed;
    }
    case 2: {
        const std::uint32_t length = h.u16(0); // the whole header, extended headers included
        return length < 26 ? 0 : length + packed;
    }
    case 3: {
        if (!h.has(24, 4) || h.u16(0) != 4) // word size
            return 0;
        const std::uint32_t length = h.u32(24);
        return length < 32 ? 0 : length + packed;
    }
    default:
        return 0;
    }
}

} // namespace

int FileLZHAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector + 2, "-lh5-", 5) != 0 && std::memcmp(sector + 2, "-lh0-", 5) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// Member by member; the archive ends with a zero byte where the next header would start.
int FileLZHAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    for (std::uint32_t member = 0; member < kMaxMembers; ++member) {
        // A level 0 or 1 header is at most 257 bytes; the fields of longer ones lie in their
        // first 28. Fewer bytes only at the end of the device (or of the search's window).
        ByteSpan h = reader.Read(x, 257);
        if (h.empty() && reader.IsWindow())
            return 0;
        if (h.empty())
            h = reader.Read(x);
        if (h.empty()) {
            if (x == 0)
                return 0;
            break;
        }
        const std::uint64_t length = MemberLength(h);
        if (length == 0) {
            if (x == 0)
                return 0;
            if (h.u8(0) == 0)
                ++x; // the end marker belongs to the archive
            break;
        }
        x += length;
        if (x > limit)
            break;
    }
    record->m_u64Size = x;
    return 1;
}
