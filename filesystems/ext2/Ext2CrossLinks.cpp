#include "filesystems/ext2/Ext2CrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2SuperBlock.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

namespace {

// Marks the blocks each group's block bitmap says are in use.
void MarkGroupBitmaps(CExt2FileSystem& fs, CClusterUseBitMap& map) {
    const CExt2SuperBlock& sb = fs.SuperBlock();
    const std::uint64_t perGroup = sb.BlocksPerGroup();
    if (perGroup == 0)
        return;
    const ByteSpan table(fs.GroupTable().data(), fs.GroupTable().size());
    const std::size_t bitmapBytes = static_cast<std::size_t>(std::min<std::uint64_t>((perGroup + 7) / 8, fs.BlockSize()));
    std::vector<std::uint8_t> block(fs.BlockSize());
    for (std::uint32_t g = 0; g < fs.GroupCount(); ++g) {
        const std::size_t off = static_cast<std::size_t>(g) * ext2::kGroupDescriptorSize;
        if (!table.has(off, 4))
            break;
        const std::uint32_t bitmapBlock = table.u32(off);
        const std::uint64_t groupStart = sb.FirstDataBlock() + g * perGroup;
        if (bitmapBlock == 0 || bitmapBlock >= fs.BlockCount() || groupStart >= map.GetClusterCount())
            continue;
        try {
            fs.ReadBlocks(block.data(), bitmapBlock, 1);
        } catch (const std::exception&) {
            continue; // this group's use is not known
        }
        map.MarkFromBitmapBytes(groupStart, block.data(), bitmapBytes);
    }
}

} // namespace

std::size_t FlagExt2CrossLinks(CFileNode* root, CExt2FileSystem& fs) {
    // The root gives the partition start and the block size: one bit per block.
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateLiveFileClusterMap(root, &bits, fs.BlockCount());
    if (!map)
        return 0;
    MarkGroupBitmaps(fs, *map);
    return FlagCrossLinkedFiles(root, *map);
}
