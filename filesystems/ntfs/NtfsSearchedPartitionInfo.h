#pragma once
// One NTFS partition that the deep scan believes in: where it starts, its cluster size and
// size, the evidence bits that placed it there and what the scan learnt of its system files.
#include "filesystems/FileSystemSearchController.h"

#include <cstdint>
#include <memory>
#include <vector>

class CNTFSDBR;

// Evidence bits: one per kind of observation that places a partition at its first sector
// with its cluster size.
enum NtfsEvidence : std::uint32_t {
    NTFS_EVIDENCE_BOOT = 0x01,           // a valid boot sector at the first sector
    NTFS_EVIDENCE_BACKUP_BOOT = 0x02,    // the backup boot sector at the partition's end
    NTFS_EVIDENCE_MFT_AND_MIRROR = 0x04, // $MFT at the MFT position and the pair at the mirror
    NTFS_EVIDENCE_MFT = 0x08,            // an $MFT record whose own first cluster places it
    NTFS_EVIDENCE_MIRROR = 0x10,         // an $MFT/$MFTMirr pair read as the mirror copy
    NTFS_EVIDENCE_INDEX = 0x20,          // an index block and its folder's record
    NTFS_EVIDENCE_LOG_FIRST = 0x40,      // a $LogFile restart page read as the first page
    NTFS_EVIDENCE_LOG_SECOND = 0x80,     // a $LogFile restart page read as the second page
};

constexpr std::uint64_t kNtfsUnknown = ~std::uint64_t{0};
// Bytes the NTFS record writes after the common fields.
constexpr std::uint32_t kSearchedNtfsExtraSize = 96;

class CSearchedNTFSPartitionInfo : public CSearchedPartitionInfo {
public:
    CSearchedNTFSPartitionInfo();

    std::uint32_t GetKind() const override { return SEARCHED_PARTITION_NTFS; }
    int Save(IRSData* section) const override;
    int Load(IRSData* section) override;
    std::uint64_t GetSectorCount64() const override { return m_u64SectorCount; }

    void AddEvidence(std::uint32_t bits) { m_u32Evidence |= bits; }
    void SetEvidence(std::uint32_t bits) { m_u32Evidence = bits; }
    std::uint32_t GetEvidence() const { return m_u32Evidence; }

    // Sets the size (64 bits in memory; the saved 32-bit field is clamped when it is written).
    void SetSectorCount(std::uint64_t sectors);
    // Index confirmations (evidence count A) and files confirmed by carving (evidence count B).
    std::uint64_t& IndexConfirmations() { return m_u64EvidenceA; }
    std::uint64_t& FilesConfirmed() { return m_u64EvidenceB; }

    std::uint64_t m_u64SerialNumber = 0;
    std::uint32_t m_u32LayoutTag = 2;
    std::uint32_t m_u32Evidence = 0;
    std::uint32_t m_u32UseMftFile = 0;
    std::uint32_t m_u32MftOnly = 0;
    std::uint64_t m_u64ClusterCount = kNtfsUnknown;
    std::uint64_t m_u64LogFileConfirmed = kNtfsUnknown;
    std::uint64_t m_u64AttrDefConfirmed = kNtfsUnknown;
    std::uint64_t m_u64UpCaseConfirmed = kNtfsUnknown;
    std::uint64_t m_u64MftRecordSector = kNtfsUnknown;
    std::uint64_t m_u64LogFileRecordSector = kNtfsUnknown;
    std::uint64_t m_u64AttrDefRecordSector = kNtfsUnknown;
    std::uint64_t m_u64UpCaseRecordSector = kNtfsUnknown;
    std::uint64_t m_u64BitmapSectors = kNtfsUnknown;
    // The size in sectors, whole clusters, kept in 64 bits.
    std::uint64_t m_u64SectorCount = 0;
};

// A record for the boot sector `boot` taken to lie at `sector`: null for a first sector with
// the high bit set, an invalid cluster size, or a size (boot-sector total, cut at the device's
// end) of 7 sectors or fewer.
std::unique_ptr<CSearchedNTFSPartitionInfo>
MakeNtfsPartitionFromBootSector(const CNTFSDBR& boot, std::uint64_t sector, std::uint32_t evidence,
                                std::uint64_t deviceSectors);
// A structure at `recordSector` that names its own cluster `cluster` implies a partition at
// recordSector - cluster x spc, running to the device's end. Null when that start would be
// negative (or overflows), lies less than 8 sectors before the structure, or the cluster size
// is not a power of two up to 128.
std::unique_ptr<CSearchedNTFSPartitionInfo>
MakeNtfsPartitionCandidate(std::uint64_t recordSector, std::uint64_t cluster,
                           std::uint8_t sectorsPerCluster, std::uint32_t evidence,
                           std::uint64_t deviceSectors);
// One candidate per cluster size 1, 2, 4 ... 128, in that order, each appended when made.
void MakeNtfsPartitionCandidatesAllSizes(
    std::uint64_t recordSector, std::uint64_t cluster, std::uint32_t evidence,
    std::uint64_t deviceSectors, std::vector<std::unique_ptr<CSearchedNTFSPartitionInfo>>& out);
// The confidence score from the evidence bits and the confirmed system-file sectors (0..120).
std::uint64_t ComputeNtfsPartitionScore(const CSearchedNTFSPartitionInfo& record);
