// The EXT2/EXT3 tree builder on sample volumes made by mke2fs and debugfs: names, sizes,
// times, states and bytes (read through the run lists) against what debugfs reports; deleted
// files and folders; hashed directories; cancelling; the root folder's name.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2FileProperties.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemorySection.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <memory>

using namespace testsupport;

namespace {

// Path -> node for every node under the root.
std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            const std::string p = path + "/" + c->m_pProperties->GetName();
            EXPECT_TRUE(out.emplace(p, c).second) << "twice: " << p;
            stack.push_back({c, p});
        }
    }
    return out;
}

CExt2FileProperties* Props(CFileNode* node) {
    return static_cast<CExt2FileProperties*>(node->m_pProperties.get());
}

// Reads `length` bytes from `offset` of a file through its run list (holes as zeros).
std::vector<std::uint8_t> ReadThroughRuns(IStorageDevice& device, CFileNode* node,
                                          std::uint64_t offset, std::uint64_t length) {
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    node->GetFileSystemInfo(&first, &spc);
    std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
    std::vector<std::uint8_t> out;
    if (!runs)
        return out;
    const std::uint64_t blockBytes = spc * 512ull;
    std::uint64_t pos = 0;
    std::vector<std::uint8_t> block(blockBytes);
    for (const DataRun& run : runs->Runs()) {
        for (std::int64_t i = 0; i < run.count && out.size() < length; ++i, pos += blockBytes) {
            if (pos + blockBytes <= offset)
                continue;
            if (run.start <= 0)
                std::fill(block.begin(), block.end(), 0);
            else if (!device.ReadSectors(block.data(), first + (run.start + i) * spc, spc))
                return {};
            const std::uint64_t from = offset > pos ? offset - pos : 0;
            const std::uint64_t n = std::min<std::uint64_t>(blockBytes - from, length - out.size());
            out.insert(out.end(), block.begin() + from, block.begin() + from + n);
        }
        if (out.size() >= length)
            break;
        if (pos + run.count * 0 > offset + length)
            break;
    }
    return out;
}

class CountingCallback : public CNullDirBuildCallback {
public:
    int BeginStage(const char* text, std::int32_t total) override {
        stages.push_back(std::string(text) + ":" + std::to_string(total));
        return 0;
    }
    int Poll() override { return ++polls > cancelAfter ? -1 : 0; }
    std::vector<std::string> stages;
    int polls = 0;
    int cancelAfter = 1 << 30;
};

FileTime At(std::uint32_t seconds) { return FileTime{(seconds + 11644473600ull) * 10000000ull}; }

} // namespace

