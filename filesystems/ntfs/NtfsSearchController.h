#pragma once
// The NTFS member of the deep scan. It looks at every 512-byte sector that the intelligent
// search hands it for the structures an NTFS volume leaves on disk (boot sectors and their
// backups, FILE records, index blocks, $LogFile restart and record pages, the fixed contents
// of $AttrDef and $UpCase), derives from each where its partition must start and how large its
// clusters are, and keeps one record per (first sector, sectors per cluster) with the evidence
// that placed it there. It also remembers every $MFT record and every run of FILE records it
// saw, so that the tree of a chosen partition can be built later without scanning again.
#include "carving/records/FoundFileEntry.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/ntfs/NtfsIndexBuffers.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class CRawFileList;

// `recordCount` FILE records of 2 sectors each, from `firstSector` on.
struct FileRecordRun {
    std::uint64_t firstSector = 0;
    std::uint64_t recordCount = 0;
    friend bool operator==(const FileRecordRun&, const FileRecordRun&) = default;
};

// A FILE record the search keeps: where it lies, the runs of its unnamed $DATA (or
// $INDEX_ALLOCATION), its $LogFile sequence number and the cluster size its runs imply (0 when
// they cannot tell).
struct NtfsRecordNode {
    std::uint64_t sector = 0;
    std::uint8_t sectorsPerRecord = kNtfsSectorsPerRecord;
    std::uint8_t sectorsPerCluster = 0;
    NtfsExtentList extents; // sorted by VCN
    std::uint64_t lsn = 0;
    // The first cluster of the data (the cluster of VCN 0), or -1.
    std::int64_t FirstCluster() const;
    friend bool operator==(const NtfsRecordNode& a, const NtfsRecordNode& b) {
        if (a.sector != b.sector || a.sectorsPerRecord != b.sectorsPerRecord ||
            a.sectorsPerCluster != b.sectorsPerCluster || a.extents.size() != b.extents.size())
            return false;
        for (std::size_t i = 0; i < a.extents.size(); ++i)
            if (a.extents[i].lcn != b.extents[i].lcn || a.extents[i].vcn != b.extents[i].vcn ||
                a.extents[i].count != b.extents[i].count)
                return false;
        return true;
    }
};

// One index block (INDX) seen.
struct IndexRecordInfo {
    std::uint64_t u64Sector = 0;
    std::uint64_t vcn = 0;
    std::uint64_t lsn = 0;
    std::uint64_t parent = 0; // the folder the block indexes
};

// A folder FILE record that has a non-resident $INDEX_ALLOCATION.
struct NtfsIndexedFolderRecord {
    std::uint64_t sector = 0;
    NtfsExtentList extents;
    std::uint64_t lsn = 0;
    std::uint64_t folderRecord = 0;
    std::uint32_t headerRecord = 0;
    std::uint32_t headerRecordPresent = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t indexBlockSize = 4096; // from $INDEX_ROOT
};

struct NtfsSectorRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

constexpr std::size_t kNtfsSearchListCap = 500000;

class CNTFSSearchController : public IFileSystemSearchController {
public:
    CNTFSSearchController();
    ~CNTFSSearchController() override;

    void SetDevice(IStorageDevice* device) override;
    void SetSectorsPerStep(std::uint32_t sectors) override { m_sectorsPerStep = sectors; }
    void BeginSearch() override;
    void EndSearch() override;
    int AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                       IntelligentSearchStats* stats) override;
    int AnalyzeLoadedChunk(const SearchChunk& chunk, IntelligentSearchStats* stats) override;
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) override;
    void SetResultSink(CRawFileList* sink) override { m_sink = sink; }
    int SaveState(IRSData* section) override;
    int LoadState(IRSData* section) override;
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_NTFS; }
    FileTreePtr BuildDirectoryTree(CSearchedPartitionInfo* partition, IStorageDevice* device,
                                   std::uint32_t partitionIndex,
                                   IDIRBuildCallback* callback) override;
    bool AcceptsFileSystemType(std::uint32_t type) const override {
        return type == FILESYSTEM_NTFS;
    }

    // What the search keeps for the tree builds.
    const std::vector<NtfsRecordNode>& GetMftRecords() const { return m_mftRecords; }
    const std::vector<FileRecordRun>& GetFileRecordRuns() const { return m_runs; }

