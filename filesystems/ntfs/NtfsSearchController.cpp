#include "filesystems/ntfs/NtfsSearchController.h"

#include "filesystems/ntfs/NtfsFoundTreeBuilder.h"
#include "filesystems/ntfs/NtfsSearchInternal.h"
#include "filesystems/ntfs/NtfsStandardContent.h"

#include <algorithm>
#include <cstring>

using namespace ntfs_search;

// The controller's life and its chunk loop; what each structure tells is read in the files
// beside this one (records, $MFT sequence, $LogFile, index blocks and folders, evidence, saved
// state).

std::int64_t NtfsRecordNode::FirstCluster() const {
    return MapVcnToLcn(extents, 0);
}

CNTFSSearchController::CNTFSSearchController() = default;

CNTFSSearchController::~CNTFSSearchController() = default;

void CNTFSSearchController::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_deviceSectors = device ? device->GetSectorCount() : 0;
}

void CNTFSSearchController::BeginSearch() {
    m_pass = {};
    const ScanOptions& options = GetScanOptions();
    m_useBootRecords = options.UseBootRecords != 0;
    m_useVolumeSize = options.UseNtfsVolumeSize != 0;
    m_pass.chunk.buffer.assign(
        (std::size_t{m_sectorsPerStep ? m_sectorsPerStep : 1} + kHeadSectors) * kSectorSize, 0);
    m_searching = true;
}

// ---------------------------------------------------------------------------------------------
// Chunks.

int CNTFSSearchController::AnalyzeSectors(std::uint64_t first, std::uint64_t count,
                                          IntelligentSearchStats* stats) {
    if (!m_device || count == 0)
        return 1;
    if (!m_searching)
        BeginSearch();
    // A chunk larger than the step is analysed in pieces of the buffer's size.
    const std::uint64_t step = m_pass.chunk.buffer.size() / kSectorSize - kHeadSectors;
    ChunkCounts counts;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t n = std::min(step, count - done);
        const std::uint64_t f = first + done;
        std::uint8_t* data = m_pass.chunk.buffer.data() + kHeadSectors * kSectorSize;
        if (m_pass.chunk.Continues(f)) {
            // The previous chunk's tail goes in front of this chunk, so that structures that
            // the border cut can be read whole.
            const std::uint64_t keep =
                std::min<std::uint64_t>(kHeadSectors, m_pass.chunk.prevCount);
            std::uint8_t* head = data - keep * kSectorSize;
            if (m_pass.chunk.prevInBuffer)
                std::memmove(head, data + (m_pass.chunk.prevCount - keep) * kSectorSize,
                             static_cast<std::size_t>(keep * kSectorSize));
            else if (!m_device->ReadSectors(head, f - keep, keep)) // it was read in place
                std::memset(head, 0, static_cast<std::size_t>(keep * kSectorSize));
        }
        if (!m_device->ReadSectors(data, f, n)) {
            // Read what can be read; a sector that fails reads as zeros and matches nothing.
            for (std::uint64_t i = 0; i < n; ++i)
                if (!m_device->ReadSectors(data + i * kSectorSize, f + i, 1))
                    std::memset(data + i * kSectorSize, 0, kSectorSize);
        }
        AnalyzePiece(f, n, data, &counts);
        m_pass.chunk.prevInBuffer = true;
        done += n;
    }
    AddCounts(counts, stats);
    return 1;
}

int CNTFSSearchController::AnalyzeLoadedChunk(const SearchChunk& chunk,
                                              IntelligentSearchStats* stats) {
    if (!m_device || chunk.count == 0)
        return 1;
    if (!m_searching)
        BeginSearch();
    // In place when the chunk fits the step and the border's head room is there.
    const std::uint64_t step = m_pass.chunk.buffer.size() / kSectorSize - kHeadSectors;
    const bool headThere =
        !m_pass.chunk.Continues(chunk.first) ||
        chunk.headSectors >= std::min<std::uint64_t>(kHeadSectors, m_pass.chunk.prevCount);
    if (!chunk.data || chunk.count > step || !headThere)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    ChunkCounts counts;
    AnalyzePiece(chunk.first, chunk.count, chunk.data, &counts);
    m_pass.chunk.prevInBuffer = false;
    AddCounts(counts, stats);
    return 1;
}

