// The partition-table readers with the real volume probes installed.
#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/PartitionTable.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

using testsupport::MemoryDevice;
using testsupport::MustRun;
using testsupport::ShellQuote;

namespace {

struct Expected {
    std::uint64_t first;
    std::uint64_t count;
    std::uint32_t type;
    std::string label;
};

void ExpectList(const PartitionList& list, const std::vector<Expected>& expected) {
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE("entry " + std::to_string(i));
        const PartitionEntry& e = *list[i];
        EXPECT_EQ(e.u64FirstSector, expected[i].first);
        EXPECT_EQ(e.u64SectorCount, expected[i].count);
        EXPECT_EQ(e.fileSystemType, expected[i].type);
        EXPECT_EQ(std::string(e.szVolumeLabel), expected[i].label);
        ASSERT_NE(e.pPartitionDevice, nullptr);
        EXPECT_EQ(e.pPartitionDevice->GetStartSector(), e.u64FirstSector);
        EXPECT_EQ(e.pPartitionDevice->GetSectorCount(), e.u64SectorCount);
    }
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutEntry(std::uint8_t* sector, int i, std::uint8_t type, std::uint32_t first,
              std::uint32_t count) {
    std::uint8_t* e = sector + 0x1BE + 16 * i;
    e[4] = type;
    PutLe32(e + 8, first);
    PutLe32(e + 12, count);
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

std::vector<std::uint8_t> FatImage(const std::string& name, const std::string& options,
                                   unsigned kib) {
    const std::string path = testsupport::CachedFixture(name, [&](const std::string& tmp) {
        return testsupport::RequireTool("mkfs.fat") &&
               MustRun("mkfs.fat -C " + options + " " + ShellQuote(tmp) + " " + std::to_string(kib));
    });
    return path.empty() ? std::vector<std::uint8_t>{} : testsupport::ReadFileBytes(path);
}

} // namespace

TEST(PartitionProbes, MbrDiskWithFileSystemsPlacedByTheTools) {
    RegisterVolumeProbes();
    const std::string image = testsupport::CachedFixture("pp-mbr-fs-v2.img", [](const std::string& tmp) {
        const std::string q = ShellQuote(tmp);
        const std::string ntfs = tmp + ".ntfs";
        const bool ok =
            testsupport::RequireTool("sfdisk") && testsupport::RequireTool("mkntfs") &&
            testsupport::RequireTool("mkfs.fat") && MustRun("truncate -s 64M " + q) &&
            MustRun("printf 'label: dos\\nstart=2048, size=32768, type=e\\n"
                    "start=34816, size=16384, type=7\\nstart=51200, type=5\\n"
                    "start=53248, size=8192, type=1\\nstart=63488, type=83\\n' | sfdisk -q " + q) &&
            MustRun("mkfs.fat -F 16 -n FATSIXTEEN --offset 2048 " + q + " 16384") &&
            MustRun("truncate -s 8M " + ShellQuote(ntfs)) &&
            MustRun("mkntfs -q -F -Q -p 34816 -L NtfsLabel " + ShellQuote(ntfs)) &&
            MustRun("dd if=" + ShellQuote(ntfs) + " of=" + q +
                    " bs=512 seek=34816 conv=notrunc status=none") &&
            MustRun("mkfs.fat -F 12 -n TWELVE --offset 53248 " + q + " 2048") &&
            testsupport::RequireTool("mke2fs") &&
            MustRun("mke2fs -q -F -t ext2 -b 1024 -L LinuxPart -E offset=" + std::to_string(63488 * 512) +
                    " " + q + " 4096");
        std::remove(ntfs.c_str());
        return ok;
    });
    ASSERT_FALSE(image.empty());
    // The oracle for where the partitions lie.
    std::string json;
    ASSERT_TRUE(MustRun("sfdisk -J " + ShellQuote(image), &json));
    const std::regex re(R"re("start":\s*(\d+),\s*"size":\s*(\d+),\s*"type":\s*"(\w+)")re");
    std::vector<std::pair<std::uint64_t, std::uint64_t>> table;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), re); it != std::sregex_iterator(); ++it) {
        if ((*it)[3] != "5")
            table.emplace_back(std::stoull((*it)[1]), std::stoull((*it)[2]));
    }
    ASSERT_EQ(table.size(), 4u);

    MemoryDevice disk(testsupport::ReadFileBytes(image));
    PartitionList list;
    EXPECT_EQ(ReadWholeDiskVolume(&disk, list), 0);
    ASSERT_TRUE(ReadMbrPartitions(&disk, list));
    // A file system smaller than its entry gives its own size (NTFS leaves its last sector to
    // the backup boot sector; the FAT12 volume fills half of its entry, the EXT2 volume 4 MiB of
    // its entry).
    ExpectList(list, {
                         {table[0].first, table[0].second, FILESYSTEM_FAT16, "FATSIXTEEN"},
                         {table[1].first, table[1].second - 1, FILESYSTEM_NTFS, "NtfsLabel"},
                         {table[2].first, 4096, FILESYSTEM_FAT12, "TWELVE"},
                         {table[3].first, 8192, FILESYSTEM_EXT2, "LinuxPart"},
                     });
}

