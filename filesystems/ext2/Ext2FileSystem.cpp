#include "filesystems/ext2/Ext2FileSystem.h"

#include "logging/Log.h"
#include "storage/StorageDevice.h"
#include "storage/TextEncoding.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <stdexcept>
#include <typeinfo>

namespace {

// Groups whose superblock copy and table are tried, in this order.
constexpr std::uint32_t kCandidateGroups[] = {0, 1, 3, 5, 7, 9, 25, 27, 49, 81, 125};
constexpr std::uint64_t kInodeSliceBytes = 1 << 20;
constexpr std::uint64_t kDirectoryReadBytes = 1 << 20;

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

// The first three words (block bitmap, inode bitmap, inode table) of every descriptor agree.
bool SameDescriptors(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                     std::uint32_t groups) {
    for (std::uint64_t i = 0; i < groups; ++i) {
        const std::size_t off = static_cast<std::size_t>(i * ext2::kGroupDescriptorSize);
        if (std::memcmp(a.data() + off, b.data() + off, 12) != 0)
            return false;
    }
    return true;
}

} // namespace

// ---- File system ----------------------------------------------------------------------------

CExt2FileSystem::CExt2FileSystem(IStorageDevice* device, std::uint64_t superBlockSector)
    : m_device(device), m_superBlockSector(superBlockSector) {
    std::uint8_t bytes[ext2::kSuperBlockSize];
    if (!device || device->ReadSectors(bytes, superBlockSector, 2) != 1)
        throw CExt2ReadSectorError();
    OpenFromSuperBlock(bytes);
}

CExt2FileSystem::CExt2FileSystem(IStorageDevice* device, std::uint64_t partitionStart,
                                 const std::uint8_t* superBlock, const std::uint8_t* table,
                                 std::size_t tableBytes)
    : m_superBlock(superBlock, ext2::kSuperBlockSize), m_device(device),
      m_superBlockSector(partitionStart + 2) {
    if (!superBlock)
        throw CExt2BadSuperBlock();
    m_superBlock.SetU16(ext2::SB_GROUP_NUMBER, 0); // taken as the primary copy
    m_superBlock.Normalise();
    if (!IsValidSuperBlock(m_superBlock) || partitionStart > UINT64_MAX - 2)
        throw CExt2BadSuperBlock();
    m_blockSize = m_superBlock.BlockSize();
    m_groupCount = m_superBlock.GroupCount();
    m_primarySector = partitionStart + 2;
    const std::uint64_t need = static_cast<std::uint64_t>(m_groupCount) * ext2::kGroupDescriptorSize;
    if (!table || tableBytes < need ||
        !CheckGroupDescriptorRanges(m_superBlock, table, tableBytes, m_groupCount))
        throw CExt2BadGroupDescriptor();
    m_groupTable.assign(table, table + need);
}

CExt2FileSystem::~CExt2FileSystem() = default;

std::uint64_t CExt2FileSystem::DeviceSectors() const {
    if (m_deviceSectors == UINT64_MAX)
        m_deviceSectors = m_device ? m_device->GetSectorCount() : 0;
    return m_deviceSectors;
}

std::uint64_t CExt2FileSystem::ComputePrimarySector(const CExt2SuperBlock& sb,
                                                    std::uint64_t sector) const {
    const std::uint64_t n = sb.GroupNumber();
    if (n == 0)
        return sector;
    const std::uint64_t back = n * sb.SectorsPerBlock() * sb.BlocksPerGroup();
    const std::uint64_t extra = sb.FirstDataBlock() == 0 ? 2 : 0;
    if (back > sector + extra)
        throw CExt2BadSuperBlock(); // the partition would start before the device
    return sector - back + extra;
}

