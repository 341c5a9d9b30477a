#include "filesystems/FileSystemSearchController.h"

#include "filesystems/StoreSection.h"
#include "logging/Log.h"

#include <cinttypes>

int CSearchedPartitionInfo::Save(IRSData* section) const {
    SaveFields(section);
    return 1;
}

int CSearchedPartitionInfo::Load(IRSData* section) {
    LoadFields(section);
    return 1;
}

void CSearchedPartitionInfo::SaveFields(IRSData* section) const {
    RSWriteValue<std::uint32_t>(section, m_fileSystemType);
    RSWriteValue<std::uint8_t>(section, m_sectorsPerCluster);
    RSWriteValue<std::uint64_t>(section, m_u64FirstSector);
    RSWriteValue<std::uint64_t>(section, m_u64KeptFirstSector);
    RSWriteValue<std::uint64_t>(section, m_u64EvidenceB);
    RSWriteValue<std::uint64_t>(section, m_u64EvidenceA);
    RSWriteValue<std::uint32_t>(section, m_u32Identity);
    std::uint32_t savedCount = static_cast<std::uint32_t>(m_u32SectorCount);
    if (m_u32SectorCount > UINT32_MAX) {
        savedCount = UINT32_MAX;
        LogWarning("Partition at sector %" PRIu64 ": %" PRIu64
                   " sectors do not fit the saved 32-bit field; saved as %" PRIu32,
                   m_u64FirstSector, m_u32SectorCount, savedCount);
    }
    RSWriteValue<std::uint32_t>(section, savedCount);
    RSWriteValue<std::uint64_t>(section, m_u64Score);
    RSWriteValue<double>(section, m_relativeScore);
    RSWriteValue<std::uint32_t>(section, m_u32Chosen);
}

void CSearchedPartitionInfo::LoadFields(IRSData* section) {
    m_fileSystemType = RSReadValue<std::uint32_t>(section);
    // A type outside the known ones is a damaged record, not a file system to guess at.
    if (m_fileSystemType > FILESYSTEM_UNKNOWN)
        throw CRSException(RSERR_BAD_HEADER);
    m_sectorsPerCluster = RSReadValue<std::uint8_t>(section);
    m_u64FirstSector = RSReadValue<std::uint64_t>(section);
    m_u64KeptFirstSector = RSReadValue<std::uint64_t>(section);
    m_u64EvidenceB = RSReadValue<std::uint64_t>(section);
    m_u64EvidenceA = RSReadValue<std::uint64_t>(section);
    m_u32Identity = RSReadValue<std::uint32_t>(section);
    m_u32SectorCount = RSReadValue<std::uint32_t>(section);
    m_u64Score = RSReadValue<std::uint64_t>(section);
    m_relativeScore = RSReadValue<double>(section);
    m_u32Chosen = RSReadValue<std::uint32_t>(section);
}
