#include "platform/DriveTable.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace testsupport;

namespace {

const char* kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
const char* kUsbDev = "devices/pci0000:00/0000:00:14.0/usb1/1-4";
const char* kUsb = "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/host6/target6:0:0/6:0:0:0";
const char* kNvme = "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";

// A machine with every kind of block device the table must keep or skip.
void BuildMachine(FakeSystemTree& t) {
    t.AddDisk({"sdb", kUsb, {{"vendor", "Generic "}, {"model", "Flash Disk      "}, {"rev", "8.07"}},
               {{"size", "2048"}, {"removable", "1"}}, "", 8, 16});
    t.WriteSysFile(std::string(kUsbDev) + "/idVendor", "058f\n");
    t.WriteSysFile(std::string(kUsbDev) + "/serial", "USB123\n");
    t.AddDisk({"sda", kAta, {{"vendor", "ATA     "}, {"model", "WDC WD5000AAKX"}, {"rev", "1H15"}},
               {{"size", "976773168"}, {"removable", "0"}}, "", 8, 0});
    // Page 0x80: 4-byte header then the serial.
    t.WriteSysFile(std::string(kAta) + "/vpd_pg80", std::string("\0\x80\0\x08WD-ABCDE", 12));
    t.AddDisk({"sdaa", "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", {}, {{"size", "8"}}, "", 65, 160});
    t.AddDisk({"nvme0n1", kNvme, {{"model", "Samsung SSD 970"}, {"serial", "S123"}, {"firmware_rev", "2B2QEXE7"}},
               {{"size", "1000"}}, "", 259, 0});
    t.AddDisk({"loop0", "devices/virtual/block", {}, {{"size", "100"}, {"loop/backing_file", "/tmp/disk.img"}}, "", 7, 0});
    t.AddDisk({"loop1", "devices/virtual/block", {}, {{"size", "0"}}, "", 7, 1});
    t.AddDisk({"dm-0", "devices/virtual/block", {}, {{"size", "100"}}, "", 253, 0});
    t.AddDisk({"sr0", "devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", {{"type", "5"}}, {{"size", "0"}}, "", 11, 0});
}

} // namespace

TEST(DriveTable, KeepsRealDisksAndBackedLoopsInNaturalOrder) {
    FakeSystemTree t(ScratchDir("drives"));
    BuildMachine(t);
    std::vector<platform::PhysicalDrive> drives = platform::ListPhysicalDrives(t.Roots());
    std::vector<std::string> names;
    for (const auto& d : drives)
        names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"loop0", "nvme0n1", "sda", "sdb", "sdaa"}));
    ASSERT_EQ(drives.size(), 5u);
    EXPECT_EQ(drives[2].devicePath, t.Roots().dev + "/sda");
    EXPECT_EQ(drives[2].sysSectors, 976773168u);
    EXPECT_FALSE(drives[2].removable);
    EXPECT_TRUE(drives[3].removable);
    EXPECT_TRUE(drives[0].loop);
}

TEST(DriveTable, IdentityFromSysfs) {
    FakeSystemTree t(ScratchDir("identity"));
    BuildMachine(t);
    struct Case {
        const char* name;
        std::uint32_t bus;
        const char* vendor;
        const char* product;
        const char* revision;
        const char* serial;
    } cases[] = {
        {"sda", platform::kBusAta, "ATA     ", "WDC WD5000AAKX", "1H15", "WD-ABCDE"},
        {"sdb", platform::kBusUsb, "Generic ", "Flash Disk      ", "8.07", "USB123"},
        {"nvme0n1", platform::kBusNvme, "", "Samsung SSD 970", "2B2QEXE7", "S123"},
        {"loop0", platform::kBusFileBackedVirtual, "", "/tmp/disk.img", "", ""},
    };
    std::vector<platform::PhysicalDrive> drives = platform::ListPhysicalDrives(t.Roots());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto it = std::find_if(drives.begin(), drives.end(), [&](auto& d) { return d.name == c.name; });
        ASSERT_NE(it, drives.end());
        platform::DriveIdentity id;
        ASSERT_TRUE(platform::ReadDriveIdentity(*it, id));
        EXPECT_EQ(id.busType, c.bus);
        EXPECT_EQ(id.vendor, c.vendor);
        EXPECT_EQ(id.product, c.product);
        EXPECT_EQ(id.revision, c.revision);
        EXPECT_EQ(id.serial, c.serial);
    }
}

TEST(DriveTable, AtMostTwentyDrivesAndNumberLookup) {
    FakeSystemTree t(ScratchDir("many"));
    for (int i = 0; i < 25; ++i) {
        std::string name = "sd" + std::string(1, static_cast<char>('a' + i));
        t.AddDisk({name, "devices/pci0000:00/host" + std::to_string(i) + "/target/0:0:0:0", {}, {{"size", "1"}}, "", 8,
                   static_cast<std::uint32_t>(16 * i)});
    }
    t.Install();
    EXPECT_EQ(platform::ListPhysicalDrives().size(), 20u);
    platform::PhysicalDrive d;
    ASSERT_TRUE(platform::GetPhysicalDrive(19, d));
    EXPECT_EQ(d.name, "sdt");
    EXPECT_FALSE(platform::GetPhysicalDrive(20, d));
    EXPECT_FALSE(platform::GetPhysicalDrive(-1, d));
    EXPECT_EQ(platform::BlockDeviceName(8, 16), "sdb");
    EXPECT_EQ(platform::BlockDeviceName(9, 9), "");
}

TEST(DriveTable, NaturalNameOrder) {
    std::vector<std::string> names = {"sdaa", "nvme10n1", "sdb", "nvme2n1", "sda", "sdz", "loop10", "loop9"};
    std::sort(names.begin(), names.end(), platform::DriveNameLess);
    EXPECT_EQ(names, (std::vector<std::string>{"loop9", "loop10", "nvme2n1", "nvme10n1", "sda", "sdb",
                                               "sdz", "sdaa"}));
}

// The roots name sysfs folders the way the kernel lays them out: a disk by name and by number,
// a partition by number, all inside the tree the roots point at.
TEST(SystemRoots, SysfsFoldersOfDisksAndPartitions) {
    FakeSystemTree t(ScratchDir("sysfs-paths"));
    BuildMachine(t);
    t.AddPartition("sda", "sda1", 8, 1, 2048, 1000, "");
    const platform::SystemRoots roots = t.Roots();
    namespace fs = std::filesystem;
    const fs::path sda = fs::path(roots.sys) / kAta / "block/sda";
    EXPECT_TRUE(fs::equivalent(roots.DiskDir("sda"), sda));
    EXPECT_TRUE(fs::equivalent(roots.BlockDeviceDir(8, 0), sda));
    EXPECT_TRUE(fs::equivalent(roots.BlockDeviceDir(8, 1), sda / "sda1"));
    EXPECT_TRUE(fs::equivalent(fs::path(roots.DisksDir()) / "nvme0n1", fs::path(roots.sys) / kNvme / "block/nvme0n1"));
    EXPECT_EQ(roots.BlockDeviceDir("sda1"), roots.sys + "/class/block/sda1");

    t.Install();
    EXPECT_EQ(platform::BlockDeviceName(8, 1), "sda1");
    EXPECT_EQ(platform::BlockDeviceName(65, 160), "sdaa");
    EXPECT_EQ(platform::BlockDeviceName(8, 2), "");
}