void CExt2FileSystem::OpenFromSuperBlock(const std::uint8_t* bytes) {
    m_superBlock = CExt2SuperBlock(bytes, ext2::kSuperBlockSize);
    m_superBlock.Normalise();
    if (!IsValidSuperBlock(m_superBlock))
        throw CExt2BadSuperBlock();
    m_blockSize = m_superBlock.BlockSize();
    m_groupCount = m_superBlock.GroupCount();
    m_primarySector = ComputePrimarySector(m_superBlock, m_superBlockSector);
    if (m_primarySector < 2)
        throw CExt2BadSuperBlock();
    // The device may end before the volume does (a copy broken off, or still running): the
    // volume opens when its descriptor table is on the device, and each reader below finds
    // out what else is.
    if (m_primarySector - 2 >= DeviceSectors())
        throw CExt2BadSuperBlock();
    m_groupTable = LoadGroupDescriptors();
    if (m_groupTable.empty())
        throw CExt2BadGroupDescriptor();
}

std::uint32_t CExt2FileSystem::FirstWalkInode() const {
    const std::uint32_t first = std::min(m_superBlock.FirstInode(), ext2::kGoodOldFirstInode);
    return first == 0 ? 1 : first;
}

void CExt2FileSystem::ReadBlocks(void* buffer, std::uint32_t first, std::uint32_t count) {
    const std::uint64_t spb = SectorsPerBlock();
    const std::uint64_t sector = GetPartitionStart() + static_cast<std::uint64_t>(first) * spb;
    const std::uint64_t sectors = static_cast<std::uint64_t>(count) * spb;
    const std::uint64_t deviceSectors = DeviceSectors();
    if (sector >= deviceSectors || sectors > deviceSectors - sector)
        throw std::range_error("CExt2FileSystem::ReadBlocks");
    if (m_device->ReadSectors(buffer, sector, sectors) != 1) {
        std::memset(buffer, 0, static_cast<std::size_t>(count) * m_blockSize);
        throw CExt2ReadSectorError();
    }
}

std::vector<std::uint8_t> CExt2FileSystem::LoadGroupDescriptors() {
    const std::uint64_t start = GetPartitionStart();
    const std::uint32_t groups = m_groupCount;
    const std::uint64_t tableSectors = CeilDiv(static_cast<std::uint64_t>(groups) * 32, 512);
    const std::uint64_t spb = SectorsPerBlock();
    const std::uint64_t perGroup = m_superBlock.BlocksPerGroup();
    const std::uint64_t firstData = m_superBlock.FirstDataBlock();
    const std::uint64_t deviceSectors = DeviceSectors();

    std::vector<std::vector<std::uint8_t>> passed;
    std::vector<std::uint8_t> lastReached;
    bool lastReachedPassed = false;
    bool endedEarly = false;
    for (std::uint32_t g : kCandidateGroups) {
        if (g >= groups)
            continue; // no such group in this file system
        const std::uint64_t copySector = start + spb * (g * perGroup + firstData);
        const std::uint64_t tableSector = copySector + spb;
        if (tableSector >= deviceSectors || tableSectors > deviceSectors - tableSector) {
            endedEarly = true;
            break;
        }
        if (g != 0) {
            std::uint8_t copy[ext2::kSuperBlockSize];
            if (m_device->ReadSectors(copy, copySector, 2) != 1) {
                endedEarly = true;
                break;
            }
            CExt2SuperBlock backup(copy, sizeof(copy));
            backup.Normalise();
            if (!backup.IsSameFileSystem(m_superBlock))
                continue;
        }
        std::vector<std::uint8_t> table(static_cast<std::size_t>(tableSectors * 512));
        if (m_device->ReadSectors(table.data(), tableSector, tableSectors) != 1) {
            endedEarly = true;
            break;
        }
        lastReachedPassed = CheckGroupDescriptorRanges(m_superBlock, table.data(), table.size(), groups);
        if (!lastReachedPassed)
            continue;
        for (const auto& earlier : passed)
            if (SameDescriptors(earlier, table, groups)) {
                table.resize(static_cast<std::size_t>(groups) * ext2::kGroupDescriptorSize);
                return table;
            }
        lastReached = table;
        passed.push_back(std::move(table));
    }
    std::vector<std::uint8_t> result;
    if (!endedEarly && lastReachedPassed)
        result = std::move(lastReached);
    else if (!passed.empty())
        result = std::move(passed.front());
    result.resize(result.empty() ? 0 : static_cast<std::size_t>(groups) * ext2::kGroupDescriptorSize);
    return result;
}

