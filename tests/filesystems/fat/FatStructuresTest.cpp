// Boot sectors, directory entries and directory sectors of FAT volumes.
#include "filesystems/fat/FatStructures.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>

namespace {

using Sector = std::array<std::uint8_t, 512>;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, static_cast<std::uint16_t>(v));
    Put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

Sector BootSector(FileSystemType type) {
    Sector s{};
    s[0] = 0xEB;
    s[13] = 4;         // sectors per cluster
    Put16(&s[14], 4);  // reserved
    s[16] = 2;         // FATs
    s[510] = 0x55;
    s[511] = 0xAA;
    if (type == FILESYSTEM_FAT32) {
        Put32(&s[32], 1000000);
        Put32(&s[36], 2000);
        Put32(&s[44], 2);
        std::memcpy(&s[82], "FAT32   ", 8);
    } else {
        Put16(&s[17], 512);
        Put16(&s[19], 60000);
        Put16(&s[22], type == FILESYSTEM_FAT12 ? 8 : 64);
        std::memcpy(&s[54], type == FILESYSTEM_FAT12 ? "FAT12   " : "FAT16   ", 8);
    }
    return s;
}

TEST(FatBootSector, ClassifiesAndRejects) {
    struct Case {
        const char* what;
        FileSystemType base;
        std::function<void(Sector&)> edit;
        FileSystemType expected;
    };
    const Case cases[] = {
        {"plain FAT12", FILESYSTEM_FAT12, [](Sector&) {}, FILESYSTEM_FAT12},
        {"plain FAT16", FILESYSTEM_FAT16, [](Sector&) {}, FILESYSTEM_FAT16},
        {"plain FAT32", FILESYSTEM_FAT32, [](Sector&) {}, FILESYSTEM_FAT32},
        {"type text in lower case", FILESYSTEM_FAT16,
         [](Sector& s) { std::memcpy(&s[54], "fat16   ", 8); }, FILESYSTEM_FAT16},
        {"one FAT", FILESYSTEM_FAT16, [](Sector& s) { s[16] = 1; }, FILESYSTEM_UNKNOWN},
        {"three FATs", FILESYSTEM_FAT32, [](Sector& s) { s[16] = 3; }, FILESYSTEM_UNKNOWN},
        {"3 sectors per cluster", FILESYSTEM_FAT16, [](Sector& s) { s[13] = 3; },
         FILESYSTEM_UNKNOWN},
        {"0 sectors per cluster", FILESYSTEM_FAT32, [](Sector& s) { s[13] = 0; },
         FILESYSTEM_UNKNOWN},
        {"128 sectors per cluster", FILESYSTEM_FAT16, [](Sector& s) { s[13] = 128; },
         FILESYSTEM_FAT16},
        {"FAT12 with 201 sectors per FAT", FILESYSTEM_FAT12, [](Sector& s) { Put16(&s[22], 201); },
         FILESYSTEM_UNKNOWN},
        {"FAT16 with 520 root entries", FILESYSTEM_FAT16, [](Sector& s) { Put16(&s[17], 520); },
         FILESYSTEM_UNKNOWN},
        {"FAT16 with 208 root entries", FILESYSTEM_FAT16, [](Sector& s) { Put16(&s[17], 208); },
         FILESYSTEM_UNKNOWN},
        {"FAT16 with no sectors per FAT", FILESYSTEM_FAT16, [](Sector& s) { Put16(&s[22], 0); },
         FILESYSTEM_UNKNOWN},
        {"FAT32 root entries are not tested", FILESYSTEM_FAT32,
         [](Sector& s) { Put16(&s[17], 7); }, FILESYSTEM_FAT32},
        {"FAT32 with no sectors per FAT", FILESYSTEM_FAT32, [](Sector& s) { Put32(&s[36], 0); },
         FILESYSTEM_UNKNOWN},
        {"no signature", FILESYSTEM_FAT16, [](Sector& s) { s[511] = 0; }, FILESYSTEM_UNKNOWN},
    };
    for (const Case& c : cases) {
        Sector s = BootSector(c.base);
        c.edit(s);
        CFATDBR dbr(s.data(), s.size());
        EXPECT_EQ(dbr.GetFileSystemType(), c.expected) << c.what;
        EXPECT_EQ(dbr.IsValid(), c.expected != FILESYSTEM_UNKNOWN) << c.what;
    }
    Sector s = BootSector(FILESYSTEM_FAT16);
    EXPECT_FALSE(CFATDBR(s.data(), 511).IsValid()) << "short buffer";
}

