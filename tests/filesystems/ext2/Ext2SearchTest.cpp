// The EXT2 search controller fed sector by sector: superblock copies found wherever they lie,
// tables gathered from the following sectors, copies of one file system merged and scored,
// the tree built from a found partition (also when only a backup copy survived), and the
// partition record's save and load.
#include "carving/records/RawFileInfo.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2SearchController.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/ext2/Ext2Volume.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"
#include "tests/support/TreePtr.h"
#include "storage/ImageFileDevice.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace testsupport;

namespace {

constexpr std::uint64_t kStart = 2048;

std::vector<std::uint8_t> OnDisk(const std::vector<std::uint8_t>& image, std::uint64_t tail = 64) {
    std::vector<std::uint8_t> bytes(kStart * 512, 0);
    bytes.insert(bytes.end(), image.begin(), image.end());
    bytes.resize(bytes.size() + tail * 512, 0);
    return bytes;
}

struct Found {
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> partitions;
    CExt2SearchedPartitionInfo* at(std::size_t i) {
        return dynamic_cast<CExt2SearchedPartitionInfo*>(partitions.at(i).get());
    }
};

Found Search(IStorageDevice& device, std::uint64_t sectors, CEXT2SearchController& controller) {
    controller.SetDevice(&device);
    controller.SetSectorsPerStep(1000);
    controller.BeginSearch();
    for (std::uint64_t s = 0; s < sectors; s += 1000)
        EXPECT_EQ(controller.AnalyzeSectors(s, std::min<std::uint64_t>(1000, sectors - s), nullptr), 1);
    controller.EndSearch();
    std::vector<CSearchedPartitionInfo*> out;
    controller.CollectSearchedPartitions(out);
    Found f;
    for (CSearchedPartitionInfo* p : out)
        f.partitions.emplace_back(p);
    return f;
}

std::map<std::string, std::uint64_t> FileSizes(CFileNode* root) {
    std::map<std::string, std::uint64_t> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            const std::string p = path + "/" + c->m_pProperties->GetName();
            out[p] = c->m_pProperties->GetFileSize();
            stack.push_back({c, p});
        }
    }
    return out;
}

} // namespace

TEST(Ext2Search, PrimaryAndBackupAreOnePartition) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> image = LoadImageBytes(path);
    MemoryDevice disk(OnDisk(image));
    CEXT2SearchController controller;
    EXPECT_EQ(controller.GetKind(), 3u);
    EXPECT_TRUE(controller.AcceptsFileSystemType(FILESYSTEM_EXT2));
    EXPECT_TRUE(controller.AcceptsFileSystemType(FILESYSTEM_EXT3));
    EXPECT_FALSE(controller.AcceptsFileSystemType(FILESYSTEM_FAT32));
    Found found = Search(disk, disk.GetSectorCount(), controller);
    ASSERT_EQ(found.partitions.size(), 1u);
    CExt2SearchedPartitionInfo* p = found.at(0);
    EXPECT_EQ(p->m_u32TimesSeen, 2u);
    EXPECT_EQ(p->m_u64Score, 100u);
    EXPECT_EQ(p->m_u64KeptFirstSector, kStart);
    EXPECT_EQ(p->m_u64FirstSector, kStart + 2);
    EXPECT_EQ(p->m_u64TableSector, kStart + 4);
    EXPECT_EQ(p->m_fileSystemType, FILESYSTEM_EXT2);
    EXPECT_EQ(p->m_sectorsPerCluster, 2u);
    EXPECT_EQ(p->m_u32SectorCount, image.size() / 512);

    TreePtr root(controller.BuildDirectoryTree(p, &disk, 0, nullptr));
    ASSERT_TRUE(root);
    EXPECT_STREQ(root->m_pProperties->GetName(), "1 Ext2(first)");
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    root->GetFileSystemInfo(&first, &spc);
    EXPECT_EQ(first, kStart);
    const auto sizes = FileSizes(root.get());
    EXPECT_EQ(sizes.at("/docs/a.txt"), 3000u);
    EXPECT_EQ(sizes.at("/big.bin"), 300u * 1024);

    // The record saves and loads; the loaded one reads its superblock and table again.
    MemorySection section;
    ASSERT_EQ(p->Save(&section), 1);
    EXPECT_EQ(section.bytes.size(), kExt2SearchedPartitionRecordSize);
    CExt2SearchedPartitionInfo loaded;
    ASSERT_EQ(loaded.Load(&section), 1);
    EXPECT_EQ(loaded.m_u64KeptFirstSector, kStart);
    EXPECT_EQ(loaded.m_u64TableSector, kStart + 4);
    CEXT2SearchController restored;
    TreePtr again(restored.BuildDirectoryTree(&loaded, &disk, 1, nullptr));
    ASSERT_TRUE(again);
    EXPECT_STREQ(again->m_pProperties->GetName(), "2 Ext2(first)");
    EXPECT_EQ(FileSizes(again.get()), sizes);

    // A loaded record whose superblock no longer reads back gives no tree.
    MemoryDevice wiped(OnDisk(std::vector<std::uint8_t>(image.size(), 0)));
    CExt2SearchedPartitionInfo stale;
    section.pos = 0;
    stale.Load(&section);
    EXPECT_EQ(restored.BuildDirectoryTree(&stale, &wiped, 0, nullptr), nullptr);

    // A record that cannot be right is refused.
    MemorySection bad;
    CExt2SearchedPartitionInfo zero;
    zero.Save(&bad);
    CExt2SearchedPartitionInfo refused;
    EXPECT_THROW(refused.Load(&bad), CRSException);
}

