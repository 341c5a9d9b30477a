#include "filesystems/ext2/Ext2SuperBlock.h"

#include <algorithm>
#include <cstring>

CExt2SuperBlock::CExt2SuperBlock() { std::memset(m_bytes, 0, sizeof(m_bytes)); }

CExt2SuperBlock::CExt2SuperBlock(const std::uint8_t* bytes, std::size_t size) : CExt2SuperBlock() {
    if (bytes)
        std::memcpy(m_bytes, bytes, std::min(size, sizeof(m_bytes)));
}

void CExt2SuperBlock::SetU32(std::size_t offset, std::uint32_t value) {
    MutableByteSpan(m_bytes, sizeof(m_bytes)).put32(offset, value);
}

void CExt2SuperBlock::SetU16(std::size_t offset, std::uint16_t value) {
    MutableByteSpan(m_bytes, sizeof(m_bytes)).put16(offset, value);
}

std::uint32_t CExt2SuperBlock::BlockSize() const {
    const std::uint32_t exponent = LogBlockSize();
    return exponent > ext2::kMaxLogBlockSize ? 0 : 1024u << exponent;
}

std::uint32_t CExt2SuperBlock::GroupCount() const {
    const std::uint64_t perGroup = BlocksPerGroup();
    const std::uint64_t blocks = BlockCount();
    const std::uint64_t first = FirstDataBlock();
    if (perGroup == 0 || first > blocks)
        return 0;
    return static_cast<std::uint32_t>((blocks - first + perGroup - 1) / perGroup);
}

std::string CExt2SuperBlock::VolumeName() const {
    const char* name = reinterpret_cast<const char*>(m_bytes + ext2::SB_VOLUME_NAME);
    std::size_t n = 0;
    while (n < 16 && name[n] != '\0')
        ++n;
    return std::string(name, n);
}

// Revision 0 file systems have 128-byte inodes and reserve the first ten inode numbers; later
// revisions store both values. The first data block follows from the block size. An inode
// count that cannot be right for the group geometry is replaced by the geometry's count.
void CExt2SuperBlock::Normalise() {
    if (Revision() == ext2::kGoodOldRevision) {
        SetU16(ext2::SB_INODE_SIZE, ext2::kGoodOldInodeSize);
        SetU32(ext2::SB_FIRST_INODE, ext2::kGoodOldFirstInode);
    }
    SetU32(ext2::SB_FIRST_DATA_BLOCK, BlockSize() == 1024 ? 1 : 0);
    if (BlocksPerGroup() == 0)
        return;
    const std::uint64_t groups = GroupCount();
    const std::uint64_t perGroup = InodesPerGroup();
    const std::uint64_t inodes = InodeCount();
    const bool consistent = FirstInode() < inodes && groups > 0 &&
                            perGroup * (groups - 1) < inodes && inodes <= perGroup * groups;
    if (!consistent)
        SetU32(ext2::SB_INODE_COUNT, static_cast<std::uint32_t>(
                                         std::min<std::uint64_t>(perGroup * groups, UINT32_MAX)));
}

bool CExt2SuperBlock::IsSameFileSystem(const CExt2SuperBlock& other) const {
    return Magic() == other.Magic() && LogBlockSize() == other.LogBlockSize() &&
           BlockCount() == other.BlockCount() && InodeCount() == other.InodeCount() &&
           BlocksPerGroup() == other.BlocksPerGroup() &&
           InodesPerGroup() == other.InodesPerGroup() && InodeSize() == other.InodeSize() &&
           FirstDataBlock() == other.FirstDataBlock() &&
           std::memcmp(Uuid(), other.Uuid(), 16) == 0;
}

bool IsValidExt2SuperBlock(const CExt2SuperBlock& sb) {
    if (sb.Magic() != ext2::kMagic)
        return false;
    if (sb.BlockCount() == 0 || sb.InodeCount() == 0 || sb.BlocksPerGroup() == 0 ||
        sb.InodesPerGroup() == 0)
        return false;
    const std::uint64_t bs = sb.BlockSize();
    if (bs == 0)
        return false;
    const std::uint64_t groups = sb.GroupCount();
    if (groups == 0 || sb.GroupNumber() > groups)
        return false;
    // One bitmap block per group: no more blocks or inodes per group than it has bits.
    if (sb.BlocksPerGroup() > 8 * bs || sb.InodesPerGroup() > 8 * bs)
        return false;
    const std::uint32_t inodeSize = sb.InodeSize();
    if (inodeSize < 128 || inodeSize > bs || (inodeSize & (inodeSize - 1)) != 0)
        return false;
    const std::uint64_t bitsPerBitmap = 8 * bs * bs;
    if (groups > (static_cast<std::uint64_t>(sb.BlockCount()) * bs + bitsPerBitmap - 1) / bitsPerBitmap)
        return false;
    const std::uint64_t inodes = sb.InodeCount();
    if (inodes <= sb.FirstInode() || inodes > static_cast<std::uint64_t>(sb.InodesPerGroup()) * groups)
        return false;
    // A group's inode table leaves room for its bitmaps. (mke2fs makes as many inodes as
    // blocks on small volumes with 4 KiB blocks, so the inode count itself may reach the
    // block count.)
    const std::uint64_t tableBlocks = (static_cast<std::uint64_t>(sb.InodesPerGroup()) * inodeSize + bs - 1) / bs;
    return tableBlocks + 2 <= sb.BlocksPerGroup();
}

bool CheckExt2SuperBlock(ByteSpan bytes, Ext2SuperBlockSummary* summary) {
    if (!bytes.has(0, ext2::kSuperBlockSize))
        return false;
    CExt2SuperBlock sb(bytes.data(), ext2::kSuperBlockSize);
    sb.Normalise();
    if (!IsValidExt2SuperBlock(sb))
        return false;
    if (summary) {
        summary->blockSize = sb.BlockSize();
        summary->blockCount = sb.BlockCount();
        summary->groupNumber = sb.GroupNumber();
        summary->journal = sb.HasJournal();
        summary->label = sb.VolumeName();
    }
    return true;
}
