#pragma once
// FAT12/16/32 on-disk structures read from raw 512-byte sectors: the boot sector (DBR), the
// start of a FAT, 32-byte directory entries with their names and dates, and the test that tells
// whether a sector belongs to a directory. Every parser takes a byte pointer and its size and
// never reads past it. All multi-byte fields are little-endian.
#include "storage/ByteSpan.h"
#include "storage/FileSystemType.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fat {

constexpr std::size_t kDirEntrySize = 32;
constexpr std::size_t kEntriesPerSector = 512 / kDirEntrySize;

// Little-endian field readers (no alignment needed).
inline std::uint16_t ReadLe16(const std::uint8_t* p) { return ByteSpan(p, 2).u16(0); }
inline std::uint32_t ReadLe32(const std::uint8_t* p) { return ByteSpan(p, 4).u32(0); }

// Converts OEM short-name bytes (code page 437) to UTF-8; control bytes become '_'.
std::string Cp437ToUtf8(const std::uint8_t* bytes, std::size_t count);
// Converts UTF-16 units (stopping at the first zero unit) to UTF-8; unpaired surrogates
// become '_'.
std::string Utf16ToUtf8(const std::uint16_t* units, std::size_t count);

} // namespace fat

// A non-owning view of one 512-byte boot sector, classified as FAT12, FAT16, FAT32 or not FAT
// (FILESYSTEM_UNKNOWN) when it is set.
class CFATDBR {
public:
    CFATDBR() = default;
    CFATDBR(const std::uint8_t* sector, std::size_t size) { Set(sector, size); }

    // Points the view at `sector` and classifies it. Fewer than 512 bytes: not FAT.
    void Set(const std::uint8_t* sector, std::size_t size);

    bool IsValid() const { return m_type != FILESYSTEM_UNKNOWN; }
    FileSystemType GetFileSystemType() const { return m_type; }
    const std::uint8_t* Data() const { return m_sector; }

    // Typed accessors: 0 when the sector is not FAT.
    std::uint32_t GetSectorsPerCluster() const;
    std::uint32_t GetReservedSectors() const;
    std::uint32_t GetFATCount() const;
    // Read whatever the type (0 without a sector).
    std::uint32_t GetReservedSectorsRaw() const;
    std::uint32_t GetRootEntryCount() const;
    // FAT12: the 16-bit field only; FAT16: the 16-bit field or, when 0, the 32-bit one;
    // FAT32: the 32-bit field.
    std::uint64_t GetTotalSectors() const;
    std::uint32_t GetSectorsPerFAT() const;
    std::uint32_t GetRootCluster() const;
    // Root-directory size of FAT12/16 in sectors (root entries * 32 / 512, rounded down).
    std::uint32_t GetRootDirSectors() const { return GetRootEntryCount() * 32 / 512; }

private:
    // The sector's bytes (empty without a sector).
    ByteSpan Span() const { return ByteSpan(m_sector, m_sector ? 512 : 0); }

    const std::uint8_t* m_sector = nullptr;
    FileSystemType m_type = FILESYSTEM_UNKNOWN;
};

// Byte 0 nonzero and the 55 AA signature: the cheap first test of a boot sector.
bool HasBootSignature(const std::uint8_t* sector, std::size_t size);

// A FAT32 FSInfo sector: lead signature 0x41615252 at 0, structure signature 0x61417272 at
// 484, trail signature 0xAA550000 at 508.
bool IsFSInfoSector(const std::uint8_t* sector, std::size_t size);
// The free-cluster count an FSInfo sector holds (0xFFFFFFFF: unknown).
std::uint32_t FSInfoFreeClusters(const std::uint8_t* sector);

// Whether a sector starts like a FAT. The clean-shutdown and hard-error bits of the second
// entry (FAT16 bits 15 and 14, FAT32 bits 27 and 26) are not looked at.
bool IsFAT32TableStart(const std::uint8_t* sector, std::size_t size);
bool IsFAT16TableStart(const std::uint8_t* sector, std::size_t size);
bool IsFAT12TableStart(const std::uint8_t* sector, std::size_t size);
bool IsFATTableStart(const std::uint8_t* sector, std::size_t size);