std::uint32_t CExt2FileSystem::InodeTableBlock(std::uint32_t group) const {
    const ByteSpan table(m_groupTable.data(), m_groupTable.size());
    return table.u32(static_cast<std::size_t>(group) * ext2::kGroupDescriptorSize + 8);
}

std::uint64_t CExt2FileSystem::BlocksOnDevice() const {
    const std::uint64_t start = GetPartitionStart();
    const std::uint64_t sectors = DeviceSectors();
    const std::uint64_t spb = SectorsPerBlock();
    if (start >= sectors || spb == 0)
        return 0;
    return std::min<std::uint64_t>(BlockCount(), (sectors - start) / spb);
}

std::uint32_t CExt2FileSystem::InodesOnDevice(std::uint32_t group) const {
    if (group >= m_groupCount)
        return 0;
    const std::uint64_t perGroup = InodesPerGroup();
    const std::uint64_t table = InodeTableBlock(group);
    const std::uint64_t onDevice = BlocksOnDevice();
    if (table >= onDevice)
        return 0;
    const std::uint64_t perBlock = std::max<std::uint64_t>(1, m_blockSize / std::max<std::uint32_t>(1, InodeSize()));
    return static_cast<std::uint32_t>(std::min(perGroup, (onDevice - table) * perBlock));
}

bool CExt2FileSystem::LocateInode(std::uint32_t number, std::uint32_t* block,
                                  std::uint32_t* offset) const {
    const std::uint32_t perGroup = InodesPerGroup();
    if (number == 0 || perGroup == 0)
        return false;
    const std::uint32_t group = (number - 1) / perGroup;
    if (group >= m_groupCount)
        return false;
    const std::uint64_t o = static_cast<std::uint64_t>((number - 1) % perGroup) * InodeSize();
    const std::uint64_t b = InodeTableBlock(group) + o / m_blockSize;
    if (b >= BlockCount())
        return false;
    *block = static_cast<std::uint32_t>(b);
    *offset = static_cast<std::uint32_t>(o % m_blockSize);
    return true;
}

std::unique_ptr<CExt2FileSystem> OpenExt2FileSystem(IStorageDevice* device, std::uint64_t start) {
    if (start > UINT64_MAX - 2)
        throw CExt2BadSuperBlock();
    try {
        return std::make_unique<CExt2FileSystem>(device, start + 2);
    } catch (const std::exception&) {
        // Group 1 starts at block 8 x block size (+1 for 1 KiB blocks, whose block 0 is
        // the boot block); its superblock copy starts that block.
        for (std::uint64_t bs : {1024u, 2048u, 4096u}) {
            const std::uint64_t block = 8 * bs + (bs == 1024 ? 1 : 0);
            const std::uint64_t sector = start + block * (bs / 512);
            try {
                auto fs = std::make_unique<CExt2FileSystem>(device, sector);
                if (fs->GetPartitionStart() == start && fs->BlockSize() == bs)
                    return fs;
            } catch (const std::exception&) {
            }
        }
        throw;
    }
}

bool CheckGroupDescriptorRanges(const CExt2SuperBlock& sb, const std::uint8_t* table,
                                std::size_t tableBytes, std::uint32_t groups) {
    const ByteSpan span(table, tableBytes);
    if (!span.has(0, static_cast<std::size_t>(groups) * ext2::kGroupDescriptorSize))
        return false;
    const std::uint64_t perGroup = sb.BlocksPerGroup();
    const std::uint64_t firstData = sb.FirstDataBlock();
    const std::uint64_t bs = sb.BlockSize();
    if (perGroup == 0 || bs == 0)
        return false;
    const std::uint64_t tableBlocks = CeilDiv(static_cast<std::uint64_t>(sb.InodesPerGroup()) * sb.InodeSize(), bs);
    for (std::uint64_t i = 0; i < groups; ++i) {
        const std::size_t off = static_cast<std::size_t>(i * ext2::kGroupDescriptorSize);
        const std::uint64_t low = firstData + i * perGroup;
        const std::uint64_t high = low + perGroup;
        const std::uint64_t blockBitmap = span.u32(off);
        const std::uint64_t inodeBitmap = span.u32(off + 4);
        const std::uint64_t inodeTable = span.u32(off + 8);
        if (blockBitmap < low || blockBitmap >= high || inodeBitmap < low || inodeBitmap >= high ||
            inodeTable < low || inodeTable >= high || inodeTable + tableBlocks > high)
            return false;
    }
    return true;
}

