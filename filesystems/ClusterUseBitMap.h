#pragma once
// Which clusters of a partition the files already in a tree occupy. Carving over a partition's
// unused space asks it whether a carved file starts in a used cluster, and skips such files.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CFileNode;
class IFileProperties;

class IIsClusterUsed {
public:
    virtual ~IIsClusterUsed() = default;
    // True for a sector before the partition, for a sector in a used cluster, and for a sector
    // whose cluster lies at or past the partition's cluster count.
    virtual bool IsClusterUsed(std::uint64_t sector) const = 0;
};

// One bit per cluster, in a bit vector the caller owns and keeps alive.
class CClusterUseBitMap : public IIsClusterUsed {
public:
    // `bits` is resized to hold `clusterCount` bits (all clear). A sectors-per-cluster of 0
    // counts as 1.
    CClusterUseBitMap(std::vector<std::uint64_t>* bits, std::uint64_t firstSector,
                      std::uint8_t sectorsPerCluster, std::uint64_t clusterCount);

    bool IsClusterUsed(std::uint64_t sector) const override;

    // Marks one cluster, or `count` clusters from `first`, clipped at the cluster count.
    void MarkCluster(std::uint64_t cluster);
    void MarkClusters(std::uint64_t first, std::uint64_t count);
    // Marks the clusters whose bits are set in `bytes`, an allocation bitmap in the order NTFS
    // and EXT2 keep one (bit i of byte j is cluster firstCluster + 8 j + i), clipped at the
    // cluster count.
    void MarkFromBitmapBytes(std::uint64_t firstCluster, const std::uint8_t* bytes, std::size_t size);
    bool IsMarked(std::uint64_t cluster) const;
    // True when one of `count` clusters from `first` is marked; clusters at or past the
    // cluster count are not.
    bool AnyMarked(std::uint64_t first, std::uint64_t count) const;

    std::uint64_t GetFirstSector() const { return m_firstSector; }
    std::uint8_t GetSectorsPerCluster() const { return m_sectorsPerCluster; }
    std::uint64_t GetClusterCount() const { return m_clusterCount; }

private:
    std::vector<std::uint64_t>* m_bits;
    std::uint64_t m_firstSector;
    std::uint8_t m_sectorsPerCluster;
    std::uint64_t m_clusterCount;
};

// Marks the clusters that the files of the tree under `root` occupy: the root's file-system
// information gives the first sector and the cluster size; every node's run list is walked
// (resident data marks the cluster of the sector it lives in; sparse runs and clusters past the
// count are not marked) while the bytes covered stay below the file's size. `extra` may mark
// more for a node (the NTFS build marks the cluster of each file's MFT record). Null when the
// root gives no file-system information. `bits` is resized to `clusterCount` bits.
// Calls `visit`(first cluster, count) for each run of real clusters of the entry's data, cut at
// its size (sparse runs and resident data give none). The walk stops when `visit` returns
// false; the result is false then.
using ClusterRunVisit = std::function<bool(std::uint64_t first, std::uint64_t count)>;
bool VisitFileClusterRuns(const IFileProperties& properties, std::uint64_t clusterBytes,
                          const ClusterRunVisit& visit);

using ClusterMarkHook = std::function<void(const IFileProperties& properties, CClusterUseBitMap& map)>;
std::unique_ptr<CClusterUseBitMap> CreateClusterUseBitMap(CFileNode* root, std::vector<std::uint64_t>* bits,
                                                          std::uint64_t clusterCount,
                                                          const ClusterMarkHook& extra = {});