TEST(Ext2Tree, SampleVolumesMatchDebugfs) {
    struct Volume {
        const char* kind;
        const char* rootName;
        std::uint32_t type;
    };
    for (const Volume& v : {Volume{"ext2-1k", "Ext2(first)", FILESYSTEM_EXT2},
                            Volume{"ext3-4k", "Ext3(data_set_1)", FILESYSTEM_EXT3}}) {
        SCOPED_TRACE(v.kind);
        const std::string path = Ext2SampleVolume(v.kind);
        ASSERT_FALSE(path.empty());
        Ext2Image img(path);
        CImageFileDevice device(path.c_str());
        CountingCallback callback;
        Ext2TreeBuildContext context;
        TreePtr root(BuildExt2FileTree(&device, &callback, &context));
        ASSERT_TRUE(root);
        EXPECT_TRUE(context.done);
        EXPECT_STREQ(root->m_pProperties->GetName(), v.rootName);
        EXPECT_EQ(root->GetFileSystemType(), v.type);
        std::uint64_t first = 1;
        std::uint32_t spc = 0;
        root->GetFileSystemInfo(&first, &spc);
        EXPECT_EQ(first, 0u);
        EXPECT_EQ(spc, v.type == FILESYSTEM_EXT2 ? 2u : 8u);
        ASSERT_EQ(callback.stages.size(), 2u);
        EXPECT_EQ(callback.stages[0], "Reading files:" + std::to_string(v.type == FILESYSTEM_EXT2 ? 2 : 1));

        auto paths = Paths(root.get());
        EXPECT_TRUE(paths.count("/lost+found"));
        EXPECT_TRUE(paths.count("/docs/sub"));
        for (const Ext2SampleFile& f : Ext2SampleFiles(v.kind)) {
            SCOPED_TRACE(f.path);
            if (f.how == Ext2SampleFile::kRemoved) {
                // Its name is gone: it is found by its inode, under the root, deleted.
                bool found = false;
                for (auto& [p, node] : paths)
                    if (p.rfind("/Inode_", 0) == 0 && node->m_pProperties->GetFileSize() == f.size &&
                        node->m_pProperties->GetFileState() == FILESTATE_DELETED) {
                        found = true;
                        EXPECT_EQ(ReadThroughRuns(device, node, 0, f.size), Ext2SampleBytes(f));
                    }
                EXPECT_TRUE(found);
                continue;
            }
            ASSERT_TRUE(paths.count(f.path));
            CFileNode* node = paths[f.path];
            CExt2FileProperties* p = Props(node);
            const Ext2StatInfo stat = img.Stat(f.path);
            EXPECT_EQ(p->m_u32Inode, stat.inode);
            EXPECT_EQ(p->GetFileSize(), f.size);
            EXPECT_EQ(p->GetFileState(), f.how == Ext2SampleFile::kLive ? FILESTATE_LIVE : FILESTATE_DELETED);
            FileTime t;
            EXPECT_EQ(*p->GetLastWriteTime(&t), At(stat.mtime));
            EXPECT_EQ(*p->GetCreationTime(&t), At(stat.ctime));
            EXPECT_EQ(*p->GetLastAccessTime(&t), At(stat.atime));
            EXPECT_EQ((p->GetAttributes() & kExt2HolesAttribute) != 0, f.holes);
            if (f.how == Ext2SampleFile::kCleared) {
                // Deleted with its block pointers cleared: listed, nothing to read.
                EXPECT_EQ(p->GetDataRunList(), nullptr);
                continue;
            }
            if (f.size > (64u << 20)) {
                for (const auto& [offset, bytes] : Ext2SampleDataParts(f))
                    EXPECT_EQ(ReadThroughRuns(device, node, offset, bytes.size()), bytes);
                EXPECT_EQ(ReadThroughRuns(device, node, 1000, 100), std::vector<std::uint8_t>(100, 0));
                continue;
            }
            const std::vector<std::uint8_t> expected = Ext2SampleBytes(f);
            EXPECT_EQ(ReadThroughRuns(device, node, 0, f.size), expected);
            if (f.how == Ext2SampleFile::kLive) {
                EXPECT_EQ(img.Dump(f.path), expected);
            }
        }
        EXPECT_EQ(Props(paths["/top.txt"])->m_lastWriteTime, At(kExt2SampleTime));

        // The removed folder keeps its ".." and comes back under its parent, by inode number.
        bool gone = false;
        for (CFileNode* c = paths["/docs"]->m_pFirstChild; c; c = c->m_pNextSibling)
            if ((c->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) &&
                c->m_pProperties->GetFileState() == FILESTATE_DELETED)
                gone = std::string(c->m_pProperties->GetName()).rfind("Inode_", 0) == 0;
        EXPECT_TRUE(gone);

        // Every live entry debugfs lists in the root is in the tree.
        for (const Ext2ListEntry& e : img.List("/"))
            if (e.inode && e.name != "." && e.name != "..") {
                EXPECT_TRUE(paths.count("/" + e.name)) << e.name;
            }
    }
}

