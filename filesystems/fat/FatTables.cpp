#include "filesystems/fat/FatTables.h"

#include "filesystems/fat/FatStructures.h"
#include "storage/ByteSpan.h"

#include <new>


IRealFATTable::IRealFATTable(IStorageDevice* device, std::uint64_t first, std::uint32_t sectors,
                             std::uint32_t minSectors, std::uint32_t maxSectors)
    : m_device(device), m_firstSector(first), m_sectorCount(sectors),
      m_entryCount(sectors * 128) {
    if (!device || sectors < minSectors || sectors > maxSectors)
        return;
    try {
        m_buffer.resize(static_cast<std::size_t>(sectors) * kSectorSize);
    } catch (const std::bad_alloc&) {
        m_buffer.clear();
        return;
    }
    if (!device->ReadSectors(m_buffer.data(), first, sectors))
        std::vector<std::uint8_t>().swap(m_buffer);
}

IRealFATTable::IRealFATTable(const std::uint8_t* bytes, std::size_t size,
                             std::uint32_t minSectors, std::uint32_t maxSectors) {
    std::size_t sectors = bytes ? size / kSectorSize : 0;
    if (sectors < minSectors || sectors > maxSectors)
        return;
    m_sectorCount = static_cast<std::uint32_t>(sectors);
    m_entryCount = m_sectorCount * 128;
    m_buffer.assign(bytes, bytes + sectors * kSectorSize);
}

// ---------------------------------------------------------------------------------------------
// Entries

std::uint32_t CFAT12Table::GetEntry(std::uint32_t cluster) const {
    std::uint64_t offset = static_cast<std::uint64_t>(cluster) * 3 / 2;
    if (m_buffer.empty() || offset + 2 > m_buffer.size())
        return 0;
    std::uint32_t raw = ByteSpan(m_buffer.data(), m_buffer.size()).u16(offset);
    std::uint32_t v = (cluster & 1) ? (raw >> 4) : (raw & 0x0FFF);
    if (v == 0xFFF)
        return kFatEntryEndAll;
    if (v >= 0xFF8)
        return kFatEntryEnd;
    if (v == 0xFF7)
        return kFatEntryBad;
    return v;
}

std::uint32_t CFAT16Table::GetEntry(std::uint32_t cluster) const {
    std::uint64_t offset = static_cast<std::uint64_t>(cluster) * 2;
    if (m_buffer.empty() || offset + 2 > m_buffer.size())
        return 0;
    std::uint32_t v = ByteSpan(m_buffer.data(), m_buffer.size()).u16(offset);
    if (v == 0xFFFF)
        return kFatEntryEndAll;
    if (v >= 0xFFF8)
        return kFatEntryEnd;
    if (v == 0xFFF7)
        return kFatEntryBad;
    return v;
}

std::uint32_t CFAT32Table::GetEntry(std::uint32_t cluster) const {
    std::uint64_t offset = static_cast<std::uint64_t>(cluster) * 4;
    if (m_buffer.empty() || offset + 4 > m_buffer.size())
        return 0;
    return ByteSpan(m_buffer.data(), m_buffer.size()).u32(offset) & 0x0FFFFFFF;
}

