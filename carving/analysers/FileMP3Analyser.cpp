#include "carving/analysers/FileMP3Analyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {

constexpr std::uint32_t kMaxZeroSkip = 512;
constexpr std::uint32_t kMaxFrames = 2000000;
constexpr std::uint64_t kId3v1Size = 128;
// The bits that stay the same from frame to frame of one stream: sync, version, layer and
// sampling rate.
constexpr std::uint32_t kStreamBits = 0xFFFE0C00u;

} // namespace

int FileMP3Analyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "ID3", 3) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileMP3Analyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    // The ID3v2 tag: versions 2.2 to 2.4 (2.4 may add a 10-byte footer).
    ByteSpan tag = reader.Read(0, 10);
    if (tag.empty())
        return 0;
    const std::uint8_t major = tag.u8(3);
    if (major < 2 || major > 4 || tag.u8(4) == 0xFF)
        return 0;
    std::uint32_t tagSize = 0;
    if (!DecodeSyncSafeSize(tag.sub(6, 4), &tagSize))
        return 0;
    std::uint64_t x = std::uint64_t(tagSize) + 10;
    if (major == 4 && (tag.u8(5) & 0x10))
        x += 10;

    // Padding that some taggers put behind the tag.
    for (std::uint32_t skipped = 0; skipped < kMaxZeroSkip; ++skipped) {
        ByteSpan b = reader.Read(x, 1);
        if (b.empty())
            return 0;
        if (b.u8(0) != 0)
            break;
        ++x;
    }

    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    ByteSpan first = reader.Read(x, 4);
    if (first.empty())
        return 0;
    std::uint32_t h = first.be32(0);
    if (IsValidMp3Header(h)) {
        const std::uint32_t stream = h & kStreamBits;
        for (std::uint32_t frame = 0; frame < kMaxFrames; ++frame) {
            std::uint32_t length = 0;
            GetMp3FrameLength(h, &length);
            const std::uint64_t next = x + length;
            if (next > limit) {
                x = next;
                record->m_bScannedToLimit = true;
                break;
            }
            ByteSpan at = reader.Read(next, 5);
            if (at.empty()) {
                if (reader.IsWindow())
                    return 0;
                at = reader.Read(next, 4);
                if (at.empty()) {
                    x = next; // the device ends with this frame
                    break;
                }
            }
            x = next;
            auto belongs = [&](std::uint32_t v) {
                return IsValidMp3Header(v) && (v & kStreamBits) == stream;
            };
            h = at.be32(0);
            if (belongs(h))
                continue;
            // One stray byte between frames is stepped over.
            if (at.has(1, 4) && belongs(at.be32(1))) {
                h = at.be32(1);
                ++x;
                continue;
            }
            break;
        }
    }

    // An ID3v1 trailer directly behind the last frame.
    ByteSpan trailer = reader.Read(x, 3);
    if (trailer.empty() && reader.IsWindow())
        return 0;
    if (trailer.matches(0, "TAG", 3)) {
        if (!reader.Read(x + kId3v1Size - 1, 1).empty())
            x += kId3v1Size;
        else if (reader.IsWindow())
            return 0;
    }
    record->m_u64Size = x;
    return 1;
}
