#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"

namespace {

CMyFileProperties* Props(const char* name, std::uint64_t size, std::uint16_t attributes) {
    CMyFileProperties* p = CreateMyFileProperties();
    MyFilePropertiesRecord r;
    r.size = size;
    r.attributes = attributes;
    r.validFields = VALIDFIELDS_FILESYSTEM;
    p->SetRecord(r);
    p->SetNameText(name);
    return p;
}

CFileSystemNode* Folder(CFileNode* parent, const char* name, std::uint16_t extra = 0) {
    CFileSystemNode* n = CreateFileSystemNode();
    n->SetProperties(std::unique_ptr<IFileProperties>(Props(name, 0, FILEATTR_DIRECTORY | extra)));
    if (parent)
        parent->AddChild(n);
    return n;
}

CFileNode* File(CFileNode* parent, const char* name, std::uint64_t size,
                std::uint16_t attributes = FILEATTR_ARCHIVE) {
    CFileNode* n = CreateFileNode();
    n->SetProperties(std::unique_ptr<IFileProperties>(Props(name, size, attributes)));
    parent->AddChild(n);
    return n;
}

std::uint8_t State(const CFileNode* n) {
    return n->m_pProperties->GetCheckState();
}

// root
//   A/  a1 100, a2 200 compressed, a3 50 encrypted
//   B/  (a directory carrying the compressed and encrypted bits: never counted)  b1 10
//   r1 5
struct SampleTree {
    CFileSystemNode* root = Folder(nullptr, "root");
    CFileSystemNode* a = Folder(root, "A");
    CFileNode* a1 = File(a, "a1", 100);
    CFileNode* a2 = File(a, "a2", 200, FILEATTR_COMPRESSED);
    CFileNode* a3 = File(a, "a3", 50, FILEATTR_ENCRYPTED);
    CFileSystemNode* b = Folder(root, "B", FILEATTR_COMPRESSED | FILEATTR_ENCRYPTED);
    CFileNode* b1 = File(b, "b1", 10);
    CFileNode* r1 = File(root, "r1", 5);

    SampleTree() {
        for (CFileSystemNode* f : {a, b, root})
            f->RecountCounters();
    }
    ~SampleTree() { DeleteFileTree(root); }
    CFileNode* ByName(const std::string& name) {
        for (CFileNode* n : {static_cast<CFileNode*>(root), static_cast<CFileNode*>(a), a1, a2, a3,
                             static_cast<CFileNode*>(b), b1, r1})
            if (name == n->m_pProperties->GetName())
                return n;
        return nullptr;
    }
};

FileTreeCounters Checked(std::uint32_t files, std::uint64_t bytes, std::uint32_t compressed,
                         std::uint32_t encrypted, const FileTreeCounters& totals) {
    FileTreeCounters c = totals;
    c.checkedFiles = files;
    c.checkedBytes = bytes;
    c.checkedCompressedFiles = compressed;
    c.checkedEncryptedFiles = encrypted;
    return c;
}

} // namespace

TEST(FileTree, RecountCountsFilesOnly) {
    SampleTree t;
    FileTreeCounters root;
    t.root->GetCounters(&root);
    EXPECT_EQ(root.files, 5u);
    EXPECT_EQ(root.bytes, 365u);
    EXPECT_EQ(root.compressedFiles, 1u);
    EXPECT_EQ(root.encryptedFiles, 1u);
    FileTreeCounters b;
    t.b->GetCounters(&b);
    EXPECT_EQ(b.files, 1u);
    EXPECT_EQ(b.compressedFiles, 0u);
    EXPECT_EQ(b.encryptedFiles, 0u);
}