std::uint32_t CDoubleFATTable::GetEntry(std::uint32_t cluster) const {
    if (m_first)
        return m_first->GetEntry(cluster);
    if (m_second)
        return m_second->GetEntry(cluster);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Validity

namespace {

// Entry and chain checks over N raw entries. `lastOrdinary` is the highest value that names a
// cluster (FAT16 0xFFF6, FAT32 0x0FFFFFF6); values above it are reserved marks.
//
// Every ordinary value must name a cluster inside the table, not 1 and not the entry itself.
// With each cluster named by at most one entry (otherwise two chains join), the chains form
// disjoint paths and cycles: walking from every chain head (a used cluster nobody points to)
// reaches each path cluster exactly once, and a cluster that points somewhere but was not
// reached lies on a loop. Both passes are linear in N.
template <typename ReadEntry>
bool CheckEntriesAndChains(std::uint32_t n, std::uint32_t lastOrdinary, ReadEntry entry) {
    enum : std::uint8_t { kHasPredecessor = 1, kReached = 2 };
    std::vector<std::uint8_t> state;
    try {
        state.assign(n, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (std::uint32_t i = 2; i < n; ++i) {
        std::uint32_t v = entry(i);
        if (v == 1 || v == i || (v >= n && v <= lastOrdinary))
            return false;
        if (v >= 2 && v <= lastOrdinary) {
            if (state[v] & kHasPredecessor)
                return false; // two chains join
            state[v] |= kHasPredecessor;
        }
    }
    for (std::uint32_t i = 2; i < n; ++i) {
        if (state[i] & kHasPredecessor)
            continue;
        std::uint32_t c = i;
        std::uint32_t next = entry(c);
        while (next >= 2 && next <= lastOrdinary) {
            state[c] |= kReached;
            c = next;
            next = entry(c);
        }
        state[c] |= kReached;
    }
    for (std::uint32_t i = 2; i < n; ++i) {
        std::uint32_t v = entry(i);
        if (v >= 2 && v <= lastOrdinary && !(state[i] & kReached))
            return false; // on a loop
    }
    return true;
}

} // namespace

bool CFAT12Table::IsValid() const {
    return !m_buffer.empty() && IsFAT12TableStart(m_buffer.data(), m_buffer.size());
}

bool CFAT16Table::IsValid() const {
    if (m_buffer.empty() || !IsFAT16TableStart(m_buffer.data(), m_buffer.size()))
        return false;
    const std::uint32_t n = m_sectorCount * 256;
    // The whole table is bounded once; the entries inside it are then read directly.
    const std::uint8_t* p = ByteSpan(m_buffer.data(), m_buffer.size()).bytes(0, std::size_t(n) * 2);
    if (!p)
        return false;
    return CheckEntriesAndChains(n, 0xFFF6, [p](std::uint32_t i) -> std::uint32_t {
        return fat::ReadLe16(p + static_cast<std::size_t>(i) * 2);
    });
}

bool CFAT32Table::IsValid() const {
    if (m_buffer.empty() || !IsFAT32TableStart(m_buffer.data(), m_buffer.size()))
        return false;
    const std::uint32_t n = m_sectorCount * 128;
    const std::uint8_t* p = ByteSpan(m_buffer.data(), m_buffer.size()).bytes(0, std::size_t(n) * 4);
    if (!p)
        return false;
    return CheckEntriesAndChains(n, 0x0FFFFFF6, [p](std::uint32_t i) -> std::uint32_t {
        return fat::ReadLe32(p + static_cast<std::size_t>(i) * 4) & 0x0FFFFFFF;
    });
}

// ---------------------------------------------------------------------------------------------
// Factories

std::unique_ptr<IRealFATTable> CreateFATTable(IStorageDevice* device, FileSystemType type,
                                              std::uint64_t first, std::uint32_t sectors) {
    std::unique_ptr<IRealFATTable> table;
    switch (type) {
    case FILESYSTEM_FAT12:
        table = std::make_unique<CFAT12Table>(device, first, sectors);
        break;
    case FILESYSTEM_FAT16:
        table = std::make_unique<CFAT16Table>(device, first, sectors);
        break;
    case FILESYSTEM_FAT32:
        table = std::make_unique<CFAT32Table>(device, first, sectors);
        break;
    default:
        return nullptr;
    }
    if (!table->IsValid())
        return nullptr;
    return table;
}

std::unique_ptr<CDoubleFATTable> CreateFATTables(IStorageDevice* device,
                                                 std::uint64_t firstFatSector,
                                                 FileSystemType type,
                                                 std::uint32_t sectorsPerFat, bool useFirst,
                                                 bool useSecond) {
    std::unique_ptr<IRealFATTable> first;
    std::unique_ptr<IRealFATTable> second;
    if (useFirst)
        first = CreateFATTable(device, type, firstFatSector, sectorsPerFat);
    if (!first && useSecond)
        second = CreateFATTable(device, type, firstFatSector + sectorsPerFat, sectorsPerFat);
    return std::make_unique<CDoubleFATTable>(std::move(first), std::move(second));
}
