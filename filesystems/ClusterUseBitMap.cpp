#include "filesystems/ClusterUseBitMap.h"

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <deque>

namespace {

bool VisitRuns(const IDataRunList& runs, std::uint64_t size, std::uint64_t clusterBytes,
               const ClusterRunVisit& visit) {
    // An EXT2 list gives its holes as runs from block 0, which never holds file data.
    const std::int64_t firstReal = runs.GetKind() == DATARUNLIST_EXT2 ? 1 : 0;
    std::uint64_t covered = 0;
    for (const DataRun& run : runs.Runs()) {
        if (covered >= size || run.count <= 0)
            break;
        const auto count = static_cast<std::uint64_t>(run.count);
        const std::uint64_t owed = size - covered;
        const std::uint64_t left = owed / clusterBytes + (owed % clusterBytes != 0);
        const std::uint64_t n = count < left ? count : left;
        if (run.start >= firstReal && !visit(static_cast<std::uint64_t>(run.start), n))
            return false;
        covered = n == left ? size : covered + n * clusterBytes;
    }
    return true;
}

} // namespace

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

bool CClusterUseBitMap::AnyMarked(std::uint64_t first, std::uint64_t count) const {
    if (first >= m_clusterCount || count == 0)
        return false;
    const std::uint64_t end = count > m_clusterCount - first ? m_clusterCount : first + count;
    const std::vector<std::uint64_t>& bits = *m_bits;
    for (std::uint64_t c = first; c < end;) {
        const std::uint64_t word = c / 64;
        const std::uint64_t wordEnd = std::min(end, (word + 1) * 64);
        std::uint64_t mask = ~std::uint64_t{0} << (c % 64);
        if (wordEnd % 64)
            mask &= ~(~std::uint64_t{0} << (wordEnd % 64));
        if (bits[word] & mask)
            return true;
        c = wordEnd;
    }
    return false;
}

void CClusterUseBitMap::MarkFromBitmapBytes(std::uint64_t firstCluster, const std::uint8_t* bytes,
                                            std::size_t size) {
    if (firstCluster >= m_clusterCount)
        return;
    const std::uint64_t room = (m_clusterCount - firstCluster + 7) / 8;
    const std::size_t n = size < room ? size : static_cast<std::size_t>(room);
    std::vector<std::uint64_t>& bits = *m_bits;
    for (std::size_t j = 0; j < n; ++j) {
        if (!bytes[j])
            continue;
        const std::uint64_t c = firstCluster + 8 * static_cast<std::uint64_t>(j);
        std::uint64_t b = bytes[j];
        if (m_clusterCount - c < 8)
            b &= (1u << (m_clusterCount - c)) - 1; // no bit past the last cluster
        const unsigned shift = static_cast<unsigned>(c % 64);
        bits[c / 64] |= b << shift;
        if (shift > 56 && (b >> (64 - shift)))
            bits[c / 64 + 1] |= b >> (64 - shift); // within the count: the bits were clipped
    }
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
            VisitRuns(*runs, props->GetFileSize(), clusterBytes, [&map](std::uint64_t start, std::uint64_t n) {
                map->MarkClusters(start, n);
                return true;
            });
        }
        if (extra)
            extra(*props, *map);
    }
    return map;
}

bool VisitFileClusterRuns(const IFileProperties& properties, std::uint64_t clusterBytes,
                          const ClusterRunVisit& visit) {
    if (clusterBytes == 0)
        return true;
    std::unique_ptr<IDataRunList> runs(properties.GetDataRunList());
    if (!runs || runs->IsResident())
        return true;
    return VisitRuns(*runs, properties.GetFileSize(), clusterBytes, visit);
}
