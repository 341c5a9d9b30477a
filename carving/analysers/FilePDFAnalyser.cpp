#include "carving/analysers/FilePDFAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "carving/analysers/TextScan.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

int FilePDFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, "%PDF-", 5) != 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FilePDFAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    std::uint32_t type = kTypeId;
    std::uint64_t lastEnd = 0; // behind the last "%%EOF" seen
    std::uint64_t x = 4;
    const auto finish = [&](std::uint64_t size) {
        record->m_u32FileType = type;
        record->m_u64Size = size;
        return 1;
    };
    int decided = 0;
    const PercentScan how = ScanPercentMarkers(reader, x, cap, [&](std::uint64_t at, ByteSpan m) -> std::uint64_t {
        if (m.matches(0, "%!PS-Adobe", 10))
            type = kIllustratorType;
        if (m.matches(0, "%%EOF", 5)) {
            const std::uint64_t end = at + (type == kIllustratorType ? 7 : 6);
            lastEnd = end;
            const bool more =
                m.has(5, 3) && IsLineText(m.u8(5)) && IsLineText(m.u8(6)) && IsLineText(m.u8(7));
            if (more)
                return end;
            decided = finish(end);
            return 0;
        }
        if (m.matches(0, "%PDF-", 5)) { // the next file starts here
            decided = finish(lastEnd ? lastEnd : at);
            return 0;
        }
        return at + 1;
    });
    if (how == PercentScan::Decided)
        return decided;
    const std::uint64_t size = PercentScanSize(how, x, lastEnd, reader.IsWindow());
    record->m_bScannedToLimit = how == PercentScan::PastCap && size > cap;
    return size ? finish(size) : 0;
}