private:
    using Key = std::pair<std::uint64_t, std::uint8_t>; // first sector, sectors per cluster
    using PartitionSet = std::multimap<Key, std::unique_ptr<CSearchedNTFSPartitionInfo>>;
    using Candidate = std::unique_ptr<CSearchedNTFSPartitionInfo>;

    struct SystemFileTracker {
        std::vector<NtfsRecordNode> records; // ascending sector
        std::vector<NtfsSectorRange> matched;
    };

    // Evidence editing over the partition set.
    static Key KeyOf(const CSearchedNTFSPartitionInfo& r) {
        return {r.m_u64FirstSector, r.m_sectorsPerCluster};
    }
    int UpdateEvidence(const Key& key, std::uint32_t set, std::uint32_t clear);
    void Insert(Candidate c);
    // Marks the records with the candidate's key, or inserts it when there is none.
    void MarkOrInsert(Candidate c, std::uint32_t bits);

    void AnalyzeChunk(std::uint64_t first, std::uint64_t count, const std::uint8_t* data,
                      std::uint32_t* bootSectors, std::uint32_t* fileRecords);
    void AnalyzeDbrSector(std::uint64_t sector, const std::uint8_t* data);
    // 0 valid record, 1 kept for the next chunk, 2 not a record.
    int AnalyzeFileRecordSector(std::uint64_t sector, const std::uint8_t* data, std::size_t avail);
    // Restart pages and index blocks (4096 bytes, completed from the next chunk when cut).
    void AnalyzePageSector(std::uint64_t sector, const std::uint8_t* data, std::size_t avail);
    void AnalyzeIndexRecordSector(std::uint64_t sector, const std::uint8_t* data,
                                  std::size_t avail);
    void AnalyzeRstrRecord(std::uint64_t sector);
    struct LogStart;
    // The partition a restart page at `page` implies as the first page of `log`'s $LogFile.
    std::unique_ptr<CSearchedNTFSPartitionInfo>
    MakeLogCandidate(std::uint64_t page, const LogStart& log, std::uint32_t evidence) const;
    void MarkLoneRestartPage(std::uint64_t page, const LogStart& log);
    void AnalyzeLogFileRecord(const NtfsRecordNode& node);
    void AnalyzeFolderRecord(std::uint64_t sector, const std::uint8_t* rec);
    void AnalyzeOrdinaryRecord(std::uint64_t sector, const std::uint8_t* rec, int systemFile);
    void ScanLogRecordPages(std::uint64_t first, std::uint64_t count, const std::uint8_t* data);
    void MatchIndexToFolder(const IndexRecordInfo& index, const NtfsIndexedFolderRecord& folder);

    // The $MFT sequence ($MFT, $MFTMirr ... $BadClus records in a row).
    void MftSee(std::uint64_t sector, const std::uint8_t* rec, int systemFile);
    void MftCommitAndReset();
    void MftFacts(CSearchedNTFSPartitionInfo& r) const;
    // A partition without a boot sector takes the size its $Bitmap covers.
    static void ApplyBitmapSize(CSearchedNTFSPartitionInfo& r, std::uint64_t bitmapClusters);
    void MakeMftCandidates(const NtfsRecordNode& mft);
    // `mirrorCopy`: the sequence ended before record 4, as the $MFTMirr copy does.
    void AnalyzeMftPair(const NtfsRecordNode& mft, const NtfsRecordNode& mirror, bool mirrorCopy);

    // Found names (carving confirms them later).
    void NoteFoundName(const std::uint8_t* utf16, std::size_t units, std::uint64_t firstCluster,
                       std::uint64_t sector);
    std::uint64_t CountConfirmedBySignature(const CSearchedNTFSPartitionInfo& r);

    // Keeps one candidate of those whose trees would begin with the same FILE record.
    void MergeCandidatesOfTheSameRecords();
    void FreeSearchState();

    std::uint32_t m_sectorsPerStep = 1000;
    IStorageDevice* m_device = nullptr;
    std::uint64_t m_deviceSectors = 0;
    CRawFileList* m_sink = nullptr;
    bool m_searching = false;
    bool m_useBootRecords = true;
    bool m_useVolumeSize = true;

    // Chunk buffer: kHeadSectors of the previous chunk's tail, then the chunk.
    static constexpr std::uint32_t kHeadSectors = 16;
    struct ChunkCounts {
        std::uint32_t bootSectors = 0;
        std::uint32_t fileRecords = 0;
    };
    // True when a chunk from `first` follows the previous one.
    bool Continues(std::uint64_t first) const;
    // One piece of at most the step; `data` has the previous piece's tail in front of it
    // (kHeadSectors or all of the previous piece) when the piece follows it.
    void AnalyzePiece(std::uint64_t first, std::uint64_t count, const std::uint8_t* data,
                      ChunkCounts* counts);
    static void AddCounts(const ChunkCounts& counts, IntelligentSearchStats* stats);
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_prevFirst = 0;
    std::uint64_t m_prevCount = 0;
    bool m_prevInBuffer = false; // the previous piece is in m_buffer (not read in place)
    // Structures that a chunk border cut, completed at the start of the next chunk.
    std::vector<std::uint64_t> m_pendingFile;
    std::vector<std::uint64_t> m_pendingIndex; // index blocks and restart pages
    std::uint64_t m_pendingLogPage = kNtfsUnknown;
    std::uint8_t m_record[kNtfsRecordSize];
    std::vector<std::uint8_t> m_indexBlock;
    NtfsExtentList m_scratchExtents;

    PartitionSet m_partitions;
    std::uint32_t m_nextIdentity = 1;

    std::multimap<std::uint64_t, IndexRecordInfo> m_indexRecords;           // by parent
    std::multimap<std::uint64_t, NtfsIndexedFolderRecord> m_indexedFolders; // by folder record
    std::vector<NtfsRecordNode> m_mirrorRecords;
    std::vector<std::pair<std::size_t, std::size_t>> m_mftPairs; // indices into the two lists
    std::vector<NtfsRecordNode> m_mftRecords;                    // kept after the search
    std::unordered_set<std::uint64_t> m_mftSectors;
    std::vector<FileRecordRun> m_runs; // kept after the search

    SystemFileTracker m_attrDef;
    SystemFileTracker m_upCase;
    // $LogFile: its records, the restart pages, the log record page ranges.
    std::vector<NtfsRecordNode> m_logRecords;
    // Distinct (first cluster, spc) of the $LogFile records, with the last record's sector.
    struct LogStart {
        std::int64_t cluster;
        std::uint8_t spc;
        std::uint64_t lastRecord;
    };
    std::vector<LogStart> m_logStarts;
    std::vector<std::uint64_t> m_restartPages;
    std::vector<NtfsSectorRange> m_logPages;

    // The $MFT sequence in progress.
    std::int64_t m_pendingMft = -1;    // index into m_mftRecords
    std::int64_t m_pendingMirror = -1; // index into m_mirrorRecords
    int m_mftSequenceLast = -1;        // the highest system record the sequence reached
    std::uint64_t m_lastMftSector = kNtfsUnknown;
    std::uint64_t m_bitmapClusters = kNtfsUnknown;
    // $Bitmap records seen: sector, clusters their data covers.
    std::unordered_map<std::uint64_t, std::uint64_t> m_bitmapRecords;

    FoundFileEntryList m_foundFiles;
};
