#include "filesystems/fat/FatCrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatTables.h"

#include <memory>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;

} // namespace

std::size_t FlagFatCrossLinks(CFileNode* root, const IFATTable* fat, std::uint64_t clusterCount) {
    // One bit per data cluster (cluster - 2, the unit of the FAT run lists).
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateLiveFileClusterMap(root, &bits, clusterCount);
    if (!map)
        return 0;
    if (fat)
        for (std::uint64_t c = 0; c < clusterCount; ++c)
            if (fat->GetEntry(static_cast<std::uint32_t>(c + 2)) != kFatEntryFree)
                map->MarkCluster(c);
    const std::uint64_t clusterBytes = map->GetSectorsPerCluster() * kSectorBytes;
    return FlagCrossLinkedFiles(root, [&](const IFileProperties& props) {
        if (props.GetFileSystemKind() != FILEPROPS_FAT)
            return false;
        const auto& entry = static_cast<const CFATFileProperties&>(props);
        const std::uint64_t size = entry.GetFileSize();
        if (size == 0 || entry.m_u32FirstCluster < 2)
            return false;
        const std::uint64_t count = size / clusterBytes + (size % clusterBytes != 0);
        return map->AnyMarked(entry.m_u32FirstCluster - 2, count);
    });
}