void CNTFSSearchController::AnalyzePiece(std::uint64_t first, std::uint64_t count,
                                         const std::uint8_t* data, ChunkCounts* counts) {
    if (!m_pass.chunk.Continues(first))
        m_pass.chunk.ForgetCut();
    AnalyzeChunk(first, count, data, &counts->bootSectors, &counts->fileRecords);
    m_pass.chunk.prevFirst = first;
    m_pass.chunk.prevCount = count;
}

void CNTFSSearchController::AddCounts(const ChunkCounts& counts, IntelligentSearchStats* stats) {
    if (!stats)
        return;
    auto& c = stats->counters;
    c[ISS_NTFSBootRecords] += counts.bootSectors;
    c[ISS_Counter12] += counts.bootSectors;
    c[ISS_NTFSFileRecords] += counts.fileRecords;
    c[ISS_TotalFilesFound] += counts.fileRecords;
    c[ISS_ChunkCounter15] += counts.fileRecords;
    c[ISS_Counter13] = counts.fileRecords;
}

void CNTFSSearchController::AnalyzeChunk(std::uint64_t first, std::uint64_t count,
                                         const std::uint8_t* data, std::uint32_t* bootSectors,
                                         std::uint32_t* fileRecords) {
    const std::uint64_t end = first + count;
    auto at = [&](std::uint64_t sector) {
        return data + static_cast<std::ptrdiff_t>(sector - first) * kSectorSize;
    };
    auto availFrom = [&](std::uint64_t sector) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(end - sector, 16) * kSectorSize);
    };

    // Structures the previous chunk's border cut, now whole (their sectors lie in the head room).
    if (!m_pass.chunk.pendingIndex.empty() || !m_pass.chunk.pendingFile.empty()) {
        std::vector<std::uint64_t> index, file;
        index.swap(m_pass.chunk.pendingIndex);
        file.swap(m_pass.chunk.pendingFile);
        std::size_t i = 0, j = 0;
        while (i < index.size() || j < file.size()) {
            const bool takeIndex = j == file.size() || (i < index.size() && index[i] <= file[j]);
            const std::uint64_t s = takeIndex ? index[i++] : file[j++];
            if (s >= first || first - s > kHeadSectors)
                continue;
            if (takeIndex)
                AnalyzePageSector(s, at(s), availFrom(s));
            else if (AnalyzeFileRecordSector(s, at(s), availFrom(s)) == 0)
                ++*fileRecords;
        }
    }

    const std::uint8_t* attrDef = NtfsStandardAttrDef();
    const std::uint8_t* upCase = NtfsStandardUpCase();
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t s = first + i;
        const std::uint8_t* p = data + i * kSectorSize;
        const std::size_t avail = availFrom(s);
        if (!IsNTFSBootSector(p)) {
            if (Magic(p, "RSTR") || Magic(p, "INDX"))
                AnalyzePageSector(s, p, avail);
        } else if (m_useBootRecords) {
            AnalyzeDbrSector(s, p);
            ++*bootSectors;
        }
        if (AnalyzeFileRecordSector(s, p, avail) == 0)
            ++*fileRecords;
        for (std::uint32_t k = 0; k < kNtfsAttrDefSectors; ++k)
            if (p[0] == attrDef[k * kSectorSize] &&
                std::memcmp(p, attrDef + k * kSectorSize, kSectorSize) == 0) {
                AddToRanges(m_pass.evidence.attrDef.matched, s, 1);
                break;
            }
        const int n = NtfsUpCaseSectorStartingWith(static_cast<std::uint16_t>(p[0] | p[1] << 8));
        if (n >= 0 && std::memcmp(p, upCase + std::size_t(n) * kSectorSize, kSectorSize) == 0)
            AddToRanges(m_pass.evidence.upCase.matched, s, 1);
    }
    ScanLogRecordPages(first, count, data);
}

void CNTFSSearchController::CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) {
    for (auto& [key, r] : m_candidates.partitions)
        out.push_back(r.release());
    m_candidates.partitions.clear();
}

FileTreePtr CNTFSSearchController::BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                                      IStorageDevice* device,
                                                      std::uint32_t partitionIndex,
                                                      IDIRBuildCallback* callback) {
    CNtfsFoundTreeBuilder builder(&m_kept.mftRecords, &m_kept.runs);
    return BuildFoundNtfsFileTree(&builder, partition, m_sink, device, partitionIndex, callback);
}
