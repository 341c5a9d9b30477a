#pragma once
// The EXT2/EXT3 superblock: the 1024-byte record at byte 1024 of a partition (and its backup
// copies at the start of some block groups), its repair before use, its checks, and the
// byte-level test other searches use to recognise one.
#include "storage/ByteSpan.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace ext2 {
constexpr std::size_t kSuperBlockSize = 1024;
constexpr std::uint16_t kMagic = 0xEF53;
constexpr std::uint32_t kMaxLogBlockSize = 6; // 64 KiB blocks
constexpr std::uint32_t kGoodOldRevision = 0;
constexpr std::uint32_t kGoodOldFirstInode = 11;
constexpr std::uint32_t kGoodOldInodeSize = 128;
constexpr std::uint32_t kGroupDescriptorSize = 32;
constexpr std::uint32_t kRootInode = 2;

// Field offsets inside the superblock.
enum SuperBlockField : std::size_t {
    SB_INODE_COUNT = 0,
    SB_BLOCK_COUNT = 4,
    SB_FIRST_DATA_BLOCK = 20,
    SB_LOG_BLOCK_SIZE = 24,
    SB_BLOCKS_PER_GROUP = 32,
    SB_INODES_PER_GROUP = 40,
    SB_MOUNT_TIME = 44,
    SB_WRITE_TIME = 48,
    SB_MAGIC = 56,
    SB_CHECK_TIME = 64,
    SB_REVISION = 76,
    SB_FIRST_INODE = 84,
    SB_INODE_SIZE = 88,
    SB_GROUP_NUMBER = 90,
    SB_UUID = 104,
    SB_VOLUME_NAME = 120,
    SB_JOURNAL_INODE = 224,
};
} // namespace ext2

// The superblock record kept in memory: the bytes as read, with typed accessors. All
// accessors read through a bounded span and answer 0 for nothing.
class CExt2SuperBlock {
public:
    CExt2SuperBlock();
    // Copies up to 1024 bytes (the rest stays zero).
    CExt2SuperBlock(const std::uint8_t* bytes, std::size_t size);

    const std::uint8_t* Bytes() const { return m_bytes; }

    std::uint32_t InodeCount() const { return U32(ext2::SB_INODE_COUNT); }
    std::uint32_t BlockCount() const { return U32(ext2::SB_BLOCK_COUNT); }
    std::uint32_t FirstDataBlock() const { return U32(ext2::SB_FIRST_DATA_BLOCK); }
    std::uint32_t LogBlockSize() const { return U32(ext2::SB_LOG_BLOCK_SIZE); }
    std::uint32_t BlocksPerGroup() const { return U32(ext2::SB_BLOCKS_PER_GROUP); }
    std::uint32_t InodesPerGroup() const { return U32(ext2::SB_INODES_PER_GROUP); }
    std::uint32_t MountTime() const { return U32(ext2::SB_MOUNT_TIME); }
    std::uint32_t WriteTime() const { return U32(ext2::SB_WRITE_TIME); }
    std::uint16_t Magic() const { return Span().u16(ext2::SB_MAGIC); }
    std::uint32_t CheckTime() const { return U32(ext2::SB_CHECK_TIME); }
    std::uint32_t Revision() const { return U32(ext2::SB_REVISION); }
    std::uint32_t FirstInode() const { return U32(ext2::SB_FIRST_INODE); }
    std::uint16_t InodeSize() const { return Span().u16(ext2::SB_INODE_SIZE); }
    std::uint16_t GroupNumber() const { return Span().u16(ext2::SB_GROUP_NUMBER); }
    const std::uint8_t* Uuid() const { return m_bytes + ext2::SB_UUID; }
    std::uint32_t JournalInode() const { return U32(ext2::SB_JOURNAL_INODE); }
    bool HasJournal() const { return JournalInode() != 0; }

    // 1024 << exponent, or 0 when the exponent is above 6 (64 KiB).
    std::uint32_t BlockSize() const;
    std::uint32_t SectorsPerBlock() const { return BlockSize() / 512; }
    // (block count - first data block + blocks per group - 1) / blocks per group; 0 when there
    // are no blocks per group (or the first data block lies past the block count).
    std::uint32_t GroupCount() const;
    // The volume name up to its first NUL, at most 16 bytes, as stored.
    std::string VolumeName() const;

    // Repairs the fields that the rest of the reader relies on (see the .cpp).
    void Normalise();
    // Same magic, geometry, counts, inode size, first data block and UUID.
    bool IsSameFileSystem(const CExt2SuperBlock& other) const;

    void SetU32(std::size_t offset, std::uint32_t value);
    void SetU16(std::size_t offset, std::uint16_t value);

private:
    ByteSpan Span() const { return ByteSpan(m_bytes, sizeof(m_bytes)); }
    std::uint32_t U32(std::size_t offset) const { return Span().u32(offset); }

    std::uint8_t m_bytes[ext2::kSuperBlockSize];
};

// The superblock checks, on a record that has been normalised (all comparisons unsigned).
bool IsValidExt2SuperBlock(const CExt2SuperBlock& superBlock);

// What the byte-level check tells about a superblock.
struct Ext2SuperBlockSummary {
    std::uint32_t blockSize = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t groupNumber = 0; // 0 for the primary copy
    bool journal = false;          // EXT3
    std::string label;             // the volume name as stored (up to 16 bytes)
};

// Whether `bytes` (the 1024 bytes of a superblock copy, as read from disk) hold a plausible
// EXT2/EXT3 superblock: a normalised copy passes IsValidExt2SuperBlock. Fills `summary` (when
// given) on success. Spans shorter than 1024 bytes are refused.
bool CheckExt2SuperBlock(ByteSpan bytes, Ext2SuperBlockSummary* summary = nullptr);
