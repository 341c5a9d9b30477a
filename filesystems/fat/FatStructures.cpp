#include "filesystems/fat/FatStructures.h"

#include "storage/ByteSpan.h"
#include "storage/TextEncoding.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace fat {
namespace {

const std::uint16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

} // namespace

std::string Cp437ToUtf8(const std::uint8_t* bytes, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t b = bytes[i];
        if (b < 0x20 || b == 0x7F)
            out += '_';
        else if (b < 0x80)
            out += static_cast<char>(b);
        else
            AppendUtf8(out, kCp437High[b - 0x80]);
    }
    return out;
}

std::string Utf16ToUtf8(const std::uint16_t* units, std::size_t count) {
    return Utf16UnitsToUtf8(units, count, kUtf16StopAtNul | kUtf16NoncharactersAsUnderscore);
}

} // namespace fat


// ---------------------------------------------------------------------------------------------
// Boot sector

namespace {

bool HasSignature(const std::uint8_t* s) { return s[510] == 0x55 && s[511] == 0xAA; }

bool IsPlausibleClusterSize(std::uint8_t spc) {
    return spc != 0 && (spc & (spc - 1)) == 0; // 1, 2, 4, ... 128
}

bool RootEntriesFit(std::uint16_t entries) {
    return entries >= 224 && entries <= 2048 && entries % 16 == 0;
}

bool IsFat12Dbr(const std::uint8_t* s) {
    std::uint16_t spf = ByteSpan(s, 512).u16(22);
    return ::strncasecmp(reinterpret_cast<const char*>(s + 54), "FAT12   ", 8) == 0 &&
           s[16] == 2 && IsPlausibleClusterSize(s[13]) && RootEntriesFit(ByteSpan(s, 512).u16(17)) &&
           spf >= 1 && spf <= 200 && HasSignature(s);
}

bool IsFat16Dbr(const std::uint8_t* s) {
    return ::strncasecmp(reinterpret_cast<const char*>(s + 54), "FAT16   ", 8) == 0 &&
           s[16] == 2 && IsPlausibleClusterSize(s[13]) && RootEntriesFit(ByteSpan(s, 512).u16(17)) &&
           ByteSpan(s, 512).u16(22) != 0 && HasSignature(s);
}

bool IsFat32Dbr(const std::uint8_t* s) {
    return ::strncasecmp(reinterpret_cast<const char*>(s + 82), "FAT32   ", 8) == 0 &&
           s[16] == 2 && IsPlausibleClusterSize(s[13]) && ByteSpan(s, 512).u32(36) != 0 &&
           HasSignature(s);
}

} // namespace

void CFATDBR::Set(const std::uint8_t* sector, std::size_t size) {
    m_sector = nullptr;
    m_type = FILESYSTEM_UNKNOWN;
    if (!sector || size < 512)
        return;
    m_sector = sector;
    if (IsFat12Dbr(sector))
        m_type = FILESYSTEM_FAT12;
    else if (IsFat16Dbr(sector))
        m_type = FILESYSTEM_FAT16;
    else if (IsFat32Dbr(sector))
        m_type = FILESYSTEM_FAT32;
}

std::uint32_t CFATDBR::GetSectorsPerCluster() const { return IsValid() ? m_sector[13] : 0; }
std::uint32_t CFATDBR::GetReservedSectors() const {
    return IsValid() ? Span().u16(14) : 0;
}
std::uint32_t CFATDBR::GetFATCount() const { return IsValid() ? m_sector[16] : 0; }
std::uint32_t CFATDBR::GetReservedSectorsRaw() const {
    return m_sector ? Span().u16(14) : 0;
}
std::uint32_t CFATDBR::GetRootEntryCount() const {
    return m_sector ? Span().u16(17) : 0;
}

std::uint64_t CFATDBR::GetTotalSectors() const {
    switch (m_type) {
    case FILESYSTEM_FAT12:
        return Span().u16(19);
    case FILESYSTEM_FAT16: {
        std::uint16_t small = Span().u16(19);
        return small ? small : Span().u32(32);
    }
    case FILESYSTEM_FAT32:
        return Span().u32(32);
    default:
        return 0;
    }
}

std::uint32_t CFATDBR::GetSectorsPerFAT() const {
    switch (m_type) {
    case FILESYSTEM_FAT12:
    case FILESYSTEM_FAT16:
        return Span().u16(22);
    case FILESYSTEM_FAT32:
        return Span().u32(36);
    default:
        return 0;
    }
}

