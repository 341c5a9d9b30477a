#include "carving/analysers/FileSWFAnalyser.h"

#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <cstring>

int FileSWFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const bool plain = std::memcmp(sector, "FWS", 3) == 0;
    if (!plain && std::memcmp(sector, "CWS", 3) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    // An uncompressed movie's header holds its size. A compressed one holds the size it has
    // once inflated, not its size on the disk: that is left to the zlib stream's end.
    if (plain)
        record->m_u64Size = ByteSpan(sector, kSectorSize).u32(4);
    return 1;
}

int FileSWFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, 8);
    if (head.empty())
        return 0;
    if (head.matches(0, "FWS", 3)) {
        record->m_u64Size = head.u32(4);
        return 1;
    }
    if (!head.matches(0, "CWS", 3))
        return 0;
    std::uint64_t end = 0;
    const int rc = FindDeflateStreamEnd(reader, 8, 15, GetScanOptions().MaxRawFileSize, &end);
    if (rc != kStreamEnded && rc != kStreamPastLimit)
        return 0;
    record->m_u64Size = end;
    record->m_bScannedToLimit = rc == kStreamPastLimit;
    return 1;
}
