#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/ntfs/NtfsSearchInternal.h"
#include "storage/ByteSpan.h"

using namespace ntfs_search;

// Restart pages and index blocks, and the folder records whose $INDEX_ALLOCATION places them.

void CNTFSSearchController::AnalyzePageSector(std::uint64_t sector, const std::uint8_t* p,
                                              std::size_t avail) {
    if (!Magic(p, "RSTR")) {
        AnalyzeIndexRecordSector(sector, p, avail);
        return;
    }
    if (avail < kNtfsIndexBlockBytes) {
        if (m_pass.chunk.pendingIndex.size() < kHeadSectors)
            m_pass.chunk.pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    const ByteSpan page(p, avail);
    if (page.u32(kNtfsRestartPageClientName) != kNtfsRestartClientNameNT ||
        page.u32(kNtfsRestartPageClientName + 4) != kNtfsRestartClientNameFS)
        return;
    const std::uint16_t usn = page.u16(kNtfsRestartPageUsn);
    for (std::uint32_t k = 1; k <= kNtfsLogPageSectors; ++k)
        if (page.u16(k * kSectorSize - 2) != usn)
            return;
    AnalyzeRstrRecord(sector);
}

void CNTFSSearchController::AnalyzeIndexRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                                     std::size_t avail) {
    if (!Magic(data, "INDX"))
        return;
    if (avail < kNtfsIndexBlockBytes) {
        if (m_pass.chunk.pendingIndex.size() < kHeadSectors)
            m_pass.chunk.pendingIndex.push_back(sector); // completed from the next chunk
        return;
    }
    if (!CheckIndexBuffer(data, avail))
        return;
    NtfsIndexBlockHeader header;
    if (!ReadIndexBlockHeader(data, avail, header) || header.parent == kNtfsRootRecord)
        return;
    IndexRecordInfo info;
    info.u64Sector = sector;
    info.lsn = header.lsn;
    info.vcn = header.vcn;
    info.parent = header.parent;
    auto [lo, hi] = m_pass.index.folders.equal_range(info.parent);
    for (auto it = lo; it != hi; ++it)
        MatchIndexToFolder(info, it->second);
    m_pass.index.blocks.emplace(info.parent, info);
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
    auto [lo, hi] = m_candidates.partitions.equal_range(KeyOf(*c));
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
    if (const NtfsAttributeView root = FindAttribute(rec, kNtfsRecordSize, kNtfsAttrIndexRoot, 0)) {
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
    auto it = m_pass.index.folders.emplace(folder.folderRecord, std::move(folder));
    auto [lo, hi] = m_pass.index.blocks.equal_range(it->second.folderRecord);
    for (auto i = lo; i != hi; ++i)
        MatchIndexToFolder(i->second, it->second);
    m_kept.runs.push_back({sector, 1});
}
