// The rows of the file and partition properties dialogs, one table per dialog.
#include "ui/views/PropertyRows.h"

#include <gtest/gtest.h>

#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsBootSector.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"

#include <fstream>
#include "storage/ImageFileDevice.h"
#include "tests/support/CrossLinkVolumes.h"
#include "tests/ui/views/ViewsFixtures.h"

using namespace viewtests;

namespace {

std::string Value(const PropertyRows& rows, const std::string& name) {
    for (const auto& r : rows)
        if (r.first == name)
            return r.second;
    return "<none>";
}

std::vector<std::string> Labels(const PropertyRows& rows) {
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(r.first);
    return out;
}

} // namespace

TEST(FilePropertyRows, FatTree) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    std::uint64_t first = 0;
    std::uint32_t perCluster = 0;
    root->GetFileSystemInfo(&first, &perCluster);
    ASSERT_GT(first, 0u);
    CFileNode* folder = Child(root.get(), "Folder");
    CFileNode* inner = AtPath(root.get(), "/Folder/inner.txt");
    CFileNode* top = Child(root.get(), "wide.png");
    ASSERT_TRUE(folder && inner && top);
    const PropertyRows f = FilePropertyRows(folder);
    EXPECT_EQ(Labels(f), (std::vector<std::string>{"Name", "Sector", "Cluster", "Parent", "Deleted",
                                                   "Lost", "Cross Link", "Temp"}));
    EXPECT_EQ(Value(f, "Cluster"), "2");
    EXPECT_EQ(Value(f, "Sector"), std::to_string(first)); // cluster 2 is the data area's start
    const PropertyRows i = FilePropertyRows(inner);
    EXPECT_EQ(Labels(i), (std::vector<std::string>{"Name", "Parent", "Parent Sector", "Deleted",
                                                   "Lost", "Cross Link", "Temp", "Lay out"}));
    EXPECT_EQ(Value(i, "Parent"), "2");
    EXPECT_EQ(Value(i, "Parent Sector"), std::to_string(first));
    EXPECT_EQ(Value(i, "Deleted"), "No");
    EXPECT_NE(Value(i, "Lay out").find(": "), std::string::npos);
    EXPECT_EQ(Value(i, "Lay out").back(), '.');
    // A file in the root folder: parent cluster 0 has no sector.
    const PropertyRows t = FilePropertyRows(top);
    EXPECT_EQ(Value(t, "Parent"), "0");
    EXPECT_EQ(Value(t, "Parent Sector"), "");
    // The volume's root folder node starts with its two folder rows.
    const PropertyRows r = FilePropertyRows(root.get());
    ASSERT_GE(r.size(), 2u);
    EXPECT_EQ(r[0].first, "Sector Per Cluster");
    EXPECT_EQ(r[0].second, std::to_string(perCluster));
    EXPECT_EQ(r[1].first, "Start Sector");
    EXPECT_TRUE(FilePropertyRows(nullptr).empty());
}

TEST(FilePropertyRows, NtfsTree) {
    const std::string image = NtfsListImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanNtfs(image);
    ASSERT_TRUE(root);
    CFileNode* docs = nullptr;
    std::vector<CFileNode*> stack{root.get()};
    while (!stack.empty() && !docs) {
        CFileNode* n = stack.back();
        stack.pop_back();
        docs = Child(n, "docs");
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    ASSERT_TRUE(docs);
    CFileNode* small = Child(docs, "f0.txt");
    CFileNode* gone = Child(docs, "gone.txt");
    ASSERT_TRUE(small && gone);
    const PropertyRows s = FilePropertyRows(small);
    EXPECT_EQ(Value(s, "Resident"), "Yes");
    EXPECT_EQ(Value(s, "Size"), std::to_string(small->m_pProperties->GetFileSize()));
    EXPECT_NE(Value(s, "Offset"), "<none>");
    EXPECT_EQ(Value(s, "Lay out"), "<none>");
    EXPECT_NE(Value(s, "Record sector"), "0");
    const PropertyRows g = FilePropertyRows(gone);
    EXPECT_EQ(Value(g, "Resident"), "No");
    EXPECT_EQ(Value(g, "Deleted"), "Yes");
    EXPECT_EQ(Value(g, "Compressed"), "No");
    EXPECT_NE(Value(g, "Lay out"), "<none>");
    const PropertyRows d = FilePropertyRows(docs);
    EXPECT_EQ(Value(d, "Resident"), "<none>"); // folders list no data rows
    EXPECT_EQ(Labels(d).front(), "Name");
}

// A deleted file whose clusters a later file took says so; one whose clusters are free does not.
TEST(FilePropertyRows, CrossLinkedDeletedFiles) {
    const std::string ntfs = testsupport::NtfsCrossLinkVolume();
    const std::string fat = testsupport::FatCrossLinkVolume();
    const std::string ext2 = testsupport::Ext2CrossLinkVolume();
    ASSERT_FALSE(ntfs.empty() || fat.empty() || ext2.empty());
    std::vector<std::pair<const char*, testsupport::TreePtr>> trees;
    trees.emplace_back("NTFS", ScanNtfs(ntfs));
    {
        CImageFileDevice device(fat.c_str());
        std::uint8_t boot[512];
        ASSERT_EQ(device.ReadSectors(boot, 0, 1), 1);
        CFATSearchedPartitionInfo part;
        ASSERT_TRUE(InitFATSearchedPartitionInfo(part, boot, sizeof boot, 0));
        trees.emplace_back("FAT32", BuildFatFileTree(nullptr, &part, nullptr, &device, 0));
    }
    {
        CImageFileDevice device(ext2.c_str());
        trees.emplace_back("EXT2", BuildExt2FileTree(&device, nullptr, nullptr));
    }
    for (const auto& [name, root] : trees) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(root);
        const testsupport::CrossLinkFiles files = testsupport::FindCrossLinkFiles(root.get());
        ASSERT_TRUE(files.reused && files.intact);
        const PropertyRows reused = FilePropertyRows(files.reused);
        EXPECT_EQ(Value(reused, "Deleted"), "Yes");
        EXPECT_EQ(Value(reused, "Cross Link"), "Yes");
        const PropertyRows intact = FilePropertyRows(files.intact);
        EXPECT_EQ(Value(intact, "Deleted"), "Yes");
        EXPECT_EQ(Value(intact, "Cross Link"), "No");
    }
}

