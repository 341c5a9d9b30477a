#include "carving/RAWFileProperties.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/RawFileTreeBuilder.h"
#include "filesystems/ClusterUseBitMap.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;

namespace {

// Restores the process-wide scan options after a test.
struct OptionsGuard {
    ~OptionsGuard() { GetScanOptions().SetDefaults(); }
};

std::vector<std::string> ChildNames(const CFileNode* node) {
    std::vector<std::string> names;
    for (const CFileNode* c = node ? node->m_pFirstChild : nullptr; c; c = c->m_pNextSibling)
        names.push_back(c->m_pProperties->GetName());
    return names;
}

const CFileNode* Child(const CFileNode* node, const std::string& name) {
    for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
        if (name == c->m_pProperties->GetName())
            return c;
    return nullptr;
}

CRawFileInfo* Record(CRawFileList& list, std::uint64_t start, std::uint64_t size,
                     std::uint32_t type, std::uint32_t analyser) {
    auto* r = new CRawFileInfo();
    r->m_u64StartSector = start;
    r->m_u64Size = size;
    r->m_u32FileType = type;
    r->m_u32AnalyserType = analyser;
    list.Add(r);
    return r;
}

class CountingCallback : public IDIRBuildCallback {
public:
    int BeginStage(const char* text, std::int32_t t) override {
        stage = text;
        total = t;
        return 0;
    }
    int StepBy(std::int32_t n) override {
        steps += n;
        return cancelAt && steps >= cancelAt ? -1 : 0;
    }
    int SetPos(std::int32_t) override { return 0; }
    int Reset() override {
        ++resets;
        return 0;
    }
    int Poll() override {
        ++polls;
        return 0;
    }
    std::string stage;
    std::int32_t total = -1, steps = 0, cancelAt = 0, resets = 0, polls = 0;
};

} // namespace

TEST(RawFileTree, RangeFoldersOf300) {
    OptionsGuard guard;
    MemoryDevice dev(1200);
    for (int n : {300, 301, 600, 601, 1000}) {
        CRawFileList list;
        for (int i = 0; i < n; ++i)
            Record(list, 100 + i, 1000, 47, 47);
        CRawFileTreeBuilder builder;
        TreePtr root(builder.Build(&dev, list.GetIterator(), nullptr, nullptr));
        ASSERT_TRUE(root);
        EXPECT_STREQ(root->m_pProperties->GetName(), "Raw Files");
        EXPECT_EQ(root->m_pProperties->GetFileState(), FILESTATE_RAW_MADE_FOLDER);
        EXPECT_EQ(root->GetFileSystemType(), FILESYSTEM_RAW);
        ASSERT_EQ(ChildNames(root.get()), std::vector<std::string>{"Portable Network Graphic file"});
        const CFileNode* folder = root->m_pFirstChild;
        std::vector<std::string> expected;
        if (n == 300) {
            EXPECT_EQ(ChildNames(folder).size(), 300u);
            EXPECT_EQ(ChildNames(folder).front(), "FILE300.PNG"); // newest first
            EXPECT_EQ(ChildNames(folder).back(), "FILE001.PNG");
            continue;
        }
        for (int first = (n - 1) / 300 * 300 + 1; first > 0; first -= 300) {
            const int last = first + 299 < n ? first + 299 : n;
            expected.push_back(std::to_string(first) + "-" + std::to_string(last));
        }
        EXPECT_EQ(ChildNames(folder), expected) << n; // no empty range folder
        const CFileNode* newest = folder->m_pFirstChild;
        EXPECT_EQ(ChildNames(newest).size(), static_cast<std::size_t>(n - (n - 1) / 300 * 300));
        const CFileNode* oldest = Child(folder, "1-300");
        ASSERT_NE(oldest, nullptr);
        EXPECT_EQ(ChildNames(oldest).size(), 300u);
        EXPECT_EQ(ChildNames(oldest).back(), "FILE001.PNG");
        if (n == 1000) {
            EXPECT_EQ(ChildNames(newest).front(), "FILE1000.PNG");
        }
        EXPECT_EQ(builder.GetTypeCount(47), n);
    }
}

