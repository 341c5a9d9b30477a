#include "filesystems/ext2/Ext2SearchController.h"

#include "filesystems/StoreSection.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "storage/StorageDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <tuple>

namespace {

CExt2SuperBlock Normalised(const CExt2SuperBlock& stored) {
    CExt2SuperBlock copy = stored;
    copy.Normalise();
    return copy;
}

// The primary superblock sector implied by a copy found at `sector` (normalised geometry),
// or -1 when it would lie before sector 2 of the device.
std::int64_t ImpliedPrimary(const CExt2SuperBlock& normalised, std::uint64_t sector) {
    const std::uint64_t n = normalised.GroupNumber();
    if (n == 0)
        return sector >= 2 ? static_cast<std::int64_t>(sector) : -1;
    const std::uint64_t back = n * normalised.SectorsPerBlock() * normalised.BlocksPerGroup();
    const std::uint64_t extra = normalised.FirstDataBlock() == 0 ? 2 : 0;
    if (sector + extra < back + 2 || sector > static_cast<std::uint64_t>(INT64_MAX))
        return -1;
    return static_cast<std::int64_t>(sector + extra - back);
}

bool IsPowerOfTwoSectors(std::uint32_t spc) { return spc >= 2 && spc <= 128 && (spc & (spc - 1)) == 0; }

} // namespace

// ---- Partition record -----------------------------------------------------------------------

CExt2SearchedPartitionInfo::CExt2SearchedPartitionInfo() = default;

CExt2SearchedPartitionInfo* CreateExt2SearchedPartitionInfo() {
    return new (std::nothrow) CExt2SearchedPartitionInfo();
}

CExt2SearchedPartitionInfo::CExt2SearchedPartitionInfo(const std::uint8_t* superBlock,
                                                       std::uint64_t sector)
    : m_superBlock(superBlock, ext2::kSuperBlockSize) {
    const CExt2SuperBlock sb = Normalised(m_superBlock);
    const std::int64_t primary = ImpliedPrimary(sb, sector);
    m_u64KeptFirstSector = primary >= 2 ? static_cast<std::uint64_t>(primary) - 2 : 0;
    m_u64FirstSector = sector;
    m_u64BestSuperBlockSector = sector;
    m_u32TimesSeen = 1;
    m_fileSystemType = sb.HasJournal() ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2;
    m_sectorsPerCluster = static_cast<std::uint8_t>(sb.SectorsPerBlock());
    m_u32SectorCount = static_cast<std::uint64_t>(sb.BlockCount()) * sb.BlockSize() / 512;
    m_u32StoredSuperBlockValid = IsValidExt2SuperBlock(m_superBlock) ? 1 : 0;
}

int CExt2SearchedPartitionInfo::Save(IRSData* section) const {
    SaveFields(section);
    RSWriteValue<std::uint64_t>(section, m_u64TableSector);
    RSWriteValue<std::uint32_t>(section, m_u32StoredSuperBlockValid);
    return 1;
}

int CExt2SearchedPartitionInfo::Load(IRSData* section) {
    LoadFields(section);
    m_u64TableSector = RSReadValue<std::uint64_t>(section);
    m_u32StoredSuperBlockValid = RSReadValue<std::uint32_t>(section);
    if (!IsPowerOfTwoSectors(m_sectorsPerCluster) || m_u64KeptFirstSector > m_u64FirstSector)
        throw CRSException(RSERR_BAD_HEADER);
    m_table.clear();
    m_u32DescriptorsGathered = 0;
    return 1;
}

std::uint32_t CExt2SearchedPartitionInfo::GroupCount() const {
    return Normalised(m_superBlock).GroupCount();
}

bool CExt2SearchedPartitionInfo::TableComplete() const {
    const std::uint32_t groups = GroupCount();
    return groups > 0 && m_u32DescriptorsGathered >= groups &&
           m_table.size() >= static_cast<std::size_t>(groups) * ext2::kGroupDescriptorSize;
}

