#pragma once
// Mapping pairs decoded into extents, VCN/LCN mapping, MFT record positions, the saved extent
// list and the cluster-size estimate.
#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsCommon.h"

#include <cstddef>
#include <cstdint>
#include <vector>

bool ValidateMappingPairs(const std::uint8_t* pairs, std::size_t len);
struct NtfsExtent {
    std::int64_t lcn;    // -1 for a sparse run
    std::uint64_t vcn;   // first cluster of the run in the attribute
    std::uint64_t count; // clusters
};
using NtfsExtentList = std::vector<NtfsExtent>;

void DecodeDataRuns(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out);
// Mapping pairs that hold together (ValidateMappingPairs) decoded and appended to `out`; false,
// with nothing appended, for a damaged list.
bool DecodeMappingPairs(const std::uint8_t* pairs, std::size_t len, NtfsExtentList& out);
// Which attributes CollectAttributeRuns takes: unnamed ones only (a file's data) or named ones
// too (a folder's $I30 index).
enum class NtfsRunNames { UnnamedOnly, AnyName };
// Non-resident attribute only, with mapping pairs that hold together; extents get the
// attribute's lowest VCN added and are appended to `out`.
bool CollectAttributeRuns(const NtfsAttributeView& attr, NtfsExtentList& out,
                          std::uint64_t* lowestVcn, std::uint64_t* dataSize,
                          NtfsRunNames names = NtfsRunNames::UnnamedOnly);
std::uint64_t SumRunCounts(const std::uint8_t* pairs, std::size_t len);
bool CollectDataRuns(const std::uint8_t* rec, std::size_t len, NtfsExtentList& out, bool checkSizes,
                     std::uint64_t* dataSize);
void SortExtents(NtfsExtentList& extents);

std::int64_t MapVcnToLcn(const NtfsExtentList& extents, std::uint64_t vcn);
std::int64_t MapLcnToVcn(const NtfsExtentList& extents, std::uint64_t lcn);
std::uint64_t GetTotalClusters(const NtfsExtentList& extents);

std::int64_t MftRecordToSector(std::uint64_t record, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft);
std::int64_t MftSectorToRecord(std::uint64_t sector, std::uint32_t sectorsPerRecord,
                               std::uint32_t sectorsPerCluster, std::uint64_t partitionFirst,
                               const NtfsExtentList& mft);

// Saved form: u64 count, then per extent u64 LCN, u64 count, u64 VCN.
std::vector<std::uint8_t> SaveExtentList(const NtfsExtentList& extents);
bool LoadExtentList(const std::uint8_t* bytes, std::size_t len, NtfsExtentList& out,
                    std::size_t* consumed = nullptr);

// Cluster-size estimate.
std::uint32_t RoundClusterSectors(std::uint64_t n);
std::uint32_t EstimateSectorsPerCluster(std::uint64_t bytes, std::uint64_t clusters);
bool EstimateClusterSizeFromMft(const std::uint8_t* rec, std::size_t len, std::uint32_t* estimate);
