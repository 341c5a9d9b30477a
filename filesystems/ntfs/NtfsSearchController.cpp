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

CNTFSSearchController::CNTFSSearchController() : m_indexBlock(kIndexBlockBytes) {}

CNTFSSearchController::~CNTFSSearchController() = default;

void CNTFSSearchController::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_deviceSectors = device ? device->GetSectorCount() : 0;
}

void CNTFSSearchController::BeginSearch() {
    FreeSearchState();
    const ScanOptions& options = GetScanOptions();
    m_useBootRecords = options.UseBootRecords != 0;
    m_useVolumeSize = options.UseNtfsVolumeSize != 0;
    m_buffer.assign(
        (std::size_t{m_sectorsPerStep ? m_sectorsPerStep : 1} + kHeadSectors) * kSectorSize, 0);
    m_prevCount = 0;
    m_searching = true;
}

void CNTFSSearchController::FreeSearchState() {
    std::vector<std::uint8_t>().swap(m_buffer);
    m_pendingFile.clear();
    m_pendingIndex.clear();
    m_pendingLogPage = kNtfsUnknown;
    m_indexRecords.clear();
    m_indexedFolders.clear();
    std::vector<NtfsRecordNode>().swap(m_mirrorRecords);
    std::vector<std::pair<std::size_t, std::size_t>>().swap(m_mftPairs);
    m_attrDef = SystemFileTracker();
    m_upCase = SystemFileTracker();
    std::vector<NtfsRecordNode>().swap(m_logRecords);
    m_logStarts.clear();
    m_restartPages.clear();
    m_logPages.clear();
    m_pendingMft = m_pendingMirror = -1;
    m_mftSequenceLast = -1;
    m_lastMftSector = m_bitmapClusters = kNtfsUnknown;
    m_bitmapRecords.clear();
    m_foundFiles = FoundFileEntryList();
    std::unordered_set<std::uint64_t>().swap(m_mftSectors);
    for (const NtfsRecordNode& n : m_mftRecords)
        m_mftSectors.insert(n.sector);
    m_searching = false;
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
    const std::uint64_t step = m_buffer.size() / kSectorSize - kHeadSectors;
    ChunkCounts counts;
    for (std::uint64_t done = 0; done < count;) {
        const std::uint64_t n = std::min(step, count - done);
        const std::uint64_t f = first + done;
        std::uint8_t* data = m_buffer.data() + kHeadSectors * kSectorSize;
        if (Continues(f)) {
            // The previous chunk's tail goes in front of this chunk, so that structures that
            // the border cut can be read whole.
            const std::uint64_t keep = std::min<std::uint64_t>(kHeadSectors, m_prevCount);
            std::uint8_t* head = data - keep * kSectorSize;
            if (m_prevInBuffer)
                std::memmove(head, data + (m_prevCount - keep) * kSectorSize,
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
        m_prevInBuffer = true;
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
    const std::uint64_t step = m_buffer.size() / kSectorSize - kHeadSectors;
    const bool headThere =
        !Continues(chunk.first) ||
        chunk.headSectors >= std::min<std::uint64_t>(kHeadSectors, m_prevCount);
    if (!chunk.data || chunk.count > step || !headThere)
        return AnalyzeSectors(chunk.first, chunk.count, stats);
    ChunkCounts counts;
    AnalyzePiece(chunk.first, chunk.count, chunk.data, &counts);
    m_prevInBuffer = false;
    AddCounts(counts, stats);
    return 1;
}

bool CNTFSSearchController::Continues(std::uint64_t first) const {
    return m_prevCount != 0 && m_prevFirst + m_prevCount == first;
}

void CNTFSSearchController::AnalyzePiece(std::uint64_t first, std::uint64_t count,
                                         const std::uint8_t* data, ChunkCounts* counts) {
    if (!Continues(first)) {
        m_pendingFile.clear();
        m_pendingIndex.clear();
        m_pendingLogPage = kNtfsUnknown;
    }
    AnalyzeChunk(first, count, data, &counts->bootSectors, &counts->fileRecords);
    m_prevFirst = first;
    m_prevCount = count;
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
    if (!m_pendingIndex.empty() || !m_pendingFile.empty()) {
        std::vector<std::uint64_t> index, file;
        index.swap(m_pendingIndex);
        file.swap(m_pendingFile);
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
                AddToRanges(m_attrDef.matched, s, 1);
                break;
            }
        const int n = NtfsUpCaseSectorStartingWith(static_cast<std::uint16_t>(p[0] | p[1] << 8));
        if (n >= 0 && std::memcmp(p, upCase + std::size_t(n) * kSectorSize, kSectorSize) == 0)
            AddToRanges(m_upCase.matched, s, 1);
    }
    ScanLogRecordPages(first, count, data);
}

void CNTFSSearchController::CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) {
    for (auto& [key, r] : m_partitions)
        out.push_back(r.release());
    m_partitions.clear();
}

FileTreePtr CNTFSSearchController::BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                                      IStorageDevice* device,
                                                      std::uint32_t partitionIndex,
                                                      IDIRBuildCallback* callback) {
    CNtfsFoundTreeBuilder builder(&m_mftRecords, &m_runs);
    return BuildFoundNtfsFileTree(&builder, partition, m_sink, device, partitionIndex, callback);
}
