// The checks of the save target on POSIX paths, the same-drive test through a fake sysfs, and
// the texts and scales of the recovery dialogs.
#include "app/wizard/RecoveryWalk.h"
#include "app/wizard/TargetFolder.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

platform::MountEntry Mount(const std::string& point, const std::string& fsType, const std::string& options,
                           const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    platform::MountEntry m;
    m.major = ::major(st.st_dev);
    m.minor = ::minor(st.st_dev);
    m.mountPoint = point;
    m.fsType = fsType;
    m.mountOptions = options;
    m.superOptions = "rw";
    return m;
}

} // namespace

TEST(TargetFolder, ValidationTable) {
    const std::string dir = ScratchDir("target-table");
    WriteFileBytes(dir + "/a file", {1, 2, 3});
    const std::vector<platform::MountEntry> rw = {Mount("/", "ext4", "rw,relatime", dir)};
    struct Case {
        std::string path;
        int code;
    } cases[] = {
        {"", kTargetEmpty},
        {"relative/folder", kTargetNotAbsolute},
        {"C:\\Recovered", kTargetNotAbsolute},
        {dir + "/./x", kTargetInvalidName},
        {dir + "/../x", kTargetInvalidName},
        {dir + "/..", kTargetInvalidName},
        {"/" + std::string(245, 'x'), kTargetTooLong},
        {dir, kTargetOk},
        {dir + "/", kTargetOk},
        {dir + "/not yet/made deeper", kTargetOk},      // a folder that does not exist yet
        {dir + "/na?me*with:all<sorts>of|\"", kTargetOk},  // any byte but '/' and NUL
        {dir + "/a file/below", kTargetInvalidName},     // a file where a folder should be
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidateTargetFolder(c.path, rw), c.code) << c.path;
    // Nothing made, nothing left behind.
    EXPECT_FALSE(fs::exists(dir + "/not yet"));
    EXPECT_FALSE(fs::exists(dir + "/" + kTargetProbeName));

    // Read-only and optical mounts from the mount table.
    const std::vector<platform::MountEntry> ro = {Mount("/", "ext4", "rw", dir), Mount(dir, "ext4", "ro,relatime", dir)};
    EXPECT_EQ(ValidateTargetFolder(dir + "/new", ro), kTargetNotWritable);
    const std::vector<platform::MountEntry> cd = {Mount("/", "ext4", "rw", dir), Mount(dir, "iso9660", "rw", dir)};
    EXPECT_EQ(ValidateTargetFolder(dir, cd), kTargetNotWritable);
    const std::vector<platform::MountEntry> udf = {Mount("/", "udf", "rw", dir)};
    EXPECT_EQ(ValidateTargetFolder(dir, udf), kTargetNotWritable);

    // A file of the probe's name is never opened or removed.
    WriteFileBytes(dir + "/" + kTargetProbeName, {9, 9});
    EXPECT_EQ(ValidateTargetFolder(dir, rw), kTargetOk);
    EXPECT_EQ(ReadFileBytes(dir + "/" + kTargetProbeName), (std::vector<std::uint8_t>{9, 9}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    EXPECT_EQ(TargetFolderMessageId(0), 0);
    EXPECT_EQ(TargetFolderMessageId(kTargetNoMedium), 148);
    EXPECT_EQ(TargetFolderMessageId(kTargetEmpty), 159);
    EXPECT_EQ(TargetFolderMessageId(13), 160);
}

TEST(TargetFolder, SameDriveSpaceAndFileSystem) {
    const std::string dir = ScratchDir("target-drive");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    // The scratch folder's file system is partition sda3 (sectors 4096..8191) of disk 8:0.
    FakeSystemTree tree(ScratchDir("target-sys"));
    tree.AddDisk({"sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", {}, {{"size", "16384"}}, "", 8, 0});
    tree.AddDisk({"sdb", "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", {}, {{"size", "16384"}}, "", 8, 16});
    tree.AddPartition("sda", "sda3", ::major(st.st_dev), ::minor(st.st_dev), 4096, 4096);
    tree.AddPartition("sda", "sda1", 8, 1, 2048, 2048);
    tree.Install();

    const DriveIdentity target = DriveOfPath(dir);
    ASSERT_TRUE(target.known);
    EXPECT_EQ(target.diskMajor, 8u);
    EXPECT_EQ(target.diskMinor, 0u);
    EXPECT_EQ(target.firstSector, 4096u);

    const DriveIdentity sda1 = DriveOfBlockName("sda1");
    const DriveIdentity sda = DriveOfBlockName("sda");
    const DriveIdentity sdb = DriveOfBlockName("sdb");
    ASSERT_TRUE(sda1.known && sda.known && sdb.known);
    DriveIdentity overlapping = sda1;
    overlapping.sectorCount = 4097;  // reaches into sda3
    struct Case {
        DriveIdentity source;
        bool same;
    } cases[] = {
        {sda1, false},         // another partition of the same disk
        {overlapping, true},   // extents overlap
        {sda, true},           // the whole disk
        {sdb, false},          // another disk
        {DriveIdentity{}, false},  // an image file
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSourceDrive(dir + "/new/folder", c.source), c.same) << c.source.diskMinor << "/" << c.source.sectorCount;
    tree.Uninstall();

    EXPECT_GT(TargetFolderFreeBytes(dir + "/not here yet"), 0u);
    const TargetSpace space = TargetSpaceOf(dir);
    EXPECT_LE(space.freeForCaller, space.totalFree);
    EXPECT_LE(space.totalFree, space.total);
    EXPECT_EQ(TargetFolderFreeBytes(""), 0u);

    bool known = false;
    for (const char* type : {"ntfs", "ntfs3", "fuseblk"}) {
        EXPECT_TRUE(IsNtfsTarget(dir, {Mount("/", type, "rw", dir)}, &known)) << type;
        EXPECT_TRUE(known);
    }
    EXPECT_FALSE(IsNtfsTarget(dir, {Mount("/", "vfat", "rw", dir)}, &known));
    EXPECT_TRUE(known);
    EXPECT_FALSE(IsNtfsTarget(dir, {}, &known));
    EXPECT_FALSE(known);
}

TEST(RecoveryDialogTexts, SizesClocksAndScales) {
    EXPECT_EQ(RecoverySizeText(0, false), "0 Byte");
    EXPECT_EQ(RecoverySizeText(1023, true), "1023 Bytes");
    EXPECT_EQ(RecoverySizeText(1024, false), "1.00 KB");
    EXPECT_EQ(RecoverySizeText(3u << 20, true), "3.00 MBs");
    EXPECT_EQ(RecoverySizeText(3ull << 30, false), "3.00 GB");
    EXPECT_EQ(ClockText(0), "00:00:00");
    EXPECT_EQ(ClockText(3 * 3600 + 25 * 60 + 7), "03:25:07");
    EXPECT_EQ(ClockText(100 * 3600), "100:00:00");

    EXPECT_EQ(RecoveringRemainingText(1000, 500, 4999), "");      // "Calculating..."
    EXPECT_EQ(RecoveringRemainingText(1000, 0, 10000), "");
    EXPECT_EQ(RecoveringRemainingText(1000, 500, 10000), "00:00:11");
    EXPECT_EQ(SingleFileRemainingText(1000, 0, 600), "00:00:00");
    EXPECT_EQ(SingleFileRemainingText(1000, 250, 1000), "00:00:04");
    EXPECT_EQ(SingleFileRemainingText(1000, 250, 499), "");

    const ProgressScale empty = RecoveringProgressScale(0);
    EXPECT_EQ(empty.range, 1);
    EXPECT_EQ(empty.Position(0), 1);
    const ProgressScale bytes = RecoveringProgressScale(5000);
    EXPECT_EQ(bytes.range, 5000);
    EXPECT_EQ(bytes.Position(1234), 1234);
    const ProgressScale big = RecoveringProgressScale(3ull << 30);  // moves in MiB steps
    EXPECT_EQ(big.range, 3072);
    EXPECT_EQ(big.Position((5ull << 20) + 7), 5);
    EXPECT_EQ(SingleFilePercent(0, 0), 100);
    EXPECT_EQ(SingleFilePercent(200, 50), 25);

    RemainingEstimate e{1000, 0, 0, 0};
    EstimateRemainingTime(e, 0, 5000);
    EXPECT_EQ(e.remainingMs, 0);
    EstimateRemainingTime(e, 250, 5050);
    EXPECT_EQ(e.elapsedMs, 5050);
    EXPECT_EQ(e.remainingMs, ((1000 - 250) * (5050 / 100) / 250) * 100);

    CRecoveryProgress p;
    p.SetTotals(2, 100);
    p.AddBytesDone(10);
    p.SubtractBytesDone(30);  // never below zero
    EXPECT_EQ(p.BytesDone(), 0u);
    EXPECT_EQ(p.Poll(), 0);
    p.Cancel();
    EXPECT_EQ(p.AddFilesDone(1), -1);
    EXPECT_EQ(p.SetCurrentFile("x"), -1);
    EXPECT_EQ(p.CurrentFile(), "x");
}
