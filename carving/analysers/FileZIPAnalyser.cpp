#include "carving/analysers/FileZIPAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

constexpr std::uint32_t kDataDescriptor = 0x08074B50;
constexpr std::uint32_t kZip64EndOfCentral = 0x06064B50; // 56 fixed bytes, u64 size at 4
constexpr std::uint32_t kZip64Locator = 0x07064B50;      // 20 bytes
constexpr std::uint32_t kDigitalSignature = 0x05054B50;  // 6 fixed bytes, u16 size at 4
constexpr std::uint32_t kArchiveExtraData = 0x08064B50;  // 8 fixed bytes, u32 size at 4
constexpr std::uint32_t kMaxRecords = 2000000;

bool IsRecordSignature(std::uint32_t v) {
    return v == kZipLocalHeader || v == kZipCentralHeader || v == kZipEndOfCentral ||
           v == kZip64EndOfCentral || v == kDigitalSignature || v == kArchiveExtraData;
}

enum class Walk { Ok, Stop, GiveUp };

// Reads the ZIP64 extra field of a local header (the record at x) for the sizes that its 32-bit
// fields leave at all ones.
bool ReadZip64Sizes(RawFileReader& reader, std::uint64_t x, ByteSpan header,
                    std::uint64_t* compressed) {
    const std::uint32_t u32Unpacked = header.u32(22), u32Packed = header.u32(18);
    const std::uint64_t nameLength = header.u16(26), extraLength = header.u16(28);
    std::uint64_t at = x + 30 + nameLength;
    const std::uint64_t end = at + extraLength;
    for (int field = 0; field < 16384 && at + 4 <= end; ++field) {
        ByteSpan f = reader.Read(at, 4);
        if (f.empty())
            return false;
        const std::uint16_t id = f.u16(0), length = f.u16(2);
        if (id == 0x0001) {
            ByteSpan v = reader.Read(at + 4, length < 16 ? length : 16);
            if (v.empty() && length)
                return false;
            std::size_t pos = 0;
            if (u32Unpacked == 0xFFFFFFFFu)
                pos += 8;
            if (u32Packed == 0xFFFFFFFFu) {
                if (!v.has(pos, 8))
                    return false;
                *compressed = v.u64(pos);
            }
            return true;
        }
        at += 4 + std::uint64_t(length);
    }
    return false;
}

// The data descriptor behind data of known length: with or without its signature, with 32- or
// 64-bit sizes. The length is the one behind which the next record starts.
std::uint64_t DescriptorLength(RawFileReader& reader, std::uint64_t p, bool zip64) {
    ByteSpan d = reader.Read(p, 4);
    const bool signature = !d.empty() && d.u32(0) == kDataDescriptor;
    const std::uint64_t wide = signature ? 24 : 20, narrow = signature ? 16 : 12;
    const std::uint64_t first = zip64 ? wide : narrow, second = zip64 ? narrow : wide;
    for (std::uint64_t length : {first, second}) {
        ByteSpan next = reader.Read(p + length, 4);
        if (!next.empty() && IsRecordSignature(next.u32(0)))
            return length;
    }
    return first;
}

// The data of a member whose local header left its sizes to a data descriptor: the first
// descriptor (with its signature) whose compressed size equals the distance from the data's
// start. *end is behind it.
Walk FindDescriptor(RawFileReader& reader, std::uint64_t dataStart, std::uint64_t limit,
                    std::uint64_t* end) {
    static const std::uint8_t kSig[4] = {0x50, 0x4B, 0x07, 0x08};
    std::uint64_t pos = dataStart;
    while (pos <= limit) {
        ByteSpan s = reader.Read(pos);
        if (s.size() < 4)
            return reader.IsWindow() ? Walk::GiveUp : Walk::Stop;
        const std::size_t scan = s.size() - 3;
        const std::uint8_t* base = s.data();
        std::size_t from = 0;
        while (from < scan) {
            const void* hit = memmem(base + from, s.size() - from, kSig, 4);
            if (!hit)
                break;
            const std::size_t at =
                static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - base);
            const std::uint64_t p = pos + at;
            const std::uint64_t packed = p - dataStart;
            ByteSpan d = reader.Read(p, 24);
            if (d.empty())
                d = reader.Read(p, 16);
            if (!d.empty()) {
                if (d.u32(8) == packed && d.has(12, 4)) {
                    *end = p + 16;
                    return Walk::Ok;
                }
                if (d.has(8, 16) && d.u64(8) == packed) {
                    *end = p + 24;
                    return Walk::Ok;
                }
            } else if (reader.IsWindow()) {
                return Walk::GiveUp;
            }
            from = at + 1;
        }
        pos += scan;
    }
    *end = pos;
    return Walk::Stop;
}

} // namespace

int FileZIPAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    static const std::uint8_t kLocal[4] = {0x50, 0x4B, 0x03, 0x04};
    if (std::memcmp(sector, kLocal, 4) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// Record by record: local headers with their data (and data descriptors), central directory
// headers, ZIP64 end records, up to and including the end record with its comment. A record
// of another kind ends the file where it starts.
int FileZIPAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    for (std::uint32_t n = 0; n < kMaxRecords; ++n) {
        if (x > limit)
            break;
        // Every record's fixed part fits in 46 bytes; fewer only at the end of the device (on
        // the search's ring: at the window's edge, where the file may go on).
        ByteSpan r = reader.Read(x, 46);
        if (r.empty() && reader.IsWindow())
            return 0;
        if (r.empty())
            r = reader.Read(x, 4);
        if (r.empty()) {
            if (x == 0)
                return 0;
            break;
        }
        const std::uint32_t signature = r.u32(0);
        if (x == 0 && signature != kZipLocalHeader)
            return 0;
        if (signature == kZipLocalHeader) {
            r = reader.Read(x, 30);
            if (!IsValidZipRecord(r)) {
                if (x == 0)
                    return 0;
                break;
            }
            const std::uint16_t flags = r.u16(6);
            const std::uint64_t dataStart = x + 30 + r.u16(26) + r.u16(28);
            std::uint64_t packed = r.u32(18);
            bool zip64 = false;
            if (packed == 0xFFFFFFFFu || r.u32(22) == 0xFFFFFFFFu) {
                zip64 = ReadZip64Sizes(reader, x, r, &packed);
                if (!zip64 && packed == 0xFFFFFFFFu) {
                    if (reader.IsWindow())
                        return 0;
                    break;
                }
            }
            if ((flags & 8) && packed == 0) {
                std::uint64_t end = 0;
                const Walk w = FindDescriptor(reader, dataStart, limit, &end);
                if (w == Walk::GiveUp)
                    return 0;
                if (w == Walk::Stop) {
                    if (end > limit)
                        x = end;
                    break;
                }
                x = end;
                continue;
            }
            if (packed > limit) {
                x = packed > ~0ull - dataStart ? ~0ull : dataStart + packed;
                break;
            }
            x = dataStart + packed;
            if (flags & 8) {
                if (x > limit)
                    break;
                x += DescriptorLength(reader, x, zip64);
            }
            continue;
        }
        std::uint64_t length = 0;
        if (signature == kZipCentralHeader || signature == kZipEndOfCentral) {
            std::uint32_t l = 0;
            if (!GetZipRecordLength(r, &l))
                break;
            length = l;
        } else if (signature == kZip64EndOfCentral) {
            ByteSpan z = reader.Read(x, 12);
            if (z.empty() || z.u64(4) < 44 || z.u64(4) > limit)
                break;
            length = 12 + z.u64(4);
        } else if (signature == kZip64Locator) {
            length = 20;
        } else if (signature == kDigitalSignature) {
            ByteSpan z = reader.Read(x, 6);
            if (z.empty())
                break;
            length = 6 + z.u16(4);
        } else if (signature == kArchiveExtraData) {
            ByteSpan z = reader.Read(x, 8);
            if (z.empty())
                break;
            length = 8 + std::uint64_t(z.u32(4));
        } else {
            break;
        }
        x += length;
        if (signature == kZipEndOfCentral)
            break;
    }
    record->m_u64Size = x;
    return 1;
}