bool CExt2SearchedPartitionInfo::ReadGroupTable(IStorageDevice* device) {
    if (!device)
        return false;
    std::uint8_t bytes[ext2::kSuperBlockSize];
    if (device->ReadSectors(bytes, m_u64FirstSector, 2) != 1)
        return false;
    m_superBlock = CExt2SuperBlock(bytes, sizeof(bytes));
    const CExt2SuperBlock sb = Normalised(m_superBlock);
    if (!IsValidExt2SuperBlock(sb))
        return false;
    const std::uint64_t groups = sb.GroupCount();
    const std::uint64_t sectors = (groups * ext2::kGroupDescriptorSize + 511) / 512;
    const std::uint64_t deviceSectors = device->GetSectorCount();
    if (m_u64TableSector >= deviceSectors || sectors > deviceSectors - m_u64TableSector)
        return false;
    std::vector<std::uint8_t> table(static_cast<std::size_t>(sectors * 512));
    if (device->ReadSectors(table.data(), m_u64TableSector, sectors) != 1)
        return false;
    if (!CheckGroupDescriptorRanges(sb, table.data(), table.size(), static_cast<std::uint32_t>(groups)))
        return false;
    m_table = std::move(table);
    m_u32DescriptorsGathered = static_cast<std::uint32_t>(groups);
    m_fileSystemType = sb.HasJournal() ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2;
    m_sectorsPerCluster = static_cast<std::uint8_t>(sb.SectorsPerBlock());
    m_u32SectorCount = static_cast<std::uint64_t>(sb.BlockCount()) * sb.BlockSize() / 512;
    m_u32TimesSeen = 1;
    return true;
}

bool CExt2SearchedPartitionInfo::IsSamePartition(const CExt2SearchedPartitionInfo& other) const {
    if (this == &other)
        return true;
    if (m_table.empty() || other.m_table.empty())
        return false;
    if ((m_superBlock.GroupNumber() != 0 || other.m_superBlock.GroupNumber() != 0) &&
        m_u64KeptFirstSector != other.m_u64KeptFirstSector)
        return false;
    if (!m_superBlock.IsSameFileSystem(other.m_superBlock))
        return false;
    // The group count of the stored fields; a stored record without blocks per group cannot
    // be compared. Never more descriptors than either table holds.
    const std::uint32_t stored = m_superBlock.GroupCount();
    if (m_superBlock.BlocksPerGroup() == 0 || stored == 0)
        return false;
    const std::size_t held = std::min(m_table.size(), other.m_table.size()) / ext2::kGroupDescriptorSize;
    const std::size_t groups = std::min<std::size_t>(stored, held);
    for (std::size_t i = 0; i < groups; ++i)
        if (std::memcmp(m_table.data() + i * 32, other.m_table.data() + i * 32, 12) != 0)
            return false;
    return true;
}

void CExt2SearchedPartitionInfo::MergeFrom(const CExt2SearchedPartitionInfo& other) {
    if (other.m_u64FirstSector < m_u64BestSuperBlockSector && m_superBlock.GroupNumber() == 0) {
        m_u64BestSuperBlockSector = other.m_u64FirstSector;
        m_u64KeptFirstSector = other.m_u64KeptFirstSector;
        m_u32StoredSuperBlockValid = IsValidExt2SuperBlock(other.m_superBlock) ? 1 : 0;
    }
}

// ---- Controller -----------------------------------------------------------------------------

CEXT2SearchController::CEXT2SearchController() = default;

CEXT2SearchController::~CEXT2SearchController() {
    for (CExt2SearchedPartitionInfo* p : m_committed)
        delete p;
    delete m_pending;
}

int CEXT2SearchController::AnalyzeSectors(std::uint64_t firstSector, std::uint64_t sectorCount,
                                          IntelligentSearchStats* stats) {
    (void)stats;
    if (!m_device)
        return 1;
    try {
        for (std::uint64_t i = 0; i < sectorCount; ++i) {
            const std::uint64_t s = firstSector + i;
            if (m_windowCount < 8) {
                m_device->ReadSectors(m_window + 512 * m_windowCount, s, 1);
                ++m_windowCount;
            } else {
                std::memmove(m_window, m_window + 512, 7 * 512);
                m_device->ReadSectors(m_window + 7 * 512, s, 1);
            }
            if (m_windowCount == 8)
                ProcessWindow(s - 7);
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error);
    }
    return 1;
}

