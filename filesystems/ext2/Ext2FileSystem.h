#pragma once
// Read-only access to one EXT2/EXT3 file system on a sector device: the superblock, a
// trustworthy group-descriptor table (group 0's or a backup's), inodes, the block map of an
// inode (direct, single, double and triple indirect) and directory entries. EXT3 differs
// from EXT2 here only by its journal inode; the journal itself is never read. Failures are
// reported as the exceptions below (all derive from std::exception).
#include "filesystems/ext2/Ext2SuperBlock.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

class IStorageDevice;

class CExt2BadSuperBlock : public std::exception {};
class CExt2BadGroupDescriptor : public std::exception {};
class CExt2ReadSectorError : public std::exception {};

namespace ext2 {
constexpr std::size_t kInodeBytes = 128; // the part of an inode the reader looks at
constexpr std::uint32_t kDirectBlocks = 12;
constexpr std::uint16_t kModeTypeMask = 0xF000;
constexpr std::uint16_t kModeDirectory = 0x4000;
constexpr std::uint16_t kModeRegular = 0x8000;
constexpr std::uint16_t kModeSymlink = 0xA000;
// A symbolic link whose target is shorter than this is kept in the block-pointer area of its
// inode (a fast link); a longer one in a data block (a slow link).
constexpr std::uint32_t kFastLinkBytes = 60;
constexpr std::size_t kBlockPointerOffset = 40; // of the block pointers inside the inode
constexpr std::uint32_t kInodeFlagExtents = 0x80000;
} // namespace ext2

class CExt2InodeIterator;

class CExt2FileSystem {
public:
    // Reads the superblock copy (2 sectors) at `superBlockSector` and opens the file system
    // from it. Throws CExt2ReadSectorError, CExt2BadSuperBlock (invalid, or starting past the
    // device's end) or CExt2BadGroupDescriptor (no acceptable table on the device). A device
    // that ends before the volume does (a partial copy) is opened: what lies past its end reads
    // as missing.
    CExt2FileSystem(IStorageDevice* device, std::uint64_t superBlockSector);
    // Opens a partition that a search found, at `partitionStart`, with the superblock and the
    // descriptor table it kept (`tableBytes` bytes). Throws CExt2BadSuperBlock or
    // CExt2BadGroupDescriptor.
    CExt2FileSystem(IStorageDevice* device, std::uint64_t partitionStart,
                    const std::uint8_t* superBlock, const std::uint8_t* table,
                    std::size_t tableBytes);
    virtual ~CExt2FileSystem();
    CExt2FileSystem(const CExt2FileSystem&) = delete;
    CExt2FileSystem& operator=(const CExt2FileSystem&) = delete;

    static bool IsValidSuperBlock(const CExt2SuperBlock& sb) { return IsValidExt2SuperBlock(sb); }

    // Reads `count` whole blocks from block `first`. Throws std::range_error
    // ("CExt2FileSystem::ReadBlocks") for blocks outside the device (buffer untouched), and
    // CExt2ReadSectorError when the device refuses the read (buffer zeroed).
    void ReadBlocks(void* buffer, std::uint32_t first, std::uint32_t count);
    // Sector of the primary superblock (partition start + 2), also when opened from a backup.
    std::uint64_t GetPrimarySuperBlockSector() const { return m_primarySector; }
    std::uint64_t GetPartitionStart() const { return m_primarySector - 2; }
    // A new copy of the first acceptable descriptor table (group count x 32 bytes), or empty.
    std::vector<std::uint8_t> LoadGroupDescriptors();

    // Block and byte offset of inode `number`; false when it cannot be located.
    bool LocateInode(std::uint32_t number, std::uint32_t* block, std::uint32_t* offset) const;
    // Copies `size` bytes of inode `number` (located) into `out`; the last inode-table block
    // read is kept, so neighbouring inodes cost one read. Read exceptions pass to the caller.
    void ReadInodeBytes(std::uint32_t block, std::uint32_t offset, std::uint8_t* out, std::size_t size);
    std::uint32_t InodeTableBlock(std::uint32_t group) const;
    // The blocks of the volume that lie whole on the device (the block count, or fewer when
    // the device ends before the volume does).
    std::uint64_t BlocksOnDevice() const;
    // How many of group `group`'s inodes, from its first, have their inode-table bytes on the
    // device (inodes per group when all do; 0 for no such group).
    std::uint32_t InodesOnDevice(std::uint32_t group) const;

