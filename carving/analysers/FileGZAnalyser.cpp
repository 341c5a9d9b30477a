#include "carving/analysers/FileGZAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

namespace {
const std::uint8_t kSignature[3] = {0x1F, 0x8B, 0x08};
constexpr int kMaxMembers = 10000;
constexpr std::uint8_t kReservedFlags = 0xE0; // flag bits that no gzip writer sets
} // namespace

int FileGZAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0 || (sector[3] & kReservedFlags))
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// Decodes the members one after the other to find where the last one ends. Bytes whose first
// deflate block does not decode are no gzip file (no size); a member that decodes for a while
// and then goes wrong (the rest of the file overwritten) ends where decoding failed.
int FileGZAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    for (int member = 0; member < kMaxMembers; ++member) {
        std::uint64_t end = 0;
        DeflateProgress progress;
        const int rc = FindDeflateStreamEnd(reader, x, 15 + 16, limit, &end, &progress);
        if (rc == kStreamUnreadable && reader.IsWindow())
            return 0; // the rest lies beyond the ring: size it on the device
        if (rc == kStreamPastLimit) {
            record->m_u64Size = end;
            record->m_bScannedToLimit = true;
            return 1;
        }
        if (rc != kStreamEnded) {
            if (member > 0)
                break; // the bytes behind the last whole member are not part of it
            if (progress.firstBlockDecoded && progress.stoppedAt > 0) {
                record->m_u64Size = progress.stoppedAt; // damaged, or the device ends there
                return 1;
            }
            return 0; // not a gzip member, or one cut off within its first block
        }
        x = end;
        ByteSpan next = reader.Read(x, 4);
        if (next.empty())
            next = reader.Read(x, 3);
        if (next.empty() && reader.IsWindow())
            return 0; // another member may follow beyond the window
        if (next.empty() || !next.matches(0, kSignature, 3) ||
            (next.has(3, 1) && (next.u8(3) & kReservedFlags)))
            break;
    }
    record->m_u64Size = x;
    return 1;
}