// One sequence of toggles; each row checks the states it leaves and the checked totals of the
// root and of folder A.
TEST(FileTree, CheckTogglesAndCounters) {
    struct Row {
        const char* toggle;
        bool thisOnly;
        const char* states; // root A a1 a2 a3 B b1 r1
        std::uint32_t rootFiles;
        std::uint64_t rootBytes;
        std::uint32_t rootCompressed, rootEncrypted;
        std::uint32_t aFiles;
        std::uint64_t aBytes;
    };
    const Row rows[] = {
        {"a1", false, "11200000", 1, 100, 0, 0, 1, 100},
        // partly checked folder -> checked: only what was not checked is added
        {"A", false, "12222000", 3, 350, 1, 1, 3, 350},
        {"B", false, "12222220", 4, 360, 1, 1, 3, 350},
        {"r1", false, "22222222", 5, 365, 1, 1, 3, 350},
        // checked -> unchecked below a checked root; then the root checks everything again,
        // folder A included, and unchecks it all
        {"A", false, "10000222", 2, 15, 0, 0, 0, 0},
        {"root", false, "22222222", 5, 365, 1, 1, 3, 350},
        {"root", false, "00000000", 0, 0, 0, 0, 0, 0},
        // this-only: the node alone, totals untouched
        {"B", true, "00000200", 0, 0, 0, 0, 0, 0},
    };
    SampleTree t;
    FileTreeCounters rootTotals, aTotals;
    t.root->GetCounters(&rootTotals);
    t.a->GetCounters(&aTotals);
    const char* order[] = {"root", "A", "a1", "a2", "a3", "B", "b1", "r1"};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.toggle) + (row.thisOnly ? " (this only)" : ""));
        CFileNode* n = t.ByName(row.toggle);
        if (n->IsFolder())
            static_cast<CFileSystemNode*>(n)->SetCheckState(row.thisOnly);
        else
            ToggleCheckState(n, row.thisOnly);
        std::string states;
        for (const char* name : order)
            states += static_cast<char>('0' + State(t.ByName(name)));
        EXPECT_EQ(states, row.states);
        FileTreeCounters root, a;
        t.root->GetCounters(&root);
        t.a->GetCounters(&a);
        EXPECT_EQ(root, Checked(row.rootFiles, row.rootBytes, row.rootCompressed, row.rootEncrypted,
                                rootTotals));
        EXPECT_EQ(a.checkedFiles, row.aFiles);
        EXPECT_EQ(a.checkedBytes, row.aBytes);
        EXPECT_EQ(a.files, aTotals.files);
    }
}

TEST(FileTree, FolderStateFromChildren) {
    struct Case {
        std::uint8_t first, second, expected;
    };
    const Case cases[] = {{2, 1, 1}, {2, 2, 2}, {0, 0, 0}, {2, 0, 1}, {1, 1, 1}};
    for (const Case& c : cases) {
        CFileSystemNode* root = Folder(nullptr, "root");
        CFileSystemNode* parent = Folder(root, "p");
        File(parent, "x", 1)->m_pProperties->SetCheckState(c.first);
        File(parent, "y", 1)->m_pProperties->SetCheckState(c.second);
        root->m_pProperties->SetCheckState(2);
        EXPECT_EQ(RecomputeCheckStates(root), 1);
        EXPECT_EQ(State(parent), c.expected) << int(c.first) << "," << int(c.second);
        EXPECT_EQ(State(root), c.expected == 2 ? 2 : (c.expected == 1 ? 1 : 0));
        DeleteFileTree(root);
    }
    EXPECT_EQ(RecomputeCheckStates(nullptr), 0);
}

// A damaged disk can nest folders arbitrarily deep: every walk must be iterative.
TEST(FileTree, VeryDeepTreeWalksWithoutRecursion) {
    constexpr int kDepth = 100000;
    CFileSystemNode* root = Folder(nullptr, "root");
    CFileNode* parent = root;
    for (int i = 0; i < kDepth; ++i)
        parent = Folder(parent, "d");
    CFileNode* leaf = File(parent, "leaf", 7);
    ToggleCheckState(leaf, false);
    EXPECT_EQ(State(root), 2);
    FileTreeCounters c;
    root->GetCounters(&c);
    EXPECT_EQ(c.checkedFiles, 1u);
    EXPECT_EQ(c.checkedBytes, 7u);
    EXPECT_EQ(RecomputeCheckStates(root), 1);
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root, nodes);
    ASSERT_EQ(nodes.size(), static_cast<std::size_t>(kDepth + 2));
    EXPECT_EQ(nodes.front(), leaf);
    EXPECT_EQ(nodes.back(), root);
    DeleteFileTree(root);
}

TEST(FileTree, LinksAndFileSystemInfo) {
    CFileSystemNode* root = Folder(nullptr, "root");
    root->SetFileSystemInfo(2048, 8);
    root->SetFileSystemType(FILESYSTEM_NTFS);
    CFileNode* sub = CreateFileNode(); // a plain node between the file and its folder
    root->AddChild(sub);
    CFileNode* f = File(sub, "f", 1);
    std::uint64_t first = 1;
    std::uint32_t spc = 1;
    EXPECT_EQ(f->GetFileSystemInfo(&first, &spc), 1);
    EXPECT_EQ(first, 2048u);
    EXPECT_EQ(spc, 8u);
    EXPECT_EQ(f->GetFileSystemType(), FILESYSTEM_NTFS);

    CFileNode* orphan = CreateFileNode();
    EXPECT_EQ(orphan->GetFileSystemType(), FILESYSTEM_UNKNOWN);
    EXPECT_EQ(orphan->GetFileSystemInfo(&first, &spc), 0);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(spc, 0u);

    // Children keep the order of insertion at the head; unlinking a stranger changes nothing.
    CFileNode* g = File(root, "g", 1);
    EXPECT_EQ(root->m_pFirstChild, g);
    EXPECT_EQ(g->m_pNextSibling, sub);
    EXPECT_EQ(UnlinkChildNode(root, orphan), 0);
    EXPECT_EQ(root->m_pFirstChild, g);
    EXPECT_EQ(UnlinkChildNode(root, g), 1);
    EXPECT_EQ(root->m_pFirstChild, sub);
    EXPECT_EQ(g->m_pParent, nullptr);
    DeleteFileTree(g);
    delete orphan;
    DeleteFileTree(root);
}

