#include "filesystems/ntfs/NtfsSearchController.h"

#include "carving/records/FoundFileEntry.h"
#include "filesystems/ntfs/NtfsSearchInternal.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstring>

namespace ntfs_search {

NtfsAttributeView FindUnnamedData(const std::uint8_t* rec, std::size_t len) {
    NtfsAttributeView data;
    ForEachFileDataAttribute([&](std::uint32_t type, int i) { return FindAttribute(rec, len, type, i); },
                             [&](const NtfsAttributeView& a) {
                                 data = a;
                                 return false;
                             });
    return data;
}

bool AttributeExtents(const NtfsAttributeView& attr, NtfsExtentList& out) {
    if (!CollectAttributeRuns(attr, out, nullptr, nullptr, NtfsRunNames::AnyName))
        return false;
    if (!std::is_sorted(out.begin(), out.end(),
                        [](const NtfsExtent& a, const NtfsExtent& b) { return a.vcn < b.vcn; }))
        SortExtents(out);
    return true;
}

bool MakeLongNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                  NtfsRecordNode& node) {
    const NtfsAttributeView data = FindUnnamedData(rec, len);
    node = NtfsRecordNode();
    node.sector = sector;
    node.lsn = ByteSpan(rec, len).u64(8);
    if (!AttributeExtents(data, node.extents) || node.extents.empty())
        return false;
    node.sectorsPerCluster = static_cast<std::uint8_t>(
        EstimateSectorsPerCluster(data.AllocatedSize(), GetTotalClusters(node.extents)));
    return true;
}

bool MakeShortNode(std::uint64_t sector, const std::uint8_t* rec, std::size_t len,
                   NtfsRecordNode& node) {
    if (!MakeLongNode(sector, rec, len, node))
        return false;
    node.lsn = 0;
    return node.sectorsPerCluster != 0 && node.FirstCluster() != -1;
}

void AddToRanges(std::vector<NtfsSectorRange>& ranges, std::uint64_t first, std::uint64_t count) {
    if (!ranges.empty() && ranges.back().first + ranges.back().count == first) {
        ranges.back().count += count;
        return;
    }
    if (ranges.size() < kNtfsSearchListCap)
        ranges.push_back({first, count});
}

} // namespace ntfs_search

using namespace ntfs_search;

// ---------------------------------------------------------------------------------------------
// Boot sectors.

void CNTFSSearchController::AnalyzeDbrSector(std::uint64_t sector, const std::uint8_t* data) {
    CNTFSDBR boot;
    if (!boot.SetData(data))
        return;
    const std::uint64_t total = boot.GetTotalSectors();
    // Backup hypothesis: the sector is the copy at the end of a partition `total` sectors back.
    if (total <= sector) {
        if (Candidate r = MakeNtfsPartitionFromBootSector(
                boot, sector - total, NTFS_EVIDENCE_BACKUP_BOOT, m_deviceSectors)) {
            const Key key = KeyOf(*r);
            // Every structure of that partition lies before its last sector: when any of them
            // placed it (or its MFT was seen where this boot sector keeps it), the sector is the
            // partition's backup and starts nothing.
            bool backup = false;
            auto [lo, hi] = m_candidates.partitions.equal_range(key);
            for (auto it = lo; it != hi; ++it) {
                CSearchedNTFSPartitionInfo& o = *it->second;
                const bool sameVolume = o.m_u64SerialNumber == r->m_u64SerialNumber;
                if ((o.m_u64SectorCount == r->m_u64SectorCount && sameVolume) ||
                    (o.GetEvidence() & NTFS_EVIDENCE_BOOT) ||
                    ((o.GetEvidence() & ~NTFS_EVIDENCE_BACKUP_BOOT) &&
                     (sameVolume || o.m_u64SerialNumber == 0)))
                    backup = true;
                o.AddEvidence(NTFS_EVIDENCE_BACKUP_BOOT);
            }
            const std::uint64_t spc = r->m_sectorsPerCluster;
            auto mftSeenAt = [&](std::uint64_t cluster) {
                std::uint64_t at;
                return !__builtin_mul_overflow(cluster, spc, &at) &&
                       !__builtin_add_overflow(at, r->m_u64FirstSector, &at) &&
                       m_kept.mftSectors.count(at) != 0;
            };
            if (!backup &&
                (mftSeenAt(boot.GetMftCluster()) || mftSeenAt(boot.GetMftMirrorCluster())))
                backup = true;
            // The records already made for this partition ran to the device's end (or to
            // nothing); the boot sector tells its size. They have taken the evidence, so no
            // second record of the same key is made.
            for (auto it = lo; it != hi; ++it) {
                CSearchedNTFSPartitionInfo& o = *it->second;
                if (o.m_u64SectorCount == 0 || (!(o.GetEvidence() & NTFS_EVIDENCE_BOOT) &&
                                                r->m_u64SectorCount < o.m_u64SectorCount)) {
                    o.SetSectorCount(r->m_u64SectorCount);
                    o.m_u64ClusterCount = r->m_u64ClusterCount;
                    if (o.m_u64SerialNumber == 0)
                        o.m_u64SerialNumber = r->m_u64SerialNumber;
                }
            }
            if (lo == hi)
                Insert(std::move(r));
            if (backup) {
                // The partition's own boot sector, taken for a backup when it was met, implied
                // a partition `total` sectors before it: that guess goes.
                if (sector - total >= total)
                    UpdateEvidence({sector - 2 * total, static_cast<std::uint8_t>(spc)}, 0,
                                   NTFS_EVIDENCE_BACKUP_BOOT);
                return;
            }
        }
    }
    if (Candidate r =
            MakeNtfsPartitionFromBootSector(boot, sector, NTFS_EVIDENCE_BOOT, m_deviceSectors))
        Insert(std::move(r));
}

