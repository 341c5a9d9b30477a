#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"

#include "filesystems/StoreSection.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <algorithm>

namespace {
bool ValidClusterSize(std::uint32_t spc) {
    return spc >= 1 && spc <= 128 && (spc & (spc - 1)) == 0;
}
} // namespace

CSearchedNTFSPartitionInfo::CSearchedNTFSPartitionInfo() = default;

void CSearchedNTFSPartitionInfo::SetSectorCount(std::uint64_t sectors) {
    m_u64SectorCount = sectors;
    m_u32SectorCount = sectors; // 64 bits in memory; the saved field is clamped by SaveFields
}

int CSearchedNTFSPartitionInfo::Save(IRSData* section) const {
    SaveFields(section);
    RSWriteValue<std::uint64_t>(section, m_u64SerialNumber);
    RSWriteValue<std::uint32_t>(section, m_u32LayoutTag);
    RSWriteValue<std::uint32_t>(section, m_u32Evidence);
    RSWriteValue<std::uint32_t>(section, m_u32UseMftFile);
    RSWriteValue<std::uint32_t>(section, m_u32MftOnly);
    for (std::uint64_t v : {m_u64ClusterCount, m_u64LogFileConfirmed, m_u64AttrDefConfirmed,
                            m_u64UpCaseConfirmed, m_u64MftRecordSector, m_u64LogFileRecordSector,
                            m_u64AttrDefRecordSector, m_u64UpCaseRecordSector, m_u64BitmapSectors})
        RSWriteValue<std::uint64_t>(section, v);
    return 1;
}

int CSearchedNTFSPartitionInfo::Load(IRSData* section) {
    LoadFields(section);
    m_u64SerialNumber = RSReadValue<std::uint64_t>(section);
    m_u32LayoutTag = RSReadValue<std::uint32_t>(section);
    m_u32Evidence = RSReadValue<std::uint32_t>(section);
    m_u32UseMftFile = RSReadValue<std::uint32_t>(section);
    m_u32MftOnly = RSReadValue<std::uint32_t>(section);
    for (std::uint64_t* v :
         {&m_u64ClusterCount, &m_u64LogFileConfirmed, &m_u64AttrDefConfirmed, &m_u64UpCaseConfirmed,
          &m_u64MftRecordSector, &m_u64LogFileRecordSector, &m_u64AttrDefRecordSector,
          &m_u64UpCaseRecordSector, &m_u64BitmapSectors})
        *v = RSReadValue<std::uint64_t>(section);
    // The saved size is 32-bit; the cluster count gives the whole size back when it is known.
    std::uint64_t sectors = m_u32SectorCount;
    if (m_u64ClusterCount != kNtfsUnknown && m_sectorsPerCluster &&
        m_u64ClusterCount <= UINT64_MAX / m_sectorsPerCluster)
        sectors = std::max<std::uint64_t>(sectors, m_u64ClusterCount * m_sectorsPerCluster);
    SetSectorCount(sectors);
    return 1;
}

std::unique_ptr<CSearchedNTFSPartitionInfo>
MakeNtfsPartitionFromBootSector(const CNTFSDBR& boot, std::uint64_t sector, std::uint32_t evidence,
                                std::uint64_t deviceSectors) {
    const std::uint32_t spc = boot.GetSectorsPerCluster();
    if ((sector >> 63) != 0 || !ValidClusterSize(spc) || sector >= deviceSectors)
        return nullptr;
    const std::uint64_t size = std::min(boot.GetTotalSectors(), deviceSectors - sector);
    if (size <= 7)
        return nullptr;
    auto r = std::make_unique<CSearchedNTFSPartitionInfo>();
    r->SetEvidence(evidence);
    r->m_fileSystemType = FILESYSTEM_NTFS;
    r->m_sectorsPerCluster = static_cast<std::uint8_t>(spc);
    r->m_u64FirstSector = sector;
    r->m_u64SerialNumber = boot.GetSerialNumber();
    r->m_u64ClusterCount = size / spc;
    r->SetSectorCount(r->m_u64ClusterCount * spc);
    return r;
}

std::unique_ptr<CSearchedNTFSPartitionInfo>
MakeNtfsPartitionCandidate(std::uint64_t recordSector, std::uint64_t cluster,
                           std::uint8_t sectorsPerCluster, std::uint32_t evidence,
                           std::uint64_t deviceSectors) {
    if (!ValidClusterSize(sectorsPerCluster) || (cluster >> 63) != 0)
        return nullptr;
    std::uint64_t offset;
    if (__builtin_mul_overflow(cluster, std::uint64_t{sectorsPerCluster}, &offset) ||
        offset > recordSector)
        return nullptr;
    const std::uint64_t start = recordSector - offset;
    // The structure must lie at least 8 sectors into the partition.
    if (recordSector < 8 || start > recordSector - 8 || start >= deviceSectors)
        return nullptr;
    auto r = std::make_unique<CSearchedNTFSPartitionInfo>();
    r->m_u64FirstSector = start;
    r->m_sectorsPerCluster = sectorsPerCluster;
    r->IndexConfirmations() = 0;
    r->m_fileSystemType = FILESYSTEM_NTFS;
    r->m_u64ClusterCount = (deviceSectors - start) / sectorsPerCluster;
    r->SetSectorCount(r->m_u64ClusterCount * sectorsPerCluster);
    r->SetEvidence(evidence);
    if (r->m_u64SectorCount <= 7)
        return nullptr;
    return r;
}

void MakeNtfsPartitionCandidatesAllSizes(
    std::uint64_t recordSector, std::uint64_t cluster, std::uint32_t evidence,
    std::uint64_t deviceSectors, std::vector<std::unique_ptr<CSearchedNTFSPartitionInfo>>& out) {
    for (std::uint32_t spc = 1; spc <= 128; spc *= 2)
        if (auto r = MakeNtfsPartitionCandidate(
                recordSector, cluster, static_cast<std::uint8_t>(spc), evidence, deviceSectors))
            out.push_back(std::move(r));
}

std::uint64_t ComputeNtfsPartitionScore(const CSearchedNTFSPartitionInfo& r) {
    std::uint64_t score = 0;
    const std::uint32_t e = r.GetEvidence();
    for (std::uint32_t bit : {0x01u, 0x02u, 0x08u, 0x10u, 0x40u, 0x80u})
        if (e & bit)
            score += 10;
    if (e & NTFS_EVIDENCE_MFT_AND_MIRROR)
        score += 30;
    // An unknown count (-1) counts as none; only a whole table (or enough log pages) adds 10.
    auto part = [](std::uint64_t confirmed, std::uint64_t whole) -> std::uint64_t {
        if (confirmed == kNtfsUnknown)
            return 0;
        return std::min<std::uint64_t>(10, (confirmed / whole) * 10);
    };
    score += part(r.m_u64UpCaseConfirmed, 256);
    score += part(r.m_u64LogFileConfirmed, 10000);
    score += part(r.m_u64AttrDefConfirmed, 5);
    return score;
}
