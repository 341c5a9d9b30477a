// One quick scan for NTFS and FAT volumes wherever they lie: on a disk at the partition's first
// sector, or on a partition device; the files found read back the bytes the tools wrote.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/probes/QuickScan.h"
#include "recovery/FileRecovery.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace testsupport;

namespace {

constexpr std::uint64_t kFatFirst = 2048, kFatSectors = 16384;
constexpr std::uint64_t kNtfsFirst = 18432, kNtfsSectors = 16384;

std::vector<std::uint8_t> FileBytes(int which) { return PatternBytes(20000 + 1000 * which, 60 + which); }

std::string DiskWithBothVolumes() {
    return CachedFixture("quickscan-disk-v1.img", [](const std::string& tmp) {
        const std::string q = ShellQuote(tmp);
        const std::string ntfs = tmp + ".ntfs";
        NtfsImageRecipe recipe;
        recipe.sizeMiB = kNtfsSectors / 2048;
        recipe.partitionStart = kNtfsFirst;
        bool ok = RequireFatTools() && MustRun("truncate -s 20M " + q) &&
                  MustRun("printf 'label: dos\\nstart=" + std::to_string(kFatFirst) + ", size=" +
                          std::to_string(kFatSectors) + ", type=6\\nstart=" + std::to_string(kNtfsFirst) +
                          ", size=" + std::to_string(kNtfsSectors) + ", type=7\\n' | sfdisk -q " + q) &&
                  MustRun("mkfs.fat -F 16 -s 2 -n QUICKFAT --offset " + std::to_string(kFatFirst) + " " + q + " " +
                          std::to_string(kFatSectors / 2));
        FatImage fat(tmp, kFatFirst);
        ok = ok && fat.MakeDir("/Folder") && fat.WriteFile("/Folder/fat.bin", FileBytes(1));
        ok = ok && MakeNtfsImage(ntfs, recipe) && NtfsMkdir(ntfs, "/Folder") &&
             NtfsWriteFile(ntfs, "/Folder/ntfs.bin", FileBytes(2)) &&
             MustRun("dd if=" + ShellQuote(ntfs) + " of=" + q + " bs=512 seek=" + std::to_string(kNtfsFirst) +
                     " conv=notrunc status=none");
        std::remove(ntfs.c_str());
        return ok;
    });
}

CFileNode* Find(CFileNode* root, const std::string& folder, const std::string& name) {
    for (CFileNode* f = root->m_pFirstChild; f; f = f->m_pNextSibling) {
        if (!f->m_pProperties || folder != f->m_pProperties->GetName())
            continue;
        for (CFileNode* c = f->m_pFirstChild; c; c = c->m_pNextSibling)
            if (c->m_pProperties && name == c->m_pProperties->GetName())
                return c;
    }
    return nullptr;
}

} // namespace

TEST(QuickScan, EitherFileSystemOnADiskOrOnAPartitionDevice) {
    const std::string image = DiskWithBothVolumes();
    ASSERT_FALSE(image.empty());
    CImageFileDevice disk(image.c_str());
    struct Case {
        const char* what;
        std::uint64_t first, sectors;
        const char* file;
        int which;
    };
    const Case cases[] = {{"FAT16", kFatFirst, kFatSectors, "fat.bin", 1},
                          {"NTFS", kNtfsFirst, kNtfsSectors, "ntfs.bin", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CBasicPartitionDevice partition(&disk, c.first, c.sectors);
        for (IStorageDevice* device : {static_cast<IStorageDevice*>(&disk), static_cast<IStorageDevice*>(&partition)}) {
            const std::uint64_t first = device == &disk ? c.first : 0;
            SCOPED_TRACE(first);
            TreePtr root(QuickScanVolume(device, first, nullptr));
            ASSERT_TRUE(root);
            CFileNode* file = Find(root.get(), "Folder", c.file);
            ASSERT_NE(file, nullptr);
            const std::string out = ScratchDir("quickscan") + "/" + c.file;
            RecoveryContext context;
            context.device = device;
            ASSERT_EQ(RecoverFileData(context, file, out), kRecoverDone);
            EXPECT_EQ(ReadFileBytes(out), FileBytes(c.which));
        }
    }
    // Neither file system at the disk's first sector (the partition table).
    EXPECT_EQ(QuickScanVolume(&disk, 0, nullptr), nullptr);
}

// The FAT record a quick scan needs, made from the boot sector alone.
TEST(QuickScan, FatRecordFromTheBootSector) {
    const std::string image = DiskWithBothVolumes();
    ASSERT_FALSE(image.empty());
    CImageFileDevice disk(image.c_str());
    std::uint8_t sector[kSectorSize];
    ASSERT_EQ(disk.ReadSectors(sector, kFatFirst, 1), 1);
    CFATSearchedPartitionInfo info;
    ASSERT_TRUE(InitFATSearchedPartitionInfo(info, sector, sizeof sector, kFatFirst));
    EXPECT_EQ(info.m_fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_FAT16));
    EXPECT_EQ(info.m_u64KeptFirstSector, kFatFirst);
    EXPECT_EQ(info.m_u32SectorCount, kFatSectors);
    EXPECT_EQ(info.m_u32EvidenceFlags & FATEVIDENCE_ANY_BOOT, static_cast<std::uint32_t>(FATEVIDENCE_FAT16_BOOT));
    EXPECT_EQ(info.m_u32EvidenceFlags & FATEVIDENCE_BOTH_FATS, static_cast<std::uint32_t>(FATEVIDENCE_BOTH_FATS));
    EXPECT_GT(info.m_u64FirstSector, kFatFirst + info.m_u16ReservedSectors + 2 * info.m_u32SectorsPerFat);
    std::uint8_t ntfs[kSectorSize];
    ASSERT_EQ(disk.ReadSectors(ntfs, kNtfsFirst, 1), 1);
    CFATSearchedPartitionInfo untouched;
    EXPECT_FALSE(InitFATSearchedPartitionInfo(untouched, ntfs, sizeof ntfs, kNtfsFirst));
    EXPECT_EQ(untouched.m_u32EvidenceFlags, 0u);
}
