#include "platform/DriveLetterAssignment.h"
#include "platform/DriveLetters.h"
#include "platform/SystemRoots.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionTable.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A sysfs tree with disks sdx (partitions 1, 2 and 5), sdy (partition 1), sdz (no table) and a
// floppy drive, plus the device-number links the kernel keeps under dev/block.
struct FixtureSystem {
    fs::path root = testsupport::ScratchDir("drive-letters");
    platform::SystemRoots roots{(root / "sys").string(), (root / "dev").string(),
                                (root / "mountinfo").string()};

    FixtureSystem() {
        AddBlock("sdx", "", 8, 16, 0);
        AddBlock("sdx1", "sdx", 8, 17, 2048);
        AddBlock("sdx2", "sdx", 8, 18, 10240);
        AddBlock("sdx5", "sdx", 8, 21, 12288);
        AddBlock("sdy", "", 8, 32, 0);
        AddBlock("sdy1", "sdy", 8, 33, 2048);
        AddBlock("sdz", "", 8, 48, 0);
        AddBlock("fd0", "", 2, 0, 0);
        platform::SetSystemRoots(roots);
    }
    ~FixtureSystem() {
        platform::ResetSystemRoots();
        platform::ClearDriveLetters();
    }

    void AddBlock(const std::string& name, const std::string& disk, int major, int minor,
                  std::uint64_t start) {
        const fs::path dir = disk.empty() ? root / "sys/block" / name : root / "sys/block" / disk / name;
        const std::string number = std::to_string(major) + ":" + std::to_string(minor);
        WriteText(dir / "dev", number + "\n");
        WriteText(dir / "uevent", "MAJOR=" + std::to_string(major) + "\nDEVNAME=" + name + "\n");
        if (!disk.empty()) {
            WriteText(dir / "partition", "1\n");
            WriteText(dir / "start", std::to_string(start) + "\n");
        }
        fs::create_directories(root / "sys/dev/block");
        fs::create_directory_symlink(dir, root / "sys/dev/block" / number);
        fs::create_directories(root / "sys/class/block");
        fs::create_directory_symlink(dir, root / "sys/class/block" / name);
    }
    void SetMountInfo(const std::string& text) { WriteText(roots.mountInfo, text); }
};

std::unique_ptr<PartitionEntry> Entry(std::uint64_t first) {
    auto e = std::make_unique<PartitionEntry>();
    e->u64FirstSector = first;
    e->u64SectorCount = 1;
    return e;
}

} // namespace

TEST(DriveLetters, RootIsCOthersFollowMountOrderFloppyIsA) {
    FixtureSystem system;
    system.SetMountInfo(
        "20 1 0:5 / /proc rw,nosuid - proc proc rw\n"
        "31 25 8:17 / /srv/long/bind/of/data rw - vfat /dev/sdx1 rw\n"
        "25 1 8:33 / / rw,relatime shared:1 - ext4 /dev/sdy1 rw\n"
        "32 25 8:17 /sub /mnt/my\\040data rw - vfat /dev/sdx1 rw\n"
        "33 25 8:18 / /mnt/win rw - ntfs3 /dev/sdx2 rw\n"
        "34 25 0:44 / /mnt/btr rw - btrfs /dev/sdz rw\n"
        "35 25 0:45 / /mnt/tmp rw - tmpfs tmpfs rw\n");

    const auto letters = platform::RefreshDriveLetters();
    ASSERT_EQ(letters.size(), 5u);
    EXPECT_EQ(platform::GetDriveLetterOfDevice("fd0"), 'A');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdy1"), 'C');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdx1"), 'D');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdx2"), 'E');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdz"), 'F');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdx5"), 0);
    EXPECT_EQ(platform::GetDriveLetterMountPath('d'), "/mnt/my data"); // shortest of the binds
    EXPECT_EQ(platform::GetDriveLetterMountPath('A'), "");
    EXPECT_EQ(platform::GetDriveLetterPath('E'), system.roots.dev + "/sdx2");
    EXPECT_EQ(platform::GetDriveLetterPath('G'), "");

    PartitionList sdx;
    for (std::uint64_t first : {10240, 2048, 12288, 4096})
        sdx.push_back(Entry(first));
    AssignDriveLettersForDisk("sdx", sdx);
    EXPECT_EQ(sdx[0]->cDriveLetter, 'E');
    EXPECT_EQ(sdx[1]->cDriveLetter, 'D');
    EXPECT_EQ(sdx[2]->cDriveLetter, 0); // not mounted
    EXPECT_EQ(sdx[3]->cDriveLetter, 0); // no such kernel partition

    // Through the disk device itself: drive 0 of the fixture's drive table is sdx.
    WriteText(system.root / "dev/sdx", std::string(4096, '\0'));
    CDiskDevice disk(0);
    ASSERT_TRUE(disk.IsOpen());
    ASSERT_EQ(disk.GetKernelName(), "sdx");
    PartitionList viaDisk;
    viaDisk.push_back(Entry(2048));
    AssignDriveLetters(&disk, viaDisk);
    EXPECT_EQ(viaDisk[0]->cDriveLetter, 'D');

    PartitionList sdz;
    sdz.push_back(Entry(0)); // a file system on the whole disk is the disk itself
    AssignDriveLettersForDisk("sdz", sdz);
    EXPECT_EQ(sdz[0]->cDriveLetter, 'F');

    PartitionList missing;
    missing.push_back(Entry(2048));
    AssignDriveLettersForDisk("sdq", missing);
    AssignDriveLetters(nullptr, missing);
    EXPECT_EQ(missing[0]->cDriveLetter, 0);
    const std::uint8_t guid[16] = {1};
    EXPECT_EQ(GetVolumeGuidDriveLetter(guid), 0);
    EXPECT_EQ(GetDynamicVolumeDriveLetter("Volume1", "Dg0"), 0);
}

TEST(DriveLetters, NoRootMountAndTooManyVolumes) {
    FixtureSystem system;
    std::string text;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "sdm" + std::to_string(i);
        system.AddBlock(name, "", 65, i, 0);
        text += std::to_string(100 + i) + " 1 65:" + std::to_string(i) + " / /media/v" +
                std::to_string(i) + " rw - ext4 /dev/" + name + " rw\n";
    }
    system.SetMountInfo(text);
    const auto letters = platform::RefreshDriveLetters();
    ASSERT_EQ(letters.size(), 1u + 23u); // A, then D to Z; C stays free without a root mount
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdm0"), 'D');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdm22"), 'Z');
    EXPECT_EQ(platform::GetDriveLetterOfDevice("sdm23"), 0);
}
