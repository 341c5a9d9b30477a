#include "carving/analysers/FileMIDAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>
#include <strings.h>

namespace {
const std::uint8_t kSignature[8] = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
}

int FileMIDAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kSignature, sizeof(kSignature)) != 0)
        return 0;
    const ByteSpan s(sector, kSectorSize);
    if (s.be16(8) > 2 || s.be16(10) == 0) // format 0, 1 or 2; at least one track
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

// The "MTrk" chunks behind the 14-byte header, one after the other, until a chunk of another
// kind (or none) follows.
int FileMIDAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    std::uint64_t x = 14;
    // A track count is 16 bits; a few chunks more cover files that miscount their tracks.
    for (std::uint32_t chunk = 0; chunk < 70000; ++chunk) {
        if (x > limit)
            break;
        ByteSpan head = reader.Read(x, 8);
        if (head.empty()) {
            if (reader.IsWindow())
                return 0;
            break;
        }
        if (strncasecmp(reinterpret_cast<const char*>(head.data()), "MTrk", 4) != 0)
            break;
        x += std::uint64_t(head.be32(4)) + 8;
    }
    record->m_u64Size = x;
    return 1;
}