TEST(FilePropertyRows, HandMadeFolders) {
    HandNodes h;
    const struct { std::uint32_t type; bool folderNode; std::uint16_t attrs; std::vector<std::string> labels; } cases[] = {
        {FILESYSTEM_EXT2, true, FILEATTR_DIRECTORY, {"Sector Per Cluster", "Start Sector"}},
        {FILESYSTEM_EXT3, true, FILEATTR_DIRECTORY, {"Sector Per Cluster", "Start Sector"}},
        {FILESYSTEM_RAW, true, FILEATTR_DIRECTORY, {"Sector Per Cluster", "Start Sector"}},
        {FILESYSTEM_EXT2, false, 0, {}},
        {FILESYSTEM_RAW, false, 0, {"Name", "DataAreaSector"}}, // no run list: no "Lay out"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " folder " << c.folderNode);
        auto props = std::make_unique<CMyFileProperties>();
        props->SetRecord(Record("x", VALIDFIELDS_FILESYSTEM, 0, 0, c.attrs));
        CFileSystemNode folder;
        folder.SetFileSystemType(c.type);
        folder.SetFileSystemInfo(1234, 8);
        CFileNode file;
        CFileNode* node = &folder;
        if (!c.folderNode) {
            folder.AddChild(&file);
            node = &file;
        }
        node->BorrowProperties(props.get());
        const PropertyRows rows = FilePropertyRows(node);
        EXPECT_EQ(Labels(rows), c.labels);
        if (c.folderNode) {
            EXPECT_EQ(rows[0].second, "8");
            EXPECT_EQ(rows[1].second, "1234");
        }
        node->m_pProperties.Reset();
        if (!c.folderNode)
            UnlinkChildNode(&folder, &file);
    }
}

TEST(PartitionPropertyRows, Table) {
    CFATSearchedPartitionInfo fat;
    fat.m_fileSystemType = FILESYSTEM_FAT32;
    fat.m_u32EvidenceFlags = 0x04 | 0x40;
    fat.m_u64Score = 3;
    fat.m_u64KeptFirstSector = 2048;
    fat.m_u64FirstSector = 10000;
    fat.m_u16ReservedSectors = 32;
    fat.m_u32SectorsPerFat = 500;
    fat.m_sectorsPerCluster = 8;
    fat.m_u32SectorCount = 70000;
    const PropertyRows f = PartitionPropertyRows(&fat, false, 0, 0);
    ASSERT_EQ(f.size(), 16u);
    EXPECT_EQ(f[0], (PropertyRow{"Rank", "100%"}));
    EXPECT_EQ(f[1], (PropertyRow{"File System", "FAT32"}));
    EXPECT_EQ(Value(f, "From FAT32 DBR"), "Yes");
    EXPECT_EQ(Value(f, "From FAT16 DBR"), "-");
    EXPECT_EQ(Value(f, "Found FAT1"), "Yes");
    EXPECT_EQ(Value(f, "Found FAT2"), "No");
    EXPECT_EQ(Value(f, "Partition Start Sector"), "2048");
    EXPECT_EQ(Value(f, "Data Area Start Sector"), "10000");
    EXPECT_EQ(Value(f, "Reversed Sector"), "32");
    CSearchedPartitionInfo other;
    other.m_fileSystemType = FILESYSTEM_EXT2;
    other.m_u32SectorCount = 99;
    other.m_u64FirstSector = 0x1'0000'0000ull; // sectors above 32 bits
    other.m_sectorsPerCluster = 2;
    EXPECT_EQ(PartitionPropertyRows(&other, false, 0, 0),
              (PropertyRows{{"partition sectors count", "99"},
                            {"data area start sector", "4294967296"},
                            {"sectors per cluster", "2"}}));
    EXPECT_EQ(PartitionPropertyRows(nullptr, true, 63, 1000),
              (PropertyRows{{"Total Sector", "1000"}, {"Start Sector", "63"}}));
    EXPECT_TRUE(PartitionPropertyRows(nullptr, false, 63, 1000).empty());
}

