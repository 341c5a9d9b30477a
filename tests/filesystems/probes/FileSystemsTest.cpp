// The list of file systems: each entry's objects carry the kinds the scan-state store keys them
// on (so a saved state loads into the same classes), and every recorded id finds its entry.
#include "filesystems/FileProperties.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/probes/FileSystems.h"
#include "filesystems/probes/QuickScan.h"

#include <gtest/gtest.h>
#include <memory>

TEST(FileSystems, EachEntryMakesObjectsOfItsOwnKinds) {
    ASSERT_EQ(FileSystems().size(), 3u);
    for (const FileSystemDescriptor* fs : FileSystems()) {
        SCOPED_TRACE(fs->name);
        std::unique_ptr<IFileSystemSearchController> controller(fs->newSearchController());
        ASSERT_TRUE(controller);
        EXPECT_EQ(controller->GetKind(), fs->searchControllerKind);
        std::unique_ptr<CSearchedPartitionInfo> partition(fs->newSearchedPartition());
        ASSERT_TRUE(partition);
        EXPECT_EQ(partition->GetKind(), fs->searchedPartitionKind);
        std::unique_ptr<IFileProperties> properties(fs->newFileProperties());
        ASSERT_TRUE(properties);
        EXPECT_EQ(properties->GetFileSystemKind(), fs->filePropertiesKind);
        EXPECT_EQ(FindFileSystemBySearchController(fs->searchControllerKind), fs);
        EXPECT_EQ(FindFileSystemBySearchedPartition(fs->searchedPartitionKind), fs);
        EXPECT_EQ(FindFileSystemByFileProperties(fs->filePropertiesKind), fs);
    }
}

TEST(FileSystems, RecordedIdsAndHowTheirVolumesAreTold) {
    struct Case {
        std::uint32_t type;
        const char* name; // null: no file system's
        bool byBootSector;
    };
    const Case cases[] = {{FILESYSTEM_FAT12, "FAT", true},
                          {FILESYSTEM_FAT16, "FAT", true},
                          {FILESYSTEM_FAT32, "FAT", true},
                          {FILESYSTEM_NTFS, "NTFS", true},
                          {FILESYSTEM_EXT2, "EXT2", false},
                          {FILESYSTEM_EXT3, "EXT2", false},
                          {FILESYSTEM_RAW, nullptr, false},
                          {FILESYSTEM_UNKNOWN, nullptr, false},
                          {99, nullptr, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const FileSystemDescriptor* fs = FindFileSystemByType(c.type);
        EXPECT_EQ(CanQuickScanFileSystemType(c.type), c.name != nullptr);
        if (!c.name) {
            EXPECT_EQ(fs, nullptr);
            continue;
        }
        ASSERT_NE(fs, nullptr);
        EXPECT_STREQ(fs->name, c.name);
        EXPECT_EQ(fs->scanAtBootSector != nullptr, c.byBootSector);
        EXPECT_EQ(fs->scanRecordedVolume != nullptr, !c.byBootSector);
    }
    EXPECT_EQ(FindFileSystemBySearchController(SEARCH_CONTROLLER_RAW), nullptr);
    EXPECT_EQ(FindFileSystemBySearchedPartition(SEARCHED_PARTITION_BASE), nullptr);
    EXPECT_EQ(FindFileSystemByFileProperties(FILEPROPS_RAW), nullptr);
    EXPECT_EQ(FindFileSystemByFileProperties(FILEPROPS_VIEW), nullptr);
}
