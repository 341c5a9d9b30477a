#include "filesystems/probes/VolumeAnalyzers.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DeviceList.h"
#include "storage/PartitionTable.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using testsupport::MemoryDevice;
using testsupport::MustRun;
using testsupport::ShellQuote;

namespace {

// A file-system image made by the real tool, cached for the build tree.
std::vector<std::uint8_t> FsImage(const std::string& kind) {
    const std::string path = testsupport::CachedFixture("probe-" + kind + ".img", [&](const std::string& tmp) {
        const std::string q = ShellQuote(tmp);
        if (kind == "ntfs")
            return testsupport::RequireTool("mkntfs") && MustRun("truncate -s 8M " + q) &&
                   MustRun("mkntfs -q -F -Q -L 'Ntfs Label' " + q);
        if (kind == "ext2")
            return testsupport::RequireTool("mke2fs") && MustRun("truncate -s 4M " + q) &&
                   MustRun("mke2fs -q -F -t ext2 -b 1024 -I 128 -L 'Second-ext' " + q);
        if (kind == "ext3")
            return testsupport::RequireTool("mke2fs") && MustRun("truncate -s 8M " + q) &&
                   MustRun("mke2fs -q -F -t ext3 -b 4096 -L 'Ext Three' " + q);
        if (!testsupport::RequireTool("mkfs.fat"))
            return false;
        if (kind == "fat12")
            return MustRun("mkfs.fat -C -F 12 -n TWELVE " + q + " 2048");
        if (kind == "fat16")
            return MustRun("mkfs.fat -C -F 16 -n SIXTEEN " + q + " 16384");
        if (kind == "fat32")
            return MustRun("mkfs.fat -C -F 32 -s 1 -n THIRTYTWO " + q + " 36864");
        return false;
    });
    return path.empty() ? std::vector<std::uint8_t>{} : testsupport::ReadFileBytes(path);
}

std::vector<std::uint8_t> At(std::uint64_t sector, const std::vector<std::uint8_t>& image,
                             std::uint64_t tailSectors = 0) {
    std::vector<std::uint8_t> bytes(sector * kSectorSize);
    bytes.insert(bytes.end(), image.begin(), image.end());
    bytes.resize(bytes.size() + tailSectors * kSectorSize);
    return bytes;
}

struct ProbeAnswer {
    std::uint32_t type;
    std::uint64_t total;
    std::string label;
    int winner; // 1 the NTFS probe, 2 the FAT probe, 3 the EXT2/EXT3 probe
    std::size_t count;
};

ProbeAnswer Probe(IStorageDevice* device, std::uint64_t first) {
    VolumeProbeList probes;
    CreateVolumeAnalyzers(probes, device, first);
    ProbeAnswer a{};
    a.count = probes.size();
    IVolume* winner = FindVolumeAnalyzer(probes);
    a.type = winner->GetFileSystemType();
    a.total = winner->GetTotalSectors();
    char label[100];
    winner->GetVolumeLabel(label, sizeof(label));
    a.label.assign(label, strnlen(label, sizeof(label)));
    a.winner = 0;
    for (std::size_t i = 0; i < probes.size(); ++i)
        if (winner == probes[i])
            a.winner = static_cast<int>(i + 1);
    DeleteDeviceList(probes);
    return a;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

TEST(VolumeProbes, RecogniseRealFileSystemsAtSectorZeroAndInsideADisk) {
    struct Case {
        const char* kind;
        std::uint32_t type;
        std::uint64_t total;
        const char* label;
        int winner; // 1 the NTFS probe, 2 the FAT probe, 3 the EXT2/EXT3 probe
        std::uint32_t bootType; // what the boot-sector classifier says of the first sector
    };
    const Case cases[] = {
        {"ntfs", FILESYSTEM_NTFS, 16383, "Ntfs Label", 1, FILESYSTEM_NTFS},
        {"fat12", FILESYSTEM_FAT12, 4096, "TWELVE", 2, FILESYSTEM_FAT12},
        {"fat16", FILESYSTEM_FAT16, 32768, "SIXTEEN", 2, FILESYSTEM_FAT16},
        {"fat32", FILESYSTEM_FAT32, 73728, "THIRTYTWO", 2, FILESYSTEM_FAT32},
        {"ext2", FILESYSTEM_EXT2, 8192, "Second-ext", 3, FILESYSTEM_UNKNOWN},
        {"ext3", FILESYSTEM_EXT3, 16384, "Ext Three", 3, FILESYSTEM_UNKNOWN},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> image = FsImage(c.kind);
        ASSERT_FALSE(image.empty()) << c.kind;
        for (std::uint64_t first : {0u, 2048u}) {
            SCOPED_TRACE(std::string(c.kind) + " at " + std::to_string(first));
            MemoryDevice disk(At(first, image, 16));
            const ProbeAnswer a = Probe(&disk, first);
            EXPECT_EQ(a.count, 3u);
            EXPECT_EQ(a.type, c.type);
            EXPECT_EQ(a.total, c.total);
            EXPECT_EQ(a.label, c.label);
            EXPECT_EQ(a.winner, c.winner);
            EXPECT_EQ(ClassifyFileSystemBootSector(disk.Sector(first), kSectorSize), c.bootType);
        }
    }
}

TEST(VolumeProbes, NothingRecognisedGivesTheLastProbeEmpty) {
    MemoryDevice zeros(4096);
    const ProbeAnswer a = Probe(&zeros, 2048);
    EXPECT_EQ(a.type, FILESYSTEM_UNKNOWN);
    EXPECT_EQ(a.total, 0u);
    EXPECT_EQ(a.label, "");
    EXPECT_EQ(a.winner, 3);
    EXPECT_EQ(ClassifyFileSystemBootSector(zeros.Sector(0), kSectorSize), FILESYSTEM_UNKNOWN);

    // Unreadable boot sectors and a device end inside the FAT probe's read.
    MemoryDevice fat(At(0, FsImage("fat16")));
    fat.FailSector(0);
    EXPECT_EQ(Probe(&fat, 0).type, FILESYSTEM_UNKNOWN);
    EXPECT_EQ(Probe(&fat, fat.GetSectorCount() - 2).type, FILESYSTEM_UNKNOWN);
    EXPECT_EQ(Probe(nullptr, 0).type, FILESYSTEM_UNKNOWN);
}

TEST(VolumeProbes, NtfsTotalIsSixtyFourBitAndLabelFailureKeepsTypeAndSize) {
    std::vector<std::uint8_t> image = FsImage("ntfs");
    ASSERT_FALSE(image.empty());
    PutLe32(image.data() + 0x28, 100);
    PutLe32(image.data() + 0x2C, 1); // 2^32 + 100 sectors
    MemoryDevice disk(image);
    ProbeAnswer a = Probe(&disk, 0);
    EXPECT_EQ(a.type, FILESYSTEM_NTFS);
    EXPECT_EQ(a.total, (1ull << 32) + 100);
    EXPECT_EQ(a.label, "Ntfs Label");

    // The $Volume record is unreadable: no label, type and size stand.
    const std::uint64_t mftCluster = [&] {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = v << 8 | image[0x30 + i];
        return v;
    }();
    const std::uint64_t volumeRecord = mftCluster * image[0x0D] + 3 * 2;
    disk.FailSector(volumeRecord);
    disk.FailSector(volumeRecord + 1);
    a = Probe(&disk, 0);
    EXPECT_EQ(a.type, FILESYSTEM_NTFS);
    EXPECT_EQ(a.total, (1ull << 32) + 100);
    EXPECT_EQ(a.label, "");
}

// Nothing in this test installs the probes: the engine does so itself on first use (each test
// runs in its own process under CTest, so this is the first use there).
TEST(VolumeProbes, InstalledOnFirstUseWithoutRegistration) {
    MemoryDevice disk(FsImage("fat16"));
    VolumeProbeResult result;
    ASSERT_TRUE(ProbeVolume(&disk, 0, result));
    EXPECT_EQ(result.fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_FAT16));
    EXPECT_STREQ(result.label, "SIXTEEN");
    EXPECT_EQ(ClassifyBootSector(disk.Sector(0), kSectorSize), static_cast<std::uint32_t>(FILESYSTEM_FAT16));
}
