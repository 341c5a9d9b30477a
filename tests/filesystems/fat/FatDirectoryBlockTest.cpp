// The directory-block parser on hand-made entries: duplicate directories, lost-folder mode,
// builder folders, and the searched-partition record.
#include "filesystems/fat/FatTreeBuilder.h"

#include "filesystems/FileNode.h"
#include "tests/support/MemorySection.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

using Entry = std::array<std::uint8_t, 32>;

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

Entry Dir(const char* name11, std::uint32_t cluster, std::uint16_t date, bool deleted = false) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    if (deleted)
        e[0] = 0xE5;
    e[11] = 0x10;
    Put16(&e[24], date);
    Put16(&e[26], static_cast<std::uint16_t>(cluster));
    return e;
}

Entry File(const char* name11, std::uint32_t cluster, std::uint32_t size) {
    Entry e{};
    std::memcpy(e.data(), name11, 11);
    e[11] = 0x20;
    Put16(&e[26], static_cast<std::uint16_t>(cluster));
    for (int i = 0; i < 4; ++i)
        e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    return e;
}

std::vector<std::uint8_t> Block(std::initializer_list<Entry> entries) {
    std::vector<std::uint8_t> out;
    for (const Entry& e : entries)
        out.insert(out.end(), e.begin(), e.end());
    return out;
}

// A FAT16 volume of 4096 sectors: 4 reserved, two FATs of 16 sectors, 512 root entries,
// 1-sector clusters.
struct Volume {
    Volume() : dev(4096) {
        std::uint8_t* s = dev.Sector(0);
        s[0] = 0xEB;
        s[13] = 1;
        Put16(s + 14, 4);
        s[16] = 2;
        Put16(s + 17, 512);
        Put16(s + 19, 4096);
        Put16(s + 22, 16);
        std::memcpy(s + 54, "FAT16   ", 8);
        s[510] = 0x55;
        s[511] = 0xAA;
        dbr.Set(s, 512);
    }
    testsupport::MemoryDevice dev;
    CFATDBR dbr;
};

std::vector<std::string> ChildNames(const CFileNode* n) {
    std::vector<std::string> out;
    for (const CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling)
        out.push_back(c->m_pProperties->GetName());
    return out;
}

const CFATFileProperties* Props(const CFileNode* n) {
    return static_cast<const CFATFileProperties*>(n->m_pProperties.get());
}

TEST(FatDirectoryBlock, DuplicateDirectories) {
    Volume v;
    FatDirectoryScanner scanner(nullptr, &v.dev);
    scanner.SetLayout(v.dbr, 0, nullptr);
    ASSERT_TRUE(v.dbr.IsValid());
    CFileSystemNode* root = scanner.MakeFatRootNode(0);
    scanner.root = root;
    EXPECT_STREQ(root->m_pProperties->GetName(), "1 FAT16");

    // A deleted folder at cluster 20, then a live one with the same cluster: the live one
    // stays, once.
    auto first = Block({Dir("OLD        ", 20, 0x5221, true), Dir("NEW        ", 20, 0x5221),
                        Dir("OTHER      ", 30, 0x5221, true)});
    EXPECT_EQ(scanner.ParseDirectoryBlock(first.data(), first.size(), root, false, false),
              static_cast<std::int64_t>(first.size()));
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"#THER", "NEW"}));
    ASSERT_EQ(scanner.directories.size(), 2u);
    EXPECT_STREQ(scanner.directories[20]->m_pProperties->GetName(), "NEW");
    EXPECT_EQ(scanner.queue.size(), 2u);

    // Inside the deleted folder (30) a child folder 31; inside that, an entry that names the
    // deleted folder's cluster again as a live folder. Replacing would make the deleted folder
    // its own ancestor: the entry is dropped instead.
    CFileNode* other = scanner.directories[30];
    auto inner = Block({Dir("CHILD      ", 31, 0x5221)});
    scanner.ParseDirectoryBlock(inner.data(), inner.size(), other, false, false);
    CFileNode* child = scanner.directories[31];
    ASSERT_TRUE(child);
    EXPECT_EQ(Props(child)->GetFileState() & 1, 1) << "under a deleted folder";
    auto loop = Block({Dir("LOOP       ", 30, 0x5221)});
    scanner.ParseDirectoryBlock(loop.data(), loop.size(), child, false, false);
    EXPECT_EQ(child->m_pFirstChild, nullptr);
    EXPECT_EQ(scanner.directories[30], other);
    EXPECT_EQ(other->m_pParent, root);

    scanner.FreeScannerTree(root);
    EXPECT_TRUE(scanner.directories.empty());
}