// 2 <= cluster <= 0x0FFFFFEF.
bool IsValidClusterNumber(std::uint64_t cluster);

// The optional date and time plausibility checks of directory entries (the scan options'
// switches; both on by default).
struct FatEntryChecks {
    bool checkDate = true;
    bool checkTime = true;
};

// Accepted short-name bytes (the 11 name and extension bytes of an entry).
bool IsValidShortNameBytes(const std::uint8_t* entry);
bool IsValidNameChar(char c);
bool IsValidFileName(const std::string& text);

// A non-owning view of one 32-byte directory entry.
class FatDirEntry {
public:
    enum : std::uint8_t {
        kAttrReadOnly = 0x01,
        kAttrVolumeLabel = 0x08,
        kAttrDirectory = 0x10,
        kAttrLongName = 0x0F,
        kAttrNeverValid = 0x40,
    };

    FatDirEntry() = default;
    explicit FatDirEntry(const std::uint8_t* entry) : m_p(entry) {}
    void Set(const std::uint8_t* entry) { m_p = entry; }
    const std::uint8_t* Data() const { return m_p; }

    std::uint8_t FirstByte() const { return m_p[0]; }
    std::uint8_t Attributes() const { return m_p[11]; }
    std::uint16_t CreationTime() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(14); }
    std::uint16_t CreationDate() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(16); }
    std::uint16_t LastAccessDate() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(18); }
    std::uint16_t FirstClusterHigh() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(20); }
    std::uint16_t LastWriteTime() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(22); }
    std::uint16_t LastWriteDate() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(24); }
    std::uint16_t FirstClusterLow() const { return ByteSpan(m_p, fat::kDirEntrySize).u16(26); }
    std::uint32_t FileSize() const { return ByteSpan(m_p, fat::kDirEntrySize).u32(28); }

    bool IsDeleted() const { return m_p[0] == 0xE5; }
    bool IsEndMarker() const { return m_p[0] == 0; }
    bool IsLongNameEntry() const { return Attributes() == kAttrLongName; }
    bool IsVolumeLabel() const { return Attributes() == kAttrVolumeLabel; }
    bool IsDirectory() const { return (Attributes() & kAttrDirectory) != 0; }
    std::uint32_t GetFirstCluster() const {
        return (static_cast<std::uint32_t>(FirstClusterHigh()) << 16) | FirstClusterLow();
    }

    // The 8 name bytes and 3 extension bytes equal the given ones.
    bool MatchesShortName(const char* name8, const char* ext3) const;
    bool IsDotEntry() const;
    bool IsDotDotEntry() const;
    bool IsZeroEntry() const;

    // The 8.3 name in UTF-8: trailing spaces removed, a deleted entry's first character shown
    // as '#', "NAME.EXT" (joined = false) or "NAMEEXT" (joined = true, for volume labels).
    std::string GetShortName(bool joined) const;
    // The 13 UTF-16 units of a long-name entry as UTF-8, ending at the first zero unit.
    bool GetLongNamePart(std::string& out) const;

    // Entry validity; `strict` adds the size/cluster consistency test.
    bool IsValid(bool strict, const FatEntryChecks& checks = {}) const;

private:
    const std::uint8_t* m_p = nullptr;
};

// The verdict on one 512-byte sector.
struct DirectorySectorInfo {
    enum : std::uint32_t { kNotDirectory = 0, kDirectoryPart = 1, kDirectoryFirst = 2 };
    std::uint32_t kind = 0;
    std::uint32_t entryCount = 0;
    std::uint32_t dotCluster = 0;
    std::uint32_t dotDotCluster = 0;
    std::uint32_t highestCluster = 0;
};

// Classifies a sector as (the first sector of) a directory. Fewer than 512 bytes: not one.
bool ClassifyDirectorySector(const std::uint8_t* sector, std::size_t size,
                             DirectorySectorInfo& info, const FatEntryChecks& checks = {});