// ---- Inodes ---------------------------------------------------------------------------------

void CExt2Inode::Load(std::uint32_t number) {
    m_number = number;
    std::memset(m_raw, 0, sizeof(m_raw));
    std::uint32_t block = 0;
    std::uint32_t offset = 0;
    if (!m_fs || !m_fs->LocateInode(number, &block, &offset))
        return;
    m_fs->ReadInodeBytes(block, offset, m_raw, sizeof(m_raw));
}

void CExt2FileSystem::ReadInodeBytes(std::uint32_t block, std::uint32_t offset, std::uint8_t* out,
                                     std::size_t size) {
    if (block == 0 || block != m_inodeBlockNumber) {
        m_inodeBlockNumber = 0;
        m_inodeBlock.assign(m_blockSize, 0);
        ReadBlocks(m_inodeBlock.data(), block, 1);
        m_inodeBlockNumber = block;
    }
    const std::size_t n = offset < m_inodeBlock.size() ? std::min<std::size_t>(size, m_inodeBlock.size() - offset) : 0;
    std::memcpy(out, m_inodeBlock.data() + offset, n);
}

void CExt2Inode::SetRaw(std::uint32_t number, const std::uint8_t* bytes, std::size_t size) {
    m_number = number;
    std::memset(m_raw, 0, sizeof(m_raw));
    if (bytes)
        std::memcpy(m_raw, bytes, std::min(size, sizeof(m_raw)));
}

std::uint64_t CExt2Inode::GetFileSize() const {
    std::uint64_t size = SizeLow();
    if (IsRegular() && m_fs && m_fs->SuperBlock().Revision() >= 1)
        size |= static_cast<std::uint64_t>(SizeHigh()) << 32;
    return size;
}

std::uint64_t CExt2Inode::GetSize() const {
    const std::uint64_t size = GetFileSize();
    return size ? size : static_cast<std::uint64_t>(AllocatedSectors()) * 512;
}

bool CExt2Inode::IsUsable() const {
    if (Mode() == 0)
        return false;
    if (UsesExtents() || !m_fs)
        return true;
    const std::uint64_t bs = m_fs->BlockSize();
    const std::uint64_t n = std::min<std::uint64_t>(GetFileSize() / bs, 13);
    for (std::uint32_t i = 0; i < n; ++i)
        if (BlockPointer(i) >= m_fs->BlockCount())
            return false;
    return true;
}

std::uint64_t CExt2Inode::GetBlockCount() const {
    if (!m_fs)
        return 0;
    const std::uint64_t bs = m_fs->BlockSize();
    return GetFileSize() / bs + (GetFileSize() % bs ? 1 : 0);
}

bool CExt2Inode::IsFastSymlink() const {
    if (!IsSymlink() || !m_fs)
        return false;
    const std::uint32_t attributeSectors = FileAcl() ? m_fs->SectorsPerBlock() : 0;
    return AllocatedSectors() <= attributeSectors;
}

// ---- Inode walk -----------------------------------------------------------------------------

CExt2InodeIterator::CExt2InodeIterator(CExt2FileSystem* fs)
    : m_fs(fs), m_number(fs ? fs->FirstWalkInode() : 1) {}

bool CExt2InodeIterator::AtEnd() const {
    return !m_fs || m_number == 0 || m_number > m_fs->InodeCount();
}