std::uint32_t CFATDBR::GetRootCluster() const {
    return m_type == FILESYSTEM_FAT32 ? Span().u32(44) : 0;
}

bool HasBootSignature(const std::uint8_t* sector, std::size_t size) {
    return sector && size >= 512 && sector[0] != 0 && HasSignature(sector);
}

bool IsFSInfoSector(const std::uint8_t* sector, std::size_t size) {
    if (!sector || size < 512)
        return false;
    const ByteSpan s(sector, 512);
    return s.u32(0) == 0x41615252 && s.u32(484) == 0x61417272 && s.u32(508) == 0xAA550000;
}

std::uint32_t FSInfoFreeClusters(const std::uint8_t* sector) {
    return ByteSpan(sector, 512).u32(488);
}

// ---------------------------------------------------------------------------------------------
// FAT starts

bool IsFAT32TableStart(const std::uint8_t* s, std::size_t size) {
    if (!s || size < 8)
        return false;
    // FAT[1]: end mark with bit 27 (clean shutdown) and bit 26 (no hard error) not required.
    const std::uint32_t kEntry1Bits = 0x0FFFFFF8 & ~0x0C000000u;
    return (ByteSpan(s, size).u32(0) & 0x0FFFFFFF) == 0x0FFFFFF8 && (ByteSpan(s, size).u32(4) & kEntry1Bits) == kEntry1Bits;
}

bool IsFAT16TableStart(const std::uint8_t* s, std::size_t size) {
    if (!s || size < 4)
        return false;
    // FAT[0] = 0xFFF8; FAT[1] = 0xFFFF with bits 15 and 14 free to be clear.
    return (ByteSpan(s, size).u32(0) & 0x3FFFFFFF) == 0x3FFFFFF8;
}

bool IsFAT12TableStart(const std::uint8_t* s, std::size_t size) {
    if (!s || size < 4)
        return false;
    return (ByteSpan(s, size).u32(0) & 0x00FFFFF0) == 0x00FFFFF0;
}

bool IsFATTableStart(const std::uint8_t* s, std::size_t size) {
    return IsFAT32TableStart(s, size) || IsFAT16TableStart(s, size) || IsFAT12TableStart(s, size);
}

bool IsValidClusterNumber(std::uint64_t cluster) { return cluster >= 2 && cluster <= 0x0FFFFFEF; }

// ---------------------------------------------------------------------------------------------
// Names

bool IsValidShortNameBytes(const std::uint8_t* entry) {
    if (entry[0] == ' ')
        return false;
    for (int i = 0; i < 11; ++i) {
        std::uint8_t b = entry[i];
        if (b <= 0x19 || b == 0xFF)
            return false;
        switch (b) {
        case '"': case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
            return false;
        default:
            break;
        }
    }
    return true;
}

bool IsValidNameChar(char c) {
    switch (c) {
    case '?': case '*': case '|': case '\\': case '/': case ':': case '"': case '<': case '>':
        return false;
    default:
        return true;
    }
}

bool IsValidFileName(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsValidNameChar);
}

// ---------------------------------------------------------------------------------------------
// Directory entries

bool FatDirEntry::MatchesShortName(const char* name8, const char* ext3) const {
    return std::memcmp(m_p, name8, 8) == 0 && std::memcmp(m_p + 8, ext3, 3) == 0;
}

bool FatDirEntry::IsDotEntry() const {
    return MatchesShortName(".       ", "   ") && IsDirectory();
}

bool FatDirEntry::IsDotDotEntry() const {
    return MatchesShortName("..      ", "   ") && IsDirectory();
}

bool FatDirEntry::IsZeroEntry() const {
    for (std::size_t i = 0; i < fat::kDirEntrySize; ++i)
        if (m_p[i])
            return false;
    return true;
}

