#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/ntfs/NtfsSearchInternal.h"
#include "storage/ByteSpan.h"

#include <cstring>

using namespace ntfs_search;

// Restart pages and index blocks, and the folder records whose $INDEX_ALLOCATION places them.

void CNTFSSearchController::AnalyzePageSector(std::uint64_t sector, const std::uint8_t* p,
                                              std::size_t avail) {
    if (!Magic(p, "RSTR")) {
        AnalyzeIndexRecordSector(sector, p, avail);
        return;
    }
    if (avail < kIndexBlockBytes) {
        if (m_pendingIndex.size() < kHeadSectors)
            m_pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    const ByteSpan page(p, avail);
    if (page.u32(144) != 0x0054004E || page.u32(148) != 0x00530046) // "NTFS"
        return;
    const std::uint16_t usn = page.u16(30);
    for (std::uint32_t k = 1; k <= kLogPageSectors; ++k)
        if (page.u16(k * kSectorSize - 2) != usn)
            return;
    AnalyzeRstrRecord(sector);
}

void CNTFSSearchController::AnalyzeIndexRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                                     std::size_t avail) {
    if (!Magic(data, "INDX"))
        return;
    if (avail < kIndexBlockBytes) {
        if (m_pendingIndex.size() < kHeadSectors)
            m_pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    if (!CheckIndexBuffer(data, avail))
        return;
    std::memcpy(m_indexBlock.data(), data, kIndexBlockBytes);
    ByteSpan s(m_indexBlock.data(), kIndexBlockBytes);
    ApplyFixups(m_indexBlock.data(), kIndexBlockBytes);
    IndexRecordInfo info;
    info.u64Sector = sector;
    info.lsn = s.u64(8);
    info.vcn = s.u64(16);
    const std::uint64_t firstEntry = 24ull + s.u32(24);
    info.parent = s.u32(static_cast<std::size_t>(firstEntry) + 16); // low 32 bits of the parent
    if (!s.ok() || info.parent == kNtfsRootRecord)
        return;
    auto [lo, hi] = m_indexedFolders.equal_range(info.parent);
    for (auto it = lo; it != hi; ++it)
        MatchIndexToFolder(info, it->second);
    m_indexRecords.emplace(info.parent, info);
}

void CNTFSSearchController::MatchIndexToFolder(const IndexRecordInfo& index,
                                               const NtfsIndexedFolderRecord& folder) {
    const std::uint32_t spc = folder.sectorsPerCluster;
    if (spc == 0)
        return;
    // Index blocks count their VCNs in clusters, or in 512-byte units when clusters are larger
    // than index blocks.
    const std::uint64_t clusterBytes = std::uint64_t{spc} * kSectorSize;
    std::uint64_t vcn = index.vcn, inCluster = 0;
    if (clusterBytes > folder.indexBlockSize) {
        vcn = index.vcn / spc;
        inCluster = index.vcn % spc;
    }
    const std::int64_t lcn = MapVcnToLcn(folder.extents, vcn);
    if (lcn < 0 || index.u64Sector < inCluster)
        return;
    Candidate c = MakeNtfsPartitionCandidate(
        index.u64Sector - inCluster, static_cast<std::uint64_t>(lcn),
        static_cast<std::uint8_t>(spc), NTFS_EVIDENCE_INDEX, m_deviceSectors);
    // The folder's record lies in the partition's MFT, after its first sector: a block read
    // with the record of a folder of another volume (folders of volumes made alike share their
    // record numbers) places nothing.
    if (!c || folder.sector < c->m_u64FirstSector)
        return;
    auto [lo, hi] = m_partitions.equal_range(KeyOf(*c));
    if (lo == hi) {
        Insert(std::move(c));
        return;
    }
    for (auto it = lo; it != hi; ++it) {
        it->second->AddEvidence(NTFS_EVIDENCE_INDEX);
        ++it->second->IndexConfirmations();
    }
}

void CNTFSSearchController::AnalyzeFolderRecord(std::uint64_t sector, const std::uint8_t* rec) {
    if (IsExtensionRecord(rec, kNtfsRecordSize))
        return;
    NtfsIndexedFolderRecord folder;
    folder.sector = sector;
    folder.lsn = ByteSpan(rec, kNtfsRecordSize).u64(8);
    const NtfsAttributeView alloc =
        FindAttribute(rec, kNtfsRecordSize, kNtfsAttrIndexAllocation, 0);
    if (!AttributeExtents(alloc, folder.extents) || folder.extents.empty())
        return;
    folder.sectorsPerCluster =
        EstimateSectorsPerCluster(alloc.AllocatedSize(), GetTotalClusters(folder.extents));
    if (folder.sectorsPerCluster == 0)
        return;
    std::int64_t number = -1;
    if (const NtfsAttributeView root = FindAttribute(rec, kNtfsRecordSize, 0x90, 0)) {
        number = GetIndexNodeParent(root);
        const ByteSpan value = root.Value();
        if (!root.NonResident() && value.size() >= 12) {
            const std::uint32_t blockSize = value.u32(8);
            if (blockSize >= kSectorSize && blockSize <= 65536 &&
                (blockSize & (blockSize - 1)) == 0)
                folder.indexBlockSize = blockSize;
        }
    }
    const std::int64_t header = GetHeaderRecordNumber(rec, kNtfsRecordSize);
    if (header >= 0) {
        folder.headerRecord = static_cast<std::uint32_t>(header);
        folder.headerRecordPresent = 1;
    }
    if (number == -1)
        number = header;
    if (number < 0 || static_cast<std::uint64_t>(number) == kNtfsRootRecord)
        return;
    folder.folderRecord = static_cast<std::uint64_t>(number);
    auto it = m_indexedFolders.emplace(folder.folderRecord, std::move(folder));
    auto [lo, hi] = m_indexRecords.equal_range(it->second.folderRecord);
    for (auto i = lo; i != hi; ++i)
        MatchIndexToFolder(i->second, it->second);
    m_runs.push_back({sector, 1});
}