void CExt2InodeIterator::Get(CExt2Inode& inode) {
    inode.m_fs = m_fs;
    inode.m_name.clear();
    const std::uint64_t k = m_number;
    if (k < m_sliceFirst || k >= m_sliceFirst + m_sliceCount || m_sliceFirst == 0) {
        const std::uint64_t perGroup = m_fs->InodesPerGroup();
        const std::uint64_t group = (k - 1) / perGroup;
        const std::uint64_t index = (k - 1) % perGroup;
        const std::uint64_t bs = m_fs->BlockSize();
        const std::uint64_t inodeSize = m_fs->InodeSize();
        const std::uint64_t perBlock = std::max<std::uint64_t>(1, bs / inodeSize);
        const std::uint64_t sliceInodes = std::max<std::uint64_t>(1, kInodeSliceBytes / bs) * perBlock;
        const std::uint64_t first = index / sliceInodes * sliceInodes;
        const std::uint64_t count = std::min(sliceInodes, perGroup - first);
        m_sliceFirst = group * perGroup + first + 1;
        m_sliceCount = count;
        const std::uint64_t blocks = CeilDiv(count * inodeSize, bs);
        if (group < m_fs->GroupCount()) {
            // Read over what the buffer held (a refused read zeroes it; so does a read outside
            // the device here, before it is reported).
            m_buffer.resize(static_cast<std::size_t>(blocks * bs));
            const std::uint64_t block = m_fs->InodeTableBlock(static_cast<std::uint32_t>(group)) +
                                        first * inodeSize / bs;
            try {
                if (block + blocks > m_fs->BlockCount())
                    throw std::range_error("CExt2FileSystem::ReadBlocks");
                // Only the part of the slice on the device is read; the rest stays zeros.
                const std::uint64_t onDevice = m_fs->BlocksOnDevice();
                const std::uint64_t held = block >= onDevice ? 0 : std::min(blocks, onDevice - block);
                std::fill(m_buffer.begin() + static_cast<std::ptrdiff_t>(held * bs), m_buffer.end(), 0);
                if (held)
                    m_fs->ReadBlocks(m_buffer.data(), static_cast<std::uint32_t>(block),
                                     static_cast<std::uint32_t>(held));
            } catch (const std::range_error&) {
                std::fill(m_buffer.begin(), m_buffer.end(), 0);
                throw;
            }
        } else {
            m_buffer.assign(static_cast<std::size_t>(blocks * bs), 0);
        }
    }
    const std::uint64_t at = (k - m_sliceFirst) * m_fs->InodeSize();
    inode.SetRaw(m_number, m_buffer.data() + at,
                 std::min<std::size_t>(ext2::kInodeBytes, m_buffer.size() - static_cast<std::size_t>(at)));
}

// ---- Block map ------------------------------------------------------------------------------

CExt2BlockIterator::CExt2BlockIterator(const CExt2Inode* inode)
    : m_inode(inode), m_perBlock(inode && inode->m_fs ? inode->m_fs->BlockSize() / 4 : 256) {}

std::uint32_t CExt2BlockIterator::Indirect(int depth, std::uint32_t block, std::uint64_t entry) {
    CExt2FileSystem* fs = m_inode->m_fs;
    if (block == 0 || block >= fs->BlockCount() || entry >= m_perBlock)
        return 0;
    Cache& cache = m_cache[depth];
    if (!cache.loaded || cache.block != block) {
        cache.data.assign(fs->BlockSize(), 0);
        cache.block = block;
        cache.loaded = true;
        try {
            fs->ReadBlocks(cache.data.data(), block, 1);
        } catch (const std::exception&) {
            std::fill(cache.data.begin(), cache.data.end(), 0); // reads as zeros
        }
    }
    return ByteSpan(cache.data.data(), cache.data.size()).u32(static_cast<std::size_t>(entry * 4));
}