std::string FatDirEntry::GetShortName(bool joined) const {
    // Byte 12 bits 3 and 4 ask for a lower-case name and extension (names that differ from
    // their 8.3 form only by case are stored that way without a long name).
    std::uint8_t name[11];
    std::memcpy(name, m_p, 11);
    for (int i = 0; i < 11; ++i) {
        bool lower = (m_p[12] & (i < 8 ? 0x08 : 0x10)) != 0;
        if (lower && name[i] >= 'A' && name[i] <= 'Z')
            name[i] = static_cast<std::uint8_t>(name[i] + ('a' - 'A'));
    }
    std::size_t nameLen = 8;
    while (nameLen > 0 && name[nameLen - 1] == ' ')
        --nameLen;
    std::size_t extLen = 3;
    while (extLen > 0 && name[8 + extLen - 1] == ' ')
        --extLen;
    std::string out;
    if (nameLen > 0 && name[0] == 0xE5) {
        out += '#';
        out += fat::Cp437ToUtf8(name + 1, nameLen - 1);
    } else {
        out = fat::Cp437ToUtf8(name, nameLen);
    }
    if (extLen > 0) {
        if (!joined)
            out += '.';
        out += fat::Cp437ToUtf8(name + 8, extLen);
    }
    return out;
}

bool FatDirEntry::GetLongNamePart(std::string& out) const {
    static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::uint16_t units[13];
    for (int i = 0; i < 13; ++i)
        units[i] = ByteSpan(m_p, fat::kDirEntrySize).u16(kOffsets[i]);
    out = fat::Utf16ToUtf8(units, 13);
    return true;
}

namespace {

bool DateFits(std::uint16_t date) {
    if (date == 0)
        return true;
    unsigned day = date & 0x1F;
    unsigned month = (date >> 5) & 0x0F;
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool TimeFits(std::uint16_t time) {
    if (time == 0)
        return true;
    unsigned seconds2 = time & 0x1F;
    unsigned minutes = (time >> 5) & 0x3F;
    return time < 0xC000 && minutes < 60 && seconds2 < 30;
}

} // namespace

bool FatDirEntry::IsValid(bool strict, const FatEntryChecks& checks) const {
    if (IsLongNameEntry())
        return true;
    if (strict) {
        if (IsDirectory()) {
            if (FileSize() != 0 && FirstClusterHigh() != 0)
                return false;
        } else if ((GetFirstCluster() == 0) != (FileSize() == 0)) {
            return false;
        }
    }
    if (checks.checkDate &&
        !(DateFits(CreationDate()) && DateFits(LastWriteDate()) && DateFits(LastAccessDate())))
        return false;
    if (checks.checkTime && !(TimeFits(CreationTime()) && TimeFits(LastWriteTime())))
        return false;
    if (Attributes() & kAttrNeverValid)
        return false;
    if (Attributes() == kAttrVolumeLabel)
        return true;
    return IsValidShortNameBytes(m_p);
}

// ---------------------------------------------------------------------------------------------
// Directory sectors

bool ClassifyDirectorySector(const std::uint8_t* sector, std::size_t size,
                             DirectorySectorInfo& info, const FatEntryChecks& checks) {
    info = DirectorySectorInfo{};
    if (!sector || size < 512)
        return false;
    std::uint32_t count = 0;
    std::uint32_t lastLive = 0xFFFFFFFF;
    std::uint32_t highest = 0;
    bool bad = false;
    bool sawDot = false;
    bool sawDotDot = false;
    std::uint32_t dot = 0;
    std::uint32_t dotDot = 0;
    FatDirEntry e;
    for (std::size_t i = 0; i < fat::kEntriesPerSector; ++i) {
        e.Set(sector + i * fat::kDirEntrySize);
        if (!e.IsValid(true, checks)) {
            if (count > 0 || (sawDot && sawDotDot))
                bad = !e.IsZeroEntry();
            else
                bad = true;
            break;
        }
        if (e.IsLongNameEntry())
            continue;
        std::uint32_t cluster = e.GetFirstCluster();
        highest = std::max(highest, cluster);
        if (i == 0 && e.IsDotEntry()) {
            sawDot = true;
            dot = cluster;
            continue;
        }
        if (i == 1 && e.IsDotDotEntry()) {
            sawDotDot = true;
            dotDot = cluster;
            continue;
        }
        if (!e.IsDeleted()) {
            if (cluster == lastLive) {
                bad = true;
                break;
            }
            lastLive = cluster;
        }
        ++count;
    }
    if (sawDot && sawDotDot) {
        info.kind = DirectorySectorInfo::kDirectoryFirst;
        info.entryCount = count;
        info.dotCluster = dot;
        info.dotDotCluster = dotDot;
        info.highestCluster = highest;
    } else if (count >= 2 && !bad) {
        info.kind = DirectorySectorInfo::kDirectoryPart;
        info.entryCount = count;
        info.highestCluster = highest;
    }
    return info.kind != DirectorySectorInfo::kNotDirectory;
}
