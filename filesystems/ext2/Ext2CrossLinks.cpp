#include "filesystems/ext2/Ext2CrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2SuperBlock.h"
#include "logging/GuardedCall.h"
#include "storage/ByteSpan.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <vector>

namespace {

constexpr GuardedSite kBitmapSite{"Reading an EXT2 block bitmap", nullptr};

// Marks the blocks each group's block bitmap says are in use. False when a group's bitmap
// could not be read.
bool MarkGroupBitmaps(CExt2FileSystem& fs, CClusterUseBitMap& map) {
    const CExt2SuperBlock& sb = fs.SuperBlock();
    const std::uint64_t perGroup = sb.BlocksPerGroup();
    if (perGroup == 0)
        return false;
    const ByteSpan table(fs.GroupTable().data(), fs.GroupTable().size());
    const std::size_t bitmapBytes = static_cast<std::size_t>(std::min<std::uint64_t>((perGroup + 7) / 8, fs.BlockSize()));
    std::vector<std::uint8_t> block(fs.BlockSize());
    bool complete = true;
    for (std::uint32_t g = 0; g < fs.GroupCount(); ++g) {
        const std::size_t off = static_cast<std::size_t>(g) * ext2::kGroupDescriptorSize;
        const std::uint64_t groupStart = sb.FirstDataBlock() + g * perGroup;
        if (groupStart >= map.GetClusterCount())
            break;
        const std::uint32_t bitmapBlock = table.has(off, 4) ? table.u32(off) : 0;
        if (bitmapBlock == 0 || bitmapBlock >= fs.BlockCount()) {
            complete = false;
            continue;
        }
        if (!GuardedCall(kBitmapSite, 0, [&] { fs.ReadBlocks(block.data(), bitmapBlock, 1); })) {
            complete = false; // this group's use is not known
            continue;
        }
        map.MarkFromBitmapBytes(groupStart, block.data(), bitmapBytes);
    }
    return complete;
}

} // namespace

std::size_t FlagExt2CrossLinks(CFileNode* root, CExt2FileSystem& fs) {
    // The root gives the partition start and the block size: one bit per block on the device
    // (no file can be written from the blocks past its end).
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateCrossLinkMap(root, &bits, fs.BlocksOnDevice());
    if (!map)
        return 0;
    // The bitmaps hold every block a live inode claims; the live files' runs stand in for the
    // groups whose bitmap is missing.
    if (!MarkGroupBitmaps(fs, *map))
        MarkLiveFileClusters(root, *map);
    return FlagCrossLinkedFiles(root, *map);
}
