#include "carving/analysers/FileTARAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

constexpr std::uint64_t kBlock = 512;
constexpr std::uint64_t kRecord = 20 * kBlock; // the usual blocking: archives are padded to it
constexpr std::uint32_t kMaxMembers = 1000000;

bool IsZeroBlock(ByteSpan b) {
    for (std::size_t i = 0; i < kBlock; ++i)
        if (b.u8(i))
            return false;
    return true;
}

// The header checksum: the sum of the header's bytes with the checksum field counted as
// spaces; old archivers summed signed bytes, so either sum is accepted.
bool ChecksumHolds(ByteSpan h) {
    std::uint32_t stored = 0;
    bool digits = false;
    for (std::size_t i = 148; i < 156; ++i) {
        const std::uint8_t c = h.u8(i);
        if (c >= '0' && c <= '7') {
            stored = stored * 8 + (c - '0');
            digits = true;
        } else if (c == ' ' || c == 0) {
            if (digits)
                break;
        } else {
            return false;
        }
    }
    if (!digits)
        return false;
    std::uint32_t unsignedSum = 0;
    std::int32_t signedSum = 0;
    for (std::size_t i = 0; i < kBlock; ++i) {
        const std::uint8_t c = (i >= 148 && i < 156) ? ' ' : h.u8(i);
        unsignedSum += c;
        signedSum += static_cast<std::int8_t>(c);
    }
    return stored == unsignedSum || stored == static_cast<std::uint32_t>(signedSum);
}

// The member size: octal digits at 124 (up to 12 of them), or the GNU base-256 form (top bit of
// the first byte set, the number in the remaining bytes, big-endian).
std::uint64_t MemberSize(ByteSpan h) {
    std::uint64_t v = 0;
    if (h.u8(124) & 0x80) {
        for (std::size_t i = 125; i < 136; ++i) {
            if (v >> 56)
                return ~0ull;
            v = (v << 8) | h.u8(i);
        }
        return v;
    }
    for (std::size_t i = 124; i < 136; ++i) {
        const std::uint8_t c = h.u8(i);
        if (c >= '0' && c <= '7')
            v = v * 8 + (c - '0');
        else if (c != ' ' && c != 0)
            break;
    }
    return v;
}

} // namespace

int FileTARAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector + 257, "ustar", 5) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// Header by header (each with a valid checksum), over each member's data, up to the zero
// blocks that end the archive; zero blocks behind them up to the archive's 10 KiB record are
// the archiver's padding and belong to it too.
int FileTARAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    bool ended = false;
    for (std::uint32_t member = 0; member < kMaxMembers; ++member) {
        ByteSpan h = reader.Read(x, kBlock);
        if (h.empty()) {
            if (x == 0 || reader.IsWindow())
                return 0;
            break;
        }
        if (IsZeroBlock(h)) {
            if (x == 0)
                return 0;
            ended = true;
            break;
        }
        if (!ChecksumHolds(h)) {
            if (x == 0)
                return 0;
            break; // damaged, or not this archive's any more
        }
        const std::uint64_t size = MemberSize(h);
        // Hard links, symbolic links, devices, folders and FIFOs carry no data whatever
        // their size field says.
        const std::uint8_t kind = h.u8(156);
        const bool noData =
            kind == '1' || kind == '2' || kind == '3' || kind == '4' || kind == '5' || kind == '6';
        const std::uint64_t data = noData ? 0 : size;
        if (data > limit) {
            x = limit + 1;
            break;
        }
        x += kBlock + (data + kBlock - 1) / kBlock * kBlock;
        if (x > limit)
            break;
    }
    if (ended) {
        // The end-of-archive blocks and the padding of the last record.
        std::uint64_t end = x + kBlock;
        const std::uint64_t recordEnd = (x / kRecord + 1) * kRecord;
        while (end < recordEnd && end <= limit) {
            ByteSpan b = reader.Read(end, kBlock);
            if (b.empty()) {
                if (reader.IsWindow())
                    return 0;
                break;
            }
            if (!IsZeroBlock(b))
                break;
            end += kBlock;
        }
        x = end;
    }
    record->m_u64Size = x;
    return 1;
}
