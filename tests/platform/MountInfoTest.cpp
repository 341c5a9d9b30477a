#include "platform/MountInfo.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

TEST(MountInfo, ParsesFieldsEscapesAndOptionalFields) {
    const std::string text =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
        "36 22 8:17 / /media/My\\040Disk\\134x rw,nosuid shared:5 master:2 - vfat /dev/sdb1 rw,fmask=0022\n"
        "garbage line\n"
        "37 22 259:3 /sub /mnt/n\\011t rw - ntfs3 /dev/nvme0n1p3\n" // no super options
        "38 22 x:3 / /bad rw - ext4 /dev/x rw\n"                     // bad device number
        "39 22 7:0 / /no-separator rw shared:1 ext4 /dev/loop0 rw\n"
        "40 22 7:1 / /trailing\\04 rw - ext2 /dev/loop1 rw";           // short escape, no newline
    std::vector<platform::MountEntry> e = platform::ParseMountInfo(text.data(), text.size());
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].mountId, 22u);
    EXPECT_EQ(e[0].parentId, 1u);
    EXPECT_EQ(e[0].major, 8u);
    EXPECT_EQ(e[0].minor, 1u);
    EXPECT_EQ(e[0].mountPoint, "/");
    EXPECT_EQ(e[0].fsType, "ext4");
    EXPECT_EQ(e[0].source, "/dev/sda1");
    EXPECT_EQ(e[0].superOptions, "rw,errors=remount-ro");
    EXPECT_EQ(e[1].mountPoint, "/media/My Disk\\x");
    EXPECT_EQ(e[1].fsType, "vfat");
    EXPECT_EQ(e[1].minor, 17u);
    EXPECT_EQ(e[2].major, 259u);
    EXPECT_EQ(e[2].root, "/sub");
    EXPECT_EQ(e[2].mountPoint, "/mnt/n\tt");
    EXPECT_EQ(e[2].superOptions, "");
    EXPECT_EQ(e[3].mountPoint, "/trailing\\04");
}

TEST(MountInfo, ReadsTheConfiguredTable) {
    testsupport::FakeSystemTree t(testsupport::ScratchDir("mounts"));
    t.SetMountInfo("5 1 8:2 / /data rw - ext3 /dev/sda2 rw\n");
    t.Install();
    std::vector<platform::MountEntry> e = platform::ReadMountInfo();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].mountPoint, "/data");
    EXPECT_EQ(platform::UnescapeMountField("a\\777b\\0"), "a\\777b\\0");
}
