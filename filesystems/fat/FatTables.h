#pragma once
// In-memory copies of a FAT (12, 16 or 32 bits per entry) with their validity checks, and the
// pair of copies of one volume.
#include "storage/FileSystemType.h"
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Values GetEntry gives besides ordinary cluster numbers (the same for every width).
constexpr std::uint32_t kFatEntryFree = 0;
constexpr std::uint32_t kFatEntryBad = 0x0FFFFFF7;     // bad-cluster mark
constexpr std::uint32_t kFatEntryEnd = 0x0FFFFFF8;     // end of chain (0xFF8.., 0xFFF8.., FAT32)
constexpr std::uint32_t kFatEntryEndAll = 0xFFFFFFFF;  // FAT12 0xFFF / FAT16 0xFFFF

// True when `next` (an entry value) does not continue a chain: free, reserved (1), bad-cluster
// mark or end of chain.
inline bool IsFatChainStop(std::uint32_t next) { return next < 2 || next >= kFatEntryBad; }

class IFATTable {
public:
    virtual ~IFATTable() = default;
    // The entry of `cluster`: the next cluster of its chain or one of the marks above; 0 when
    // the cluster lies outside the table.
    virtual std::uint32_t GetEntry(std::uint32_t cluster) const = 0;
};

// One copy of a FAT read into memory.
class IRealFATTable : public IFATTable {
public:
    virtual bool IsValid() const = 0;

    bool HasBuffer() const { return !m_buffer.empty(); }
    std::uint64_t GetFirstSector() const { return m_firstSector; }
    std::uint32_t GetSectorCount() const { return m_sectorCount; }
    std::uint32_t GetEntryCount() const { return m_entryCount; }

protected:
    // Reads `sectors` sectors at `first` when the count lies in [minSectors, maxSectors];
    // otherwise, or when the read fails, the table has no buffer.
    IRealFATTable(IStorageDevice* device, std::uint64_t first, std::uint32_t sectors,
                  std::uint32_t minSectors, std::uint32_t maxSectors);
    // Takes the table from memory (whole sectors of `bytes`; the same window applies).
    IRealFATTable(const std::uint8_t* bytes, std::size_t size, std::uint32_t minSectors,
                  std::uint32_t maxSectors);

    IStorageDevice* m_device = nullptr;
    std::uint64_t m_firstSector = 0;
    std::uint32_t m_sectorCount = 0;
    std::uint32_t m_entryCount = 0; // sector count * 128
    std::vector<std::uint8_t> m_buffer;
};

// FAT12: 1..12 sectors. Valid when it starts like a FAT12.
class CFAT12Table : public IRealFATTable {
public:
    static constexpr std::uint32_t kMinSectors = 1, kMaxSectors = 12;
    CFAT12Table(IStorageDevice* device, std::uint64_t first, std::uint32_t sectors)
        : IRealFATTable(device, first, sectors, kMinSectors, kMaxSectors) {}
    CFAT12Table(const std::uint8_t* bytes, std::size_t size)
        : IRealFATTable(bytes, size, kMinSectors, kMaxSectors) {}
    std::uint32_t GetEntry(std::uint32_t cluster) const override;
    bool IsValid() const override;
};

// FAT16: 12..256 sectors. Valid when it starts like a FAT16, no entry points outside the table,
// to itself or to cluster 1, no two chains join and no chain loops.
class CFAT16Table : public IRealFATTable {
public:
    static constexpr std::uint32_t kMinSectors = 12, kMaxSectors = 256;
    CFAT16Table(IStorageDevice* device, std::uint64_t first, std::uint32_t sectors)
        : IRealFATTable(device, first, sectors, kMinSectors, kMaxSectors) {}
    CFAT16Table(const std::uint8_t* bytes, std::size_t size)
        : IRealFATTable(bytes, size, kMinSectors, kMaxSectors) {}
    std::uint32_t GetEntry(std::uint32_t cluster) const override;
    bool IsValid() const override;
};

// FAT32: 256..128000 sectors; entries are 28 bits wide. Valid under the same rules as FAT16.
class CFAT32Table : public IRealFATTable {
public:
    static constexpr std::uint32_t kMinSectors = 256, kMaxSectors = 128000;
    CFAT32Table(IStorageDevice* device, std::uint64_t first, std::uint32_t sectors)
        : IRealFATTable(device, first, sectors, kMinSectors, kMaxSectors) {}
    CFAT32Table(const std::uint8_t* bytes, std::size_t size)
        : IRealFATTable(bytes, size, kMinSectors, kMaxSectors) {}
    std::uint32_t GetEntry(std::uint32_t cluster) const override;
    bool IsValid() const override;
};

// The two copies of one volume's FAT; either may be missing.
class CDoubleFATTable : public IFATTable {
public:
    CDoubleFATTable(std::unique_ptr<IRealFATTable> first, std::unique_ptr<IRealFATTable> second)
        : m_first(std::move(first)), m_second(std::move(second)) {}
    // The first copy's answer when it exists, else the second copy's, else 0.
    std::uint32_t GetEntry(std::uint32_t cluster) const override;
    const IRealFATTable* First() const { return m_first.get(); }
    const IRealFATTable* Second() const { return m_second.get(); }
    bool HasAnyCopy() const { return m_first || m_second; }

private:
    std::unique_ptr<IRealFATTable> m_first;
    std::unique_ptr<IRealFATTable> m_second;
};

// The table of the type's width at `first`, or null when the type is not FAT or the copy is
// not valid.
std::unique_ptr<IRealFATTable> CreateFATTable(IStorageDevice* device, FileSystemType type,
                                              std::uint64_t first, std::uint32_t sectors);

// The first copy at `firstFatSector` when `useFirst`; the second copy (one FAT further) only
// when `useSecond` and the first is missing. Returned even when both copies are missing.
std::unique_ptr<CDoubleFATTable> CreateFATTables(IStorageDevice* device,
                                                 std::uint64_t firstFatSector,
                                                 FileSystemType type,
                                                 std::uint32_t sectorsPerFat, bool useFirst,
                                                 bool useSecond);
