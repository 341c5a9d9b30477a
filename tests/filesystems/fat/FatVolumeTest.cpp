// Boot sectors, tables and labels of volumes made by mkfs.fat and mtools.
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/fat/FatVolumeLabel.h"

#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;

struct VolumeCase {
    const char* name;
    FatImageOptions options;
    FileSystemType type;
};

const VolumeCase kVolumes[] = {
    {"label12.img", {12, 1440, 0, "FLOPPY 12", 0, ""}, FILESYSTEM_FAT12},
    {"label16.img", {16, 16 * 1024, 4, "DISK16", 0, ""}, FILESYSTEM_FAT16},
    {"label32.img", {32, 40 * 1024, 1, "ABCDEFGHIJK", 0, ""}, FILESYSTEM_FAT32},
    {"label32p.img", {32, 40 * 1024, 1, "PART32", 2048, ""}, FILESYSTEM_FAT32},
};

std::string MakeVolume(const VolumeCase& c) {
    return CachedFixture(c.name, [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, c.options))
            return false;
        FatImage img(tmp, c.options.offsetSectors);
        // Enough root entries to push the root past its first cluster on FAT32.
        bool ok = img.MakeDir("/sub");
        for (int i = 0; ok && i < 40; ++i)
            ok = img.WriteFile("/file number " + std::to_string(i) + ".bin",
                               PatternBytes(700 + i, i));
        return ok;
    });
}

struct Geometry {
    std::uint64_t first;
    std::uint64_t fatStart;
    std::uint32_t sectorsPerFat;
};

TEST(FatVolume, BootSectorTablesAndLabel) {
    for (const VolumeCase& c : kVolumes) {
        SCOPED_TRACE(c.name);
        std::string path = MakeVolume(c);
        ASSERT_FALSE(path.empty());
        MemoryDevice dev(LoadImageBytes(path));
        const std::uint64_t first = c.options.offsetSectors;

        std::uint8_t sector[512];
        ASSERT_TRUE(dev.ReadSectors(sector, first, 1));
        CFATDBR dbr(sector, sizeof sector);
        ASSERT_EQ(dbr.GetFileSystemType(), c.type);
        EXPECT_EQ(dbr.GetTotalSectors(), std::uint64_t(c.options.sizeKiB) * 2);
        if (c.options.sectorsPerCluster) {
            EXPECT_EQ(dbr.GetSectorsPerCluster(), std::uint32_t(c.options.sectorsPerCluster));
        }

        std::string label;
        EXPECT_TRUE(ReadFatVolumeLabel(&dev, first, dbr, label));
        EXPECT_EQ(label, c.options.label);

        const std::uint64_t fatStart = first + dbr.GetReservedSectors();
        auto tables = CreateFATTables(&dev, fatStart, c.type, dbr.GetSectorsPerFAT(), true, true);
        ASSERT_TRUE(tables->First());
        // The root directory (FAT32) or the first file's chain ends; 40 small files use more
        // than one cluster each on 1-sector clusters.
        std::uint32_t used = 0;
        for (std::uint32_t cl = 2; cl < 2000; ++cl)
            used += tables->GetEntry(cl) != 0;
        EXPECT_GT(used, 40u);

        // Both copies damaged: no table at all.
        MemoryDevice broken(LoadImageBytes(path));
        for (int copy = 0; copy < 2; ++copy)
            std::fill_n(broken.Sector(fatStart + copy * dbr.GetSectorsPerFAT()), 512, 0x11);
        auto none = CreateFATTables(&broken, fatStart, c.type, dbr.GetSectorsPerFAT(), true, true);
        EXPECT_FALSE(none->HasAnyCopy());
        // Only the first damaged: the second answers.
        MemoryDevice half(LoadImageBytes(path));
        std::fill_n(half.Sector(fatStart), 512, 0x11);
        auto second = CreateFATTables(&half, fatStart, c.type, dbr.GetSectorsPerFAT(), true, true);
        EXPECT_FALSE(second->First());
        ASSERT_TRUE(second->Second());
        for (std::uint32_t cl = 2; cl < 2000; ++cl)
            ASSERT_EQ(second->GetEntry(cl), tables->GetEntry(cl)) << cl;
    }
}

TEST(FatVolume, DirtyBitsKeepTheTable) {
    for (const VolumeCase& c : kVolumes) {
        if (c.type == FILESYSTEM_FAT12)
            continue;
        SCOPED_TRACE(c.name);
        std::string path = MakeVolume(c);
        ASSERT_FALSE(path.empty());
        MemoryDevice dev(LoadImageBytes(path));
        std::uint8_t sector[512];
        ASSERT_TRUE(dev.ReadSectors(sector, c.options.offsetSectors, 1));
        CFATDBR dbr(sector, sizeof sector);
        const std::uint64_t fatStart = c.options.offsetSectors + dbr.GetReservedSectors();
        for (int copy = 0; copy < 2; ++copy) {
            std::uint8_t* fat = dev.Sector(fatStart + copy * dbr.GetSectorsPerFAT());
            // Clear "cleanly unmounted" and "no hard error" in FAT[1].
            if (c.type == FILESYSTEM_FAT16)
                fat[3] &= 0x3F;
            else
                fat[7] &= 0xF3;
        }
        auto tables = CreateFATTables(&dev, fatStart, c.type, dbr.GetSectorsPerFAT(), true, false);
        EXPECT_TRUE(tables->First());
    }
}

TEST(FatVolume, LabelMissingOrUnreadable) {
    const VolumeCase& c = kVolumes[1];
    std::string path = MakeVolume(c);
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(LoadImageBytes(path));
    std::uint8_t sector[512];
    ASSERT_TRUE(dev.ReadSectors(sector, 0, 1));
    CFATDBR dbr(sector, sizeof sector);
    std::uint64_t root = dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT();
    dev.FailSector(root);
    std::string label;
    EXPECT_FALSE(ReadFatVolumeLabel(&dev, 0, dbr, label));
    dev.ClearFailures();
    dev.Sector(root)[0] = 0xE5; // the label entry deleted
    EXPECT_FALSE(ReadFatVolumeLabel(&dev, 0, dbr, label));
    CFATDBR notFat;
    EXPECT_FALSE(ReadFatVolumeLabel(&dev, 0, notFat, label));
}

} // namespace
