// Enumeration of disks and volumes on a fake machine: a sysfs tree whose device nodes are image
// files (a basic MBR disk, a USB stick with a file system on the whole disk, three dynamic disks
// holding a RAID-5 volume, a 13 TiB disk and a floppy drive).
#include "filesystems/probes/VolumeAnalyzers.h"
#include "logging/Log.h"
#include "platform/DebugOutput.h"
#include "platform/DriveLetters.h"
#include "storage/DeviceList.h"
#include "storage/DiskDevice.h"
#include "storage/VolumeEnumeration.h"
#include "tests/storage/LdmFixtures.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/NtfsImages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace testsupport;

namespace {

const char* kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
const char* kAta2 = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
const char* kAta3 = "devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0";
const char* kAta4 = "devices/pci0000:00/0000:00:1f.2/ata4/host3/target3:0:0/3:0:0:0";
const char* kAta5 = "devices/pci0000:00/0000:00:1f.2/ata5/host4/target4:0:0/4:0:0:0";
const char* kUsb = "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/host6/target6:0:0/6:0:0:0";

// basic.img: 100 MiB, MBR with FAT16 "BASICFAT" at 2048, NTFS "BasicNtfs" at 34816 and an
// unformatted partition at 67584 (16 MiB each); usb.img: FAT16 "USBSTICK" on the whole 8 MiB disk;
// floppy.img: FAT12 "FLOPPY", 1440 KiB.
std::string MachineImages() {
    static const std::string dir = CachedFixture("enumeration-machine", [](const std::string& tmp) {
        if (!RequireTool("mkfs.fat") || !RequireTool("sfdisk") || !RequireTool("mkntfs"))
            return false;
        const std::string q = ShellQuote(tmp);
        NtfsImageRecipe ntfs;
        ntfs.sizeMiB = 16;
        ntfs.label = "BasicNtfs";
        ntfs.partitionStart = 34816;
        return MustRun("mkdir -p " + q) &&
               MustRun("cd " + q + " && truncate -s 100M basic.img && "
                       "printf '2048,32768,6\\n34816,32768,7\\n67584,32768,6\\n' | sfdisk -q basic.img && "
                       "mkfs.fat -F 16 -n BASICFAT -C p1.img 16384 >/dev/null && "
                       "mkfs.fat -F 16 -s 1 -n USBSTICK -C usb.img 8192 >/dev/null && "
                       "mkfs.fat -F 12 -n FLOPPY -C floppy.img 1440 >/dev/null") &&
               MakeNtfsImage(tmp + "/p2.img", ntfs) &&
               MustRun("cd " + q + " && dd if=p1.img of=basic.img bs=512 seek=2048 conv=notrunc status=none && "
                       "dd if=p2.img of=basic.img bs=512 seek=34816 conv=notrunc status=none && "
                       "rm p1.img p2.img && truncate -s 13T huge.img");
    });
    EXPECT_FALSE(dir.empty());
    return dir;
}

struct Machine {
    FakeSystemTree tree{ScratchDir("enumeration")};

