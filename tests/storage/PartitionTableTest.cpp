#include "storage/BasicPartitionDevice.h"
#include "storage/PartitionTable.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

using testsupport::MemoryDevice;

namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutLe64(std::uint8_t* p, std::uint64_t v) {
    PutLe32(p, static_cast<std::uint32_t>(v));
    PutLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

// Writes entry `i` of the table in `sector` and its signature.
void PutEntry(std::uint8_t* sector, int i, std::uint8_t type, std::uint32_t first,
              std::uint32_t count, std::uint8_t flag = 0) {
    std::uint8_t* e = sector + 0x1BE + 16 * i;
    e[0] = flag;
    e[4] = type;
    PutLe32(e + 8, first);
    PutLe32(e + 12, count);
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

using Layout = std::vector<std::pair<std::uint64_t, std::uint64_t>>; // first, count

Layout LayoutOf(const PartitionList& list) {
    Layout out;
    for (const auto& e : list) {
        out.emplace_back(e->u64FirstSector, e->u64SectorCount);
        EXPECT_NE(e->pPartitionDevice, nullptr);
        if (e->pPartitionDevice) {
            EXPECT_EQ(e->pPartitionDevice->GetStartSector(), e->u64FirstSector);
            EXPECT_EQ(e->pPartitionDevice->GetSectorCount(), e->u64SectorCount);
        }
    }
    return out;
}

// Partitions of `image` as `sfdisk -J` lists them (extended containers left out).
std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> SfdiskPartitions(
    const std::string& image) {
    std::string json;
    std::vector<std::tuple<std::uint64_t, std::uint64_t, std::string>> out;
    if (!testsupport::MustRun("sfdisk -J " + testsupport::ShellQuote(image), &json))
        return out;
    const std::regex re(R"re("start":\s*(\d+),\s*"size":\s*(\d+),\s*"type":\s*"([0-9A-Fa-f-]+)")re");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), re); it != std::sregex_iterator();
         ++it) {
        const std::string type = (*it)[3];
        if (type == "5" || type == "f")
            continue;
        out.emplace_back(std::stoull((*it)[1]), std::stoull((*it)[2]), type);
    }
    return out;
}

std::string MakeImage(const std::string& name, const std::string& size, const std::string& script) {
    return testsupport::CachedFixture(name, [&](const std::string& tmp) {
        return testsupport::RequireTool("sfdisk") &&
               testsupport::MustRun("truncate -s " + size + " " + testsupport::ShellQuote(tmp)) &&
               testsupport::MustRun("printf '" + script + "' | sfdisk -q " +
                                    testsupport::ShellQuote(tmp));
    });
}

} // namespace

TEST(PartitionTable, MbrPrimaryExtendedAndLogicalMatchSfdisk) {
    const std::string image = MakeImage(
        "pt-mbr-plain.img", "32M",
        "label: dos\\nstart=2048, size=8192, type=7\\nstart=10240, type=5, size=40960\\n"
        "start=12288, size=4096, type=83\\nstart=18432, size=4096, type=c\\n"
        "start=24576, type=1\\nstart=55296, type=83\\n");
    ASSERT_FALSE(image.empty());
    MemoryDevice disk(testsupport::ReadFileBytes(image));
    EXPECT_FALSE(IsGptDisk(&disk));
    EXPECT_FALSE(IsDynamicDisk(&disk));

    PartitionList list;
    ASSERT_TRUE(ReadMbrPartitions(&disk, list));
    // sfdisk lists the primaries first, the walk lists logicals where the extended entry is.
    Layout expected;
    for (const auto& [first, count, type] : SfdiskPartitions(image)) {
        (void)type;
        expected.emplace_back(first, count);
    }
    std::sort(expected.begin(), expected.end());
    Layout got = LayoutOf(list);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[1]->u64FirstSector, 12288u); // depth first: logicals follow their container
    for (const auto& e : list) {
        EXPECT_EQ(e->fileSystemType, FILESYSTEM_UNKNOWN);
        EXPECT_EQ(e->cDriveLetter, 0);
    }
    EXPECT_EQ(ReadWholeDiskVolume(&disk, list), 0);
    EXPECT_EQ(list.size(), 5u);
}

