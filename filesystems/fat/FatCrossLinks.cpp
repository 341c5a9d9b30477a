#include "filesystems/fat/FatCrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatTables.h"

#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;

} // namespace

std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount) {
    std::uint64_t dataStart = 0;
    std::uint32_t spc = 0;
    if (!root || !root->GetFileSystemInfo(&dataStart, &spc) || spc == 0 || spc > 255 || clusterCount == 0)
        return 0;
    if (!HasDeletedFiles(root))
        return 0;
    // One bit per data cluster (cluster - 2, the unit of the FAT run lists).
    std::vector<std::uint64_t> bits;
    CClusterUseBitMap map(&bits, dataStart, static_cast<std::uint8_t>(spc), clusterCount);
    MarkLiveFileClusters(root, map);
    if (fat)
        for (std::uint64_t c = 0; c < clusterCount; ++c)
            if (fat->GetEntry(static_cast<std::uint32_t>(c + 2)) != kFatEntryFree)
                map.MarkCluster(c);
    const std::uint64_t clusterBytes = spc * kSectorBytes;
    return FlagCrossLinkedFiles(root, [&](const IFileProperties& props) {
        if (props.GetFileSystemKind() != FILEPROPS_FAT)
            return false;
        const auto& entry = static_cast<const CFATFileProperties&>(props);
        const std::uint64_t size = entry.GetFileSize();
        if (size == 0 || entry.m_u32FirstCluster < 2)
            return false;
        const std::uint64_t count = size / clusterBytes + (size % clusterBytes != 0);
        return map.AnyMarked(entry.m_u32FirstCluster - 2, count);
    });
}