TEST(RawFileTree, FiltersSizesAndSkips) {
    OptionsGuard guard;
    ScanOptions& o = GetScanOptions();
    o.MaxRawFileSize = 5000;
    o.RawFileTypes.Clear();
    for (std::uint32_t id : {47u, 90u, 1000u})
        o.RawFileTypes.Add(id);

    // A device holding one PNG that the search could not size.
    const std::uint8_t png[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13,
                                'I',  'H',  'D',  'R',  0,    0,    0,    1,    0, 0, 0, 1,
                                8,    6,    0,    0,    0,    1,    2,    3,    4, 0, 0, 0x20,
                                0,    'I',  'D',  'A',  'T'};
    MemoryDevice dev(200);
    std::memcpy(dev.Sector(50), png, sizeof png);
    const std::uint64_t iend = 33 + 12 + 0x2000;
    std::memcpy(dev.Sector(50) + iend, "\0\0\0\0IEND", 8);
    std::memcpy(dev.Sector(60), png, sizeof png); // a second PNG, in a used cluster

    RawFileAnalyserList* registry = GetRawFileAnalysers();
    RawTypeList pngOnly;
    pngOnly.Add(47);
    SelectRawFileAnalysers(registry, &pngOnly);

    CRawFileList list;
    Record(list, 10, 9000, 47, 47);                             // header size above the cap
    CRawFileInfo* unsized = Record(list, 50, 0, 47, 47);        // sized here, capped
    Record(list, 60, 0, 47, 47);                                // starts in a used cluster
    Record(list, 70, 0, 1000, kCustomAnalyserTypeId);           // user-defined: never in the tree
    Record(list, 80, 100, 33, 33);                              // JPG not chosen
    Record(list, 90, 100, 5000, 47);                            // id outside the table
    Record(list, 95, 0, 90, 90);                                // no analyser of that id
    Record(list, 99, 0, 47, 47);                                // cannot be sized: left out
    Record(list, 196, 4000, 47, 47);                            // cut at the device's end

    std::vector<std::uint64_t> bits;
    CClusterUseBitMap used(&bits, 0, 4, 50);
    used.MarkCluster(15); // sectors 60-63
    CountingCallback callback;
    CRawFileTreeBuilder builder;
    TreePtr root(builder.Build(&dev, list.GetIterator(), &used, &callback));
    ASSERT_TRUE(root);
    EXPECT_EQ(callback.stage, "Building RAW file tree.");
    EXPECT_EQ(callback.total, 8); // every record not in a used cluster, of any type
    EXPECT_EQ(callback.steps, 3);
    EXPECT_EQ(callback.polls, 9);
    EXPECT_EQ(callback.resets, 1);
    ASSERT_EQ(ChildNames(root.get()), std::vector<std::string>{"Portable Network Graphic file"});
    const CFileNode* folder = root->m_pFirstChild;
    ASSERT_EQ(ChildNames(folder),
              (std::vector<std::string>{"FILE003.PNG", "FILE002.PNG", "FILE001.PNG"}));
    EXPECT_EQ(Child(folder, "FILE001.PNG")->m_pProperties->GetFileSize(), 5000u); // header size capped
    EXPECT_EQ(Child(folder, "FILE003.PNG")->m_pProperties->GetFileSize(), 4u * 512); // 4 sectors left
    // Cut by the device or by the options' limit, the file keeps what it claims and why.
    const auto raw = [&](const char* name) {
        return static_cast<const CRAWFileProperties*>(Child(folder, name)->m_pProperties.get());
    };
    EXPECT_EQ(raw("FILE003.PNG")->GetCut(), ClaimCut::DeviceEnd);
    EXPECT_EQ(raw("FILE003.PNG")->m_u64ClaimedSize, 4000u);
    EXPECT_EQ(raw("FILE001.PNG")->GetCut(), ClaimCut::SizeLimit);
    EXPECT_EQ(raw("FILE001.PNG")->m_u64ClaimedSize, 9000u);
    EXPECT_EQ(raw("FILE002.PNG")->GetCut(), ClaimCut::SizeLimit); // the chunk walk's size
    EXPECT_EQ(raw("FILE002.PNG")->m_u64ClaimedSize, iend + 12);
    const IFileProperties* p2 = Child(folder, "FILE002.PNG")->m_pProperties;
    EXPECT_EQ(p2->GetFileSize(), 5000u); // computed size capped
    EXPECT_EQ(unsized->m_u64Size, 0u);   // the list keeps the file unsized
    std::unique_ptr<IDataRunList> runs(p2->GetDataRunList());
    ASSERT_TRUE(runs);
    ASSERT_EQ(runs->GetRunCount(), 1u);
    EXPECT_EQ(runs->Runs()[0], (DataRun{50, 10}));

    // Without a cap the walk's size stands.
    o.MaxRawFileSize = 50000000;
    CRawFileTreeBuilder again;
    TreePtr root2(again.Build(&dev, list.GetIterator(), nullptr, nullptr));
    EXPECT_EQ(Child(root2->m_pFirstChild, "FILE002.PNG")->m_pProperties->GetFileSize(), iend + 12);

    // Recovery of carved files switched off: nothing at all.
    o.RecoverRawFiles = 0;
    CRawFileTreeBuilder off;
    EXPECT_EQ(off.Build(&dev, list.GetIterator(), nullptr, nullptr), nullptr);
}