TEST(PartitionTable, DamagedMbrTables) {
    constexpr std::uint64_t kDisk = 1000;
    struct Case {
        const char* name;
        void (*build)(MemoryDevice&);
        bool added;
        Layout layout;
    };
    const Case cases[] = {
        {"boot flag 0x01 voids the table",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x07, 10, 100, 0x80);
             PutEntry(d.Sector(0), 2, 0x83, 200, 100, 0x01);
         },
         false, {}},
        {"no signature",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x07, 10, 100);
             d.Sector(0)[511] = 0;
         },
         false, {}},
        {"past the end dropped, across the end cut, zero count to the end",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x07, 1000, 10);
             PutEntry(d.Sector(0), 1, 0x07, 900, 0xFFFFFFFF);
             PutEntry(d.Sector(0), 2, 0x07, 800, 0);
             PutEntry(d.Sector(0), 3, 0x42, 10, 10);
         },
         true, {{900, 100}, {800, 200}}},
        {"EBR chain that loops back to its first EBR",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x0F, 100, 800);
             PutEntry(d.Sector(100), 0, 0x83, 1, 50);
             PutEntry(d.Sector(100), 1, 0x05, 100, 200);
             PutEntry(d.Sector(200), 0, 0x83, 1, 50);
             PutEntry(d.Sector(200), 1, 0x05, 0, 200); // back to sector 100
         },
         true, {{101, 50}, {201, 50}}},
        {"EBR that links to itself",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x05, 100, 800);
             PutEntry(d.Sector(100), 0, 0x83, 2, 20);
             PutEntry(d.Sector(100), 1, 0x05, 0, 0);
         },
         true, {{102, 20}}},
        {"logical pointing at a primary's start stops that EBR",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x07, 50, 40);
             PutEntry(d.Sector(0), 1, 0x05, 40, 900);
             PutEntry(d.Sector(40), 0, 0x83, 10, 10); // 40 + 10 = primary at 50
             PutEntry(d.Sector(40), 1, 0x05, 200, 100);
         },
         true, {{50, 40}}},
        {"entry after a link keeps its own EBR as base",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x05, 100, 800);
             PutEntry(d.Sector(100), 0, 0x05, 200, 100); // link first
             PutEntry(d.Sector(100), 1, 0x83, 5, 20);
             PutEntry(d.Sector(300), 0, 0x83, 3, 30);
         },
         true, {{303, 30}, {105, 20}}},
        {"unreadable EBR adds nothing below it",
         [](MemoryDevice& d) {
             PutEntry(d.Sector(0), 0, 0x05, 100, 800);
             PutEntry(d.Sector(100), 0, 0x83, 2, 20);
             d.FailSector(100);
         },
         false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryDevice disk(kDisk);
        c.build(disk);
        PartitionList list;
        EXPECT_EQ(ReadMbrPartitions(&disk, list), c.added);
        EXPECT_EQ(LayoutOf(list), c.layout);
    }
}

TEST(PartitionTable, LongEbrChainIsCapped) {
    constexpr std::uint32_t kLinks = 400;
    MemoryDevice disk(2 * kLinks + 10);
    PutEntry(disk.Sector(0), 0, 0x05, 2, 2 * kLinks);
    for (std::uint32_t i = 0; i < kLinks; ++i) {
        const std::uint32_t ebr = 2 + 2 * i;
        PutEntry(disk.Sector(ebr), 0, 0x83, 1, 1);
        PutEntry(disk.Sector(ebr), 1, 0x05, 2 * (i + 1), 2);
    }
    PartitionList list;
    EXPECT_TRUE(ReadMbrPartitions(&disk, list));
    EXPECT_EQ(list.size(), std::size_t(kMaxExtendedLinks) + 1);
}

