#pragma once
// What the NTFS deep scan keeps, one struct per concern: the records it remembers for the tree
// builds, the $MFT sequence in progress, the $LogFile pages, the index blocks and their
// folders, the evidence of the system files and found names, the candidates, and the stitching
// of one chunk to the next. A concern that lives for one search starts again by assignment
// from `{}`.
#include "carving/records/FoundFileEntry.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

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

// What the search keeps after it ends for the tree builds (and saves with the scan state):
// the $MFT records, the sectors they lie at, and the runs of FILE records.
struct NtfsSearchKept {
    std::vector<NtfsRecordNode> mftRecords;
    std::unordered_set<std::uint64_t> mftSectors; // the sectors of mftRecords
    std::vector<FileRecordRun> runs;
};

// The $MFT sequence ($MFT, $MFTMirr ... $BadClus records in a row) and what one search saw of
// it besides the kept $MFT records.
struct NtfsMftSequence {
    std::vector<NtfsRecordNode> mirrorRecords;
    std::vector<std::pair<std::size_t, std::size_t>> pairs; // $MFT and $MFTMirr indices
    // $Bitmap records seen: sector, clusters their data covers.
    std::unordered_map<std::uint64_t, std::uint64_t> bitmapRecords;

    // The sequence in progress.
    std::int64_t pendingMft = -1;    // index into the kept $MFT records
    std::int64_t pendingMirror = -1; // index into mirrorRecords
    int last = -1;                   // the highest system record the sequence reached
    std::uint64_t lastMftSector = kNtfsUnknown;
    std::uint64_t bitmapClusters = kNtfsUnknown;

    // Forgets the sequence in progress (what it saw stays).
    void EndSequence() {
        pendingMft = pendingMirror = -1;
        last = -1;
        lastMftSector = bitmapClusters = kNtfsUnknown;
    }
};

// $LogFile: its records, the restart pages, the log record page ranges.
struct NtfsLogPages {
    // Distinct (first cluster, spc) of the $LogFile records, with the last record's sector.
    struct Start {
        std::int64_t cluster;
        std::uint8_t spc;
        std::uint64_t lastRecord;
    };
    std::vector<NtfsRecordNode> records;
    std::vector<Start> starts;
    std::vector<std::uint64_t> restartPages;
    std::vector<NtfsSectorRange> recordPages;
};

// Index blocks and the folder records whose $INDEX_ALLOCATION places them.
struct NtfsIndexBlocks {
    std::multimap<std::uint64_t, IndexRecordInfo> blocks;          // by parent
    std::multimap<std::uint64_t, NtfsIndexedFolderRecord> folders; // by folder record
};

// Where the fixed contents of a system file ($AttrDef, $UpCase) were seen, and its records.
struct NtfsSystemFileMatches {
    std::vector<NtfsRecordNode> records; // ascending sector
    std::vector<NtfsSectorRange> matched;
};

// What confirms candidates at the end of a search: the system files' contents and the names
// found in FILE records (carving confirms them).
struct NtfsSearchEvidence {
    NtfsSystemFileMatches attrDef;
    NtfsSystemFileMatches upCase;
    FoundFileEntryList foundFiles;
};

// The candidates, one per (first sector, sectors per cluster) and evidence; they stay until
// they are collected.
struct NtfsCandidates {
    using Key = std::pair<std::uint64_t, std::uint8_t>; // first sector, sectors per cluster
    using Set = std::multimap<Key, std::unique_ptr<CSearchedNTFSPartitionInfo>>;
    Set partitions;
    std::uint32_t nextIdentity = 1;
};

// The chunk buffer (the previous chunk's tail, then the chunk) and the structures a chunk
// border cut, completed at the start of the next chunk.
struct NtfsChunkStitch {
    std::vector<std::uint8_t> buffer;
    std::uint64_t prevFirst = 0;
    std::uint64_t prevCount = 0;
    bool prevInBuffer = false; // the previous piece is in the buffer (not read in place)
    std::vector<std::uint64_t> pendingFile;
    std::vector<std::uint64_t> pendingIndex; // index blocks and restart pages
    std::uint64_t pendingLogPage = kNtfsUnknown;

    // True when a chunk from `first` follows the previous one.
    bool Continues(std::uint64_t first) const {
        return prevCount != 0 && prevFirst + prevCount == first;
    }
    // Forgets the structures the last border cut.
    void ForgetCut() {
        pendingFile.clear();
        pendingIndex.clear();
        pendingLogPage = kNtfsUnknown;
    }
};

// What one search sees, by concern; assigning `{}` forgets it all.
struct NtfsSearchPass {
    NtfsChunkStitch chunk;
    NtfsMftSequence mft;
    NtfsLogPages log;
    NtfsIndexBlocks index;
    NtfsSearchEvidence evidence;
};