std::uint32_t CExt2BlockIterator::MapBlock(std::uint64_t i) {
    if (!m_inode || !m_inode->m_fs || m_inode->UsesExtents())
        return 0;
    const std::uint64_t p = m_perBlock;
    std::uint32_t b = 0;
    if (i < ext2::kDirectBlocks) {
        b = m_inode->BlockPointer(static_cast<std::uint32_t>(i));
    } else if ((i -= ext2::kDirectBlocks) < p) {
        b = Indirect(0, m_inode->BlockPointer(12), i);
    } else if ((i -= p) < p * p) {
        b = Indirect(1, Indirect(0, m_inode->BlockPointer(13), i / p), i % p);
    } else if ((i -= p * p) < p * p * p) {
        const std::uint32_t b1 = Indirect(0, m_inode->BlockPointer(14), i / (p * p));
        const std::uint32_t b2 = Indirect(1, b1, (i % (p * p)) / p);
        b = Indirect(2, b2, i % p);
    }
    return b < m_inode->m_fs->BlockCount() ? b : 0;
}

// ---- Directories ----------------------------------------------------------------------------

CExt2DirEntry::CExt2DirEntry(const CExt2Inode* directory) : m_dir(directory), m_blocks(directory) {
    if (!directory || !directory->m_fs)
        return;
    m_blockCount = std::min<std::uint64_t>(directory->GetSize() / directory->m_fs->BlockSize() +
                                               (directory->GetSize() % directory->m_fs->BlockSize() ? 1 : 0),
                                           directory->m_fs->BlocksOnDevice());
    m_atEnd = false;
    m_blockIndex = 0;
    m_offset = 0;
    if (m_blockCount == 0 || !LoadBlock(0)) {
        m_atEnd = true;
        return;
    }
    SettleOnEntry();
}

bool CExt2DirEntry::LoadBlock(std::uint64_t index) {
    const std::uint32_t b = m_blocks.MapBlock(index);
    if (b == 0)
        return false;
    if (!m_seenBlocks.insert(b).second) {
        m_blockIndex = m_blockCount; // a block listed twice: the map loops
        return false;
    }
    const std::size_t bs = m_dir->m_fs->BlockSize();
    if (b < m_aheadFirst || (b - m_aheadFirst) >= m_ahead.size() / bs) {
        m_ahead.clear();
        if (!ReadAhead(index, b)) {
            m_block.assign(bs, 0);
            try {
                m_dir->m_fs->ReadBlocks(m_block.data(), b, 1);
            } catch (const std::exception&) {
                return false;
            }
            return true;
        }
    }
    const std::size_t at = static_cast<std::size_t>(b - m_aheadFirst) * bs;
    m_block.assign(m_ahead.begin() + static_cast<std::ptrdiff_t>(at), m_ahead.begin() + static_cast<std::ptrdiff_t>(at + bs));
    return true;
}

bool CExt2DirEntry::ReadAhead(std::uint64_t index, std::uint32_t block) {
    CExt2FileSystem* fs = m_dir->m_fs;
    if (m_aheadFailed)
        return false;
    const std::uint64_t most = std::max<std::uint64_t>(1, kDirectoryReadBytes / fs->BlockSize());
    std::uint64_t count = 1;
    const std::uint64_t onDevice = fs->BlocksOnDevice();
    while (count < most && index + count < m_blockCount && block + count < onDevice &&
           m_blocks.MapBlock(index + count) == block + count)
        ++count;
    if (count == 1)
        return false;
    m_ahead.assign(static_cast<std::size_t>(count * fs->BlockSize()), 0);
    try {
        fs->ReadBlocks(m_ahead.data(), block, static_cast<std::uint32_t>(count));
    } catch (const std::exception&) {
        m_ahead.clear(); // one by one: a bad sector costs only its own block
        m_aheadFailed = true;
        return false;
    }
    m_aheadFirst = block;
    return true;
}

bool CExt2DirEntry::EntryValidAt(std::uint32_t offset) const {
    const ByteSpan block(m_block.data(), m_block.size());
    if (!block.has(offset, 8))
        return false;
    std::uint32_t recordLength = block.u16(offset + 4);
    if (m_block.size() == 65536 && (recordLength == 0 || recordLength == 65535))
        recordLength = 65536; // how 64 KiB blocks store a record that fills the block
    const std::uint32_t nameLength = block.u8(offset + 6);
    return recordLength % 4 == 0 && recordLength >= ((nameLength + 11) & ~3u) &&
           block.has(offset, recordLength);
}