TEST(FatBootSector, FieldsAndTotalSectors) {
    Sector s12 = BootSector(FILESYSTEM_FAT12);
    Put16(&s12[19], 0);
    Put32(&s12[32], 5000);
    CFATDBR d12(s12.data(), 512);
    EXPECT_EQ(d12.GetTotalSectors(), 0u) << "FAT12 has no 32-bit fallback";
    EXPECT_EQ(d12.GetSectorsPerFAT(), 8u);
    EXPECT_EQ(d12.GetRootCluster(), 0u);
    EXPECT_EQ(d12.GetRootDirSectors(), 32u);

    Sector s16 = BootSector(FILESYSTEM_FAT16);
    Put16(&s16[19], 0);
    Put32(&s16[32], 123456);
    CFATDBR d16(s16.data(), 512);
    EXPECT_EQ(d16.GetTotalSectors(), 123456u);
    EXPECT_EQ(d16.GetSectorsPerCluster(), 4u);
    EXPECT_EQ(d16.GetReservedSectors(), 4u);
    EXPECT_EQ(d16.GetFATCount(), 2u);

    Sector s32 = BootSector(FILESYSTEM_FAT32);
    CFATDBR d32(s32.data(), 512);
    EXPECT_EQ(d32.GetTotalSectors(), 1000000u);
    EXPECT_EQ(d32.GetSectorsPerFAT(), 2000u);
    EXPECT_EQ(d32.GetRootCluster(), 2u);

    s32[16] = 1; // not FAT: typed accessors give 0, raw ones still read
    CFATDBR none(s32.data(), 512);
    EXPECT_EQ(none.GetReservedSectors(), 0u);
    EXPECT_EQ(none.GetReservedSectorsRaw(), 4u);
    EXPECT_EQ(none.GetTotalSectors(), 0u);
    EXPECT_EQ(none.GetSectorsPerFAT(), 0u);
}

TEST(FatBootSector, SignatureAndFatStarts) {
    Sector s = BootSector(FILESYSTEM_FAT16);
    EXPECT_TRUE(HasBootSignature(s.data(), 512));
    s[0] = 0;
    EXPECT_FALSE(HasBootSignature(s.data(), 512));

    struct Case {
        std::uint32_t first, second;
        bool fat32, fat16, any;
    };
    const Case cases[] = {
        {0x0FFFFFF8, 0x0FFFFFFF, true, false, true},  // FAT32
        {0x0FFFFFF8, 0x03FFFFFF, true, false, true},  // FAT32, dirty and hard-error bits
        {0xFFFFFFF8, 0, false, true, true},           // FAT16
        {0x7FFFFFF8, 0, false, true, true},           // FAT16, not cleanly unmounted
        {0x00FFFFF0, 0, false, false, true},          // FAT12 (media F0)
        {0x00000000, 0, false, false, false},
        {0x12345678, 0, false, false, false},
    };
    for (const Case& c : cases) {
        Sector f{};
        Put32(&f[0], c.first);
        Put32(&f[4], c.second);
        EXPECT_EQ(IsFAT32TableStart(f.data(), 512), c.fat32) << std::hex << c.first;
        EXPECT_EQ(IsFAT16TableStart(f.data(), 512), c.fat16) << std::hex << c.first;
        EXPECT_EQ(IsFATTableStart(f.data(), 512), c.any) << std::hex << c.first;
    }
    EXPECT_FALSE(IsValidClusterNumber(1));
    EXPECT_TRUE(IsValidClusterNumber(2));
    EXPECT_TRUE(IsValidClusterNumber(0x0FFFFFEF));
    EXPECT_FALSE(IsValidClusterNumber(0x0FFFFFF0));
}

// ---------------------------------------------------------------------------------------------

using Entry = std::array<std::uint8_t, 32>;

Entry ShortEntry(const char* name11, std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = attr;
    Put16(&e[14], (10 << 11) | (30 << 5) | 15); // 10:30:30
    Put16(&e[16], (44 << 9) | (6 << 5) | 15);   // 2024-06-15
    Put16(&e[18], (44 << 9) | (6 << 5) | 16);
    Put16(&e[20], static_cast<std::uint16_t>(cluster >> 16));
    Put16(&e[22], (11 << 11) | (5 << 5) | 1);
    Put16(&e[24], (44 << 9) | (6 << 5) | 15);
    Put16(&e[26], static_cast<std::uint16_t>(cluster));
    Put32(&e[28], size);
    return e;
}