// A derived tree (volume kind 2) borrows the deeper properties of a scanned tree: deleting it
// frees only the properties its nodes own. LeakSanitizer and ASan check the rest.
TEST(FileTree, DerivedTreeDeletionLeavesSharedProperties) {
    CFileSystemNode* scanned = Folder(nullptr, "scan");
    CFileSystemNode* dir = Folder(scanned, "dir");
    CFileNode* file = File(dir, "file", 3);

    CFileSystemNode* derived = Folder(nullptr, "Deleted Files");
    FolderVolumeBlock block;
    block.kind = kFolderVolumeKindDerived;
    derived->SetVolumeBlock(&block);
    CFileSystemNode* level1 = Folder(derived, "copy");
    CFileNode* shared = CreateFileNode();
    shared->BorrowProperties(file->m_pProperties);
    level1->AddChild(shared);

    DeleteFileTree(derived);
    EXPECT_STREQ(file->m_pProperties->GetName(), "file");
    DeleteFileTree(scanned);
    DeleteFileTree(nullptr);
}

TEST(FileTree, FolderRecordRoundTripsThroughStore) {
    std::string path = testsupport::ScratchDir("folder-record") + "/tree.rdf";
    const RSGuid guid{0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    const std::string longCaption(45, 'c');
    {
        SampleTree t;
        t.root->SetFileSystemInfo(63, 16);
        t.root->SetFileSystemType(FILESYSTEM_FAT32);
        t.root->SetName(longCaption.c_str());
        EXPECT_EQ(t.root->GetNameLength(), 40u);
        static_cast<CFileSystemNode*>(t.root)->SetCheckState(false); // everything checked
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(guid);
        EXPECT_EQ(t.root->Save(&w), 1);
        EXPECT_EQ(t.a->Save(&w), 1); // no caption
        w.CloseSection();
        w.Close();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(guid);
    CFileSystemNode root, a;
    root.SetName("old caption");
    EXPECT_EQ(root.Load(&r), 1);
    EXPECT_EQ(a.Load(&r), 1);
    EXPECT_STREQ(root.GetName(), longCaption.substr(0, 40).c_str());
    EXPECT_EQ(a.GetName(), nullptr);
    std::uint64_t first;
    std::uint32_t spc;
    root.GetFileSystemInfo(&first, &spc);
    EXPECT_EQ(first, 63u);
    EXPECT_EQ(spc, 16u);
    EXPECT_EQ(root.GetFileSystemType(), static_cast<std::uint32_t>(FILESYSTEM_FAT32));
    FileTreeCounters c;
    root.GetCounters(&c);
    FileTreeCounters expected;
    expected.files = 5;
    expected.bytes = 365;
    expected.compressedFiles = 1;
    expected.encryptedFiles = 1;
    EXPECT_EQ(c, expected); // checked totals come back as 0
    char one;
    EXPECT_THROW(r.Read(&one, 1), CRSException);
}

TEST(FileTree, FolderRecordWithOverlongCaptionFailsTheLoad) {
    std::string path = testsupport::ScratchDir("folder-caption") + "/bad.rdf";
    const RSGuid guid{1, 2, 3, {}};
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(guid);
        std::uint8_t record[40 + 8 + 4 + 4] = {};
        w.Write(record, sizeof(record));
        RSWriteValue<std::uint32_t>(&w, 0x7FFFFFFF); // caption length
        w.Write(std::string(64, 'x').data(), 64);
        w.CloseSection();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(guid);
    CFileSystemNode node;
    try {
        node.Load(&r);
        FAIL() << "an overlong caption was accepted";
    } catch (const IRSException& e) {
        EXPECT_EQ(e.GetErrorCode(), RSERR_BAD_HEADER);
    }
    EXPECT_EQ(node.GetName(), nullptr);
}

// Handing properties over by unique_ptr: the node frees what it held, and gives its own up.
TEST(FileTree, PropertiesChangeOwnersThroughUniquePtr) {
    std::unique_ptr<CFileNode> node(CreateFileNode());
    node->SetProperties(std::make_unique<CMyFileProperties>());
    IFileProperties* first = node->m_pProperties;
    ASSERT_NE(first, nullptr);
    node->SetProperties(std::make_unique<CMyFileProperties>()); // the first is freed (LeakSanitizer)
    EXPECT_NE(node->m_pProperties, nullptr);
    std::unique_ptr<IFileProperties> taken = node->TakeProperties();
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(node->m_pProperties, nullptr);
    node->SetProperties(nullptr);
    EXPECT_EQ(node->m_pProperties, nullptr);
}
