// Real dynamic disks made by Windows: every volume must read like a device.
#include "tests/support/TreePtr.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsStructures.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/DynamicDisk.h"
#include "tests/storage/LdmFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

using ldmtest::OpenLdmDisks;
using ldmtest::Pointers;

namespace {

const std::vector<std::string> kNames2003 = {"simple-1",   "spanned-1",  "spanned-2", "striped-1", "striped-2",
                                             "mirrored-1", "mirrored-2", "raid5-1",   "raid5-2",   "raid5-3"};
const std::vector<std::string> kNames2008(kNames2003.begin() + 1, kNames2003.end());

std::uint64_t Le64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

struct Volume {
    std::string type;
    std::uint64_t sectors;
    std::vector<std::string> memberDisks;  // in member order
};

std::vector<Volume> Describe(const std::vector<DynamicVolumeEntry>& entries,
                             const std::vector<std::unique_ptr<IStorageDevice>>& disks,
                             const std::vector<std::string>& names) {
    std::vector<Volume> out;
    for (const auto& e : entries) {
        Volume v{e.typeName, e.sectorCount, {}};
        std::vector<const DynamicMember*> members;
        e.device->GetMembers(members);
        for (const DynamicMember* m : members) {
            std::string name = "-";
            for (std::size_t i = 0; i < disks.size(); ++i)
                if (disks[i].get() == m->disk)
                    name = names[i];
            v.memberDisks.push_back(name);
        }
        out.push_back(v);
    }
    return out;
}

// The NTFS boot sector at sector 0, its copy at the sector its size names, and test.txt's
// content read through the NTFS quick scan.
void ExpectNtfsVolume(IStorageDevice* volume, const std::string& what) {
    SCOPED_TRACE(what);
    std::vector<std::uint8_t> boot(kSectorSize);
    ASSERT_EQ(1, volume->ReadSectors(boot.data(), 0, 1));
    ASSERT_EQ(0, std::memcmp(boot.data() + 3, "NTFS    ", 8));
    const std::uint64_t total = Le64(boot.data() + 0x28);
    ASSERT_LT(total, volume->GetSectorCount());
    std::vector<std::uint8_t> copy(kSectorSize);
    ASSERT_EQ(1, volume->ReadSectors(copy.data(), total, 1));
    EXPECT_EQ(boot, copy) << "backup boot sector at " << total;

    // test.txt through the NTFS quick scan, read through its run list.
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    CNullDirBuildCallback callback;
    FileTreePtr root(BuildNtfsFileTree(volume, &params, &callback));
    ASSERT_TRUE(root);
    const CFileNode* file = nullptr;
    for (CFileNode* c = root->m_pFirstChild; c; c = c->m_pNextSibling)
        if (std::string(c->m_pProperties->GetName()) == "test.txt")
            file = c;
    ASSERT_TRUE(file);
    ASSERT_EQ(15u, file->m_pProperties->GetFileSize());
    std::unique_ptr<IDataRunList> runs(file->m_pProperties->GetDataRunList());
    ASSERT_TRUE(runs);
    const DataRun* run = runs->GetFirstRun();
    ASSERT_TRUE(run);
    std::vector<std::uint8_t> data(4096);
    if (runs->IsResident()) {
        ASSERT_EQ(1, volume->ReadSectors(data.data(), run->start, 2));
        ASSERT_TRUE(ApplyFixups(data.data(), 1024));
        data.erase(data.begin(), data.begin() + runs->GetResidentOffset());
    } else {
        const unsigned spc = boot[0x0D];
        ASSERT_EQ(1, volume->ReadSectors(data.data(), run->start * spc, 1));
    }
    EXPECT_EQ("Filesystem test", std::string(data.begin(), data.begin() + 15));
}

// 1000 sectors out of every 9000 (crossing every parity rotation), and the volume's tail.
std::vector<std::uint8_t> ReadSample(IStorageDevice* volume, int* result) {
    const std::uint64_t n = volume->GetSectorCount();
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(1000 * kSectorSize);
    *result = 1;
    for (std::uint64_t s = 0; s < n; s = (s + 9000 < n || s + 1000 >= n) ? s + 9000 : n - 1000) {
        if (volume->ReadSectors(chunk.data(), s, 1000) != 1)
            *result = 0;
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    }
    return bytes;
}

TEST(DynamicVolumeFixture, EveryVolumeOfBothSetsReadsAsNtfs) {
    ldmtest::ProbeHooks probes;
    struct Expected {
        const char* set;
        std::vector<Volume> volumes;
    };
    const Expected sets[] = {
        {"2003r2",
         {{"SPANNED", 192512, {"spanned-2", "spanned-1"}},
          {"SIMPLE", 96256, {"simple-1"}},
          {"SPANNED", 69632, {"striped-1", "striped-2"}},
          {"STRIPPED", 122880, {"striped-1", "striped-2"}},
          {"RAID5", 192512, {"raid5-3", "raid5-2", "raid5-1"}},
          {"MIRROR", 96256, {"mirrored-2", "mirrored-1"}}}},
        {"2008r2",
         {{"RAID5", 65536, {"raid5-1", "raid5-2", "raid5-3"}},
          {"SPANNED", 129024, {"spanned-1", "spanned-2"}},
          {"STRIPPED", 65536, {"striped-1", "striped-2"}},
          {"MIRROR", 32768, {"mirrored-2", "mirrored-1"}},
          {"SPANNED", 190464, {"raid5-1", "striped-1", "mirrored-1"}}}},
    };
    for (const Expected& set : sets) {
        SCOPED_TRACE(set.set);
        const auto& names = std::string(set.set) == "2003r2" ? kNames2003 : kNames2008;
        auto disks = OpenLdmDisks(set.set, names);
        std::vector<DynamicVolumeEntry> entries;
        // Every disk carries the whole database; each volume still comes out once.
        EXPECT_EQ(static_cast<int>(set.volumes.size()), CollectDynamicVolumes(Pointers(disks), entries));
        const std::vector<Volume> found = Describe(entries, disks, names);
        ASSERT_EQ(set.volumes.size(), found.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(set.volumes[i].type, found[i].type) << i;
            EXPECT_EQ(set.volumes[i].sectors, found[i].sectors) << i;
            EXPECT_EQ(set.volumes[i].memberDisks, found[i].memberDisks) << i;
            EXPECT_EQ(FILESYSTEM_NTFS, entries[i].fileSystemType);
            ExpectNtfsVolume(entries[i].device.get(), std::string(set.set) + " " + found[i].type);
        }
    }
}

TEST(DynamicVolumeFixture, Raid5ReadsTheSameWithOneMemberGoneAndFailsWithTwo) {
    ldmtest::ProbeHooks probes;
    auto disks = OpenLdmDisks("2003r2", {"raid5-1", "raid5-2", "raid5-3"});
    std::vector<DynamicVolumeEntry> whole;
    ASSERT_EQ(1, CollectDynamicVolumes(Pointers(disks), whole));
    int ok = 0;
    const std::vector<std::uint8_t> expected = ReadSample(whole[0].device.get(), &ok);
    ASSERT_EQ(1, ok);

    for (std::size_t gone = 0; gone < 3; ++gone) {
        SCOPED_TRACE(gone);
        std::vector<IStorageDevice*> present = Pointers(disks);
        present.erase(present.begin() + static_cast<std::ptrdiff_t>(gone));
        std::vector<DynamicVolumeEntry> degraded;
        ASSERT_EQ(1, CollectDynamicVolumes(present, degraded));
        ASSERT_EQ("RAID5", degraded[0].typeName);
        // Without every member the size comes from the file system at the volume's start.
        EXPECT_EQ(whole[0].sectorCount, degraded[0].sectorCount);
        ExpectNtfsVolume(degraded[0].device.get(), "degraded");
        EXPECT_TRUE(ReadSample(degraded[0].device.get(), &ok) == expected);
        EXPECT_EQ(1, ok);
    }

    std::vector<DynamicVolumeEntry> broken;
    EXPECT_EQ(0, CollectDynamicVolumes({disks[0].get()}, broken));
}

// Passes reads through to a disk except those that touch chosen sectors.
class FailingDisk : public IStorageDevice {
public:
    FailingDisk(IStorageDevice* inner, std::set<std::uint64_t> bad) : m_inner(inner), m_bad(std::move(bad)) {}
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        auto it = m_bad.lower_bound(first);
        if (it != m_bad.end() && *it - first < count)
            return 0;
        return m_inner->ReadSectors(buffer, first, count);
    }
    std::uint64_t GetSectorCount() override { return m_inner->GetSectorCount(); }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    IStorageDevice* m_inner;
    std::set<std::uint64_t> m_bad;
};