Entry LongEntry(std::uint8_t seq, const std::u16string& units13) {
    Entry e{};
    e[0] = seq;
    e[11] = 0x0F;
    static const int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i)
        Put16(&e[kOffsets[i]], i < static_cast<int>(units13.size())    ? units13[i]
                               : i == static_cast<int>(units13.size()) ? 0
                                                                       : 0xFFFF);
    return e;
}

TEST(FatDirEntry, Validity) {
    struct Case {
        const char* what;
        Entry entry;
        bool strict;
        FatEntryChecks checks;
        bool valid;
    };
    auto withDate = [](Entry e, std::uint16_t date) {
        Put16(&e[24], date);
        return e;
    };
    auto withTime = [](Entry e, std::uint16_t time) {
        Put16(&e[22], time);
        return e;
    };
    const Entry file = ShortEntry("README  TXT", 0x20, 5, 100);
    const Case cases[] = {
        {"ordinary file", file, true, {}, true},
        {"long-name entry", LongEntry(0x41, u"a"), true, {}, true},
        {"label + directory checked as a short name", ShortEntry("MY DIR     ", 0x18, 3, 0),
         true, {}, true},
        {"attribute 0x40", ShortEntry("README  TXT", 0x48, 3, 0), false, {}, false},
        {"volume label", ShortEntry("my label   ", 0x08, 0, 0), true, {}, true},
        {"deleted entry", ShortEntry("\xE5" "EADME  TXT", 0x20, 5, 100), true, {}, true},
        {"leading space", ShortEntry(" EADME  TXT", 0x20, 5, 100), true, {}, false},
        {"'?' in the name", ShortEntry("READ?E  TXT", 0x20, 5, 100), true, {}, false},
        {"control byte", ShortEntry("READ\x01" "E  TXT", 0x20, 5, 100), true, {}, false},
        {"all zero (end of directory)", Entry{}, false, {}, false},
        {"file with size and no cluster, strict", ShortEntry("README  TXT", 0x20, 0, 10), true,
         {}, false},
        {"file with size and no cluster, loose", ShortEntry("README  TXT", 0x20, 0, 10), false,
         {}, true},
        {"empty file", ShortEntry("EMPTY   TXT", 0x20, 0, 0), true, {}, true},
        {"directory with size and high cluster word", ShortEntry("DIR        ", 0x10, 0x10003, 5),
         true, {}, false},
        {"day 1 month 1", withDate(file, (1 << 5) | 1), true, {}, true},
        {"month 13, date check on", withDate(file, (13 << 5) | 1), true, {}, false},
        {"month 13, date check off", withDate(file, (13 << 5) | 1), true, {false, true}, true},
        {"day 0", withDate(file, (3 << 5) | 0), true, {}, false},
        {"hour 24", withTime(file, 24 << 11), true, {}, false},
        {"minute 60", withTime(file, (1 << 11) | (60 << 5)), true, {}, false},
        {"minute 60, time check off", withTime(file, (1 << 11) | (60 << 5)), true, {true, false},
         true},
        {"seconds/2 of 30", withTime(file, 30), true, {}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FatDirEntry(c.entry.data()).IsValid(c.strict, c.checks), c.valid) << c.what;
}

TEST(FatDirEntry, Names) {
    struct Case {
        Entry entry;
        bool joined;
        std::string name;
    };
    Entry lower = ShortEntry("A       TXT", 0x20, 5, 1);
    lower[12] = 0x18;
    Entry lowerBase = ShortEntry("MAKEFILEMK ", 0x20, 5, 1);
    lowerBase[12] = 0x08;
    const Case cases[] = {
        {ShortEntry("README  TXT", 0x20, 5, 1), false, "README.TXT"},
        {ShortEntry("README  TXT", 0x20, 5, 1), true, "READMETXT"},
        {ShortEntry("MYDISK     ", 0x08, 0, 0), true, "MYDISK"},
        {ShortEntry("MYDISK     ", 0x20, 5, 1), false, "MYDISK"},
        {ShortEntry("\xE5OO     TXT", 0x20, 5, 1), false, "#OO.TXT"},
        {ShortEntry("CAF\x82    TXT", 0x20, 5, 1), false, "CAF\xC3\xA9.TXT"}, // e acute
        {ShortEntry("\x1A" "BC     TXT", 0x20, 5, 1), false, "_BC.TXT"},
        {lower, false, "a.txt"},
        {lowerBase, false, "makefile.MK"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FatDirEntry(c.entry.data()).GetShortName(c.joined), c.name);

    std::string part;
    EXPECT_TRUE(FatDirEntry(LongEntry(0x41, u"Hello w\u00f6rld").data()).GetLongNamePart(part));
    EXPECT_EQ(part, "Hello w\xC3\xB6rld");
    EXPECT_TRUE(FatDirEntry(LongEntry(0x41, u"1234567890123").data()).GetLongNamePart(part));
    EXPECT_EQ(part, "1234567890123");
    std::u16string pair = u"x\U0001F600y";
    EXPECT_TRUE(FatDirEntry(LongEntry(0x41, pair).data()).GetLongNamePart(part));
    EXPECT_EQ(part, "x\xF0\x9F\x98\x80y");
    std::u16string lone = u"a";
    lone += char16_t(0xD800);
    lone += u"b";
    EXPECT_TRUE(FatDirEntry(LongEntry(0x41, lone).data()).GetLongNamePart(part));
    EXPECT_EQ(part, "a_b");

    EXPECT_TRUE(IsValidFileName("a b.txt"));
    EXPECT_FALSE(IsValidFileName(""));
    EXPECT_FALSE(IsValidFileName("what?.txt"));
    EXPECT_FALSE(IsValidFileName("a/b"));
}

// ---------------------------------------------------------------------------------------------

Sector DirSector(const std::vector<Entry>& entries) {
    Sector s{};
    for (std::size_t i = 0; i < entries.size() && i < 16; ++i)
        std::memcpy(&s[i * 32], entries[i].data(), 32);
    return s;
}

TEST(FatDirectorySector, Classification) {
    const Entry dot = ShortEntry(".          ", 0x10, 9, 0);
    const Entry dotdot = ShortEntry("..         ", 0x10, 3, 0);
    Entry garbage{};
    std::memset(garbage.data(), 0x01, 32);

    std::vector<Entry> sixteen;
    for (int i = 0; i < 16; ++i) {
        char name[12];
        std::snprintf(name, sizeof name, "FILE%04dTXT", i);
        sixteen.push_back(ShortEntry(name, 0x20, 100 + i * 3, 1000));
    }
    std::vector<Entry> sameCluster = {ShortEntry("A       TXT", 0x20, 0, 0),
                                      ShortEntry("B       TXT", 0x20, 0, 0)};
    std::vector<Entry> deletedSame = {ShortEntry("A       TXT", 0x20, 7, 5),
                                      ShortEntry("\xE5" "B      TXT", 0x20, 7, 5),
                                      ShortEntry("C       TXT", 0x20, 8, 5)};
    std::vector<Entry> withLongNames = {LongEntry(0x41, u"long name"),
                                        ShortEntry("LONGNA~1   ", 0x20, 40, 5),
                                        ShortEntry("OTHER   DAT", 0x20, 41, 5)};
    std::vector<Entry> garbageAfterTwo = {ShortEntry("A       TXT", 0x20, 7, 5),
                                          ShortEntry("B       TXT", 0x20, 8, 5), garbage};

    struct Case {
        const char* what;
        Sector sector;
        std::uint32_t kind, count, dotCluster, dotDotCluster, highest;
    };
    const Case cases[] = {
        {"dot entries then garbage", DirSector({dot, dotdot, garbage}), 2, 0, 9, 3, 9},
        {"dot entries then two files", DirSector({dot, dotdot, sixteen[0], sixteen[1]}), 2, 2, 9,
         3, 103},
        {"sixteen live files", DirSector(sixteen), 1, 16, 0, 0, 145},
        {"one entry then zeros", DirSector({sixteen[0]}), 0, 0, 0, 0, 0},
        {"two empty files share cluster 0", DirSector(sameCluster), 0, 0, 0, 0, 0},
        {"a deleted entry between does not count as a repeat", DirSector(deletedSame), 1, 3, 0,
         0, 8},
        {"long-name entries are not counted", DirSector(withLongNames), 1, 2, 0, 0, 41},
        {"garbage after two entries", DirSector(garbageAfterTwo), 0, 0, 0, 0, 0},
        {"zero sector", Sector{}, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        DirectorySectorInfo info;
        EXPECT_EQ(ClassifyDirectorySector(c.sector.data(), 512, info), c.kind != 0) << c.what;
        EXPECT_EQ(info.kind, c.kind) << c.what;
        EXPECT_EQ(info.entryCount, c.count) << c.what;
        EXPECT_EQ(info.dotCluster, c.dotCluster) << c.what;
        EXPECT_EQ(info.dotDotCluster, c.dotDotCluster) << c.what;
        EXPECT_EQ(info.highestCluster, c.highest) << c.what;
    }
    DirectorySectorInfo info;
    EXPECT_FALSE(ClassifyDirectorySector(DirSector(sixteen).data(), 511, info));
}

} // namespace