TEST(PartitionProbes, FileSystemSizeOnlyWhereItFitsTheDisk) {
    RegisterVolumeProbes();
    const std::vector<std::uint8_t> fat12 = FatImage("pp-fat12.img", "-F 12 -n LABELLED", 2048);
    ASSERT_EQ(fat12.size(), 4096u * kSectorSize);

    // The file system would run past the disk end: the entry keeps its table size.
    MemoryDevice disk(5000);
    std::memcpy(disk.Sector(2048), fat12.data(), 2952 * kSectorSize);
    PutEntry(disk.Sector(0), 0, 0x01, 2048, 1000);
    PartitionList list;
    ASSERT_TRUE(ReadMbrPartitions(&disk, list));
    ExpectList(list, {{2048, 1000, FILESYSTEM_FAT12, "LABELLED"}});

    // A FAT volume straight on the disk, no table: one whole-disk entry of the volume's size.
    MemoryDevice bare(fat12);
    bare.Bytes().resize(bare.Bytes().size() + 100 * kSectorSize);
    list.clear();
    EXPECT_EQ(ReadWholeDiskVolume(&bare, list), 1);
    ExpectList(list, {{0, 4096, FILESYSTEM_FAT12, "LABELLED"}});
}

TEST(PartitionProbes, GptEntryZeroTakesTheProbeSize) {
    RegisterVolumeProbes();
    const std::vector<std::uint8_t> fat16 = FatImage("pp-fat16.img", "-F 16 -s 1 -n GPTFAT", 8192);
    ASSERT_FALSE(fat16.empty());
    MemoryDevice disk(40000);
    PutEntry(disk.Sector(0), 0, 0xEE, 1, 39999);
    const std::uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    std::memcpy(disk.Sector(2), basicData, 16);
    PutLe32(disk.Sector(2) + 32, 2048);
    PutLe32(disk.Sector(2) + 40, 29999);
    std::memcpy(disk.Sector(2048), fat16.data(), fat16.size());
    ASSERT_TRUE(IsGptDisk(&disk));
    PartitionList list;
    EXPECT_EQ(ReadGptPartitions(&disk, list), 1u);
    ExpectList(list, {{2048, 16384, FILESYSTEM_FAT16, "GPTFAT"}});

    std::memset(disk.Sector(2048), 0, kSectorSize); // no file system: last - first + 1
    list.clear();
    EXPECT_EQ(ReadGptPartitions(&disk, list), 1u);
    ExpectList(list, {{2048, 27952, FILESYSTEM_UNKNOWN, ""}});
}