    const CExt2SuperBlock& SuperBlock() const { return m_superBlock; }
    IStorageDevice* Device() const { return m_device; }
    std::uint32_t BlockSize() const { return m_blockSize; }
    std::uint32_t SectorsPerBlock() const { return m_blockSize / 512; }
    std::uint32_t BlockCount() const { return m_superBlock.BlockCount(); }
    std::uint32_t GroupCount() const { return m_groupCount; }
    std::uint32_t InodeSize() const { return m_superBlock.InodeSize(); }
    std::uint32_t InodesPerGroup() const { return m_superBlock.InodesPerGroup(); }
    std::uint32_t InodeCount() const { return m_superBlock.InodeCount(); }
    // The first inode number of the inode walk: min(first non-reserved inode, 11), at least 1.
    std::uint32_t FirstWalkInode() const;
    const std::vector<std::uint8_t>& GroupTable() const { return m_groupTable; }

private:
    void OpenFromSuperBlock(const std::uint8_t* bytes);
    std::uint64_t ComputePrimarySector(const CExt2SuperBlock& sb, std::uint64_t sector) const;
    std::uint64_t DeviceSectors() const;

    CExt2SuperBlock m_superBlock;
    std::vector<std::uint8_t> m_groupTable;
    IStorageDevice* m_device;
    std::uint64_t m_superBlockSector;
    std::uint64_t m_primarySector = 2;
    std::uint32_t m_blockSize = 1024;
    std::uint32_t m_groupCount = 0;
    mutable std::uint64_t m_deviceSectors = UINT64_MAX; // read lazily
    std::vector<std::uint8_t> m_inodeBlock;
    std::uint32_t m_inodeBlockNumber = 0; // 0: nothing kept
};

// Opens the file system of the partition that starts at sector `partitionStart`: from its
// primary superblock, or, when that one cannot be read or is damaged, from the backup copy in
// block group 1 (tried for 1, 2 and 4 KiB blocks) when that copy names the same start. Throws
// what opening the primary copy threw when no copy opens.
std::unique_ptr<CExt2FileSystem> OpenExt2FileSystem(IStorageDevice* device, std::uint64_t partitionStart);

// Every block-bitmap, inode-bitmap and inode-table block of the first `groups` descriptors
// lies inside its own group, and every inode table fits in its group.
bool CheckGroupDescriptorRanges(const CExt2SuperBlock& sb, const std::uint8_t* table,
                                std::size_t tableBytes, std::uint32_t groups);

// One inode as the reader hands it out: the first 128 bytes of the on-disk inode, its number
// and, when a directory entry named it, its name (UTF-8, see DecodeExt2Name).
class CExt2Inode {
public:
    explicit CExt2Inode(CExt2FileSystem* fs = nullptr) : m_fs(fs) {}

    // Number := `number`; clears the bytes and reads the inode when it can be located (read
    // exceptions pass to the caller; an unlocatable inode stays all zero). The name is kept.
    void Load(std::uint32_t number);
    void SetRaw(std::uint32_t number, const std::uint8_t* bytes, std::size_t size);

    std::uint16_t Mode() const { return Span().u16(0); }
    std::uint16_t ModeType() const { return Mode() & ext2::kModeTypeMask; }
    bool IsDirectory() const { return ModeType() == ext2::kModeDirectory; }
    bool IsRegular() const { return ModeType() == ext2::kModeRegular; }
    bool IsSymlink() const { return ModeType() == ext2::kModeSymlink; }
    std::uint32_t SizeLow() const { return Span().u32(4); }
    std::uint32_t SizeHigh() const { return Span().u32(108); }
    std::uint32_t AccessTime() const { return Span().u32(8); }
    std::uint32_t ChangeTime() const { return Span().u32(12); }
    std::uint32_t ModificationTime() const { return Span().u32(16); }
    std::uint32_t DeletionTime() const { return Span().u32(20); }
    std::uint32_t AllocatedSectors() const { return Span().u32(28); }
    std::uint32_t Flags() const { return Span().u32(32); }
    std::uint32_t FileAcl() const { return Span().u32(104); } // extended-attribute block
    bool UsesExtents() const { return (Flags() & ext2::kInodeFlagExtents) != 0; }
    std::uint32_t BlockPointer(std::uint32_t index) const {
        return index < 15 ? Span().u32(40 + 4 * index) : 0;
    }

    // The file size: regular files of a revision-1 file system add the high 32 bits.
    std::uint64_t GetFileSize() const;
    // The file size, or when it is 0 the allocated sectors x 512.
    std::uint64_t GetSize() const;
    // A non-zero mode whose first block pointers (as many as the size needs, at most 13) name
    // blocks of the file system; extent-mapped inodes skip the pointer test.
    bool IsUsable() const;
    // Logical blocks the size covers: ceil(size / block size).
    std::uint64_t GetBlockCount() const;
    // A symbolic link that owns no data block (its extended-attribute block aside): its target
    // text is in the block-pointer area.
    bool IsFastSymlink() const;

