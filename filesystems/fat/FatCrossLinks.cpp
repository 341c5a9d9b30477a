#include "filesystems/fat/FatCrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatTables.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;

// The data clusters (cluster - 2) an entry's range covers, cut at the cluster count;
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

// When an entry was written: the later of its creation and last-write times (a file copied in
// keeps an older last-write time and gets a new creation time); none when neither is a time.
std::uint64_t FatWriteStamp(const IFileProperties& props) {
    FileTime created, written;
    props.GetCreationTime(&created);
    props.GetLastWriteTime(&written);
    return std::max(created.ticks, written.ticks);
}

// Without a FAT no live file's chain is known: its clusters are taken to follow on from its
// first one. Where that run reaches the first cluster of another live file, the file went on
// elsewhere and the clusters read there hold the other file: it is flagged, the other file is
// left as it is. One map of the live files' first clusters, one look at each file's run.
std::size_t FlagAssumedRunsOverLiveFiles(CFileNode* root, std::uint64_t clusterCount) {
    std::uint64_t firstSector = 0;
    std::uint32_t spc = 0;
    if (!root || clusterCount == 0 || !root->GetFileSystemInfo(&firstSector, &spc) || spc == 0 || spc > 255)
        return 0;
    const std::uint64_t clusterBytes = spc * kSectorBytes;
    std::vector<std::uint64_t> bits;
    CClusterUseBitMap starts(&bits, firstSector, static_cast<std::uint8_t>(spc), clusterCount);
    std::vector<std::pair<IFileProperties*, ClusterRange>> files;
    VisitLiveFiles(root, [&](IFileProperties& props) {
        const ClusterRange r = RangeOf(props, clusterBytes, clusterCount);
        if (r.count == 0)
            return;
        starts.MarkCluster(r.first);
        if (r.count > 1)
            files.emplace_back(&props, r);
    });
    std::size_t flagged = 0;
    for (const auto& [props, r] : files) {
        if ((props->GetFileState() & FILESTATE_CROSS_LINK) || !starts.AnyMarked(r.first + 1, r.count - 1))
            continue;
        props->AddFileState(FILESTATE_CROSS_LINK);
        ++flagged;
    }
    return flagged;
}

} // namespace

std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount) {
    const std::size_t assumed = fat ? 0 : FlagAssumedRunsOverLiveFiles(root, clusterCount);
    // One bit per data cluster (cluster - 2, the unit of the FAT run lists).
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateCrossLinkMap(root, &bits, clusterCount);
    if (!map)
        return assumed;
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
    const std::size_t inUse = FlagCrossLinkedFiles(root, [&](const IFileProperties& props) {
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
    // Of two deleted entries on the same clusters, the one written later holds them. An entry
    // claims the clusters its directory entry names: from its first cluster on, as many as its
    // size needs (the runs rebuilt past used clusters are a guess, not a claim).
    const auto rangeOf = [&](const IFileProperties& props, const ClusterRunVisit& visit) {
        const ClusterRange r = RangeOf(props, clusterBytes, clusterCount);
        if (r.count)
            visit(r.first, r.count);
    };
    return assumed + inUse + FlagOverwrittenDeletedFiles(root, clusterCount, rangeOf, FatWriteStamp);
}
