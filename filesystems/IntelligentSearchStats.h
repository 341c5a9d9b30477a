#pragma once
// The statistics block of a deep scan: sixteen u64 counters shared, by position, between the
// search controllers that fill them, the intelligent search and its progress dialog.
#include <cstdint>
#include <cstring>

enum IntelligentSearchStatIndex : int {
    ISS_UNUSED = 0,
    ISS_FATBootRecords = 1,
    ISS_FATFolders = 2,
    ISS_FATFolderParts = 3,
    ISS_NTFSBootRecords = 4,
    ISS_NTFSFileRecords = 5,
    ISS_FilesIdentified = 6,
    ISS_TotalFilesFound = 7,
    ISS_ChunkCounter8 = 8, // per-chunk counters 8, 9, 11, 14, 15 are zeroed before each chunk
    ISS_ChunkCounter9 = 9,
    ISS_Counter10 = 10,
    ISS_ChunkCounter11 = 11,
    ISS_Counter12 = 12, // NTFS controller: boot sectors
    ISS_Counter13 = 13, // NTFS controller: set to the chunk's FILE-record count
    ISS_ChunkCounter14 = 14,
    ISS_ChunkCounter15 = 15, // NTFS controller: FILE records of the chunk
    ISS_COUNT = 16,
};

struct IntelligentSearchStats {
    std::uint64_t counters[ISS_COUNT] = {};
};
static_assert(sizeof(IntelligentSearchStats) == 128);

inline void ResetIntelligentSearchStats(IntelligentSearchStats* stats) {
    if (stats)
        std::memset(stats->counters, 0, sizeof(stats->counters));
}
