// The five dynamic volume devices on in-memory member disks.
#include "storage/DynamicVolumeDevice.h"
#include "storage/FileSystemType.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using testsupport::MemoryDevice;

namespace {

constexpr std::uint64_t kStart = 10;  // every member begins at this sector of its disk

// One disk per member, filled with distinct pattern bytes.
struct Members {
    std::vector<std::unique_ptr<MemoryDevice>> disks;
    std::vector<DynamicMember> members;

    Members(std::size_t count, std::uint64_t sectorsEach, bool spanned) {
        for (std::size_t i = 0; i < count; ++i) {
            disks.push_back(std::make_unique<MemoryDevice>(
                testsupport::PatternBytes((kStart + sectorsEach) * kSectorSize, static_cast<std::uint32_t>(i + 1))));
            DynamicMember m;
            m.columnIndex = static_cast<std::uint32_t>(spanned ? 0 : i);
            m.diskGuid = "guid-" + std::to_string(i);
            m.startSector = kStart;
            m.volumeOffset = spanned ? i * sectorsEach : 0;
            m.sectorCount = sectorsEach;
            m.disk = disks.back().get();
            members.push_back(m);
        }
    }
    // Sector `position` of member i's extent.
    const std::uint8_t* At(std::size_t i, std::uint64_t position) { return disks[i]->Sector(kStart + position); }
};

DynamicVolumeInfo Info(std::uint64_t sectors) {
    DynamicVolumeInfo info;
    info.groupName = "Group";
    info.volumeName = "Volume1";
    info.fileSystemType = FILESYSTEM_NTFS;
    info.sectorCount = sectors;
    return info;
}

std::vector<std::uint8_t> Read(IStorageDevice* dev, std::uint64_t first, std::uint64_t count, int* result) {
    std::vector<std::uint8_t> buf(count * kSectorSize, 0xEE);
    *result = dev->ReadSectors(buf.data(), first, count);
    return buf;
}

bool SectorIs(const std::vector<std::uint8_t>& buf, std::uint64_t index, const std::uint8_t* expected) {
    return std::memcmp(buf.data() + index * kSectorSize, expected, kSectorSize) == 0;
}

bool SectorIsZero(const std::vector<std::uint8_t>& buf, std::uint64_t index) {
    const std::uint8_t zero[kSectorSize] = {};
    return SectorIs(buf, index, zero);
}

TEST(DynamicVolumeDevice, CommonChecksAndClippingForEveryKind) {
    Members set(3, 256, false);
    Members spannedSet(2, 384, true);
    std::vector<std::unique_ptr<IDynamicDevice>> devices;
    devices.push_back(CreateSimpleVolumeDevice(DYNAMIC_VOLUME_SIMPLE, Info(256), {set.members[0]}));
    devices.push_back(CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(768), spannedSet.members));
    devices.push_back(CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(768), set.members));
    devices.push_back(CreateRaid5VolumeDevice(Info(512), set.members));
    devices.push_back(CreateMirrorVolumeDevice(
        Info(256), CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, Info(256), {set.members[1]}), nullptr));
    for (auto& dev : devices) {
        ASSERT_TRUE(dev);
        SCOPED_TRACE(dev->GetVolumeType());
        const std::uint64_t size = dev->GetSectorCount();
        int r = 0;
        // A count larger than the volume fails at once and leaves the caller's buffer alone.
        std::vector<std::uint8_t> big((size + 1) * kSectorSize, 0xEE);
        EXPECT_EQ(0, dev->ReadSectors(big.data(), 0, size + 1));
        EXPECT_EQ(0xEE, big[0]);
        Read(dev.get(), size, 1, &r);
        EXPECT_EQ(0, r) << "first == size";
        Read(dev.get(), 1ull << 63, 1, &r);
        EXPECT_EQ(0, r);
        // Running past the end is clipped: the tail is zero, the sectors inside are read.
        auto tail = Read(dev.get(), size - 2, 5, &r);
        EXPECT_EQ(1, r);
        EXPECT_FALSE(SectorIsZero(tail, 1));
        for (int i = 2; i < 5; ++i)
            EXPECT_TRUE(SectorIsZero(tail, i));
        Read(dev.get(), 0, size, &r);
        EXPECT_EQ(1, r);
        EXPECT_EQ(1, dev->Open());
        EXPECT_EQ(FILESYSTEM_NTFS, dev->GetFileSystemType());
    }
}

TEST(DynamicVolumeDevice, SpannedCrossesFromOneMemberToTheNext) {
    Members set(2, 0, true);
    set.members[0].sectorCount = 100;
    set.members[1].volumeOffset = 100;
    set.members[1].sectorCount = 50;
    for (auto& d : set.disks)
        d->Bytes() = testsupport::PatternBytes((kStart + 100) * kSectorSize, d == set.disks[0] ? 7 : 8);
    auto dev = CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(150), set.members);
    int r = 0;
    auto buf = Read(dev.get(), 90, 20, &r);
    ASSERT_EQ(1, r);
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(SectorIs(buf, i, set.At(0, 90 + i)));
        EXPECT_TRUE(SectorIs(buf, 10 + i, set.At(1, i)));
    }
    // A member that cannot be read leaves zeros and fails the read; the rest is delivered.
    set.disks[1]->FailSector(kStart + 5);
    buf = Read(dev.get(), 90, 20, &r);
    EXPECT_EQ(0, r);
    EXPECT_TRUE(SectorIs(buf, 9, set.At(0, 99)));
    EXPECT_TRUE(SectorIsZero(buf, 15));
    // A gap in the volume offsets leaves the rest uncovered.
    set.disks[1]->ClearFailures();
    set.members[1].volumeOffset = 120;
    dev = CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(170), set.members);
    Read(dev.get(), 95, 10, &r);
    EXPECT_EQ(0, r);
}

