#include "filesystems/fat/FatCrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatTables.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;

// The data clusters (cluster - 2) a deleted entry's range covers, cut at the cluster count;
// none for an empty file or a first cluster outside the data area.
struct ClusterRange {
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

ClusterRange RangeOf(const IFileProperties& props, std::uint64_t clusterBytes, std::uint64_t clusterCount) {
    if (props.GetFileSystemKind() != FILEPROPS_FAT)
        return {};
    const auto& entry = static_cast<const CFATFileProperties&>(props);
    const std::uint64_t size = entry.GetFileSize();
    if (size == 0 || entry.m_u32FirstCluster < 2 || entry.m_u32FirstCluster - 2u >= clusterCount)
        return {};
    const std::uint64_t first = entry.m_u32FirstCluster - 2u;
    const std::uint64_t count = size / clusterBytes + (size % clusterBytes != 0);
    return {first, std::min(count, clusterCount - first)};
}

} // namespace

std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount) {
    // One bit per data cluster (cluster - 2, the unit of the FAT run lists).
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateCrossLinkMap(root, &bits, clusterCount);
    if (!map)
        return 0;
    MarkLiveFileClusters(root, *map);
    const std::uint64_t clusterBytes = map->GetSectorsPerCluster() * kSectorBytes;
    // Only the entries inside the deleted files' ranges matter: they are looked up there, unless
    // the ranges add up to more clusters than the volume has, where one walk of the whole FAT
    // costs less.
    std::uint64_t covered = 0;
    VisitDeletedFiles(root, [&](IFileProperties& props) {
        const ClusterRange r = RangeOf(props, clusterBytes, clusterCount);
        covered = std::min(covered + r.count, clusterCount + 1);
    });
    const bool wholeFat = fat && covered > clusterCount;
    if (wholeFat)
        for (std::uint64_t c = 0; c < clusterCount; ++c)
            if (fat->GetEntry(static_cast<std::uint32_t>(c + 2)) != kFatEntryFree)
                map->MarkCluster(c);
    return FlagCrossLinkedFiles(root, [&](const IFileProperties& props) {
        const ClusterRange r = RangeOf(props, clusterBytes, clusterCount);
        if (r.count == 0)
            return false;
        if (map->AnyMarked(r.first, r.count))
            return true;
        if (fat && !wholeFat)
            for (std::uint64_t c = r.first; c < r.first + r.count; ++c)
                if (fat->GetEntry(static_cast<std::uint32_t>(c + 2)) != kFatEntryFree)
                    return true;
        return false;
    });
}