TEST(FatDirectoryBlock, LostModeAndBuilderFolders) {
    Volume v;
    FatDirectoryScanner scanner(nullptr, &v.dev);
    scanner.SetLayout(v.dbr, 0, nullptr);
    CFileSystemNode* root = scanner.MakeFatRootNode(1);
    scanner.root = root;
    EXPECT_STREQ(root->m_pProperties->GetName(), "2 FAT16");

    Entry garbage{};
    std::memset(garbage.data(), 0x01, 32);
    auto block = Block({File("A       TXT", 5, 100), garbage, File("B       TXT", 6, 100)});
    CFileNode* lost = scanner.MakeLostFoldersNode();
    EXPECT_EQ(scanner.ParseDirectoryBlock(block.data(), block.size(), lost, true, true),
              static_cast<std::int64_t>(block.size()));
    EXPECT_EQ(ChildNames(lost), (std::vector<std::string>{"A.TXT"})) << "stops at damage";
    CFileNode* kept = scanner.MakeFatDirNode(40, 0xFFFFFFFF);
    scanner.ParseDirectoryBlock(block.data(), block.size(), kept, false, true);
    EXPECT_EQ(ChildNames(kept), (std::vector<std::string>{"B.TXT", "A.TXT"}));
    EXPECT_STREQ(kept->m_pProperties->GetName(), "DIR0");
    EXPECT_EQ(kept->m_pProperties->GetFileState(), 9);
    EXPECT_STREQ(lost->m_pProperties->GetName(), "Lost Folders");
    EXPECT_EQ(Props(kept->m_pFirstChild)->GetFileState(), 1) << "a builder folder counts as deleted";

    // In lost mode a better entry for a known folder replaces only its properties.
    CFileNode* made = scanner.MakeFatDirNode(50, 7);
    EXPECT_STREQ(made->m_pProperties->GetName(), "DIR1");
    scanner.directories[50] = made;
    root->AddChild(made);
    auto better = Block({Dir("REAL       ", 50, 0x5221)});
    scanner.ParseDirectoryBlock(better.data(), better.size(), lost, true, true);
    EXPECT_STREQ(made->m_pProperties->GetName(), "REAL");
    EXPECT_EQ(Props(made)->m_u32ParentCluster, 7u);
    EXPECT_EQ(lost->m_pFirstChild->m_pNextSibling, nullptr) << "no second node";

    // A new scanner counts its folders from 0 again.
    FatDirectoryScanner other(nullptr, &v.dev);
    other.SetLayout(v.dbr, 0, nullptr);
    CFileNode* fresh = other.MakeFatDirNode(3, 2);
    EXPECT_STREQ(fresh->m_pProperties->GetName(), "DIR0");

    DeleteFileTree(fresh);
    DeleteFileTree(lost);
    DeleteFileTree(kept);
    scanner.directories.clear();
    DeleteFileTree(root);
}

TEST(FatSearchedPartition, DefaultsSaveAndLoad) {
    std::unique_ptr<CFATSearchedPartitionInfo> p(CreateFATSearchedPartitionInfo());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetKind(), 1u);
    EXPECT_EQ(p->m_fileSystemType, 7u);
    EXPECT_EQ(p->m_u64Score, 1u);
    EXPECT_EQ(p->m_u32EvidenceFlags, 0u);
    p->m_fileSystemType = 2;
    p->m_sectorsPerCluster = 8;
    p->m_u64FirstSector = 12345;
    p->m_u64KeptFirstSector = 2048;
    p->m_u16ReservedSectors = 32;
    p->m_u32SectorsPerFat = 1000;
    p->m_u32ClusterCount = 127000;
    p->m_u32Root = 2;
    p->m_u32EvidenceFlags = 0x3CC;
    testsupport::MemorySection s;
    EXPECT_EQ(p->Save(&s), 1);
    EXPECT_EQ(s.bytes.size(), kFatSearchedPartitionRecordSize);
    CFATSearchedPartitionInfo q;
    EXPECT_EQ(q.Load(&s), 1);
    EXPECT_EQ(q.m_fileSystemType, 2u);
    EXPECT_EQ(q.m_sectorsPerCluster, 8);
    EXPECT_EQ(q.m_u64FirstSector, 12345u);
    EXPECT_EQ(q.m_u64KeptFirstSector, 2048u);
    EXPECT_EQ(q.m_u16ReservedSectors, 32);
    EXPECT_EQ(q.m_u32SectorsPerFat, 1000u);
    EXPECT_EQ(q.m_u32ClusterCount, 127000u);
    EXPECT_EQ(q.m_u32Root, 2u);
    EXPECT_EQ(q.m_u32EvidenceFlags, 0x3CCu);
}

} // namespace