TEST(DynamicVolumeDevice, StripedAndRaid5MapSectorsToColumns) {
    Members set(3, 512, false);
    auto striped = CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(1536), set.members);
    auto raid5 = CreateRaid5VolumeDevice(Info(1024), set.members);
    struct Case {
        IDynamicDevice* dev;
        std::uint64_t sector;
        std::size_t member;
        std::uint64_t position;
    };
    const Case cases[] = {
        {striped.get(), 300, 2, 44},   // row 0, column 2, offset 44
        {striped.get(), 400, 0, 144},  // row 1, column 0, offset 16
        {striped.get(), 0, 0, 0},
        {raid5.get(), 0, 0, 0},        // row 0: parity on member 2
        {raid5.get(), 127, 0, 127},
        {raid5.get(), 128, 1, 0},
        {raid5.get(), 256, 2, 128},    // row 1: parity on member 1
        {raid5.get(), 384, 0, 128},
        {raid5.get(), 512, 1, 256},    // row 2: parity on member 0
        {raid5.get(), 640, 2, 256},
    };
    for (const Case& c : cases) {
        int r = 0;
        auto buf = Read(c.dev, c.sector, 1, &r);
        ASSERT_EQ(1, r);
        EXPECT_TRUE(SectorIs(buf, 0, set.At(c.member, c.position))) << c.dev->GetVolumeType() << " " << c.sector;
    }
}

TEST(DynamicVolumeDevice, Raid5RebuildsAMissingMemberAndFailsOnASecond) {
    Members set(3, 256, false);
    // Make member 2's extent the parity of members 0 and 1 in row 0.
    for (std::uint64_t s = 0; s < 128; ++s)
        for (std::size_t b = 0; b < kSectorSize; ++b)
            const_cast<std::uint8_t*>(set.At(2, s))[b] = set.At(0, s)[b] ^ set.At(1, s)[b];
    std::vector<std::uint8_t> expected(set.At(0, 0), set.At(0, 0) + 128 * kSectorSize);

    std::vector<DynamicMember> degraded = set.members;
    degraded[0].disk = nullptr;
    auto dev = CreateRaid5VolumeDevice(Info(512), degraded);
    ASSERT_TRUE(dev);
    int r = 0;
    auto buf = Read(dev.get(), 0, 128, &r);
    EXPECT_EQ(1, r);
    EXPECT_TRUE(buf == expected);

    set.disks[1]->FailSector(kStart + 3);
    buf = Read(dev.get(), 0, 128, &r);
    EXPECT_EQ(0, r);

    degraded[1].disk = nullptr;
    EXPECT_FALSE(CreateRaid5VolumeDevice(Info(512), degraded)) << "two members missing";
    EXPECT_FALSE(CreateRaid5VolumeDevice(Info(256), {set.members[0]})) << "one member only";
}

TEST(DynamicVolumeDevice, FactoriesRefuseWhatCannotBeRead) {
    Members set(2, 64, true);
    std::vector<DynamicMember> none = set.members;
    none[0].disk = none[1].disk = nullptr;
    EXPECT_FALSE(CreateSimpleVolumeDevice(DYNAMIC_VOLUME_SIMPLE, Info(64), none));
    EXPECT_FALSE(CreateSimpleVolumeDevice(DYNAMIC_VOLUME_SIMPLE, Info(64), set.members)) << "two disks";
    EXPECT_FALSE(CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(128), none));
    EXPECT_FALSE(CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(128), none));
    EXPECT_FALSE(CreateMirrorVolumeDevice(Info(64), nullptr, nullptr));
    // Members without a disk still make a spanned volume; their sectors read as a failure.
    std::vector<DynamicMember> half = set.members;
    half[1].disk = nullptr;
    auto dev = CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(128), half);
    ASSERT_TRUE(dev);
    int r = 0;
    Read(dev.get(), 0, 64, &r);
    EXPECT_EQ(1, r);
    auto buf = Read(dev.get(), 60, 8, &r);
    EXPECT_EQ(0, r);
    EXPECT_TRUE(SectorIsZero(buf, 5));
}

TEST(DynamicVolumeDevice, SameVolumeNeedsSameTypeAndEqualMembers) {
    Members set(2, 64, false);
    auto a = CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(128), set.members);
    auto b = CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(128), set.members);
    auto spanned = CreateSpannedVolumeDevice(DYNAMIC_VOLUME_SPANNED, Info(128), set.members);
    std::vector<DynamicMember> moved = set.members;
    moved[1].startSector += 1;
    auto c = CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(128), moved);
    EXPECT_EQ(1, a->IsSameVolume(b.get()));
    EXPECT_EQ(0, a->IsSameVolume(spanned.get()));
    EXPECT_EQ(0, a->IsSameVolume(c.get()));
    EXPECT_EQ(0, a->IsSameVolume(nullptr));

    auto mirror1 = CreateMirrorVolumeDevice(
        Info(64), CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, Info(64), {set.members[0]}),
        CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, Info(64), {set.members[1]}));
    auto mirror2 = CreateMirrorVolumeDevice(
        Info(64), CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, Info(64), {set.members[1]}),
        CreateSimpleVolumeDevice(DYNAMIC_VOLUME_MIRROR, Info(64), {set.members[0]}));
    std::vector<const DynamicMember*> members;
    mirror1->GetMembers(members);
    ASSERT_EQ(2u, members.size());
    EXPECT_EQ("guid-0", members[0]->diskGuid);
    EXPECT_EQ(1, mirror1->IsSameVolume(mirror2.get()));
}

} // namespace
