#include "filesystems/ClusterUseBitMap.h"

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"

#include <deque>

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

std::unique_ptr<CClusterUseBitMap> CreateClusterUseBitMap(CFileNode* root, std::vector<std::uint64_t>* bits,
                                                          std::uint64_t clusterCount, const ClusterMarkHook& extra) {
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    if (!root || !bits || !root->GetFileSystemInfo(&first, &spc) || spc == 0 || spc > 255)
        return nullptr;
    auto map = std::make_unique<CClusterUseBitMap>(bits, first, static_cast<std::uint8_t>(spc), clusterCount);
    const std::uint64_t clusterBytes = std::uint64_t{spc} * 512;
    std::deque<CFileNode*> queue{root};
    while (!queue.empty()) {
        CFileNode* node = queue.front();
        queue.pop_front();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            queue.push_back(c);
        const IFileProperties* props = node->m_pProperties;
        if (!props)
            continue;
        std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
        if (runs && runs->IsResident()) {
            if (!runs->Runs().empty() && runs->Runs().front().start >= 0 &&
                static_cast<std::uint64_t>(runs->Runs().front().start) >= first)
                map->MarkCluster((static_cast<std::uint64_t>(runs->Runs().front().start) - first) / spc);
        } else if (runs) {
            const std::uint64_t size = props->GetFileSize();
            std::uint64_t covered = 0;
            for (const DataRun& run : runs->Runs()) {
                if (covered >= size || run.count <= 0)
                    break;
                const auto count = static_cast<std::uint64_t>(run.count);
                const std::uint64_t left = (size - covered + clusterBytes - 1) / clusterBytes;
                const std::uint64_t n = count < left ? count : left;
                if (run.start >= 0)
                    map->MarkClusters(static_cast<std::uint64_t>(run.start), n);
                covered += n * clusterBytes;
            }
        }
        if (extra)
            extra(*props, *map);
    }
    return map;
}