TEST(PartitionTable, SignatureAndTypeTests) {
    MemoryDevice disk(10);
    PutEntry(disk.Sector(0), 2, 0x42, 1, 5);
    EXPECT_TRUE(IsDynamicDisk(&disk));
    EXPECT_FALSE(IsGptDisk(&disk));
    disk.Sector(0)[510] = 0;
    EXPECT_FALSE(IsDynamicDisk(&disk));
    PutEntry(disk.Sector(0), 2, 0x07, 1, 5);
    PutEntry(disk.Sector(0), 0, 0xEE, 1, 9);
    EXPECT_TRUE(IsGptDisk(&disk));
    disk.FailSector(0);
    EXPECT_FALSE(IsGptDisk(&disk));
    EXPECT_FALSE(IsDynamicDisk(&disk));
}

TEST(PartitionTable, GptFromSgdiskMatchesSfdisk) {
    const std::string image = testsupport::CachedFixture("pt-gpt.img", [](const std::string& tmp) {
        const std::string q = testsupport::ShellQuote(tmp);
        return testsupport::RequireTool("sgdisk") &&
               testsupport::MustRun("truncate -s 16M " + q) &&
               testsupport::MustRun("sgdisk -n 1:2048:+2M -t 1:ef00 -n 2:0:+3M -t 2:0700 "
                                    "-n 3:0:+2M -t 3:8300 -n 4:0:+1M -t 4:a501 "
                                    "-n 5:0:+1M -t 5:8200 " + q);
    });
    ASSERT_FALSE(image.empty());
    MemoryDevice disk(testsupport::ReadFileBytes(image));
    EXPECT_TRUE(IsGptDisk(&disk));
    EXPECT_FALSE(IsDynamicDisk(&disk));
    PartitionList list;
    EXPECT_EQ(ReadGptPartitions(&disk, list), 4u);
    Layout expected;
    for (const auto& [first, count, type] : SfdiskPartitions(image)) {
        if (type != "83BD6B9D-7F41-11DC-BE0B-001560B84F0F") // FreeBSD boot: not listed
            expected.emplace_back(first, count);
    }
    EXPECT_EQ(expected.size(), 4u);
    EXPECT_EQ(LayoutOf(list), expected);
}

TEST(PartitionTable, HandMadeGptEntries) {
    constexpr std::uint64_t kDisk = 4000;
    const std::uint8_t basicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
    EXPECT_EQ(FormatGuid(basicData), "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7");
    MemoryDevice disk(kDisk);
    PutEntry(disk.Sector(0), 0, 0xEE, 1, kDisk - 1);
    auto putGpt = [&](int i, std::uint64_t first, std::uint64_t last) {
        std::uint8_t* e = disk.Sector(2) + 128 * i;
        std::memcpy(e, basicData, 16);
        PutLe64(e + 32, first);
        PutLe64(e + 40, last);
    };
    putGpt(0, 100, 199);
    PartitionList list;
    EXPECT_EQ(ReadGptPartitions(&disk, list), 1u);
    EXPECT_EQ(LayoutOf(list), (Layout{{100, 100}}));

    // Past the end dropped; a 64-bit count that would overflow is cut at the disk end; a last
    // LBA before the first runs to the disk end; entry 127 is read.
    putGpt(1, kDisk, kDisk + 10);
    putGpt(2, 3000, ~0ull);
    putGpt(3, 3500, 10);
    putGpt(127, 40, 49);
    list.clear();
    EXPECT_EQ(ReadGptPartitions(&disk, list), 4u);
    EXPECT_EQ(LayoutOf(list), (Layout{{100, 100}, {3000, 1000}, {3500, 500}, {40, 10}}));

    disk.FailSector(33);
    list.clear();
    EXPECT_EQ(ReadGptPartitions(&disk, list), 0u);
    EXPECT_TRUE(list.empty());
}