    CExt2FileSystem* m_fs;
    std::uint8_t m_raw[ext2::kInodeBytes] = {};
    std::string m_name;
    std::uint32_t m_number = 0;

private:
    ByteSpan Span() const { return ByteSpan(m_raw, sizeof(m_raw)); }
};

// The inode walk: hands out the inodes from FirstWalkInode() through the inode count, reading
// each group's inode table a slice (at most 1 MiB) at a time.
class CExt2InodeIterator {
public:
    explicit CExt2InodeIterator(CExt2FileSystem* fs);
    bool AtEnd() const;
    std::uint32_t Number() const { return m_number; }
    void Next() { ++m_number; }
    // Goes on at inode `number` (ignored when it is not past the current one).
    void SkipTo(std::uint32_t number) {
        if (number > m_number)
            m_number = number;
    }
    // Fills `inode` (empty name) with the current inode. Read exceptions pass to the caller;
    // after a failed read the zeroed slice serves the rest of it. Inodes whose table bytes lie
    // past the device's end read as unused (zeros).
    void Get(CExt2Inode& inode);

private:
    CExt2FileSystem* m_fs;
    std::vector<std::uint8_t> m_buffer;
    std::uint32_t m_number;
    std::uint64_t m_sliceFirst = 0; // first inode number in the buffer (0: none)
    std::uint64_t m_sliceCount = 0;
};

// Maps the logical blocks of one inode to physical blocks through its block pointers, with one
// cached indirect block per depth.
class CExt2BlockIterator {
public:
    explicit CExt2BlockIterator(const CExt2Inode* inode);
    // The physical block of logical block `index`, or 0 (a hole, an unreadable or
    // out-of-range indirect block, a block past the file system, or an extent-mapped inode).
    std::uint32_t MapBlock(std::uint64_t index);

private:
    std::uint32_t Indirect(int depth, std::uint32_t block, std::uint64_t entry);

    const CExt2Inode* m_inode;
    std::uint32_t m_perBlock;
    struct Cache {
        std::vector<std::uint8_t> data;
        std::uint32_t block = 0;
        bool loaded = false;
    } m_cache[3];
};

// The directory cursor over one directory inode, block by block. Entries with inode 0 or an
// empty name (deleted entries, the index nodes of hashed directories) are handed out like any
// other; the callers skip them because their inode is not usable. A damaged entry ends its
// block and the walk goes on with the next block; a block read twice ends the directory.
// Blocks that follow one another on disk are read together (up to 1 MiB at a time); after such
// a read fails, the directory's blocks are read one by one.
class CExt2DirEntry {
public:
    class CBadDir : public std::exception {};

    explicit CExt2DirEntry(const CExt2Inode* directory);
    bool AtEnd() const { return m_atEnd; }
    void Advance();
    // The current entry's inode number, name length and raw name bytes. CBadDir at the end.
    std::uint32_t EntryInode() const;
    std::string EntryName() const;
    void EntryName(std::string& name) const;
    // The current entry as an inode with its decoded name; the inode is loaded only for a
    // non-zero inode number.
    CExt2Inode GetInode() const;

private:
    bool LoadBlock(std::uint64_t index);
    bool ReadAhead(std::uint64_t index, std::uint32_t block);
    bool EntryValidAt(std::uint32_t offset) const;
    void SettleOnEntry();

    const CExt2Inode* m_dir;
    CExt2BlockIterator m_blocks;
    std::vector<std::uint8_t> m_block;
    std::vector<std::uint8_t> m_ahead; // blocks m_aheadFirst, m_aheadFirst + 1, ... read together
    std::uint32_t m_aheadFirst = 0;
    bool m_aheadFailed = false; // after a failed read of several blocks, one at a time
    std::uint64_t m_blockIndex = 0;
    std::uint64_t m_blockCount = 0;
    std::uint32_t m_offset = 0;
    bool m_atEnd = true;
    std::set<std::uint32_t> m_seenBlocks;
};

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF): valid sequences
// are kept, every other byte, and '/' and NUL, become "%XX" (upper-case hex).
std::string DecodeExt2Name(const std::uint8_t* bytes, std::size_t length);
// The same into `out` (replacing what it held).
void DecodeExt2Name(const std::uint8_t* bytes, std::size_t length, std::string& out);

// Appends one line to "Ext2Error.log" in the logging library's log folder; null writes
// nothing.
void WriteExt2ErrorLog(const char* text);
// The two lines for a caught exception: its class name, then its text.
void LogExt2Exception(const std::exception& error);
// The path of the error log.
std::string GetExt2ErrorLogPath();
