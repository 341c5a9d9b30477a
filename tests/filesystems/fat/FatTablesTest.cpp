// In-memory FAT copies: entry reads of each width, validity checks and the pair of copies.
#include "filesystems/fat/FatTables.h"

#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using testsupport::MemoryDevice;

struct Fat16 {
    explicit Fat16(std::uint32_t sectors) : bytes(sectors * 512, 0) {
        Set(0, 0xFFF8);
        Set(1, 0xFFFF);
    }
    void Set(std::uint32_t i, std::uint16_t v) {
        bytes[i * 2] = static_cast<std::uint8_t>(v);
        bytes[i * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    std::vector<std::uint8_t> bytes;
};

struct Fat32 {
    explicit Fat32(std::uint32_t sectors) : bytes(sectors * 512, 0) {
        Set(0, 0x0FFFFFF8);
        Set(1, 0x0FFFFFFF);
    }
    void Set(std::uint32_t i, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            bytes[i * 4 + k] = static_cast<std::uint8_t>(v >> (8 * k));
    }
    std::vector<std::uint8_t> bytes;
};

TEST(FatTables, Fat12Entries) {
    std::vector<std::uint8_t> b(512, 0);
    b[0] = 0xF8;
    b[1] = 0xFF;
    b[2] = 0xFF;
    // cluster 2 = 0x003, cluster 3 = 0xFFF (bytes 3..5: 03 F0 FF)
    b[3] = 0x03;
    b[4] = 0xF0;
    b[5] = 0xFF;
    // cluster 4 = 0xFF7 (bad), cluster 5 = 0xFF8 (end): bytes 6..8: F7 8F FF
    b[6] = 0xF7;
    b[7] = 0x8F;
    b[8] = 0xFF;
    // Last cluster whose two bytes fit: 340 (offset 510); 341 would need byte 512.
    b[510] = 0x21;
    b[511] = 0x43;
    CFAT12Table t(b.data(), b.size());
    ASSERT_TRUE(t.IsValid());
    EXPECT_EQ(t.GetEntry(2), 3u);
    EXPECT_EQ(t.GetEntry(3), kFatEntryEndAll);
    EXPECT_EQ(t.GetEntry(4), kFatEntryBad);
    EXPECT_EQ(t.GetEntry(5), kFatEntryEnd);
    EXPECT_EQ(t.GetEntry(340), 0x321u);
    EXPECT_EQ(t.GetEntry(341), 0u) << "reading it would pass the end of the table";
    EXPECT_EQ(t.GetEntry(0xFFFFFFFF), 0u);
}

TEST(FatTables, SectorWindows) {
    MemoryDevice dev(400);
    struct Case {
        FileSystemType type;
        std::uint32_t sectors;
        bool buffered;
    };
    const Case cases[] = {
        {FILESYSTEM_FAT12, 12, true},  {FILESYSTEM_FAT12, 13, false}, {FILESYSTEM_FAT16, 12, true},
        {FILESYSTEM_FAT16, 256, true}, {FILESYSTEM_FAT16, 300, false}, {FILESYSTEM_FAT32, 256, true},
        {FILESYSTEM_FAT32, 255, false}, {FILESYSTEM_FAT12, 0, false},
    };
    for (const Case& c : cases) {
        std::unique_ptr<IRealFATTable> t;
        if (c.type == FILESYSTEM_FAT12)
            t = std::make_unique<CFAT12Table>(&dev, 0, c.sectors);
        else if (c.type == FILESYSTEM_FAT16)
            t = std::make_unique<CFAT16Table>(&dev, 0, c.sectors);
        else
            t = std::make_unique<CFAT32Table>(&dev, 0, c.sectors);
        EXPECT_EQ(t->HasBuffer(), c.buffered) << c.type << " " << c.sectors;
        EXPECT_EQ(t->GetEntryCount(), c.sectors * 128);
        if (!c.buffered) {
            EXPECT_EQ(t->GetEntry(2), 0u);
            EXPECT_FALSE(t->IsValid());
        }
    }
    // A failed read leaves no buffer.
    dev.FailSector(5);
    EXPECT_FALSE(CFAT16Table(&dev, 0, 20).HasBuffer());
}

TEST(FatTables, Fat16Validity) {
    struct Case {
        const char* what;
        std::function<void(Fat16&)> edit;
        bool valid;
    };
    const Case cases[] = {
        {"empty table", [](Fat16&) {}, true},
        {"chains and a bad cluster",
         [](Fat16& f) {
             f.Set(2, 3);
             f.Set(3, 4);
             f.Set(4, 0xFFFF);
             f.Set(5, 0xFFF7);
             f.Set(9, 7);
             f.Set(7, 0xFFF8);
         },
         true},
        {"not cleanly unmounted, hard error", [](Fat16& f) { f.Set(1, 0x3FFF); }, true},
        {"media byte not F8", [](Fat16& f) { f.Set(0, 0xFFF0); }, false},
        {"entry 5 holds 5", [](Fat16& f) { f.Set(5, 5); }, false},
        {"entry holds 1", [](Fat16& f) { f.Set(5, 1); }, false},
        {"points past the table", [](Fat16& f) { f.Set(5, 12 * 256); }, false},
        {"7 and 9 both point to 8",
         [](Fat16& f) {
             f.Set(7, 8);
             f.Set(9, 8);
             f.Set(8, 0xFFFF);
         },
         false},
        {"two-cluster loop",
         [](Fat16& f) {
             f.Set(5, 6);
             f.Set(6, 5);
         },
         false},
        {"loop reached from a chain head",
         [](Fat16& f) {
             f.Set(2, 10);
             f.Set(10, 11);
             f.Set(11, 12);
             f.Set(12, 10);
         },
         false},
        {"descending chain over the whole table",
         [](Fat16& f) {
             std::uint32_t n = static_cast<std::uint32_t>(f.bytes.size() / 2);
             for (std::uint32_t i = n - 1; i > 2; --i)
                 f.Set(i, static_cast<std::uint16_t>(i - 1));
             f.Set(2, 0xFFFF);
         },
         true},
    };
    for (const Case& c : cases) {
        Fat16 f(12);
        c.edit(f);
        EXPECT_EQ(CFAT16Table(f.bytes.data(), f.bytes.size()).IsValid(), c.valid) << c.what;
    }
}

TEST(FatTables, Fat32EntriesAndValidity) {
    Fat32 f(256);
    f.Set(1, 0x03FFFFFF); // dirty and hard-error bits
    f.Set(2, 0xF0000003); // top four bits are not part of the entry
    f.Set(3, 0xFFFFFFFF);
    f.Set(4, 0x0FFFFFF7);
    CFAT32Table t(f.bytes.data(), f.bytes.size());
    EXPECT_TRUE(t.IsValid());
    EXPECT_EQ(t.GetEntry(2), 3u);
    EXPECT_EQ(t.GetEntry(3), 0x0FFFFFFFu);
    EXPECT_EQ(t.GetEntry(4), kFatEntryBad);
    EXPECT_TRUE(IsFatChainStop(t.GetEntry(3)));
    EXPECT_TRUE(IsFatChainStop(t.GetEntry(4)));
    EXPECT_FALSE(IsFatChainStop(t.GetEntry(2)));
    EXPECT_EQ(t.GetEntry(256 * 128), 0u);

    Fat32 loop(256);
    loop.Set(7, 8);
    loop.Set(8, 0xA0000007); // masked: back to 7
    EXPECT_FALSE(CFAT32Table(loop.bytes.data(), loop.bytes.size()).IsValid());
    Fat32 far(256);
    far.Set(7, 256 * 128);
    EXPECT_FALSE(CFAT32Table(far.bytes.data(), far.bytes.size()).IsValid());
}

TEST(FatTables, PairOfCopies) {
    // FAT16 volume area: first copy at sector 10, second at 30, 20 sectors each.
    MemoryDevice dev(60);
    Fat16 good(20);
    good.Set(2, 0xFFFF);
    good.Set(3, 4);
    good.Set(4, 0xFFFF);
    Fat16 other(20);
    other.Set(3, 0xFFFF);
    std::copy(good.bytes.begin(), good.bytes.end(), dev.Sector(10));
    std::copy(other.bytes.begin(), other.bytes.end(), dev.Sector(30));

    auto both = CreateFATTables(&dev, 10, FILESYSTEM_FAT16, 20, true, true);
    ASSERT_TRUE(both->First());
    EXPECT_FALSE(both->Second()) << "the second copy is read only when the first is missing";
    EXPECT_EQ(both->GetEntry(3), 4u);

    auto secondOnly = CreateFATTables(&dev, 10, FILESYSTEM_FAT16, 20, false, true);
    EXPECT_FALSE(secondOnly->First());
    ASSERT_TRUE(secondOnly->Second());
    EXPECT_EQ(secondOnly->GetEntry(3), kFatEntryEndAll);

    // First copy damaged (a loop): the second one answers when allowed.
    dev.Sector(10)[2 * 5] = 5;
    auto fallback = CreateFATTables(&dev, 10, FILESYSTEM_FAT16, 20, true, true);
    EXPECT_FALSE(fallback->First());
    ASSERT_TRUE(fallback->Second());
    EXPECT_EQ(fallback->GetEntry(3), kFatEntryEndAll);
    auto none = CreateFATTables(&dev, 10, FILESYSTEM_FAT16, 20, true, false);
    EXPECT_FALSE(none->HasAnyCopy());
    for (std::uint32_t c = 0; c < 50; ++c)
        EXPECT_EQ(none->GetEntry(c), 0u);

    EXPECT_EQ(CreateFATTable(&dev, FILESYSTEM_NTFS, 10, 20), nullptr);
}

} // namespace