TEST(Ext2Search, OnlyTheBackupCopySurvives) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    std::vector<std::uint8_t> image = LoadImageBytes(path);
    std::fill(image.begin() + 1024, image.begin() + 2048, 0); // primary superblock
    MemoryDevice disk(OnDisk(image));
    CEXT2SearchController controller;
    Found found = Search(disk, disk.GetSectorCount(), controller);
    ASSERT_EQ(found.partitions.size(), 1u);
    CExt2SearchedPartitionInfo* p = found.at(0);
    EXPECT_EQ(p->m_u32TimesSeen, 1u);
    EXPECT_EQ(p->m_u64Score, 45u);
    EXPECT_EQ(p->m_u64KeptFirstSector, kStart);
    EXPECT_EQ(p->m_u64FirstSector, kStart + 8193 * 2);
    EXPECT_EQ(p->m_u64TableSector, kStart + 8194 * 2);
    TreePtr root(controller.BuildDirectoryTree(p, &disk, 0, nullptr));
    ASSERT_TRUE(root);
    const auto sizes = FileSizes(root.get());
    EXPECT_EQ(sizes.at("/docs/sub/deep.bin"), 1000u);
    EXPECT_EQ(sizes.at("/huge.bin"), 5ull << 30);

    // The primary copy is refused; the volume probe and the volume build take the backup of
    // group 1 and still name the file system and list its files.
    MemoryDevice volume(image);
    EXPECT_THROW(CExt2FileSystem(&volume, 2), CExt2BadSuperBlock);
    CExt2Volume probe(&volume, 0);
    EXPECT_EQ(probe.GetFileSystemType(), FILESYSTEM_EXT2);
    char label[100] = {};
    probe.GetVolumeLabel(label, sizeof label);
    EXPECT_STREQ(label, "first");
    TreePtr quick(BuildExt2FileTree(&volume, nullptr, nullptr));
    ASSERT_TRUE(quick);
    EXPECT_EQ(FileSizes(quick.get()), sizes);
    // A partition start that the backup does not name is not taken.
    MemoryDevice shifted(OnDisk(image));
    EXPECT_EQ(CExt2Volume(&shifted, kStart - 8).GetFileSystemType(), FILESYSTEM_UNKNOWN);
    EXPECT_EQ(CExt2Volume(&shifted, kStart).GetFileSystemType(), FILESYSTEM_EXT2);
}