void CEXT2SearchController::ProcessWindow(std::uint64_t c) {
    // Quick refusal: a superblock copy has its magic at byte 56.
    if (m_window[ext2::SB_MAGIC] == 0x53 && m_window[ext2::SB_MAGIC + 1] == 0xEF) {
        CExt2SuperBlock copy(m_window, ext2::kSuperBlockSize);
        copy.Normalise();
        if (IsValidExt2SuperBlock(copy) && ImpliedPrimary(copy, c) >= 2) {
            delete m_pending;
            m_pending = nullptr;
            m_pending = new CExt2SearchedPartitionInfo(m_window, c);
            return;
        }
    }
    CExt2SearchedPartitionInfo* p = m_pending;
    if (!p)
        return;
    const CExt2SuperBlock sb = Normalised(p->m_superBlock);
    const std::uint64_t groups = sb.GroupCount();
    const std::uint64_t spb = sb.SectorsPerBlock();
    if (groups == 0 || spb == 0 || p->m_u32DescriptorsGathered >= groups)
        return;
    const std::uint64_t start = p->m_u64KeptFirstSector;
    const std::uint64_t tablePosition = start + spb * ((p->m_u64FirstSector - start) / spb + 1);
    if (c < tablePosition)
        return;
    if (p->m_table.empty()) {
        p->m_table.assign(static_cast<std::size_t>(groups) * ext2::kGroupDescriptorSize, 0);
        p->m_u64TableSector = c;
    }
    const std::uint64_t take = std::min<std::uint64_t>(16, groups - p->m_u32DescriptorsGathered);
    std::memcpy(p->m_table.data() + static_cast<std::size_t>(p->m_u32DescriptorsGathered) * 32,
                m_window, static_cast<std::size_t>(take) * 32);
    p->m_u32DescriptorsGathered += static_cast<std::uint32_t>(take);
    if (p->m_u32DescriptorsGathered < groups)
        return;
    m_pending = nullptr;
    if (IsValidExt2SuperBlock(sb) &&
        CheckGroupDescriptorRanges(sb, p->m_table.data(), p->m_table.size(), static_cast<std::uint32_t>(groups)))
        CommitPartition(p);
    else
        delete p;
}

void CEXT2SearchController::CommitPartition(CExt2SearchedPartitionInfo* partition) {
    for (CExt2SearchedPartitionInfo* q : m_committed)
        if (q->IsSamePartition(*partition)) {
            ++q->m_u32TimesSeen;
            delete partition;
            return;
        }
    m_committed.push_back(partition);
}

void CEXT2SearchController::CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>& out) {
    try {
        using Key = std::tuple<std::uint64_t, std::uint64_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t, std::uint32_t>;
        auto keyOf = [](const CExt2SuperBlock& sb) {
            const ByteSpan uuid(sb.Uuid(), 16);
            return Key{uuid.u64(0), uuid.u64(8), sb.LogBlockSize(), sb.BlockCount(),
                       sb.MountTime(), sb.WriteTime(), sb.CheckTime()};
        };
        std::map<Key, CExt2SearchedPartitionInfo*> merged;
        for (CExt2SearchedPartitionInfo* q : m_committed) {
            auto [it, inserted] = merged.emplace(keyOf(q->m_superBlock), q);
            if (inserted)
                continue;
            CExt2SearchedPartitionInfo* e = it->second;
            if (e->m_u32TimesSeen < q->m_u32TimesSeen) {
                it->second = q;
                q->MergeFrom(*e);
            } else {
                e->MergeFrom(*q);
            }
        }
        for (auto& [key, p] : merged) {
            (void)key;
            const bool valid = IsValidExt2SuperBlock(p->m_superBlock);
            const bool atStart = p->m_u64FirstSector - p->m_u64KeptFirstSector == 2;
            const bool storedValid = p->m_u32StoredSuperBlockValid != 0;
            if (p->m_u32TimesSeen >= 2)
                p->m_u64Score = valid ? (atStart && storedValid ? 100 : 90) : (atStart && storedValid ? 80 : 70);
            else
                p->m_u64Score = valid ? (atStart ? 60 : 45) : (atStart ? 30 : 20);
        }
        for (auto& [key, p] : merged) {
            (void)key;
            out.push_back(p);
            m_committed.erase(std::find(m_committed.begin(), m_committed.end(), p));
        }
    } catch (const std::exception& error) {
        LogExt2Exception(error);
    }
}

FileTreePtr CEXT2SearchController::BuildDirectoryTree(CSearchedPartitionInfo* partition,
                                                      IStorageDevice* device,
                                                      std::uint32_t partitionIndex,
                                                      IDIRBuildCallback* callback) {
    auto* p = dynamic_cast<CExt2SearchedPartitionInfo*>(partition);
    if (!p || !device)
        return nullptr;
    try {
        if (!p->TableComplete() && !p->ReadGroupTable(device))
            return nullptr;
        CExt2FileSystem fs(device, p->m_u64KeptFirstSector, p->m_superBlock.Bytes(),
                           p->m_table.data(), p->m_table.size());
        Ext2TreeBuildContext context;
        return Ext2SearchTreeBuilder(&context, &fs, callback, m_resultSink, partitionIndex);
    } catch (const std::exception&) {
        return nullptr;
    }
}