void CExt2DirEntry::SettleOnEntry() {
    while (!m_atEnd) {
        if (!m_block.empty() && EntryValidAt(m_offset))
            return;
        // The rest of this block is unusable: go on with the next block that loads.
        m_block.clear();
        m_offset = 0;
        while (!m_atEnd) {
            if (++m_blockIndex >= m_blockCount) {
                m_atEnd = true;
                break;
            }
            if (LoadBlock(m_blockIndex))
                break;
        }
    }
}

void CExt2DirEntry::Advance() {
    if (m_atEnd)
        return;
    std::uint32_t recordLength = ByteSpan(m_block.data(), m_block.size()).u16(m_offset + 4);
    if (m_block.size() == 65536 && (recordLength == 0 || recordLength == 65535))
        recordLength = 65536;
    m_offset += recordLength;
    SettleOnEntry();
}

std::uint32_t CExt2DirEntry::EntryInode() const {
    if (m_atEnd)
        throw CBadDir();
    return ByteSpan(m_block.data(), m_block.size()).u32(m_offset);
}

std::string CExt2DirEntry::EntryName() const {
    std::string name;
    EntryName(name);
    return name;
}

void CExt2DirEntry::EntryName(std::string& name) const {
    if (m_atEnd)
        throw CBadDir();
    const ByteSpan block(m_block.data(), m_block.size());
    const std::uint32_t n = block.u8(m_offset + 6);
    const std::uint8_t* bytes = block.bytes(m_offset + 8, n);
    if (bytes)
        DecodeExt2Name(bytes, n, name);
    else
        name.clear();
}

CExt2Inode CExt2DirEntry::GetInode() const {
    CExt2Inode inode(m_dir->m_fs);
    inode.m_name = EntryName();
    const std::uint32_t number = EntryInode();
    if (number != 0)
        inode.Load(number);
    else
        inode.m_number = 0;
    return inode;
}

// ---- Names ----------------------------------------------------------------------------------

std::string DecodeExt2Name(const std::uint8_t* bytes, std::size_t length) {
    std::string out;
    DecodeExt2Name(bytes, length, out);
    return out;
}

void DecodeExt2Name(const std::uint8_t* bytes, std::size_t length, std::string& out) {
    std::size_t plain = 0;
    while (plain < length && bytes[plain] < 0x80 && bytes[plain] != '/' && bytes[plain] != 0)
        ++plain;
    out.assign(reinterpret_cast<const char*>(bytes), plain); // most names are plain ASCII
    if (plain == length)
        return;
    out.reserve(length);
    auto escape = [&](std::uint8_t b) {
        char text[4];
        std::snprintf(text, sizeof text, "%%%02X", b);
        out += text;
    };
    std::size_t i = plain;
    while (i < length) {
        const std::uint8_t b = bytes[i];
        if (b < 0x80) {
            if (b == '/' || b == 0)
                escape(b);
            else
                out += static_cast<char>(b);
            ++i;
            continue;
        }
        const std::size_t sequence = Utf8SequenceLength(bytes + i, length - i);
        if (sequence == 0) {
            escape(b);
            ++i;
            continue;
        }
        out.append(reinterpret_cast<const char*>(bytes + i), sequence);
        i += sequence;
    }
}

// ---- Error log ------------------------------------------------------------------------------

std::string GetExt2ErrorLogPath() {
    char folder[4096] = {};
    GetLogFolder(folder, sizeof folder);
    return std::string(folder) + "Ext2Error.log";
}

void WriteExt2ErrorLog(const char* text) {
    if (!text)
        return;
    std::FILE* f = std::fopen(GetExt2ErrorLogPath().c_str(), "ab");
    if (!f)
        return;
    std::fputs(text, f);
    std::fputs("\r\n", f);
    std::fclose(f);
}

void LogExt2Exception(const std::exception& error) {
    const char* mangled = typeid(error).name();
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = std::string("class ") + (status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    WriteExt2ErrorLog(name.c_str());
    WriteExt2ErrorLog(error.what());
}