TEST(RawFileTree, CancelKeepsThePartialTreeAndWorkerBuild) {
    OptionsGuard guard;
    MemoryDevice dev(16);
    CRawFileList list;
    for (int i = 0; i < 10; ++i)
        Record(list, i, 512, 33, 33);
    CountingCallback callback;
    callback.cancelAt = 4;
    CRawFileTreeBuilder builder;
    TreePtr root(builder.Build(&dev, list.GetIterator(), nullptr, &callback));
    ASSERT_TRUE(root);
    EXPECT_EQ(ChildNames(root->m_pFirstChild).size(), 4u);
    EXPECT_EQ(callback.resets, 1);

    CRawFileTreeBuilder worker;
    TreePtr root2(BuildRawFileTree(nullptr, nullptr, &worker, &dev, list.GetIterator(), 1));
    ASSERT_TRUE(root2);
    EXPECT_TRUE(worker.m_done);
    EXPECT_EQ(ChildNames(root2->m_pFirstChild).size(), 10u);
    EXPECT_STREQ(root2->m_pFirstChild->m_pProperties->GetName(), "JPEG Graphics file");
}

TEST(RawFileTree, PropertiesSaveAndLoad) {
    CRAWFileProperties p;
    p.SetName("FILE001.PNG");
    p.m_u16Attributes = FILEATTR_ARCHIVE;
    p.SetExtent(123456789, 1025);
    p.SetCheckState(CHECKSTATE_CHECKED);
    EXPECT_EQ(p.GetValidFields(), 0x1C7u);
    EXPECT_EQ(p.GetFileSystemKind(), 3u);
    MemorySection section;
    EXPECT_EQ(p.Save(&section), 1);
    EXPECT_EQ(section.bytes[0], 12); // name length with its terminator
    CRAWFileProperties q;
    EXPECT_EQ(q.Load(&section), 1);
    EXPECT_STREQ(q.GetName(), "FILE001.PNG");
    EXPECT_EQ(q.GetFileSize(), 1025u);
    EXPECT_EQ(q.GetAttributes(), FILEATTR_ARCHIVE);
    EXPECT_EQ(q.GetCheckState(), 0);
    std::unique_ptr<IDataRunList> runs(q.GetDataRunList());
    ASSERT_TRUE(runs);
    EXPECT_EQ(runs->Runs()[0], (DataRun{123456789, 3}));
    EXPECT_EQ(section.pos, section.bytes.size());

    // A stored name without its terminator is cut where its length ends.
    MemorySection damaged;
    damaged.bytes = section.bytes;
    damaged.bytes[1 + 11] = 'X';
    CRAWFileProperties d;
    d.Load(&damaged);
    EXPECT_STREQ(d.GetName(), "FILE001.PNGX");
    // A truncated record throws the store's short read.
    MemorySection cut;
    cut.bytes.assign(section.bytes.begin(), section.bytes.begin() + 5);
    CRAWFileProperties e;
    EXPECT_THROW(e.Load(&cut), CRSException);

    // A file the device's end cut stores the size it claims; its run stays what the device
    // holds, so fitting the loaded tree to the device tells the cut again.
    p.SetClaimedSize(9000, ClaimCut::DeviceEnd);
    MemorySection claimed;
    p.Save(&claimed);
    CRAWFileProperties f;
    f.Load(&claimed);
    EXPECT_EQ(f.GetFileSize(), 9000u);
    EXPECT_EQ(f.GetCut(), ClaimCut::None);
    std::unique_ptr<IDataRunList> kept(f.GetDataRunList());
    EXPECT_EQ(kept->Runs()[0], (DataRun{123456789, 3}));
}

// A compound file the search could not size carries the generic type until it is sized; with
// only its real kind chosen it must still reach the tree under that kind.
TEST(RawFileTree, UnsizedRecordIsFilteredByTheTypeItLearnsWhileSized) {
    OptionsGuard guard;
    const std::string folder = CompoundDocumentFolder();
    ASSERT_FALSE(folder.empty());
    const CompoundKindFile* doc = nullptr;
    for (const CompoundKindFile& k : CompoundKindFiles())
        if (k.kind == 21 && !doc)
            doc = &k;
    ASSERT_TRUE(doc);
    const std::vector<std::uint8_t> bytes = ReadFileBytes(folder + "/" + doc->file);
    ASSERT_FALSE(bytes.empty());
    std::vector<std::uint8_t> image(8 * 512, 0);
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize(image.size() + 64 * 512, 0);
    MemoryDevice dev(image);

    GetScanOptions().RawFileTypes.Clear();
    GetScanOptions().RawFileTypes.Add(21);
    SelectRawFileAnalysers(GetRawFileAnalysers(), &GetScanOptions().RawFileTypes);
    CRawFileList list;
    Record(list, 8, 0, 44, 44);
    CRawFileTreeBuilder builder;
    TreePtr root(builder.Build(&dev, list.GetIterator(), nullptr, nullptr));
    ASSERT_TRUE(root);
    ASSERT_EQ(ChildNames(root.get()), std::vector<std::string>{"Microsoft Word Document"});
    EXPECT_EQ(root->m_pFirstChild->m_pFirstChild->m_pProperties->GetFileSize(),
              bytes.size() + doc->growth);
}
