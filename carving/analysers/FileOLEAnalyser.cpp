#include "carving/analysers/FileOLEAnalyser.h"

#include "carving/analysers/CompoundFile.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

int FileOLEAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (std::memcmp(sector, kCompoundFileSignature, sizeof(kCompoundFileSignature)) != 0)
        return 0;
    record->m_u32FileType = COMPOUND_OLE;
    return 1;
}

int FileOLEAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    // Sectors of up to 4096 bytes: where the reader hands out fewer bytes at once (the search's
    // ring wraps), the sector is put together 512 bytes at a time.
    std::uint8_t assembled[4096];
    const CompoundByteSource source = [&](std::uint64_t offset, std::size_t length) {
        if (length > sizeof(assembled))
            return ByteSpan();
        ByteSpan s = reader.Read(offset);
        if (s.has(0, length))
            return ByteSpan(s.data(), length);
        for (std::size_t done = 0; done < length; done += kSectorSize) {
            const std::size_t piece = std::min<std::size_t>(kSectorSize, length - done);
            ByteSpan p = reader.Read(offset + done, piece);
            if (p.empty())
                return ByteSpan();
            std::memcpy(assembled + done, p.data(), piece);
        }
        return ByteSpan(assembled, length);
    };

    const std::uint64_t cap = GetScanOptions().MaxRawFileSize;
    CompoundFileExtent extent;
    if (MeasureCompoundFile(source, cap, &extent) != CompoundMeasure::Ok)
        return 0;
    // In the search's ring the last FAT sector of a file larger than the limit may only lie
    // outside the window: the device tells the size the file claims.
    if (extent.lastFatSectorUnread && reader.IsWindow())
        return 0;
    const std::uint32_t dir = extent.header.firstDirectorySector;
    if (dir >= extent.usedSectors)
        return 0; // the directory lies outside the file
    ByteSpan d = source((std::uint64_t(dir) + 1) << extent.header.sectorShift, 512);
    if (d.empty()) {
        // In the search's ring an unreadable sector only lies outside the window: leave the
        // file to be sized on the device.
        if (reader.IsWindow() || extent.size > kUnclassifiedLimit)
            return 0;
        record->m_u32FileType = COMPOUND_MOF;
        record->m_u64Size = extent.size;
        return 1;
    }
    CompoundDirectoryHead head;
    if (!ReadCompoundDirectoryHead(d, extent.header.sectorShift, &head) ||
        !CompoundEntriesInside(head, extent))
        return 0;
    if (!ReadCompoundTopLevelNames(source, extent, &head) && reader.IsWindow())
        return 0; // the rest of the directory lies outside the search's ring
    std::uint64_t growth = 0;
    record->m_u32FileType = ClassifyCompoundDocument(head, &growth);
    // The size the file claims, also beyond the largest carved size: the RAW tree cuts it
    // there and recovery does not count the cut file as recovered.
    record->m_u64Size = extent.size + growth;
    return 1;
}