TEST(PartitionPropertyRows, NtfsEvidenceAndSystemFiles) {
    static const char* const kEvidence[] = {
        "  From first boot record", "  From last boot record",          "  From mft files pair",
        "  From single $mft",       "  From $mftMirr",                  "  From index/folder comparision",
        "  From First RSTR",        "  From Second RSTR",               "  From files analysis"};
    struct Case {
        const char* what;
        std::uint32_t evidence;
        std::vector<std::string> flags; // the nine evidence values in order
    };
    const Case cases[] = {
        {"no evidence: '-' on all nine", 0, {"-", "-", "-", "-", "-", "-", "-", "-", "-"}},
        {"boot records and both restart pages", 0x0C3, {"Yes", "Yes", "-", "-", "-", "-", "Yes", "Yes", "-"}},
        {"every bit", 0x1FF, {"Yes", "Yes", "Yes", "Yes", "Yes", "Yes", "Yes", "Yes", "Yes"}},
        {"files analysis only", 0x100, {"-", "-", "-", "-", "-", "-", "-", "-", "Yes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSearchedNTFSPartitionInfo p;
        p.m_fileSystemType = FILESYSTEM_NTFS;
        p.SetEvidence(c.evidence);
        const PropertyRows rows = PartitionPropertyRows(&p, false, 0, 0);
        ASSERT_EQ(rows.size(), 26u);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(rows[static_cast<std::size_t>(i)], (PropertyRow{kEvidence[i], c.flags[static_cast<std::size_t>(i)]}));
    }

    // A record from the boot sector of a volume made by mkntfs, on a disk above 2 TiB.
    const std::string& image = NtfsListImage();
    ASSERT_FALSE(image.empty());
    std::ifstream in(image, std::ios::binary);
    std::uint8_t sector[512] = {};
    in.read(reinterpret_cast<char*>(sector), sizeof sector);
    CNTFSDBR boot;
    ASSERT_TRUE(boot.SetData(sector));
    const std::uint64_t start = std::uint64_t{5} << 31; // 5 TiB in
    auto rec = MakeNtfsPartitionFromBootSector(boot, start, NTFS_EVIDENCE_BOOT, start + (std::uint64_t{3} << 31));
    ASSERT_TRUE(rec);
    rec->SetSectorCount(std::uint64_t{3} << 31); // 3 TiB: more than 32 bits of sectors
    rec->m_u32UseMftFile = 1;
    rec->m_u64MftRecordSector = start + boot.GetMftCluster() * boot.GetSectorsPerCluster();
    rec->IndexConfirmations() = 4;
    rec->FilesConfirmed() = 17;
    const PropertyRows rows = PartitionPropertyRows(rec.get(), false, 0, 0);
    EXPECT_EQ(Value(rows, "  From first boot record"), "Yes");
    EXPECT_EQ(Value(rows, "  From last boot record"), "-");
    EXPECT_EQ(Value(rows, "partition sectors count"), std::to_string(std::uint64_t{3} << 31));
    EXPECT_EQ(Value(rows, "data area start sector"), std::to_string(start));
    EXPECT_EQ(Value(rows, "sectors per cluster"), std::to_string(boot.GetSectorsPerCluster()));
    EXPECT_EQ(Value(rows, "Use$MFT"), "Yes");
    EXPECT_EQ(Value(rows, "ProcessFilesfrom$MFTonly"), "No");
    EXPECT_EQ(Value(rows, "Folders match"), "4");
    EXPECT_EQ(Value(rows, "Files match"), "17");
    EXPECT_EQ(Value(rows, "Sectors per $mft file record"), "2");
    EXPECT_EQ(Value(rows, "$MFTSector"), std::to_string(rec->m_u64MftRecordSector));
    // Values the scan never learnt read -1.
    EXPECT_EQ(Value(rows, "$LogFileSector"), "-1");
    EXPECT_EQ(Value(rows, "$UpcaseMatch"), "-1");
    // The labels in their order after the evidence rows.
    const std::vector<std::string> labels = Labels(rows);
    const std::vector<std::string> tail(labels.begin() + 9, labels.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "partition sectors count", "data area start sector", "sectors per cluster", "Total Clusters",
                        "Use$MFT", "ProcessFilesfrom$MFTonly", "Folders match", "Files match",
                        "Sectors per $mft file record", "$LogFileMatch", "$AttrDefMatch", "$UpcaseMatch",
                        "$MFTSector", "$LogFileSector", "$AttrDefSector", "$UpcaseSector",
                        "SectorsCountfromSystemFiles"}));
    // A FAT partition ranks "100%" whatever its score.
    CFATSearchedPartitionInfo fat;
    fat.m_fileSystemType = FILESYSTEM_FAT16;
    fat.m_relativeScore = 0.1;
    EXPECT_EQ(Value(PartitionPropertyRows(&fat, false, 0, 0), "Rank"), "100%");
}
