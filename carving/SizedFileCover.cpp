#include "carving/SizedFileCover.h"

#include "carving/RawFileAnalyserRegistry.h"
#include "storage/StorageDevice.h"

void CSizedFileCover::Note(const CRawFileInfo& record, std::uint64_t size) {
    if (size == 0 || !AnalyserNestsOwnType(record.m_u32AnalyserType))
        return;
    const std::uint64_t first = record.m_u64StartSector;
    const std::uint64_t sectors = size / kSectorSize + (size % kSectorSize != 0);
    const std::uint64_t end = sectors > ~first ? ~std::uint64_t(0) : first + sectors;
    Extent& e = m_ends[KindOf(record)];
    if (end > e.end)
        e = {first, end};
}

bool CSizedFileCover::Covers(const CRawFileInfo& record, std::uint64_t sector) const {
    auto it = m_ends.find(KindOf(record));
    return it != m_ends.end() && sector > it->second.first && sector < it->second.end;
}