TEST(Ext2Search, FourKiBBlocksAndLongTables) {
    // ext3 with 4 KiB blocks: one group, the table in the block after the superblock's.
    const std::string path = Ext2SampleVolume("ext3-4k");
    ASSERT_FALSE(path.empty());
    MemoryDevice disk(OnDisk(LoadImageBytes(path)));
    CEXT2SearchController controller;
    Found found = Search(disk, disk.GetSectorCount(), controller);
    ASSERT_EQ(found.partitions.size(), 1u);
    EXPECT_EQ(found.at(0)->m_fileSystemType, FILESYSTEM_EXT3);
    EXPECT_EQ(found.at(0)->m_u64TableSector, kStart + 8);
    EXPECT_EQ(found.at(0)->m_u64Score, 60u);

    // Twenty groups: the table is gathered over two sectors, sixteen descriptors each.
    const std::string many = CachedFixture("ext2-twenty-groups-v1.img", [](const std::string& tmp) {
        Ext2ImageOptions o;
        o.sizeKiB = 20 * 8192;
        return RequireExt2Tools() && Ext2Image::Format(tmp, o);
    });
    ASSERT_FALSE(many.empty());
    CImageFileDevice device(many.c_str());
    CEXT2SearchController twenty;
    twenty.SetDevice(&device);
    twenty.BeginSearch();
    twenty.AnalyzeSectors(0, 64, nullptr);
    ASSERT_EQ(twenty.Committed().size(), 1u);
    const CExt2SearchedPartitionInfo* p = twenty.Committed()[0];
    EXPECT_EQ(p->GroupCount(), 20u);
    EXPECT_EQ(p->m_u32DescriptorsGathered, 20u);
    CExt2FileSystem fs(&device, 2);
    EXPECT_EQ(p->m_table, fs.GroupTable());
}

TEST(Ext2Search, ValidSuperBlockReplacesThePendingOne) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> image = LoadImageBytes(path);
    // A second copy of the superblock right behind the first, before the table is gathered:
    // the first is dropped, the second never finds its table where it should be.
    std::vector<std::uint8_t> bytes = OnDisk(image);
    std::copy(image.begin() + 1024, image.begin() + 2048, bytes.begin() + (kStart + 3) * 512);
    MemoryDevice disk(bytes);
    CEXT2SearchController controller;
    controller.SetDevice(&disk);
    controller.BeginSearch();
    controller.AnalyzeSectors(0, kStart + 64, nullptr);
    EXPECT_TRUE(controller.Committed().empty());
}

TEST(Ext2Search, CarvedFilesOnlyFromUnusedBlocks) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    Ext2Image img(path);
    std::string out;
    ASSERT_TRUE(img.Debugfs({"testb 12000"}, &out, false));
    ASSERT_NE(out.find("Block 12000 not in use"), std::string::npos) << out;
    MemoryDevice disk(OnDisk(LoadImageBytes(path)));
    CEXT2SearchController controller;
    Found found = Search(disk, disk.GetSectorCount(), controller);
    ASSERT_EQ(found.partitions.size(), 1u);

    // Where big.bin's first block lies, as the tree itself says.
    TreePtr plain(controller.BuildDirectoryTree(found.at(0), &disk, 0, nullptr));
    ASSERT_TRUE(plain);
    std::int64_t bigFirst = 0;
    for (CFileNode* c = plain->m_pFirstChild; c; c = c->m_pNextSibling)
        if (std::string(c->m_pProperties->GetName()) == "big.bin") {
            std::unique_ptr<IDataRunList> runs(c->m_pProperties->GetDataRunList());
            ASSERT_TRUE(runs);
            bigFirst = runs->Runs()[0].start;
        }
    ASSERT_GT(bigFirst, 0);

    CRawFileList carved;
    auto add = [&](std::uint64_t sector) {
        auto* r = new CRawFileInfo();
        r->m_u64StartSector = sector;
        r->m_u64Size = 100;
        r->m_u32FileType = 33;
        r->m_u32AnalyserType = 33;
        carved.Add(r);
    };
    add(kStart + 12000 * 2);                                 // a free block: carved
    add(kStart + static_cast<std::uint64_t>(bigFirst) * 2);  // a file's block: left out
    add(kStart + 2);                                         // the superblock: left out
    controller.SetResultSink(&carved);
    TreePtr root(controller.BuildDirectoryTree(found.at(0), &disk, 0, nullptr));
    ASSERT_TRUE(root);
    CFileNode* raw = root->m_pFirstChild;
    ASSERT_TRUE(raw);
    EXPECT_STREQ(raw->m_pProperties->GetName(), "Raw Files");
    int files = 0;
    for (CFileNode* type = raw->m_pFirstChild; type; type = type->m_pNextSibling)
        for (CFileNode* f = type->m_pFirstChild; f; f = f->m_pNextSibling)
            ++files;
    EXPECT_EQ(files, 1);
}