    explicit Machine(bool withFloppy = true, bool floppyIsB = false) {
        const std::string images = MachineImages();
        const std::string ldm = ldmtest::LdmFixtureDir();
        tree.AddDisk({"sda", kAta, {{"vendor", "ATA     "}, {"model", "WDC WD5000AAKX"}, {"rev", "1H15"}},
                      {{"size", "204800"}, {"removable", "0"}}, images + "/basic.img", 8, 0});
        tree.AddPartition("sda", "sda1", 8, 1, 2048, 32768, images + "/basic.img");
        tree.AddPartition("sda", "sda2", 8, 2, 34816, 32768, images + "/basic.img");
        tree.AddPartition("sda", "sda3", 8, 3, 67584, 32768, images + "/basic.img");
        tree.AddDisk({"sdb", kUsb, {{"vendor", "Generic "}, {"model", "Flash Disk      "}, {"rev", "8.07"}},
                      {{"size", "16384"}, {"removable", "1"}}, images + "/usb.img", 8, 16});
        const char* paths[] = {kAta2, kAta3, kAta4};
        for (int i = 0; i < 3; ++i) {
            const std::string name = std::string("sd") + static_cast<char>('c' + i);
            tree.AddDisk({name, paths[i], {{"vendor", "QEMU    "}, {"model", "HARDDISK"}, {"rev", "2.5+"}},
                          {{"size", "102400"}}, ldm + "/ldm-2003r2-raid5-" + std::to_string(i + 1) + ".img", 8,
                          static_cast<std::uint32_t>(32 + 16 * i)});
        }
        tree.AddDisk({"sdf", kAta5, {{"vendor", "(Standard disk drives)"}, {"model", "Huge Array"}},
                      {{"size", "27917287424"}}, images + "/huge.img", 8, 80});
        if (withFloppy) {
            const std::string fd = floppyIsB ? "fd1" : "fd0";
            tree.AddDisk({fd, "devices/platform/floppy.0", {}, {{"size", "2880"}}, images + "/floppy.img", 2,
                          floppyIsB ? 1u : 0u});
        }
        // sda1 is the root (C:), the USB stick D:, sda2 E:; sda3 is not mounted.
        tree.SetMountInfo("20 1 0:5 / /proc rw - proc proc rw\n"
                          "25 1 8:1 / / rw - vfat /dev/sda1 rw\n"
                          "31 25 8:16 / /media/usb rw - vfat /dev/sdb rw\n"
                          "32 25 8:2 / /mnt/data rw - ntfs3 /dev/sda2 rw\n");
        tree.Install();
        RegisterVolumeProbes();
    }
    ~Machine() {
        tree.Uninstall();
        platform::ClearDriveLetters();
    }
};

// What LogInfo writes during `f` (into a log file of this process's own: test processes run side
// by side in one folder).
// One log file for every capture of the process: each instantiation of the template below would
// otherwise open a log of its own and leave the others' paths behind. The log is opened once per
// process, by its first user, so it is opened here before any test runs: run as one process with
// the other storage tests, whose logging would otherwise open the default log first.
const std::string& ActivityLogPath() {
    static const std::string path = [] {
        const std::string p = ScratchDir("activity-log") + "/activity.log";
        InitLog(p.c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
        return p;
    }();
    return path;
}
[[maybe_unused]] const std::string& kActivityLogOpenedFirst = ActivityLogPath();

template <class F>
std::string CaptureActivityLog(F f) {
    const std::string& path = ActivityLogPath();
    std::error_code ec;
    std::uintmax_t before = std::filesystem::file_size(path, ec);
    if (ec) {
        ADD_FAILURE() << "no activity log at " << path << ": " << ec.message();
        before = 0;
    }
    f();
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    return before <= text.size() ? text.substr(before) : std::string();
}

struct Collected {
    DiskList disks;
    VolumeList volumes;
    ~Collected() {
        FreeVolumeRecords(volumes);
        DeleteDeviceList(disks);
    }
};

TEST(VolumeEnumeration, MachineIsListedSortedAndLoggedAsTheGoldenFile) {
    Machine machine;
    std::vector<std::string> timers;
    // The hook writes into this test's own vector: it goes back however the test ends.
    struct HookBack {
        platform::DebugOutputHook previous;
        ~HookBack() { platform::SetDebugOutputHook(previous); }
    } hookBack{platform::SetDebugOutputHook([&](const std::string& text) { timers.push_back(text); })};
    Collected c;
    const std::string log = CaptureActivityLog([&] {
        CollectDisks(c.disks);
        CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(c.volumes, c.disks);
    });

    // The 13 TiB disk is logged but not kept.
    EXPECT_EQ(5u, c.disks.size());
    struct Expected {
        char letter;
        std::uint32_t fs;
        const char* label;
        std::uint32_t dynamic, floppy, usb;
    };
    const Expected expected[] = {
        {'A', FILESYSTEM_FAT12, "FLOPPY", 0, 1, 0},
        {'C', FILESYSTEM_FAT16, "BASICFAT", 0, 0, 0},
        {'D', FILESYSTEM_FAT16, "USBSTICK", 0, 0, 1},
        {'E', FILESYSTEM_NTFS, "BasicNtfs", 0, 0, 0},
        {0, FILESYSTEM_UNKNOWN, "", 0, 0, 0},
        {0, FILESYSTEM_NTFS, "Raid5", 1, 0, 0},
    };
    ASSERT_EQ(std::size(expected), c.volumes.size());
    for (std::size_t i = 0; i < c.volumes.size(); ++i) {
        SCOPED_TRACE(i);
        const VolumeRecord* v = c.volumes[i].get();
        EXPECT_EQ(expected[i].letter, v->cDriveLetter);
        EXPECT_EQ(expected[i].fs, v->fileSystemType);
        EXPECT_STREQ(expected[i].label, v->szVolumeLabel);
        EXPECT_EQ(expected[i].dynamic, v->isDynamic);
        EXPECT_EQ(expected[i].floppy, v->isFloppy);
        EXPECT_EQ(expected[i].usb, v->isUsb);
        EXPECT_EQ(0u, v->form);
        ASSERT_TRUE(v->pStorageDevice);
    }
    // The RAID-5 volume lies on its three disks, and reads.
    const VolumeRecord* raid = c.volumes[5].get();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(raid->members[i].pDisk) << i;
    EXPECT_FALSE(raid->members[3].pDisk);
    std::uint8_t sector[512];
    ASSERT_EQ(1, raid->pStorageDevice->ReadSectors(sector, 0, 1));
    EXPECT_EQ(0, std::memcmp(sector + 3, "NTFS    ", 8));

    EXPECT_EQ(c.volumes[1].get(), FindVolumeByDriveLetter(c.volumes, 'C'));
    EXPECT_EQ(nullptr, FindVolumeByDriveLetter(c.volumes, 'Z'));

    const std::string goldenPath = std::string(BRULIN_SOURCE_DIR) + "/tests/storage/golden/enumeration.log";
    std::ifstream golden(goldenPath, std::ios::binary);
    std::stringstream text;
    text << golden.rdbuf();
    EXPECT_EQ(text.str(), log) << "golden file " << goldenPath;
    if (getenv("BRULIN_WRITE_GOLDEN"))
        std::ofstream(goldenPath, std::ios::binary) << log;

    std::vector<std::string> names;
    for (const std::string& t : timers) {
        const auto at = t.find(" dwElapsedTime ");
        if (at != std::string::npos && t.back() == '\n')
            names.push_back(t.substr(0, at));
    }
    EXPECT_EQ((std::vector<std::string>{"CCollectFloppyDiskDevice::CollectFloppyDiskDevice",
                                        "CCollectAllBasicPartitionandDynamicVolume::sort",
                                        "CCollectAllBasicPartitionandDynamicVolume::CollectAllBasicPartitionandDynamicVolume"}),
              names);
}

TEST(VolumeEnumeration, FloppiesStopAtTheFirstLetterThatIsNoFloppy) {
    {
        // Only fd1 (B:): A: is no floppy, so B: is never tried.
        Machine machine(true, true);
        VolumeList volumes;
        CCollectFloppyDiskDevice().CollectFloppyDiskDevice(volumes);
        EXPECT_TRUE(volumes.empty());
    }
    {
        Machine machine(false);
        Collected c;
        CaptureActivityLog([&] { CollectDisks(c.disks); });
        CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(c.volumes, c.disks);
        EXPECT_EQ(nullptr, FindVolumeByDriveLetter(c.volumes, 'A'));
    }
    {
        // With no disk, nothing at all is collected, floppies included.
        Machine machine;
        DiskList none;
        VolumeList volumes;
        CCollectAllBasicPartitionandDynamicVolume().CollectAllBasicPartitionandDynamicVolume(volumes, none);
        EXPECT_TRUE(volumes.empty());
    }
}

TEST(VolumeEnumeration, OverlapNeedsTheSameDiskAndIntersectingExtents) {
    testsupport::MemoryDevice d1(16), d2(16);
    auto record = [](std::vector<MemberExtent> extents) {
        VolumeRecord r;
        for (std::size_t i = 0; i < extents.size(); ++i)
            r.members[i] = extents[i];
        return r;
    };
    struct Case {
        std::vector<MemberExtent> a, b;
        bool overlap;
    };
    const std::uint64_t big = ~0ull - 10;
    const Case cases[] = {
        {{{0, 100, &d1}}, {{99, 10, &d1}}, true},
        {{{0, 100, &d1}}, {{100, 10, &d1}}, false},
        {{{0, 100, &d1}}, {{50, 10, &d2}}, false},
        {{{200, 10, &d2}, {0, 100, &d1}}, {{50, 10, &d1}}, true},
        {{{0, 100, &d1}, {0, 0, nullptr}, {0, 100, &d2}}, {{50, 10, &d2}}, false},  // the null ends it
        {{{big, 10, &d1}}, {{5, 100, &d1}}, false},
        {{{big, 10, &d1}}, {{big + 5, 100, &d1}}, true},
    };
    for (const Case& c : cases) {
        VolumeRecord a = record(c.a), b = record(c.b);
        EXPECT_EQ(c.overlap, VolumesOverlap(&a, &b));
        EXPECT_EQ(c.overlap, VolumesOverlap(&b, &a));
    }
}

// A disk's row text names its vendor (unless it is a placeholder), product and bus, each whole:
// a loop device's product is its backing file's path.
TEST(VolumeEnumeration, DiskDescriptionKeepsTheWholeProduct) {
    const std::string dir = ScratchDir("disk-description");
    const std::string image = dir + "/disk.img";
    std::ofstream(image, std::ios::binary).close();
    std::filesystem::resize_file(image, 1 << 20);
    const std::string backing = "/srv/recovery/customer-images/2026-12/failing-laptop-drive-of-the-"
                                "accounts-department-first-attempt.img";
    const struct Case {
        FakeDisk disk;
        std::string text;
    } cases[] = {
        {{"sda", kAta, {{"vendor", "ATA"}, {"model", "WDC WD5000AAKX"}}, {{"size", "2048"}}, image, 8, 0},
         "ATA  WDC WD5000AAKX  ATA Bus"},
        {{"sda", kUsb, {{"vendor", "Generic"}, {"model", "Ultra High Capacity Removable Flash Disk"}},
          {{"size", "2048"}}, image, 8, 0},
         "Generic  Ultra High Capacity Removable Flash Disk  USB Device"},
        {{"sda", kAta5, {{"vendor", "(Standard disk drives)"}, {"model", "Huge Array"}}, {{"size", "2048"}}, image, 8, 0},
         "Huge Array  ATA Bus"},
        {{"loop0", "devices/virtual/block", {}, {{"size", "2048"}, {"loop/backing_file", backing}}, image, 7, 0},
         backing + "  "},
    };
    for (const Case& c : cases) {
        FakeSystemTree tree(dir + "/" + c.disk.name + std::to_string(&c - cases));
        tree.AddDisk(c.disk);
        tree.Install();
        CDiskDevice disk(0);
        EXPECT_EQ(DiskDescriptionText(&disk), c.text) << c.disk.name;
        tree.Uninstall();
    }
}

TEST(VolumeEnumeration, Names) {
    const char* fs[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "UNKNOWN", "UNKNOWN"};
    for (std::uint32_t i = 0; i < 8; ++i)
        EXPECT_STREQ(fs[i], GetFileSystemName(i));
    EXPECT_STREQ("UNKNOWN", GetFileSystemName(1000));
    const char* types[] = {"SIMPLE", "MIRROR", "SPANNED", "STRIPPED", "RAID5", "SIMPLE"};
    for (int i = 0; i < 6; ++i)
        EXPECT_STREQ(types[i], GetDynamicVolumeTypeName(i));
    EXPECT_STREQ("SIMPLE", GetDynamicVolumeTypeName(-1));
}

} // namespace
