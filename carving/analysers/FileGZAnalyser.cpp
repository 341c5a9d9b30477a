#include "carving/analysers/FileGZAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

BRULIN_DEFINE_ANALYSER_FACTORY(FileGZAnalyser)

namespace {
const std::uint8_t kSignature[3] = {0x1F, 0x8B, 0x08};
constexpr int kMaxMembers = 10000;
} // namespace

bool FileGZAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    AddSignatureKey(keys, 0, kSignature, 2);
    return true;
}

int FileGZAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// Decodes the members one after the other to find where the last one ends. A stream that
// does not decode is given the longest size a carved file may have, as nothing else tells its
// end.
int FileGZAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 0;
    for (int member = 0; member < kMaxMembers; ++member) {
        std::uint64_t end = 0;
        const int rc = FindDeflateStreamEnd(reader, x, 15 + 16, limit, &end);
        if (rc == kStreamUnreadable && reader.IsWindow())
            return 0; // the rest lies beyond the ring: size it on the device
        if (rc == kStreamPastLimit) {
            record->m_u64Size = end;
            return 1;
        }
        if (rc != kStreamEnded) {
            if (member > 0)
                break; // the bytes behind the last whole member are not part of it
            record->m_u64Size = limit;
            return 1;
        }
        x = end;
        ByteSpan next = reader.Read(x, 3);
        if (next.empty() && reader.IsWindow())
            return 0; // another member may follow beyond the window
        if (next.empty() || !next.matches(0, kSignature, 3))
            break;
    }
    record->m_u64Size = x;
    return 1;
}
