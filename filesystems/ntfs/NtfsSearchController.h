#pragma once
// The NTFS member of the deep scan. It looks at every 512-byte sector that the intelligent
// search hands it for the structures an NTFS volume leaves on disk (boot sectors and their
// backups, FILE records, index blocks, $LogFile restart and record pages, the fixed contents
// of $AttrDef and $UpCase), derives from each where its partition must start and how large its
// clusters are, and keeps one record per (first sector, sectors per cluster) with the evidence
// that placed it there. It also remembers every $MFT record and every run of FILE records it
// saw, so that the tree of a chosen partition can be built later without scanning again.
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/ntfs/NtfsIndexBuffers.h"
#include "filesystems/ntfs/NtfsSearchLists.h"

#include <cstdint>
#include <memory>
#include <vector>

class CRawFileList;

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
    const std::vector<NtfsRecordNode>& GetMftRecords() const { return m_kept.mftRecords; }
    const std::vector<FileRecordRun>& GetFileRecordRuns() const { return m_kept.runs; }

private:
    using Key = NtfsCandidates::Key;
    using PartitionSet = NtfsCandidates::Set;
    using Candidate = std::unique_ptr<CSearchedNTFSPartitionInfo>;
    using LogStart = NtfsLogPages::Start;

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

    std::uint32_t m_sectorsPerStep = 1000;
    IStorageDevice* m_device = nullptr;
    std::uint64_t m_deviceSectors = 0;
    CRawFileList* m_sink = nullptr;
    bool m_searching = false;
    bool m_useBootRecords = true;
    bool m_useVolumeSize = true;

    // The previous chunk's tail kept in front of a chunk, in sectors.
    static constexpr std::uint32_t kHeadSectors = 16;
    struct ChunkCounts {
        std::uint32_t bootSectors = 0;
        std::uint32_t fileRecords = 0;
    };
    // One piece of at most the step; `data` has the previous piece's tail in front of it
    // (kHeadSectors or all of the previous piece) when the piece follows it.
    void AnalyzePiece(std::uint64_t first, std::uint64_t count, const std::uint8_t* data,
                      ChunkCounts* counts);
    static void AddCounts(const ChunkCounts& counts, IntelligentSearchStats* stats);

    NtfsSearchKept m_kept;
    NtfsCandidates m_candidates;
    NtfsSearchPass m_pass; // what one search saw, forgotten when it begins and ends

    // Scratch, reused from one record to the next.
    std::uint8_t m_record[kNtfsRecordSize];
    NtfsExtentList m_scratchExtents;
};
