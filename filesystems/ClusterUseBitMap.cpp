#include "filesystems/ClusterUseBitMap.h"

CClusterUseBitMap::CClusterUseBitMap(std::vector<std::uint64_t>* bits, std::uint64_t firstSector,
                                     std::uint8_t sectorsPerCluster, std::uint64_t clusterCount)
    : m_bits(bits), m_firstSector(firstSector),
      m_sectorsPerCluster(sectorsPerCluster ? sectorsPerCluster : 1), m_clusterCount(clusterCount) {
    m_bits->assign(static_cast<std::size_t>((clusterCount + 63) / 64), 0);
}

bool CClusterUseBitMap::IsClusterUsed(std::uint64_t sector) const {
    if (sector < m_firstSector)
        return true;
    const std::uint64_t cluster = (sector - m_firstSector) / m_sectorsPerCluster;
    if (cluster >= m_clusterCount)
        return true;
    return IsMarked(cluster);
}

bool CClusterUseBitMap::IsMarked(std::uint64_t cluster) const {
    if (cluster >= m_clusterCount)
        return false;
    return ((*m_bits)[cluster / 64] >> (cluster % 64)) & 1u;
}

void CClusterUseBitMap::MarkCluster(std::uint64_t cluster) {
    if (cluster < m_clusterCount)
        (*m_bits)[cluster / 64] |= std::uint64_t{1} << (cluster % 64);
}

void CClusterUseBitMap::MarkClusters(std::uint64_t first, std::uint64_t count) {
    if (first >= m_clusterCount)
        return;
    const std::uint64_t end = count > m_clusterCount - first ? m_clusterCount : first + count;
    for (std::uint64_t c = first; c < end;) {
        if (c % 64 == 0 && end - c >= 64) {
            (*m_bits)[c / 64] = ~std::uint64_t{0};
            c += 64;
        } else {
            MarkCluster(c++);
        }
    }
}