TEST(Ext2Tree, HashedDirectoryListsEveryEntry) {
    const std::string path = Ext2SampleVolume("htree");
    ASSERT_FALSE(path.empty());
    Ext2Image img(path);
    std::string out;
    ASSERT_TRUE(img.Debugfs({"htree /many"}, &out, false));
    ASSERT_NE(out.find("Root node dump"), std::string::npos) << "not an indexed directory";
    CImageFileDevice device(path.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    std::size_t listed = 0;
    for (const Ext2ListEntry& e : img.List("/many")) {
        if (e.name == "." || e.name == "..")
            continue;
        ++listed;
        EXPECT_TRUE(paths.count("/many/" + e.name)) << e.name;
    }
    EXPECT_EQ(listed, 400u);
    std::size_t files = 0;
    for (CFileNode* c = paths["/many"]->m_pFirstChild; c; c = c->m_pNextSibling)
        ++files;
    EXPECT_EQ(files, 400u);
}

TEST(Ext2Tree, CancelAndUnreadableVolumes) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    CImageFileDevice device(path.c_str());
    for (int after : {0, 5, 3000}) {
        CountingCallback callback;
        callback.cancelAfter = after;
        Ext2TreeBuildContext context;
        EXPECT_EQ(BuildExt2FileTree(&device, &callback, &context), nullptr) << after;
        EXPECT_TRUE(context.done);
        EXPECT_TRUE(context.files.empty());
        EXPECT_TRUE(context.directories.empty());
        EXPECT_TRUE(context.made.empty());
    }
    // Not a file system: no tree, the done flag still set.
    CImageFileDevice none("/dev/null");
    Ext2TreeBuildContext context;
    EXPECT_EQ(BuildExt2FileTree(&none, nullptr, &context), nullptr);
    EXPECT_TRUE(context.done);
}

TEST(Ext2Properties, NamesTimesRunsAndRecords) {
    EXPECT_EQ(Ext2TimeToFileTime(0), At(0));
    EXPECT_EQ(Ext2TimeToFileTime(-5), At(0));
    EXPECT_EQ(Ext2TimeToFileTime(1614834368).ticks, 132593079680000000ull);

    CExt2Inode inode;
    inode.m_number = 0x1f4;
    std::unique_ptr<CExt2FileProperties> p(MakeExt2FileProperties(inode, nullptr));
    EXPECT_STREQ(p->GetName(), "Inode_1f4");
    EXPECT_EQ(p->GetValidFields(), 0xFFu);
    EXPECT_EQ(p->GetFileSystemKind(), FILEPROPS_EXT2);
    EXPECT_EQ(p->SetMark(5), 0);
    EXPECT_EQ(p->GetMark(), 1);

    p->AddChildName(12, "a");
    p->AddChildName(12, "b");
    EXPECT_EQ(p->GetChildName(12), "b");
    EXPECT_EQ(p->GetChildName(13), "");
    p->FreeChildNames();
    EXPECT_EQ(p->ChildNames(), nullptr);
}

