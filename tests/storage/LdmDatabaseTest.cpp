// The dynamic-disk database: records, damaged records, linking, and volumes built from disks.
#include "storage/DynamicDisk.h"
#include "storage/LdmDatabase.h"
#include "storage/PartitionTable.h"
#include "storage/VolumeEnumeration.h"
#include "storage/VolumeProbe.h"
#include "tests/storage/LdmBuilder.h"
#include "tests/storage/LdmFixtures.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ldmtest;

namespace {

const std::string kGuid1 = "11111111-2222-3333-4444-555555555555";
const std::string kGuid2 = "66666666-7777-8888-9999-aaaaaaaaaaaa";

// A spanned volume (id 10, 300 sectors) over disk 1 (200 sectors at 100) and disk 2 (100 at 50).
std::vector<VblkRecipe> SpannedDatabase() {
    return {
        Volume(1, VolumeData(10, "Volume1", 3, 1, 300, 0x07)),
        Component(2, ComponentData(20, 2, 2, 10)),
        Partition(3, PartitionData(30, 100, 0, 200, 20, 40, 0)),
        Partition(4, PartitionData(31, 50, 200, 100, 20, 41, 0)),
        Disk(5, DiskData(40, kGuid1)),
        Disk(6, DiskData(41, kGuid2)),
    };
}

TEST(LdmDatabase, VarNumbersAndStringsAreBoundedByTheRecordEnd) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        std::size_t end;
        std::uint64_t value;
        std::size_t consumed;
    };
    std::vector<std::uint8_t> long65(66, 0x01);
    long65[0] = 65;
    std::vector<std::uint8_t> long64(65, 0);
    long64[0] = 64;
    long64[63] = 0x12;
    long64[64] = 0x34;
    const Case cases[] = {
        {{2, 0x12, 0x34}, 3, 0x1234, 3},
        {{0, 0x12}, 2, ~0ull, 1},             // length 0
        {long65, 66, ~0ull, 1},               // length 65
        {long64, 65, 0x1234, 65},             // 64 bytes keep the low 64 bits
        {{3, 0x12, 0x34}, 3, ~0ull, 1},       // runs past the end
        {{}, 0, ~0ull, 1},                    // starts at the end
    };
    for (const Case& c : cases) {
        std::size_t pos = 0;
        EXPECT_EQ(c.value, ReadVarNumber(c.bytes.data(), c.end, pos));
        EXPECT_EQ(c.consumed, pos);
    }
    const std::uint8_t text[] = {5, 'H', 'e', 'l', 'l', 'o'};
    std::size_t pos = 0;
    EXPECT_EQ("Hel", ReadVarString(text, 6, pos, 3)) << "cut to the field";
    EXPECT_EQ(6u, pos);
    pos = 0;
    EXPECT_EQ("", ReadVarString(text, 5, pos, 100));
    EXPECT_EQ(1u, pos);
}

TEST(LdmDatabase, DecodesAndLinksASoundDatabase) {
    const std::vector<std::uint8_t> area = AreaOf(SpannedDatabase());
    const LdmDatabase db = BuildLdmDatabase(area.data(), area.size());
    ASSERT_EQ(1u, db.volumes.size());
    ASSERT_EQ(2u, db.partitions.size());
    ASSERT_EQ(2u, db.disks.size());
    const LdmVolumeRecord& v = db.volumes[0];
    EXPECT_EQ(10u, v.volumeId);
    EXPECT_EQ("Volume1", v.name);
    EXPECT_EQ("ACTIVE", v.state);
    EXPECT_EQ(300u, v.sizeInSectors);
    EXPECT_EQ(0x07, v.partitionType);
    ASSERT_EQ(1u, v.components.size());
    // Chains run from the last record found to the first.
    EXPECT_EQ((std::vector<std::size_t>{1, 0}), db.components[0].partitions);
    EXPECT_EQ(kGuid2, db.disks[db.partitions[1].disk].diskGuid);
    EXPECT_EQ(50u, db.partitions[1].startSector);
    EXPECT_TRUE(IsVolumeComplete(db, v));
}

