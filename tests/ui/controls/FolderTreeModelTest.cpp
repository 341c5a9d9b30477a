#include "platform/MountInfo.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"
#include "ui/controls/FolderTreeModel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
platform::MountEntry Mount(const std::string& point, const std::string& type, const std::string& options,
                           std::uint32_t major = 0, std::uint32_t minor = 0) {
    platform::MountEntry m;
    m.mountPoint = point;
    m.fsType = type;
    m.mountOptions = options;
    m.major = major;
    m.minor = minor;
    return m;
}
} // namespace

TEST(FolderTreeModel, WhichMountsCanTakeFiles) {
    struct Case {
        platform::MountEntry m;
        bool shown;
    } cases[] = {
        {Mount("/", "ext4", "rw,relatime"), true},
        {Mount("/proc", "proc", "rw"), false},
        {Mount("/sys", "sysfs", "rw"), false},
        {Mount("/run", "tmpfs", "rw"), false},
        {Mount("/run/user/1000", "tmpfs", "rw"), false},
        {Mount("/tmp", "tmpfs", "rw"), true},
        {Mount("/media/cd", "iso9660", "ro"), false},
        {Mount("/mnt/backup", "ext4", "ro,relatime"), false},
        {Mount("/mnt/data", "xfs", "rw"), true},
        {Mount("/dev/shm", "tmpfs", "rw"), false},
        {Mount("/sys/fs/cgroup", "cgroup2", "rw"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsMountShown(c.m), c.shown) << c.m.mountPoint;
}

TEST(FolderTreeModel, RootsSubfoldersAndRemovableNames) {
    const std::string dir = testsupport::ScratchDir("foldertree");
    const std::string home = dir + "/home", data = dir + "/data", usb = dir + "/usb", ro = dir + "/ro";
    for (const auto& d : {home, data, usb, ro, data + "/Beta", data + "/alpha", data + "/.hidden", data + "/with.dot",
                          data + "/proc"})
        fs::create_directories(d);
    std::ofstream(data + "/file.txt") << "x";

    testsupport::FakeSystemTree tree(dir + "/fake");
    testsupport::FakeDisk stick;
    stick.name = "sdb";
    stick.devicePath = "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0";
    stick.blockAttrs = {{"removable", "1\n"}, {"size", "1000\n"}};
    stick.major = 8;
    stick.minor = 16;
    tree.AddDisk(stick);
    tree.AddPartition("sdb", "sdb1", 8, 17, 2048, 900);
    testsupport::FakeDisk fixed;
    fixed.name = "sda";
    fixed.devicePath = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
    fixed.blockAttrs = {{"removable", "0\n"}, {"size", "1000\n"}};
    tree.AddDisk(fixed);
    tree.AddPartition("sda", "sda1", 8, 1, 2048, 900);
    tree.Install();

    const std::vector<platform::MountEntry> mounts = {
        Mount("/", "ext4", "rw", 8, 1),        Mount(data, "ext4", "rw", 8, 1),
        Mount(usb, "vfat", "rw", 8, 17),       Mount(ro, "ext4", "ro", 8, 1),
        Mount(data + "/proc", "proc", "rw"),   Mount(dir + "/missing", "ext4", "rw", 8, 1),
    };
    const auto roots = FolderTreeRoots(home, mounts);
    ASSERT_EQ(roots.size(), 4u);
    EXPECT_EQ(roots[0].path, home);
    EXPECT_EQ(roots[1].path, "/");
    EXPECT_EQ(roots[2].path, data);
    EXPECT_EQ(roots[2].text, data);
    EXPECT_EQ(roots[3].text, "Removable (" + usb + ")");

    // Folders only (hidden and dotted ones included), sorted without regard to case; the
    // pseudo file system mounted inside is not listed.
    const auto children = ListSubfolders(data, mounts);
    std::vector<std::string> names;
    for (const auto& c : children)
        names.push_back(c.text);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden", "alpha", "Beta", "with.dot"}));
    EXPECT_TRUE(ListSubfolders(data + "/alpha", mounts).empty());
    EXPECT_TRUE(ListSubfolders(dir + "/no-such", mounts).empty());
}