// ---------------------------------------------------------------------------------------------
// FILE records.

int CNTFSSearchController::AnalyzeFileRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                                   std::size_t avail) {
    if (avail < kNtfsRecordSize) {
        if (CheckFileRecordHeader(data, kNtfsRecordSize) ||
            (Magic(data, "FILE") && avail >= kSectorSize)) {
            // The record's second sector starts the next chunk.
            if (m_pass.chunk.pendingFile.size() < kHeadSectors)
                m_pass.chunk.pendingFile.push_back(sector);
            return 1;
        }
        MftSee(sector, nullptr, -1);
        return 2;
    }
    bool valid = false;
    if (Magic(data, "FILE")) {
        std::memcpy(m_record, data, kNtfsRecordSize);
        valid = CheckFileRecordHeader(m_record, kNtfsRecordSize) &&
                ApplyFixups(m_record, kNtfsRecordSize);
    }
    if (!valid) {
        MftSee(sector, nullptr, -1);
        return 2;
    }
    const std::uint8_t* rec = m_record;
    const int systemFile = FindSystemFileNumber(rec, kNtfsRecordSize);
    MftSee(sector, rec, systemFile);
    if (HasIndexAllocation(rec, kNtfsRecordSize)) {
        AnalyzeFolderRecord(sector, rec);
    } else if (systemFile == 2 || systemFile == 4 || systemFile == 10) {
        NtfsRecordNode node;
        if (MakeLongNode(sector, rec, kNtfsRecordSize, node)) {
            if (systemFile == 2) {
                if (m_pass.log.records.size() < kNtfsSearchListCap)
                    AnalyzeLogFileRecord(node);
            } else {
                NtfsSystemFileMatches& t =
                    systemFile == 4 ? m_pass.evidence.attrDef : m_pass.evidence.upCase;
                if (t.records.size() < kNtfsSearchListCap) {
                    node.sectorsPerCluster = 0;
                    t.records.push_back(std::move(node));
                }
            }
        }
    } else {
        AnalyzeOrdinaryRecord(sector, rec, systemFile);
    }
    return 0;
}

void CNTFSSearchController::AnalyzeOrdinaryRecord(std::uint64_t sector, const std::uint8_t* rec,
                                                  int systemFile) {
    if (IsExtensionRecord(rec, kNtfsRecordSize))
        return;
    if ((systemFile == 0 || systemFile == 1) &&
        (m_kept.mftRecords.size() >= kNtfsSearchListCap ||
         m_pass.mft.mirrorRecords.size() >= kNtfsSearchListCap))
        return;
    if (m_pass.log.records.size() >= kNtfsSearchListCap)
        return;
    if (!m_kept.runs.empty() &&
        m_kept.runs.back().firstSector + kNtfsSectorsPerRecord * m_kept.runs.back().recordCount ==
            sector)
        ++m_kept.runs.back().recordCount;
    else
        m_kept.runs.push_back({sector, 1});

    NtfsFileNameView name;
    if (!ReadFileNameAttr(FindAttribute(rec, kNtfsRecordSize, kNtfsAttrFileName, 0), name) ||
        name.nameLength == 0)
        return;
    const NtfsAttributeView data = FindUnnamedData(rec, kNtfsRecordSize);
    m_scratchExtents.clear(); // kept between records: no allocation per record
    if (!AttributeExtents(data, m_scratchExtents))
        return;
    const std::int64_t firstCluster = MapVcnToLcn(m_scratchExtents, 0);
    if (firstCluster != -1)
        NoteFoundName(name.name, name.nameLength, static_cast<std::uint64_t>(firstCluster), sector);
}

// ---------------------------------------------------------------------------------------------
// Found names.

void CNTFSSearchController::NoteFoundName(const std::uint8_t* utf16, std::size_t units,
                                          std::uint64_t firstCluster, std::uint64_t sector) {
    char16_t name[256];
    units = std::min<std::size_t>(units, 255);
    const ByteSpan bytes(utf16, 2 * units);
    for (std::size_t i = 0; i < units; ++i)
        name[i] = static_cast<char16_t>(bytes.u16(2 * i));
    FoundFileEntry entry;
    if (entry.SetFromWideName(name, units, firstCluster, sector))
        m_pass.evidence.foundFiles.Append(entry);
}