TEST(LdmDatabase, DamagedRecordsGiveNoVolumeAndNoCrash) {
    struct Case {
        const char* what;
        std::vector<VblkRecipe> records;
        std::size_t members;  // of the volume that is left, 0: none
    };
    auto base = SpannedDatabase();
    auto with = [&](std::size_t index, auto change) {
        auto records = base;
        change(records[index]);
        return records;
    };
    VblkData shortVolume;
    shortVolume.Num(10).Str("Volume1").Str("gen").Zeros(5);
    VblkData badIdVolume = VolumeData(10, "Volume1", 3, 1, 300, 0x07);
    badIdVolume.bytes[0] = 0;  // var-number length 0: the id reads as all ones
    const Case cases[] = {
        {"huge data length", with(0, [](VblkRecipe& r) { r.dataLength = 0x7FFFFFFF; }), 0},
        {"data length beyond its parts", with(2, [](VblkRecipe& r) { r.dataLength = 104 + 112 + 1; r.parts = 2; }), 1},
        {"volume shorter than its fields", with(0, [&](VblkRecipe& r) { r.data = shortVolume.bytes; }), 0},
        {"volume id of length 0", with(0, [&](VblkRecipe& r) { r.data = badIdVolume.bytes; }), 0},
        {"partition id length 65", with(2, [](VblkRecipe& r) {
             VblkData d;
             d.NumLength(65, 1).Str("x").Zeros(12).Be64(1).Be64(0).Num(200).Num(20).Num(40).Num(0);
             r.data = d.bytes;
             r.type = 0x33;
         }), 1},
        {"partition cut before its start sector", with(2, [](VblkRecipe& r) { r.data.resize(16); }), 1},
        {"missing disk record", with(5, [](VblkRecipe& r) { r.type = 0x99; }), 0},
        {"missing component", with(1, [](VblkRecipe& r) { r.group = 0; }), 0},
        {"unknown volume kind", with(0, [](VblkRecipe& r) { r.data = VolumeData(10, "V", 7, 1, 300, 7).bytes; }), 0},
        {"component of unknown type", with(1, [](VblkRecipe& r) { r.data = ComponentData(20, 9, 2, 10).bytes; }), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::uint8_t> area = AreaOf(c.records);
        auto disk1 = MakeLdmDisk({4400, kGuid1, area});
        auto disk2 = MakeLdmDisk({4400, kGuid2, area});
        std::vector<DynamicVolumeEntry> out;
        // A damaged partition leaves a smaller volume of the other one.
        ASSERT_EQ(c.members ? 1 : 0, CollectDynamicVolumes({disk1.get(), disk2.get()}, out));
        if (c.members) {
            std::vector<const DynamicMember*> members;
            out[0].device->GetMembers(members);
            ASSERT_EQ(c.members, members.size());
            EXPECT_EQ(disk2.get(), members[0]->disk);
        }
    }
}

TEST(LdmDatabase, DuplicateIdsLinkEachRecordOnce) {
    auto records = SpannedDatabase();
    records.push_back(Volume(7, VolumeData(10, "Again", 3, 1, 300, 0x07)));
    records.push_back(Component(8, ComponentData(20, 2, 2, 10)));
    records.push_back(Disk(9, DiskData(40, kGuid2)));
    const std::vector<std::uint8_t> area = AreaOf(records);
    const LdmDatabase db = BuildLdmDatabase(area.data(), area.size());
    ASSERT_EQ(2u, db.volumes.size());
    EXPECT_EQ(2u, db.volumes[0].components.size());
    EXPECT_TRUE(db.volumes[1].components.empty());
    std::size_t linked = 0;
    for (const auto& c : db.components)
        linked += c.partitions.size();
    EXPECT_EQ(2u, linked);
    EXPECT_EQ(kGuid1, db.disks[db.partitions[0].disk].diskGuid) << "first disk record with the id";
}

TEST(LdmDatabase, MultiPartRecordsJoinOnlyInOrder) {
    VblkData longDisk = DiskData(40, kGuid1);
    longDisk.Str(std::string(200, 'n'));  // spills into three slots
    VblkRecipe disk = Disk(5, longDisk);
    auto slots = Slots(disk);
    ASSERT_EQ(3u, slots.size());
    for (bool swapped : {false, true}) {
        auto ordered = slots;
        if (swapped)
            std::swap(ordered[1], ordered[2]);
        const std::vector<std::uint8_t> area = Area(ordered);
        const std::vector<VblkRecord> records = ParseVblkRecords(area.data(), area.size());
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(!swapped, records[0].valid);
        if (!swapped) {
            LdmDatabase db;
            DecodeVblkRecords(records, db);
            ASSERT_EQ(1u, db.disks.size());
            EXPECT_EQ(kGuid1, db.disks[0].diskGuid);
        }
    }
    // A missing last part invalidates the record too.
    slots.pop_back();
    const std::vector<std::uint8_t> area = Area(slots);
    EXPECT_FALSE(ParseVblkRecords(area.data(), area.size())[0].valid);
}

TEST(LdmDatabase, SpannedVolumeOverTwoDisksComesOutOnceWithMembersOnBoth) {
    ProbeHooks probes;
    const std::vector<std::uint8_t> area = AreaOf(SpannedDatabase());
    auto disk1 = MakeLdmDisk({8192, kGuid1, area});
    auto disk2 = MakeLdmDisk({8192, kGuid2, area});
    // An NTFS boot sector at the volume's start (disk 1, 63 + 100).
    std::uint8_t* boot = disk1->Sector(163);
    std::memcpy(boot + 3, "NTFS    ", 8);
    boot[0x0C] = 0x02;  // 512 bytes per sector
    boot[0x0D] = 8;     // sectors per cluster
    boot[510] = 0x55;
    boot[511] = 0xAA;
    boot[0x28] = 0x2B;  // 299 sectors
    boot[0x29] = 0x01;
    disk2->Sector(63 + 50)[0] = 0x5A;  // volume sector 200

    std::vector<DynamicVolumeEntry> out;
    ASSERT_EQ(1, CollectDynamicVolumes({disk1.get(), disk2.get()}, out));
    EXPECT_EQ("SPANNED", out[0].typeName);
    EXPECT_EQ(300u, out[0].sectorCount);
    EXPECT_EQ(FILESYSTEM_NTFS, out[0].fileSystemType);
    std::vector<const DynamicMember*> members;
    out[0].device->GetMembers(members);
    ASSERT_EQ(2u, members.size());
    EXPECT_EQ(disk1.get(), members[0]->disk);
    EXPECT_EQ(163u, members[0]->startSector);
    EXPECT_EQ(disk2.get(), members[1]->disk);
    std::uint8_t sector[512];
    ASSERT_EQ(1, out[0].device->ReadSectors(sector, 200, 1));
    EXPECT_EQ(0x5A, sector[0]);

    // Without disk 2 the volume still exists; its size comes from the NTFS boot sector.
    out.clear();
    ASSERT_EQ(1, CollectDynamicVolumes({disk1.get()}, out));
    EXPECT_EQ(300u, out[0].sectorCount);
    EXPECT_EQ(0, out[0].device->ReadSectors(sector, 200, 1));
}

TEST(LdmDatabase, VolumeKindsSizesAndMemberLimits) {
    struct Case {
        const char* what;
        std::uint8_t kind, componentType;
        std::uint64_t partitionCount;
        const char* type;
        std::uint64_t sectors;
        std::size_t members;
    };
    const Case cases[] = {
        {"raid-5 of three members of 1000", 4, 3, 3, "RAID5", 2000, 3},
        {"raid-5 component", 3, 3, 3, "RAID5", 2000, 3},
        {"striped", 3, 1, 3, "STRIPPED", 3000, 3},
        {"spanned", 3, 2, 3, "SPANNED", 3000, 3},
        {"partition count below the chain", 3, 2, 2, "SPANNED", 2000, 2},
        {"one partition", 3, 2, 1, "SIMPLE", 1000, 1},
    };
    const std::string guids[] = {kGuid1, kGuid2, "77777777-7777-7777-7777-777777777777"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<VblkRecipe> records = {Volume(1, VolumeData(10, "V", c.kind, 1, 3000, 0x07)),
                                         Component(2, ComponentData(20, c.componentType, c.partitionCount, 10))};
        for (std::uint32_t i = 0; i < 3; ++i) {
            const bool striped = c.componentType != 2;
            records.push_back(Partition(3 + i, PartitionData(30 + i, 100, striped ? 0 : i * 1000, 1000, 20, 40 + i, striped ? i : 0)));
            records.push_back(Disk(6 + i, DiskData(40 + i, guids[i])));
        }
        const std::vector<std::uint8_t> area = AreaOf(records);
        std::vector<std::unique_ptr<testsupport::MemoryDevice>> disks;
        for (const std::string& g : guids)
            disks.push_back(MakeLdmDisk({4400, g, area}));
        std::vector<DynamicVolumeEntry> out;
        ASSERT_EQ(1, CollectDynamicVolumes({disks[0].get(), disks[1].get(), disks[2].get()}, out));
        EXPECT_EQ(c.type, out[0].typeName);
        EXPECT_EQ(c.sectors, out[0].sectorCount);
        std::vector<const DynamicMember*> members;
        out[0].device->GetMembers(members);
        EXPECT_EQ(c.members, members.size());
        // With the partitions linked last first, the member sort restores the column order.
        for (std::size_t i = 1; i < members.size(); ++i)
            EXPECT_TRUE(members[i - 1]->columnIndex < members[i]->columnIndex ||
                        members[i - 1]->volumeOffset < members[i]->volumeOffset);
    }
}

TEST(LdmDatabase, FileSystemComesFromTheBootSectorNotThePartitionType) {
    ProbeHooks probes;
    ASSERT_TRUE(testsupport::RequireTool("mkfs.fat"));
    const std::string image = testsupport::ScratchDir("ldm-fat") + "/fat.img";
    ASSERT_TRUE(testsupport::MustRun("mkfs.fat -F 12 -n DYNFAT -C " + testsupport::ShellQuote(image) + " 1024"));
    const std::vector<std::uint8_t> fat = testsupport::ReadFileBytes(image);
    ASSERT_EQ(1024u * 1024u, fat.size());
    struct Case {
        const char* what;
        std::uint8_t partitionType;
        bool withFat;
        std::uint32_t fs;
        const char* label;
    };
    const Case cases[] = {
        {"NTFS partition type holding FAT", 0x07, true, FILESYSTEM_FAT12, "DYNFAT"},
        {"Linux partition type, nothing the probes know", 0x83, false, FILESYSTEM_UNKNOWN, ""},
        {"NTFS partition type, zeros", 0x07, false, FILESYSTEM_UNKNOWN, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<std::uint8_t> area = AreaOf({
            Volume(1, VolumeData(10, "Volume1", 3, 1, 2048, c.partitionType)),
            Component(2, ComponentData(20, 2, 1, 10)),
            Partition(3, PartitionData(30, 100, 0, 2048, 20, 40, 0)),
            Disk(4, DiskData(40, kGuid1)),
        });
        auto disk = MakeLdmDisk({8192, kGuid1, area});
        if (c.withFat)
            std::memcpy(disk->Sector(163), fat.data(), fat.size());
        std::vector<DynamicVolumeEntry> out;
        ASSERT_EQ(1, CollectDynamicVolumes({disk.get()}, out));
        EXPECT_EQ("SIMPLE", out[0].typeName);
        EXPECT_EQ(c.fs, out[0].fileSystemType);
        EXPECT_EQ(c.label, out[0].label);
        EXPECT_EQ(0, out[0].driveLetter);
    }
}

TEST(LdmDatabase, PrivateHeaderPlacesAndConfigurationBounds) {
    const std::vector<std::uint8_t> area = AreaOf(SpannedDatabase());
    struct Case {
        const char* what;
        std::int64_t headerSector, configStart;
        bool found;
        std::uint64_t expectedCount;  // sectors asked for at the configuration start, 0: no read
    };
    const Case cases[] = {
        {"last sector", -1, -1, true, 2048},
        {"sector 6", 6, 4000, true, 2048},
        {"sector 2081 only", 2081, 4000, true, 2048},
        {"configuration in the last sector", 2081, 8191, true, 2048},
        {"configuration two sectors before the end", 2081, 8190, true, 0},
        {"short configuration", 2081, 7000, true, 1190},
        {"no header", 100, -1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto disk = MakeLdmDisk({8192, kGuid1, area, c.headerSector, c.configStart});
        if (c.headerSector == 100)
            std::memset(disk->Sector(100), 0, 512);
        const std::uint64_t configStart = c.configStart < 0 ? 8192 - 2050 : static_cast<std::uint64_t>(c.configStart);
        std::vector<DynamicVolumeEntry> out;
        disk->ClearCalls();
        EXPECT_EQ(c.found ? 1 : 0, ReadLdmDatabase(disk.get(), {disk.get()}, out));
        std::uint64_t asked = 0;
        for (const auto& call : disk->Calls())
            if (call.first == configStart && call.count > 1)
                asked = call.count;
        EXPECT_EQ(c.expectedCount, asked);
    }
}

TEST(LdmDatabase, DiskKindAndPartitionTypes) {
    testsupport::MemoryDevice plain(64), mbr(64), gpt(64);
    mbr.Sector(0)[0x1BE + 16 + 4] = 0x42;
    mbr.Sector(0)[510] = 0x55;
    mbr.Sector(0)[511] = 0xAA;
    const char name[] = "LDM metadata partition";
    for (std::size_t i = 0; i + 1 < sizeof name; ++i)
        gpt.Sector(2)[56 + 2 * i] = static_cast<std::uint8_t>(name[i]);
    EXPECT_EQ(0, IsDynamicDiskDevice(&plain));
    EXPECT_EQ(1, IsDynamicDiskDevice(&mbr));
    EXPECT_EQ(1, IsDynamicDiskDevice(&gpt));
    gpt.FailSector(2);
    EXPECT_EQ(0, IsDynamicDiskDevice(&gpt));

    const std::pair<int, std::uint32_t> types[] = {
        {0x01, FILESYSTEM_FAT12}, {0x11, FILESYSTEM_FAT12}, {0x06, FILESYSTEM_FAT16}, {0x1E, FILESYSTEM_FAT16},
        {0x0B, FILESYSTEM_FAT32}, {0x1B, FILESYSTEM_FAT32}, {0x07, FILESYSTEM_NTFS},  {0x17, FILESYSTEM_NTFS},
        {0x83, FILESYSTEM_EXT2},  {0x93, FILESYSTEM_EXT2},  {0x42, FILESYSTEM_UNKNOWN}, {0x00, FILESYSTEM_UNKNOWN},
    };
    for (auto [type, fs] : types)
        EXPECT_EQ(fs, MapPartitionTypeToFileSystem(static_cast<std::uint8_t>(type))) << type;
}

// A dynamic disk with a GPT (LDM data, Microsoft reserved and LDM metadata partitions, made by
// sgdisk; the private header is the metadata partition's last sector): it is dynamic by both
// tests, none of its partitions is listed as a basic volume, and its volume comes from the
// database. On a basic GPT disk the reserved partition is no volume either.
TEST(LdmDatabase, GptDynamicDiskVolumesComeFromTheDatabase) {
    ProbeHooks probes;
    ASSERT_TRUE(testsupport::RequireTool("sgdisk") && testsupport::RequireTool("mkfs.fat"));
    constexpr std::uint64_t kSectors = 16384, kMetaFirst = 12101, kMetaLast = kMetaFirst + 2047;
    const std::string gpt = testsupport::CachedFixture("ldm-gpt-dynamic-v1.img", [&](const std::string& tmp) {
        const std::string q = testsupport::ShellQuote(tmp);
        return testsupport::MustRun("truncate -s 8M " + q) &&
               testsupport::MustRun("sgdisk -a 1 -n 1:63:12000 -t 1:4200 -n 2:12001:12100 -t 2:0c01 -n 3:" +
                                    std::to_string(kMetaFirst) + ":" + std::to_string(kMetaLast) +
                                    " -t 3:4201 " + q);
    });
    const std::string basic = testsupport::CachedFixture("pt-gpt-msr-v1.img", [&](const std::string& tmp) {
        const std::string q = testsupport::ShellQuote(tmp);
        return testsupport::MustRun("truncate -s 8M " + q) &&
               testsupport::MustRun("sgdisk -n 1:2048:+1M -t 1:0c01 -n 2:0:+4M -t 2:0700 " + q);
    });
    ASSERT_FALSE(gpt.empty());
    ASSERT_FALSE(basic.empty());
    const std::string fatImage = testsupport::ScratchDir("ldm-gpt") + "/fat.img";
    ASSERT_TRUE(testsupport::MustRun("mkfs.fat -F 12 -n GPTDYN -C " + testsupport::ShellQuote(fatImage) + " 1024"));
    const std::vector<std::uint8_t> fat = testsupport::ReadFileBytes(fatImage);

    const std::vector<std::uint8_t> area = AreaOf({
        Volume(1, VolumeData(10, "Volume1", 3, 1, 2048, 0x07)),
        Component(2, ComponentData(20, 2, 1, 10)),
        Partition(3, PartitionData(30, 100, 0, 2048, 20, 40, 0)),
        Disk(4, DiskData(40, kGuid1)),
    });
    auto disk = MakeLdmDisk({kSectors, kGuid1, area, static_cast<std::int64_t>(kMetaLast),
                             static_cast<std::int64_t>(kMetaFirst)});
    const std::vector<std::uint8_t> table = testsupport::ReadFileBytes(gpt);
    ASSERT_EQ(table.size(), kSectors * 512);
    std::memcpy(disk->Sector(0), table.data(), 34 * 512);
    std::memcpy(disk->Sector(kSectors - 33), table.data() + (kSectors - 33) * 512, 33 * 512);
    std::memcpy(disk->Sector(163), fat.data(), fat.size());

    EXPECT_TRUE(IsGptDisk(disk.get()));
    EXPECT_TRUE(IsDynamicDisk(disk.get()));
    EXPECT_EQ(1, IsDynamicDiskDevice(disk.get()));

    DiskList disks{disk.get()};
    VolumeList basicVolumes;
    CollectBasicVolumes(disks, basicVolumes);
    EXPECT_TRUE(basicVolumes.empty());
    FreeVolumeRecords(basicVolumes);
    // Read as a basic table, the three partitions are still none of them a volume.
    PartitionList list;
    EXPECT_EQ(ReadGptPartitions(disk.get(), list), 0u);

    std::vector<DynamicVolumeEntry> out;
    ASSERT_EQ(1, CollectDynamicVolumes({disk.get()}, out));
    EXPECT_EQ("SIMPLE", out[0].typeName);
    EXPECT_EQ(FILESYSTEM_FAT12, out[0].fileSystemType);
    EXPECT_EQ("GPTDYN", out[0].label);
    EXPECT_EQ(2048u, out[0].sectorCount);

    testsupport::MemoryDevice basicDisk(testsupport::ReadFileBytes(basic));
    EXPECT_FALSE(IsDynamicDisk(&basicDisk));
    EXPECT_EQ(0, IsDynamicDiskDevice(&basicDisk));
    PartitionList basicList;
    ASSERT_EQ(ReadGptPartitions(&basicDisk, basicList), 1u);
    EXPECT_EQ(basicList[0]->u64FirstSector, 2048u + 2048u);
}

} // namespace