TEST(DynamicVolumeFixture, MirrorReadsAroundAFailingSectorInEitherPlex) {
    auto disks = OpenLdmDisks("2003r2", {"mirrored-1", "mirrored-2"});
    std::vector<DynamicVolumeEntry> good;
    ASSERT_EQ(1, CollectDynamicVolumes(Pointers(disks), good));
    std::vector<std::uint8_t> expected(200 * kSectorSize);
    ASSERT_EQ(1, good[0].device->ReadSectors(expected.data(), 0, 200));

    // Volume sector 100 lies at disk sector 63 + 100 on both members.
    struct Case {
        std::set<std::uint64_t> bad1, bad2;
        int result;
    };
    const Case cases[] = {
        {{}, {163}, 1},
        {{163}, {}, 1},
        {{163, 170}, {120, 164}, 1},
        {{163}, {163}, 0},
    };
    for (const Case& c : cases) {
        FailingDisk d1(disks[0].get(), c.bad1), d2(disks[1].get(), c.bad2);
        std::vector<DynamicVolumeEntry> entries;
        // The mirror finds its members through the failing wrappers.
        ASSERT_EQ(1, CollectDynamicVolumes({&d1, &d2}, entries));
        std::vector<std::uint8_t> got(200 * kSectorSize, 0xEE);
        EXPECT_EQ(c.result, entries[0].device->ReadSectors(got.data(), 0, 200));
        if (c.result == 1) {
            EXPECT_TRUE(got == expected);
        } else {
            const std::vector<std::uint8_t> zero(kSectorSize, 0);
            EXPECT_TRUE(std::equal(zero.begin(), zero.end(), got.begin() + 100 * kSectorSize));
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + 100 * kSectorSize, expected.begin()));
        }
    }
}

} // namespace