TEST(Ext2Tree, HardLinksAndExtentMappedFiles) {
    const std::string path = CachedFixture("ext2-links-extents-v1.img", [](const std::string& tmp) {
        Ext2ImageOptions o;
        if (!RequireExt2Tools() || !Ext2Image::Format(tmp, o))
            return false;
        Ext2Image img(tmp);
        return img.MakeDir("/a") && img.MakeDir("/b") &&
               img.WriteBytes("/a/file.txt", PatternBytes(2000, 1)) &&
               img.Debugfs({"ln /a/file.txt /b/link.txt"}) &&
               img.WriteBytes("/mapped.bin", PatternBytes(5000, 2)) &&
               img.SetInodeField("/mapped.bin", "flags", "0x80000");
    });
    ASSERT_FALSE(path.empty());
    Ext2Image img(path);
    const std::uint32_t linked = img.Stat("/a/file.txt").inode;
    CImageFileDevice device(path.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    int copies = 0;
    for (auto& [p, node] : paths)
        copies += Props(node)->m_u32Inode == linked ? 1 : 0;
    EXPECT_EQ(copies, 1); // one node, under one of the two folders
    EXPECT_TRUE(paths.count("/a/file.txt") || paths.count("/b/link.txt"));

    // An extent-mapped file is listed with its size but no runs (its pointers are not blocks).
    ASSERT_TRUE(paths.count("/mapped.bin"));
    EXPECT_EQ(Props(paths["/mapped.bin"])->GetFileSize(), 5000u);
    EXPECT_EQ(Props(paths["/mapped.bin"])->GetDataRunList(), nullptr);
}

TEST(Ext2Properties, SaveAndLoadKeepEverythingButViewState) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    CImageFileDevice device(path.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    for (const char* name : {"/sparse.bin", "/big.bin", "/docs", "/empty.txt", "/docs/killed.txt"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(paths.count(name));
        CExt2FileProperties* p = Props(paths[name]);
        p->SetCheckState(CHECKSTATE_CHECKED);
        p->SetMark(1);
        MemorySection section;
        ASSERT_EQ(p->Save(&section), 1);
        std::unique_ptr<CExt2FileProperties> q(CreateExt2FileProperties());
        ASSERT_EQ(q->Load(&section), 1);
        EXPECT_EQ(section.pos, section.bytes.size());
        EXPECT_EQ(std::string(q->GetName()), p->GetName());
        EXPECT_EQ(q->GetFileSize(), p->GetFileSize());
        EXPECT_EQ(q->GetAttributes(), p->GetAttributes());
        EXPECT_EQ(q->m_creationTime, p->m_creationTime);
        EXPECT_EQ(q->m_lastWriteTime, p->m_lastWriteTime);
        EXPECT_EQ(q->m_lastAccessTime, p->m_lastAccessTime);
        EXPECT_EQ(q->GetFileState(), p->GetFileState());
        EXPECT_EQ(q->GetCheckState(), CHECKSTATE_UNCHECKED);
        EXPECT_EQ(q->GetMark(), 0);
        std::unique_ptr<IDataRunList> a(p->GetDataRunList()), b(q->GetDataRunList());
        ASSERT_EQ(a == nullptr, b == nullptr);
        if (a) {
            EXPECT_EQ(a->Runs(), b->Runs());
        }
    }
    // The sparse file's runs: data, a hole, data, and the hole to its end.
    std::unique_ptr<IDataRunList> runs(Props(paths["/sparse.bin"])->GetDataRunList());
    ASSERT_TRUE(runs);
    ASSERT_GE(runs->GetRunCount(), 3u);
    EXPECT_NE(runs->Runs()[0].start, 0);
    EXPECT_EQ(runs->Runs()[1].start, 0);
    EXPECT_EQ(runs->Runs().back().start, 0);
    std::int64_t blocks = 0;
    for (const DataRun& r : runs->Runs())
        blocks += r.count;
    EXPECT_EQ(blocks, 1024);
}

TEST(Ext2Tree, DamagedDirectoryBlockLosesOnlyItsNames) {
    const std::string path = Ext2SampleVolume("ext2-1k");
    ASSERT_FALSE(path.empty());
    Ext2Image img(path);
    std::string out;
    ASSERT_TRUE(img.Debugfs({"bmap /docs 0"}, &out, false));
    const std::size_t digits = out.find_last_of("0123456789");
    ASSERT_NE(digits, std::string::npos);
    std::size_t begin = digits;
    while (begin > 0 && std::isdigit(static_cast<unsigned char>(out[begin - 1])))
        --begin;
    const std::uint64_t block = std::stoull(out.substr(begin, digits - begin + 1));
    std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    bytes[block * 1024 + 4] = 13; // "." gets a record length that is not a multiple of 4
    const std::string damaged = ScratchDir("ext2-damaged-dir") + "/damaged.img";
    ASSERT_TRUE(WriteFileBytes(damaged, bytes));
    CImageFileDevice device(damaged.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());
    // The folder's names are gone: its files are found by inode under the root; its sub-folder
    // still names it as parent.
    EXPECT_TRUE(paths.count("/docs"));
    EXPECT_FALSE(paths.count("/docs/a.txt"));
    const std::uint32_t a = img.Stat("/docs/a.txt").inode;
    char name[32];
    std::snprintf(name, sizeof name, "/Inode_%x", a);
    EXPECT_TRUE(paths.count(name)) << name;
    bool subUnderDocs = false;
    for (auto& [p, node] : paths)
        subUnderDocs |= p.rfind("/docs/Inode_", 0) == 0 && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) &&
                        node->m_pProperties->GetFileState() == FILESTATE_LIVE;
    EXPECT_TRUE(subUnderDocs);
    EXPECT_TRUE(paths.count("/big.bin"));
}

TEST(Ext2Tree, SymbolicLinksSpecialFilesAndClearedInodes) {
    const std::string path = Ext2SpecialInodesVolume();
    ASSERT_FALSE(path.empty());
    Ext2Image img(path);
    CImageFileDevice device(path.c_str());
    TreePtr root(BuildExt2FileTree(&device, nullptr, nullptr));
    ASSERT_TRUE(root);
    auto paths = Paths(root.get());

    // A link's data is its target text: from the inode for a fast link (also a deleted one,
    // whose inode EXT2 leaves as it was), from its block for a slow one.
    const std::string slow = kExt2SlowLinkTarget;
    struct Link {
        const char* path;
        std::string text;
        bool fast;
        std::uint8_t state;
    } links[] = {{"/link-fast", "docs/a.txt", true, FILESTATE_LIVE},
                 {"/link-slow", slow, false, FILESTATE_LIVE},
                 {"/gone-link", "short-gone", true, FILESTATE_DELETED}};
    for (const Link& l : links) {
        SCOPED_TRACE(l.path);
        ASSERT_TRUE(paths.count(l.path));
        CExt2FileProperties* p = Props(paths[l.path]);
        EXPECT_EQ(p->GetFileSize(), l.text.size());
        EXPECT_EQ(p->GetFileState(), l.state);
        EXPECT_FALSE(p->IsSpecialFile());
        EXPECT_FALSE(p->IsDataCleared());
        std::unique_ptr<IDataRunList> runs(p->GetDataRunList());
        ASSERT_TRUE(runs);
        ASSERT_EQ(runs->GetRunCount(), 1u);
        EXPECT_EQ(runs->IsResident(), l.fast);
        std::vector<std::uint8_t> text;
        if (l.fast) {
            std::uint8_t sector[512];
            ASSERT_EQ(device.ReadSectors(sector, static_cast<std::uint64_t>(runs->Runs()[0].start), 1), 1);
            const std::uint32_t at = runs->GetResidentOffset();
            ASSERT_LE(at + l.text.size(), 512u);
            text.assign(sector + at, sector + at + l.text.size());
        } else {
            text = ReadThroughRuns(device, paths[l.path], 0, l.text.size());
        }
        EXPECT_EQ(std::string(text.begin(), text.end()), l.text);

        // The scan-state record keeps where the text lies.
        MemorySection section;
        ASSERT_EQ(p->Save(&section), 1);
        std::unique_ptr<CExt2FileProperties> q(CreateExt2FileProperties());
        ASSERT_EQ(q->Load(&section), 1);
        std::unique_ptr<IDataRunList> loaded(q->GetDataRunList());
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->Runs(), runs->Runs());
        EXPECT_EQ(loaded->IsResident(), l.fast);
        EXPECT_EQ(loaded->GetResidentOffset(), runs->GetResidentOffset());
    }

    // A FIFO and a device are listed, without data.
    for (const char* name : {"/pipe", "/chardev"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(paths.count(name));
        CExt2FileProperties* p = Props(paths[name]);
        EXPECT_TRUE(p->IsSpecialFile());
        EXPECT_FALSE(p->IsDataCleared());
        EXPECT_EQ(p->GetDataRunList(), nullptr);
        EXPECT_EQ(p->GetFileSize(), 0u);
        MemorySection section;
        ASSERT_EQ(p->Save(&section), 1);
        std::unique_ptr<CExt2FileProperties> q(CreateExt2FileProperties());
        ASSERT_EQ(q->Load(&section), 1);
        EXPECT_TRUE(q->IsSpecialFile());
    }
    EXPECT_FALSE(Props(paths["/docs/a.txt"])->IsSpecialFile());
    EXPECT_EQ(ReadThroughRuns(device, paths["/docs/a.txt"], 0, 3000), Ext2LinkedFileBytes());

    // Deleted with size and block pointers cleared: listed (by its entry, or by its inode when
    // the entry is gone too), size 0, nothing to read.
    ASSERT_TRUE(paths.count("/docs/cleared.txt"));
    int cleared = 0;
    for (auto& [p, node] : paths) {
        CExt2FileProperties* props = Props(node);
        if (props->GetFileState() != FILESTATE_DELETED || !props->IsDataCleared())
            continue;
        ++cleared;
        EXPECT_TRUE(p == "/docs/cleared.txt" || p.rfind("/Inode_", 0) == 0) << p;
        EXPECT_EQ(props->GetFileSize(), 0u);
        EXPECT_EQ(props->GetDataRunList(), nullptr);
    }
    EXPECT_EQ(cleared, 2);
}
