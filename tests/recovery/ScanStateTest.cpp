// Scan-state sections: a deep scan's results (search controllers, carved files, searched
// partitions, the combined file tree) written to a real store file and read back into fresh
// objects, compared object by object; the byte layouts the sections promise; damaged files.
#include "recovery/ScanStateSections.h"

#include "carving/RAWFileProperties.h"
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/MyFileProperties.h"
#include "filesystems/ext2/Ext2SearchController.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "recovery/RSData.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/CompressCallBack.h"
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/BlockImages.h"
#include "tests/support/Ext2Images.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <tuple>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

// ---- store helpers -------------------------------------------------------------------------

template <typename F> Bytes WriteStore(const std::string& name, F&& write) {
    const std::string path = ScratchDir(name) + "/state.rdf";
    CRSDataEx writer(RSDATA_WRITE);
    EXPECT_TRUE(writer.Open(path.c_str(), true));
    writer.SetStage(2);
    write(&writer);
    writer.Close();
    return ReadFileBytes(path);
}

struct Reader {
    explicit Reader(const Bytes& bytes) : store(RSDATA_READ) {
        EXPECT_TRUE(store.OpenBuffer(bytes.data(), bytes.size()));
    }
    CRSDataEx store;
};

Bytes SaveBytes(const CSearchedPartitionInfo& p) {
    MemorySection s;
    p.Save(&s);
    return s.bytes;
}

// ---- object comparison ---------------------------------------------------------------------

std::vector<DataRun> RunsOf(const IFileProperties* p, bool* resident, std::uint32_t* offset) {
    std::vector<DataRun> runs;
    std::unique_ptr<IDataRunList> list(p->GetDataRunList());
    *resident = list && list->IsResident();
    *offset = list ? list->GetResidentOffset() : 0;
    if (list)
        for (const DataRun& r : list->Runs())
            runs.push_back(r);
    return runs;
}

void ExpectSameProperties(const IFileProperties* a, const IFileProperties* b,
                          const std::string& at) {
    ASSERT_TRUE(a && b) << at;
    EXPECT_EQ(a->GetFileSystemKind(), b->GetFileSystemKind()) << at;
    EXPECT_STREQ(a->GetName(), b->GetName()) << at;
    EXPECT_EQ(a->GetNameLength(), b->GetNameLength()) << at;
    EXPECT_EQ(a->GetFileSize(), b->GetFileSize()) << at;
    EXPECT_EQ(a->GetAttributes(), b->GetAttributes()) << at;
    EXPECT_EQ(a->GetFileState(), b->GetFileState()) << at;
    EXPECT_EQ(a->GetValidFields(), b->GetValidFields()) << at;
    EXPECT_EQ(b->GetCheckState(), 0) << at;
    FileTime ta, tb;
    EXPECT_EQ(*a->GetCreationTime(&ta), *b->GetCreationTime(&tb)) << at;
    EXPECT_EQ(*a->GetLastWriteTime(&ta), *b->GetLastWriteTime(&tb)) << at;
    EXPECT_EQ(*a->GetLastAccessTime(&ta), *b->GetLastAccessTime(&tb)) << at;
    bool ra, rb;
    std::uint32_t oa, ob;
    EXPECT_EQ(RunsOf(a, &ra, &oa), RunsOf(b, &rb, &ob)) << at;
    EXPECT_EQ(ra, rb) << at;
    EXPECT_EQ(oa, ob) << at;
}

// Walks both trees side by side; `a` is the saved tree (its children without properties are
// not saved). Returns the number of nodes compared.
std::size_t ExpectSameTree(CFileNode* a, CFileNode* b) {
    std::vector<std::pair<CFileNode*, CFileNode*>> stack{{a, b}};
    std::size_t compared = 0;
    while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        ++compared;
        const std::string at =
            x->m_pProperties && x->m_pProperties->GetName() ? x->m_pProperties->GetName() : "?";
        EXPECT_EQ(x->IsFolder(), y->IsFolder()) << at;
        ExpectSameProperties(x->m_pProperties, y->m_pProperties, at);
        if (x->IsFolder() && y->IsFolder()) {
            auto* fx = static_cast<CFileSystemNode*>(x);
            auto* fy = static_cast<CFileSystemNode*>(y);
            FileTreeCounters cx = fx->m_counters, cy = fy->m_counters;
            EXPECT_EQ(cx.files, cy.files) << at;
            EXPECT_EQ(cx.bytes, cy.bytes) << at;
            EXPECT_EQ(cx.compressedFiles, cy.compressedFiles) << at;
            EXPECT_EQ(cx.encryptedFiles, cy.encryptedFiles) << at;
            EXPECT_EQ(cy.checkedFiles, 0u) << at;
            EXPECT_EQ(cy.checkedBytes, 0u) << at;
            EXPECT_EQ(fx->m_u64FirstSector, fy->m_u64FirstSector) << at;
            EXPECT_EQ(fx->m_u32SectorsPerCluster, fy->m_u32SectorsPerCluster) << at;
            EXPECT_EQ(fx->m_fileSystemType, fy->m_fileSystemType) << at;
            EXPECT_STREQ(fx->GetName() ? fx->GetName() : "", fy->GetName() ? fy->GetName() : "")
                << at;
        }
        std::vector<CFileNode*> ca, cb;
        if (x->m_pProperties && (x->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY))
            for (CFileNode* c = x->m_pFirstChild; c; c = c->m_pNextSibling)
                if (c->m_pProperties)
                    ca.push_back(c);
        for (CFileNode* c = y->m_pFirstChild; c; c = c->m_pNextSibling) {
            EXPECT_EQ(c->m_pParent, y) << at;
            cb.push_back(c);
        }
        EXPECT_EQ(ca.size(), cb.size()) << at;
        for (std::size_t i = 0; i < std::min(ca.size(), cb.size()); ++i)
            stack.push_back({ca[i], cb[i]});
    }
    return compared;
}

std::size_t CountFiles(CFileNode* root, std::uint32_t kind) {
    std::size_t n = 0;
    std::vector<CFileNode*> stack{root};
    while (!stack.empty()) {
        CFileNode* node = stack.back();
        stack.pop_back();
        if (node->m_pProperties && node->m_pProperties->GetFileSystemKind() == kind &&
            !(node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY))
            ++n;
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
    }
    return n;
}

// ---- the scanned disk ----------------------------------------------------------------------

// A disk image holding, one after another: 1 MiB of nothing, an EXT2 volume, a PNG, a FAT16
// volume and an NTFS volume. The offsets are in sectors.
struct ScanDisk {
    std::string path;
    std::uint64_t ext2At = 2048, pngAt = 0, fatAt = 0, ntfsAt = 0;
};

constexpr std::uint64_t kMiBSectors = 2048;

ScanDisk MakeScanDisk() {
    ScanDisk disk;
    const std::string ext2 = Ext2SampleVolume("ext2-1k");
    EXPECT_FALSE(ext2.empty());
    const Bytes ext2Bytes = ReadFileBytes(ext2);
    disk.pngAt = disk.ext2At + (ext2Bytes.size() + 511) / 512 + 64;
    disk.fatAt = disk.pngAt + kMiBSectors;
    disk.ntfsAt = disk.fatAt + 16 * kMiBSectors;
    disk.path = CachedFixture("scanstate-disk-v1.img", [&](const std::string& tmp) {
        if (!RequireFatTools())
            return false;
        const std::string dir = ScratchDir("scanstate-disk");
        FatImageOptions fatOptions;
        fatOptions.fatBits = 16;
        fatOptions.sizeKiB = 16 * 1024;
        fatOptions.sectorsPerCluster = 4;
        fatOptions.label = "STATEFAT";
        const std::string fat = dir + "/fat.img";
        if (!FatImage::Format(fat, fatOptions))
            return false;
        FatImage fatImage(fat);
        if (!fatImage.MakeDir("/Docs") ||
            !fatImage.WriteFile("/Docs/a.bin", PatternBytes(5000, 1)) ||
            !fatImage.WriteFile("/b.txt", PatternBytes(700, 2)) ||
            !fatImage.WriteFile("/gone.bin", PatternBytes(9000, 3)) ||
            !fatImage.Delete("/gone.bin"))
            return false;
        const std::string ntfs = dir + "/ntfs.img";
        NtfsImageRecipe recipe;
        recipe.sizeMiB = 8;
        recipe.partitionStart = disk.ntfsAt;
        if (!MakeNtfsImage(ntfs, recipe) || !NtfsMkdir(ntfs, "/dir") ||
            !NtfsWriteFile(ntfs, "/dir/one.bin", PatternBytes(20000, 4)) ||
            !NtfsWriteFile(ntfs, "/small.txt", PatternBytes(100, 5)) ||
            !NtfsWriteFile(ntfs, "/gone.bin", PatternBytes(30000, 6)) ||
            !NtfsDelete(ntfs, "/gone.bin"))
            return false;
        Bytes image((disk.ntfsAt + 8 * kMiBSectors + 64) * 512, 0);
        auto place = [&](std::uint64_t sector, const Bytes& bytes) {
            std::memcpy(image.data() + sector * 512, bytes.data(), bytes.size());
        };
        place(disk.ext2At, ext2Bytes);
        place(disk.pngAt, ReadFileBytes(std::string(BRULIN_SOURCE_DIR) +
                                        "/fuzz/corpus/carving_analysers/tiny.png"));
        place(disk.fatAt, ReadFileBytes(fat));
        place(disk.ntfsAt, ReadFileBytes(ntfs));
        return WriteFileBytes(tmp, image);
    });
    return disk;
}

// What one deep scan leaves behind, in the shape the wizard holds it.
struct ScanResults {
    std::vector<std::unique_ptr<IFileSystemSearchController>> controllers;
    std::unique_ptr<CRawFileList> carved = std::make_unique<CRawFileList>();
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> partitions;
    TreePtr tree;

    std::vector<IFileSystemSearchController*> ControllerPointers() const {
        std::vector<IFileSystemSearchController*> out;
        for (auto& c : controllers)
            out.push_back(c.get());
        return out;
    }
    std::vector<CSearchedPartitionInfo*> PartitionPointers() const {
        std::vector<CSearchedPartitionInfo*> out;
        for (auto& p : partitions)
            out.push_back(p.get());
        return out;
    }
};

// Feeds the device to the controllers in 1000-sector chunks, as the deep scan does.
void RunSearch(ScanResults& r, IStorageDevice* device) {
    for (auto& c : r.controllers) {
        c->SetDevice(device);
        c->SetSectorsPerStep(1000);
        c->SetResultSink(r.carved.get());
        c->BeginSearch();
    }
    IntelligentSearchStats stats{};
    const std::uint64_t total = device->GetSectorCount();
    for (std::uint64_t s = 0; s < total; s += 1000)
        for (auto& c : r.controllers)
            c->AnalyzeSectors(s, std::min<std::uint64_t>(1000, total - s), &stats);
    std::vector<CSearchedPartitionInfo*> found;
    for (auto& c : r.controllers) {
        c->EndSearch();
        c->CollectSearchedPartitions(found);
    }
    for (CSearchedPartitionInfo* p : found)
        r.partitions.emplace_back(p);
}

void SaveAll(IRSData* w, const ScanResults& r, IDIRBuildCallback* progress) {
    SaveSearchControllers(w, r.ControllerPointers());
    w->OpenSection(kFoundFileListSection);
    SaveFoundFileList(w, *r.carved);
    w->CloseSection();
    SaveSearchedPartitions(w, r.PartitionPointers());
    SaveFileTree(w, r.tree.get(), progress);
}

class RecordingProgress : public CNullDirBuildCallback {
public:
    int SetPos(std::int32_t position) override {
        positions.push_back(position);
        return 0;
    }
    std::vector<std::int32_t> positions;
};

} // namespace

TEST(ScanState, DeepScanRoundTripThroughAStoreFile) {
    const ScanDisk disk = MakeScanDisk();
    ASSERT_FALSE(disk.path.empty());
    CImageFileDevice device(disk.path.c_str());
    ASSERT_GT(device.GetSectorCount(), disk.ntfsAt);

    // The deep scan: the NTFS, FAT, RAW and EXT2 controllers over the whole disk.
    ScanResults scan;
    for (std::uint32_t kind : {SEARCH_CONTROLLER_NTFS, SEARCH_CONTROLLER_FAT, SEARCH_CONTROLLER_RAW,
                               SEARCH_CONTROLLER_EXT2}) {
        scan.controllers.push_back(CreateSearchControllerByKind(kind));
        ASSERT_TRUE(scan.controllers.back()) << kind;
    }
    RunSearch(scan, &device);
    ASSERT_NE(scan.carved->FindAtSector(disk.pngAt), nullptr);
    const auto* fatController = static_cast<CFATSearchController*>(scan.controllers[1].get());
    ASSERT_GT(fatController->DirectorySectors().Size(), 1u);
    // Fields the search leaves at their defaults, so that the round trip shows they are kept.
    for (std::size_t i = 0; i < scan.partitions.size(); ++i) {
        scan.partitions[i]->m_relativeScore = 0.25 + 0.125 * static_cast<double>(i);
        scan.partitions[i]->m_u32Chosen = i % 2 ? 1 : 0;
    }

    // A plain record beside the found ones.
    auto plain = std::make_unique<CSearchedPartitionInfo>();
    plain->m_u64FirstSector = 12345;
    plain->m_u32Identity = 77;
    plain->m_u64Score = 1ull << 40;

    // The combined tree: Root over the tree of every found partition its controller builds
    // (each kept to compare with what the restored controllers build) and the Raw Files
    // folder.
    CNullDirBuildCallback build;
    scan.tree.reset(CreateFileSystemNode());
    scan.tree->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties()));
    std::map<std::size_t, CFileSystemNode*> built; // found partition -> its tree
    std::set<std::uint32_t> kinds;
    for (std::size_t i = 0; i < scan.partitions.size(); ++i) {
        CSearchedPartitionInfo* p = scan.partitions[i].get();
        for (auto& c : scan.controllers) {
            if (!c->AcceptsFileSystemType(p->m_fileSystemType))
                continue;
            if (FileTreePtr t =
                    c->BuildDirectoryTree(p, &device, static_cast<std::uint32_t>(i), &build)) {
                built[i] = t.get();
                scan.tree->AddChild(t.release());
                kinds.insert(p->GetKind());
            }
            break;
        }
    }
    EXPECT_EQ(kinds, (std::set<std::uint32_t>{SEARCHED_PARTITION_NTFS, SEARCHED_PARTITION_FAT,
                                              SEARCHED_PARTITION_EXT2}));
    CRawFileTreeBuilder builder;
    FileTreePtr rawTree =
        BuildRawFileTree(&build, nullptr, &builder, &device, scan.carved->GetIterator(), 0);
    ASSERT_TRUE(rawTree);
    scan.tree->AddChild(rawTree.release());
    scan.tree->RecountCounters();
    scan.partitions.push_back(std::move(plain));
    ASSERT_GT(CountFiles(scan.tree.get(), FILEPROPS_NTFS), 2u);
    ASSERT_GT(CountFiles(scan.tree.get(), FILEPROPS_FAT), 2u);
    ASSERT_GT(CountFiles(scan.tree.get(), FILEPROPS_EXT2), 2u);
    ASSERT_GT(CountFiles(scan.tree.get(), FILEPROPS_RAW), 0u);
    ToggleCheckState(scan.tree.get(), false); // view state: not saved

    RecordingProgress saving;
    const Bytes file = WriteStore("deep-scan", [&](IRSData* w) { SaveAll(w, scan, &saving); });

    // Reload into fresh objects, sections read in another order than written.
    Reader reader(file);
    RecordingProgress progress;
    TreePtr tree(LoadFileTree(&reader.store, &progress));
    ASSERT_TRUE(tree);
    SearchedPartitionList partitions;
    LoadSearchedPartitions(&reader.store, partitions);
    auto carved = LoadFoundFileList(&reader.store);
    SearchControllerList controllers;
    LoadSearchControllers(&reader.store, controllers);

    ASSERT_EQ(controllers.size(), scan.controllers.size());
    for (std::size_t i = 0; i < controllers.size(); ++i)
        EXPECT_EQ(controllers[i]->GetKind(), scan.controllers[i]->GetKind());
    // The FAT controller keeps its directory sectors, record by record.
    const auto* fatLoaded = static_cast<CFATSearchController*>(controllers[1].get());
    ASSERT_EQ(fatLoaded->GetKind(), SEARCH_CONTROLLER_FAT);
    EXPECT_TRUE(std::equal(fatLoaded->DirectorySectors().begin(),
                           fatLoaded->DirectorySectors().end(),
                           fatController->DirectorySectors().begin(),
                           fatController->DirectorySectors().end()));

    ASSERT_EQ(carved->Size(), scan.carved->Size());
    for (std::size_t i = 0; i < carved->Size(); ++i) {
        const CRawFileInfo* a = scan.carved->Records()[i];
        const CRawFileInfo* b = carved->Records()[i];
        EXPECT_EQ(a->m_u64StartSector, b->m_u64StartSector);
        EXPECT_EQ(a->m_u64Size, b->m_u64Size);
        EXPECT_EQ(a->m_u32FileType, b->m_u32FileType);
        EXPECT_EQ(a->m_u32AnalyserType & 0xFFFF, b->m_u32AnalyserType);
    }

    ASSERT_EQ(partitions.size(), scan.partitions.size());
    for (std::size_t i = 0; i < partitions.size(); ++i) {
        const CSearchedPartitionInfo& a = *scan.partitions[i];
        const CSearchedPartitionInfo& b = *partitions[i];
        EXPECT_EQ(a.GetKind(), b.GetKind());
        EXPECT_EQ(a.m_fileSystemType, b.m_fileSystemType);
        EXPECT_EQ(a.m_u64FirstSector, b.m_u64FirstSector);
        EXPECT_EQ(a.m_u64KeptFirstSector, b.m_u64KeptFirstSector);
        EXPECT_EQ(a.m_u32Identity, b.m_u32Identity);
        EXPECT_EQ(a.m_u64Score, b.m_u64Score);
        EXPECT_EQ(a.m_relativeScore, b.m_relativeScore);
        EXPECT_EQ(SaveBytes(a), SaveBytes(b)) << i;
    }

    EXPECT_GT(ExpectSameTree(scan.tree.get(), tree.get()), 20u);
    for (const RecordingProgress* bar : {&saving, &progress}) {
        ASSERT_FALSE(bar->positions.empty());
        for (std::size_t i = 0; i < bar->positions.size(); ++i) {
            EXPECT_GE(bar->positions[i], 40);
            EXPECT_LE(bar->positions[i], 90);
            if (i) {
                EXPECT_GT(bar->positions[i], bar->positions[i - 1]);
            }
        }
    }

    // The restored controllers build the restored partitions' trees again, equal to the trees
    // built before the save.
    for (const auto& [index, original] : built) {
        SCOPED_TRACE(index);
        CSearchedPartitionInfo* p = partitions[index].get();
        IFileSystemSearchController* owner = nullptr;
        for (auto& c : controllers)
            if (!owner && c->AcceptsFileSystemType(p->m_fileSystemType))
                owner = c.get();
        ASSERT_TRUE(owner);
        owner->SetDevice(&device);
        owner->SetResultSink(carved.get());
        TreePtr rebuilt(
            owner->BuildDirectoryTree(p, &device, static_cast<std::uint32_t>(index), &build));
        ASSERT_TRUE(rebuilt);
        ExpectSameTree(original, rebuilt.get());
    }
}

TEST(ScanState, TreeLayoutAndSiblingOrder) {
    // An empty tree: the marker, the root's records and one end mark.
    TreePtr empty(CreateFileSystemNode());
    empty->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties("Root")));
    MemorySection s;
    SaveFileTree(&s, empty.get(), nullptr);
    const std::size_t rootRecord = 40 + 8 + 4 + 4 + 4;       // no caption
    const std::size_t rootProps = 4 + 2 + 4 + 8 + 2 + 1 + 4; // kind 4, "Root"
    ASSERT_EQ(s.bytes.size(), 4 + rootRecord + rootProps + 4);
    EXPECT_EQ(RSReadValue<std::uint32_t>(&s), 1u);
    s.pos = s.bytes.size() - 4;
    EXPECT_EQ(RSReadValue<std::uint32_t>(&s), 0xFFFFFFFFu);

    // A folder with A, B, C: written C, B, A, loaded A, B, C; a child without properties and a
    // program-made folder with children are handled whole.
    TreePtr root(CreateFileSystemNode());
    root->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties("Root")));
    root->SetName("caption");
    CFileSystemNode* made = CreateFileSystemNode();
    made->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties("Made")));
    for (const char* name : {"C", "B", "A"}) {
        CFileNode* n = CreateFileNode();
        auto* p = CreateMyFileProperties();
        p->SetNameText(name);
        n->SetProperties(std::unique_ptr<IFileProperties>(p));
        made->AddChild(n);
    }
    root->AddChild(CreateFileNode()); // no properties: left out
    root->AddChild(made);
    MemorySection t;
    SaveFileTree(&t, root.get(), nullptr);
    TreePtr loaded(LoadFileTree(&t, nullptr));
    ASSERT_TRUE(loaded);
    EXPECT_EQ(t.pos, t.bytes.size());
    ExpectSameTree(root.get(), loaded.get());
    std::string order;
    for (CFileNode* c = loaded->m_pFirstChild->m_pFirstChild; c; c = c->m_pNextSibling)
        order += c->m_pProperties->GetName();
    EXPECT_EQ(order, "ABC");
    EXPECT_STREQ(loaded->GetName(), "caption");
}

TEST(ScanState, DamagedTreeRecordsFailWithoutDesync) {
    TreePtr root(CreateFileSystemNode());
    root->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties("R")));
    CFileNode* file = CreateFileNode();
    auto* p = CreateMyFileProperties();
    p->SetNameText("f");
    file->SetProperties(std::unique_ptr<IFileProperties>(p));
    root->AddChild(file);
    MemorySection good;
    SaveFileTree(&good, root.get(), nullptr);
    const std::size_t rootRecord = 60, rootProps = 4 + 2 + 1 + 8 + 2 + 1 + 4;
    const std::size_t markerAt = 4 + rootRecord + rootProps;
    const std::size_t kindAt = markerAt + 4;
    struct Case {
        std::size_t at;
        std::uint32_t value;
    } cases[] = {{markerAt, 2}, {markerAt, 0x12345678}, {kindAt, 5}, {kindAt, 9}, {0, 2}};
    for (const Case& c : cases) {
        MemorySection m;
        m.bytes = good.bytes;
        std::memcpy(m.bytes.data() + c.at, &c.value, 4);
        if (c.at == 0) {
            EXPECT_EQ(LoadFileTree(&m, nullptr), nullptr);
            continue;
        }
        try {
            LoadFileTree(&m, nullptr);
            ADD_FAILURE() << "no error for " << c.value << " at " << c.at;
        } catch (const IRSException& e) {
            EXPECT_EQ(e.GetErrorCode(), RSERR_BAD_HEADER);
        }
    }

    // Carved-file properties: kind 3, u8 name length, the name, u64 size, u16 attributes, u8
    // state, u32 run-record length, its bytes, u16 offset. A run-record length beyond what a
    // record may hold fails the load instead of leaving the record's bytes to be read as the
    // next fields.
    auto rawRecord = [](std::uint32_t runLength) {
        MemorySection m;
        RSWriteValue<std::uint32_t>(&m, FILEPROPS_RAW);
        RSWriteValue<std::uint8_t>(&m, 2);
        m.Write("a", 2);
        RSWriteValue<std::uint64_t>(&m, 1000);
        RSWriteValue<std::uint16_t>(&m, 0);
        RSWriteValue<std::uint8_t>(&m, 0);
        RSWriteValue<std::uint32_t>(&m, runLength);
        m.Write("\x11\x02\x10\x00", 4);
        RSWriteValue<std::uint16_t>(&m, 0);
        return m;
    };
    MemorySection fine = rawRecord(4);
    auto loaded = LoadFileProperties(&fine);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->GetFileSize(), 1000u);
    EXPECT_EQ(fine.pos, fine.bytes.size());
    MemorySection damaged = rawRecord(0x7FFFFFFF);
    EXPECT_THROW(LoadFileProperties(&damaged), CRSException);
}

TEST(ScanState, ControllersPartitionsAndChainRefuseUnknownKinds) {
    // Controller kind 7, searched-partition kind 9 and controller type 6 fail the load.
    MemorySection controllers;
    RSWriteValue<std::uint64_t>(&controllers, 2);
    RSWriteValue<std::uint32_t>(&controllers, SEARCH_CONTROLLER_RAW);
    RSWriteValue<std::uint32_t>(&controllers, 7);
    SearchControllerList list;
    list.push_back(CreateSearchControllerByKind(SEARCH_CONTROLLER_EXT2));
    EXPECT_THROW(LoadSearchControllers(&controllers, list), CRSException);
    ASSERT_EQ(list.size(), 1u); // what was there before stays; what the load added is gone

    MemorySection partitions;
    RSWriteValue<std::uint64_t>(&partitions, 1);
    RSWriteValue<std::uint32_t>(&partitions, 9);
    SearchedPartitionList records;
    EXPECT_THROW(LoadSearchedPartitions(&partitions, records), CRSException);
    EXPECT_TRUE(records.empty());

    MemorySection chain;
    SaveControllerChain(&chain, {0, 1, 6, 5});
    std::vector<std::uint32_t> types;
    RecreateControllerChain(&chain, 5, types);
    EXPECT_EQ(types, (std::vector<std::uint32_t>{0, 1, 5}));
    chain.pos = 0;
    RecreateControllerChain(&chain, 1, types);
    EXPECT_EQ(types, (std::vector<std::uint32_t>{0, 1}));
    chain.bytes[8] = 6;
    chain.pos = 0;
    EXPECT_THROW(RecreateControllerChain(&chain, 5, types), CRSException);
    EXPECT_TRUE(types.empty());

}

TEST(ScanState, CountsFromTheFileNeverSizeAnAllocation) {
    // Each loader given the largest count its field holds and nothing behind it: the items
    // are read one by one, so the load ends in the store's short read, not in an allocation
    // of the count's size (which the sanitizer's allocator would refuse with a crash).
    const struct {
        const char* what;
        int width; // bytes of the count field
        std::function<void(IRSData*)> load;
    } cases[] = {
        {"controller chain", 4,
         [](IRSData* s) {
             std::vector<std::uint32_t> types;
             RecreateControllerChain(s, 5, types);
         }},
        {"search controllers", 8,
         [](IRSData* s) {
             SearchControllerList list;
             LoadSearchControllers(s, list);
         }},
        {"NTFS controller", 8,
         [](IRSData* s) { CreateSearchControllerByKind(SEARCH_CONTROLLER_NTFS)->LoadState(s); }},
        {"FAT controller", 4,
         [](IRSData* s) { CreateSearchControllerByKind(SEARCH_CONTROLLER_FAT)->LoadState(s); }},
        {"carved files", 8, [](IRSData* s) { LoadFoundFileList(s); }},
        {"searched partitions", 8,
         [](IRSData* s) {
             SearchedPartitionList list;
             LoadSearchedPartitions(s, list);
         }},
        {"found partitions", 4,
         [](IRSData* s) {
             FoundPartitionList list;
             FoundPartitionInfo* selected = nullptr;
             LoadFoundPartitionList(s, list, &selected, nullptr);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySection huge;
        if (c.width == 4)
            RSWriteValue<std::uint32_t>(&huge, ~0u);
        else
            RSWriteValue<std::uint64_t>(&huge, ~0ull);
        try {
            c.load(&huge);
            ADD_FAILURE();
        } catch (const IRSException& e) {
            EXPECT_EQ(e.GetErrorCode(), RSERR_SHORT_READ);
        }
    }
}

TEST(ScanState, FoundPartitionListSelectionAndLabels) {
    MemoryDevice disk(10000);
    std::vector<std::unique_ptr<FoundPartitionInfo>> owned;
    for (int i = 0; i < 3; ++i) {
        auto p = std::make_unique<FoundPartitionInfo>();
        p->u64FirstSector = 100 * (i + 1);
        p->u64SectorCount = 50 + i;
        p->fileSystemType = i == 0 ? FILESYSTEM_NTFS : FILESYSTEM_FAT32;
        p->SetLabel(i == 1 ? "A label that is much longer than forty bytes, cut on load" : "short");
        p->pDevice =
            std::make_unique<CBasicPartitionDevice>(&disk, p->u64FirstSector, p->u64SectorCount);
        owned.push_back(std::move(p));
    }
    const std::vector<const FoundPartitionInfo*> list{owned[0].get(), owned[1].get(),
                                                      owned[2].get()};
    FoundPartitionInfo stranger;
    const struct {
        const FoundPartitionInfo* selected;
        int expected; // -1 none
    } cases[] = {{owned[1].get(), 1}, {&stranger, -1}, {nullptr, -1}};
    for (const auto& c : cases) {
        MemorySection s;
        SaveFoundPartitionList(&s, list, c.selected);
        EXPECT_EQ(s.bytes.size(), 4 + 3 * (8 + 8 + 40 + 4 + 8 + 8) + 4u);
        FoundPartitionList loaded;
        FoundPartitionInfo* selected = owned[0].get();
        LoadFoundPartitionList(&s, loaded, &selected, &disk);
        ASSERT_EQ(loaded.size(), 3u);
        EXPECT_EQ(selected, c.expected < 0 ? nullptr : loaded[c.expected].get());
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(loaded[i]->u64FirstSector, list[i]->u64FirstSector);
            EXPECT_EQ(loaded[i]->u64SectorCount, list[i]->u64SectorCount);
            EXPECT_EQ(loaded[i]->fileSystemType, list[i]->fileSystemType);
            EXPECT_EQ(std::string(loaded[i]->szVolumeLabel),
                      std::string(list[i]->szVolumeLabel).substr(0, 40));
            ASSERT_TRUE(loaded[i]->pDevice);
            EXPECT_EQ(loaded[i]->pDevice->GetStartSector(), list[i]->u64FirstSector);
            EXPECT_EQ(loaded[i]->pDevice->GetSectorCount(), list[i]->u64SectorCount);
        }
        // An index equal to the count also selects nothing.
        std::memcpy(s.bytes.data() + s.bytes.size() - 4, "\x03\0\0\0", 4);
        s.pos = 0;
        LoadFoundPartitionList(&s, loaded, &selected, &disk);
        EXPECT_EQ(selected, nullptr);
    }
}

namespace {

// A disk's identity from a table of descriptors by device, and sector 0 of the device.
struct FakeIdentities {
    std::map<IStorageDevice*, std::string> serials;
    DiskIdentityReader Reader() {
        return [this](IStorageDevice* disk, std::uint8_t* id) {
            std::memset(id, 0, kDiskIdentitySize);
            const std::string& serial = serials[disk];
            std::memcpy(id + 784, serial.data(), std::min<std::size_t>(serial.size(), 259));
            std::uint8_t sector[512] = {};
            if (!disk->ReadSectors(sector, 0, 1))
                return false;
            std::memset(sector + 446, 0, 64);
            std::memcpy(id + 1304, sector, 512);
            return true;
        };
    }
};

void WriteSector0(MemoryDevice& disk, std::uint8_t bootByte, std::uint8_t tableByte) {
    std::uint8_t sector[512] = {};
    sector[0] = bootByte;
    sector[446] = tableByte;
    sector[510] = 0x55;
    sector[511] = 0xAA;
    std::memcpy(disk.Sector(0), sector, 512);
}

} // namespace

TEST(ScanState, DiskRecordLayoutAndIdentity) {
    MemoryDevice a(64), b(64), c(64);
    WriteSector0(a, 0xEB, 1);
    WriteSector0(b, 0xEB, 2);
    WriteSector0(c, 0x33, 1);
    FakeIdentities ids;
    ids.serials = {{&a, "SERIAL-A"}, {&b, "SERIAL-B"}, {&c, "SERIAL-A"}};

    DiskRecord record;
    record.pDevice = &a;
    record.headsPerCylinder = 255;
    record.isUsb = 1;
    std::strcpy(record.szText, "Vendor  Product  USB");
    std::uint8_t bytes[kDiskRecordSize];
    EncodeDiskRecord(record, bytes);
    ByteSpan span(bytes, sizeof(bytes));
    EXPECT_EQ(span.u32(0), 0u);
    EXPECT_EQ(span.u32(4), 0u); // pointer slots are zero
    EXPECT_EQ(span.u32(8), 255u);
    EXPECT_EQ(span.u32(12), 1u);
    EXPECT_EQ(span.u32(16), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 20), "Vendor  Product  USB");
    DiskRecord back;
    ASSERT_TRUE(DecodeDiskRecord(bytes, &back));
    EXPECT_EQ(back.pDevice, nullptr);
    EXPECT_STREQ(back.szText, record.szText);
    bytes[0] = 2;
    EXPECT_FALSE(DecodeDiskRecord(bytes, &back));

    const Bytes file = WriteStore(
        "disk-identity", [&](IRSData* w) { StoreDeviceIdentity(record, w, ids.Reader()); });

    auto listOf = [](std::vector<IStorageDevice*> disks) {
        DiskRecordList list;
        for (IStorageDevice* d : disks) {
            auto r = std::make_unique<DiskRecord>();
            r->pDevice = d;
            list.push_back(std::move(r));
        }
        return list;
    };
    {
        // The partition table changed (b has a's serial now and another table): still found.
        ids.serials[&b] = "SERIAL-B";
        DiskRecordList list = listOf({&c, &b, &a});
        WriteSector0(a, 0xEB, 9);
        Reader r(file);
        EXPECT_EQ(FindStoredDevice(&r.store, list, ids.Reader()), list[2].get());
    }
    {
        // Boot code changed (c) or serial changed (b): not the same disk.
        DiskRecordList list = listOf({&c, &b});
        Reader r(file);
        EXPECT_EQ(FindStoredDevice(&r.store, list, ids.Reader()), nullptr);
    }
    {
        // Two disks give the stored identity: ambiguous, none is chosen.
        ids.serials[&b] = "SERIAL-A";
        DiskRecordList list = listOf({&a, &b});
        Reader r(file);
        EXPECT_EQ(FindStoredDevice(&r.store, list, ids.Reader()), nullptr);
    }
    {
        // An image record is found by its path; an absent image that does not open finds none.
        DiskRecord image;
        image.kind = DISKRECORD_IMAGE;
        image.imageId = 3;
        image.u64SectorCount = 1234;
        std::strcpy(image.szDisplayName, "Image One");
        std::strcpy(image.szImagePath, "/nonexistent/one.edi");
        std::uint8_t ib[kDiskRecordSize];
        EncodeDiskRecord(image, ib);
        EXPECT_EQ(ByteSpan(ib, sizeof(ib)).u64(276), 1234u);
        const Bytes imageFile =
            WriteStore("image-identity", [&](IRSData* w) { StoreDeviceIdentity(image, w); });
        DiskRecordList list = listOf({&a});
        auto listed = std::make_unique<DiskRecord>();
        *listed = DiskRecord{};
        listed->kind = DISKRECORD_IMAGE;
        std::strcpy(listed->szImagePath, "/nonexistent/one.edi");
        list.push_back(std::move(listed));
        Reader r(imageFile);
        EXPECT_EQ(FindStoredDevice(&r.store, list, ids.Reader()), list[1].get());
        list.pop_back();
        Reader r2(imageFile);
        EXPECT_EQ(FindStoredDevice(&r2.store, list, ids.Reader()), nullptr);
        EXPECT_EQ(list.size(), 1u);
    }
}

TEST(ScanState, VolumeRecordLayoutAndIdentity) {
    MemoryDevice d0(64), d1(64);
    WriteSector0(d0, 0xEB, 1);
    WriteSector0(d1, 0xFA, 1);
    FakeIdentities ids;
    ids.serials = {{&d0, "ZERO"}, {&d1, "ONE"}};
    MemoryDevice volumeDevice(8);

    auto makeVolume = [&](char letter) {
        auto* v = new VolumeRecord();
        v->pStorageDevice = nullptr;
        v->isDynamic = 1;
        v->fileSystemType = FILESYSTEM_NTFS;
        v->cDriveLetter = letter;
        std::strcpy(v->szVolumeLabel, "Data");
        v->members[0] = {2048, 1000, &d0};
        v->members[1] = {4096, 3000, &d1};
        std::strcpy(v->szParentDisk, "disk texts");
        return v;
    };
    std::unique_ptr<VolumeRecord> saved(makeVolume('E'));
    std::uint8_t bytes[kVolumeRecordSize];
    EncodeVolumeRecord(*saved, bytes);
    ByteSpan span(bytes, sizeof(bytes));
    EXPECT_EQ(span.u32(4), 0u);
    EXPECT_EQ(span.u32(8), 1u);
    EXPECT_EQ(span.u32(12), 3u);
    EXPECT_EQ(span.u8(16), 'E');
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 17), "Data");
    EXPECT_EQ(span.u64(125), 2048u);
    EXPECT_EQ(span.u64(133), 1000u);
    EXPECT_EQ(span.u64(145), 4096u);
    EXPECT_EQ(span.u32(141), 0u);      // member disk pointer slots are zero too
    EXPECT_EQ(span.u64(133 + 40), 0u); // the table ends after two members
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 765), "disk texts");
    VolumeRecord back;
    ASSERT_TRUE(DecodeVolumeRecord(bytes, &back));
    EXPECT_EQ(back.pStorageDevice, nullptr);
    EXPECT_EQ(back.members[0].pDisk, nullptr);
    EXPECT_EQ(back.members[1].u64SectorCount, 3000u);

    const Bytes file = WriteStore(
        "volume-identity", [&](IRSData* w) { StoreVolumeIdentity(*saved, w, ids.Reader()); });
    EXPECT_GT(file.size(), kRSHeaderSize + kRSSectionHeaderSize);

    auto listOf = [](std::vector<VolumeRecord*> records) {
        VolumeList list;
        for (VolumeRecord* r : records)
            list.emplace_back(r);
        return list;
    };
    VolumeList images;
    {
        VolumeRecord* same = makeVolume('E');
        const VolumeList volumes = listOf({makeVolume('F'), same});
        Reader r(file);
        EXPECT_EQ(FindStoredVolume(&r.store, volumes, images, ids.Reader()), same);
    }
    {
        VolumeRecord *moved = makeVolume('E'), *otherDisk = makeVolume('E');
        moved->members[1].u64FirstSector = 4097;
        otherDisk->members[0].pDisk = &d1;
        const VolumeList volumes = listOf({moved, otherDisk});
        Reader r(file);
        EXPECT_EQ(FindStoredVolume(&r.store, volumes, images, ids.Reader()), nullptr);
    }
    {
        const VolumeList volumes = listOf({makeVolume('E'), makeVolume('E')});
        Reader r(file);
        EXPECT_EQ(FindStoredVolume(&r.store, volumes, images, ids.Reader()), nullptr);
    }
    EXPECT_TRUE(images.empty());

    // The image form: id, display name, sector count and path at their places; found by path.
    auto fillImage = [&](VolumeRecord& r) {
        r.form = 1;
        r.pStorageDevice = &volumeDevice;
        r.u32ImageId = 4;
        std::strcpy(r.szImageDisplayName, "Imaged disk");
        r.u64ImageSectorCount = 99999;
        std::strcpy(r.szImagePath, "/images/disk.edi");
    };
    VolumeRecord image;
    fillImage(image);
    EncodeVolumeRecord(image, bytes);
    EXPECT_EQ(span.u32(0), 1u);
    EXPECT_EQ(span.u32(4), 0u);
    EXPECT_EQ(span.u32(8), 4u);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 12), "Imaged disk");
    EXPECT_EQ(span.u64(272), 99999u);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 280), "/images/disk.edi");
    const Bytes imageFile =
        WriteStore("volume-image", [&](IRSData* w) { StoreVolumeIdentity(image, w); });
    {
        auto* listed = new VolumeRecord();
        fillImage(*listed);
        VolumeList volumes, listedImages = listOf({listed});
        Reader r(imageFile);
        EXPECT_EQ(FindStoredVolume(&r.store, volumes, listedImages), listed);
        Reader r2(imageFile);
        VolumeList none;
        EXPECT_EQ(FindStoredVolume(&r2.store, volumes, none), nullptr); // does not open
        EXPECT_TRUE(none.empty());
    }

    // A member table with all 32 entries used counts as no members: no identities follow.
    std::unique_ptr<VolumeRecord> full(makeVolume('G'));
    for (auto& m : full->members)
        m = {1, 1, &d0};
    MemorySection s;
    StoreVolumeIdentity(*full, &s, ids.Reader());
    EXPECT_EQ(s.bytes.size(), kVolumeRecordSize);
}

// The volume-identity section of a saved state, for a volume with two member disks and for an
// opened image, byte for byte as the golden files hold it: the direct section bytes, and the
// section as read back from a real store file. BRULIN_WRITE_GOLDEN=1 writes the files anew.
TEST(ScanState, SavedVolumeRecordsKeepTheirGoldenBytes) {
    MemoryDevice d0(64), d1(64), volumeDevice(8);
    WriteSector0(d0, 0xEB, 1);
    WriteSector0(d1, 0xFA, 1);
    FakeIdentities ids;
    ids.serials = {{&d0, "DISK-ZERO"}, {&d1, "DISK-ONE"}};

    VolumeRecord volume;
    volume.pStorageDevice = &volumeDevice;
    volume.isDynamic = 1;
    volume.fileSystemType = FILESYSTEM_NTFS;
    volume.cDriveLetter = 'E';
    std::strcpy(volume.szVolumeLabel, "Archive");
    volume.isUsb = 1;
    volume.members[0] = {2048, 1000, &d0};
    volume.members[1] = {4096, 3000, &d1};
    std::strcpy(volume.szParentDisk, "ATA  First disk  SATA\nATA  Second disk  SATA");

    VolumeRecord image;
    image.form = 1;
    image.pStorageDevice = &volumeDevice;
    image.fileSystemType = FILESYSTEM_UNKNOWN;
    image.u32ImageId = 3;
    std::strcpy(image.szImageDisplayName, "Imaged disk (FAT32)");
    image.u64ImageSectorCount = 123456789;
    std::strcpy(image.szImagePath, "/images/imaged disk.edi");

    const struct {
        const char* name;
        const VolumeRecord& record;
    } cases[] = {{"volume-identity-disk.bin", volume}, {"volume-identity-image.bin", image}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemorySection direct;
        StoreVolumeIdentity(c.record, &direct, ids.Reader());
        const Bytes file = WriteStore(c.name, [&](IRSData* w) {
            StoreVolumeIdentity(c.record, w, ids.Reader());
        });
        const std::string goldenPath =
            std::string(BRULIN_SOURCE_DIR) + "/tests/recovery/golden/" + c.name;
        if (getenv("BRULIN_WRITE_GOLDEN"))
            std::ofstream(goldenPath, std::ios::binary)
                .write(reinterpret_cast<const char*>(direct.bytes.data()),
                       static_cast<std::streamsize>(direct.bytes.size()));
        const Bytes golden = ReadFileBytes(goldenPath);
        ASSERT_FALSE(golden.empty()) << goldenPath;
        EXPECT_EQ(golden, direct.bytes);

        // The store file holds the same bytes and nothing after them.
        Reader r(file);
        ASSERT_TRUE(r.store.OpenSection(kVolumeIdentitySection));
        Bytes stored(golden.size());
        r.store.Read(stored.data(), static_cast<std::uint32_t>(stored.size()));
        EXPECT_EQ(golden, stored);
        std::uint8_t more = 0;
        EXPECT_ANY_THROW(r.store.Read(&more, 1));
    }
}

TEST(ScanState, MissingTruncatedAndBitFlippedStoreFiles) {
    // A small but complete state: every section once.
    TreePtr root(CreateFileSystemNode());
    root->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties()));
    CFileSystemNode* folder = CreateFileSystemNode();
    folder->SetProperties(
        std::unique_ptr<IFileProperties>(CreateProgramRootProperties("Raw Files")));
    root->AddChild(folder);
    CRawFileList carved;
    for (std::uint64_t s : {10u, 20u, 30u}) {
        auto* r = new CRawFileInfo();
        r->m_u64StartSector = s;
        r->m_u64Size = s * 100;
        carved.Add(r);
    }
    auto ext2 = std::unique_ptr<CSearchedPartitionInfo>(CreateExt2SearchedPartitionInfo());
    ext2->m_sectorsPerCluster = 2;
    CFATSearchedPartitionInfo fatRecord;
    MemoryDevice disk(100);
    FoundPartitionInfo found;
    found.pDevice = std::make_unique<CBasicPartitionDevice>(&disk, 1, 2);
    CRAWSearchController raw;
    const Bytes file = WriteStore("complete", [&](IRSData* w) {
        SaveControllerChain(w, {0, 1, 5});
        SaveSearchControllers(w, {&raw});
        w->OpenSection(kFoundFileListSection);
        SaveFoundFileList(w, carved);
        w->CloseSection();
        SaveSearchedPartitions(w, {ext2.get(), &fatRecord});
        SaveFileTree(w, root.get(), nullptr);
        SaveFoundPartitionList(w, {&found}, &found);
    });

    auto loadAll = [&](const Bytes& bytes) {
        CRSDataEx store(RSDATA_READ);
        store.OpenBuffer(bytes.data(), bytes.size());
        std::vector<std::uint32_t> chain;
        RecreateControllerChain(&store, 5, chain);
        SearchControllerList controllers;
        LoadSearchControllers(&store, controllers);
        LoadFoundFileList(&store);
        SearchedPartitionList partitions;
        LoadSearchedPartitions(&store, partitions);
        TreePtr tree(LoadFileTree(&store, nullptr));
        FoundPartitionList list;
        FoundPartitionInfo* selected = nullptr;
        LoadFoundPartitionList(&store, list, &selected, &disk);
        return selected != nullptr;
    };
    EXPECT_TRUE(loadAll(file));

    // A section the file does not hold fails with code 7.
    {
        Reader r(file);
        DiskRecordList list;
        try {
            FindStoredDevice(&r.store, list);
            ADD_FAILURE();
        } catch (const IRSException& e) {
            EXPECT_EQ(e.GetErrorCode(), RSERR_SECTION_NOT_FOUND);
        }
    }
    // Every truncation and many bit flips end in a store error or a clean load, never a crash.
    int errors = 0;
    for (std::size_t cut = 0; cut < file.size(); cut += 7) {
        Bytes part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        try {
            loadAll(part);
        } catch (const IRSException&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, 0);
    for (std::size_t bit = 0; bit < file.size() * 8; bit += 13) {
        Bytes flipped = file;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        try {
            loadAll(flipped);
        } catch (const IRSException&) {
        }
    }
    // A foreign file is no store.
    Bytes foreign = PatternBytes(4096, 9);
    EXPECT_THROW(loadAll(foreign), CRSException);
}

TEST(ScanState, StoredImageIsOpenedAgainWhenNotListed) {
    MemoryDevice source(PatternBytes(300 * 512, 11));
    const std::string path = ScratchDir("stored-image") + "/disk.edi";
    CCompressController writer;
    writer.Setup(&source, "MemoryDevice 0", 0, source.GetSectorCount(), 255);
    writer.SetCompressionType(COMPRESSION_NONE);
    writer.SetImagePath(path);
    QuietImaging cb;
    ASSERT_EQ(writer.CreateImage(&cb), 1);

    DiskRecord record;
    record.kind = DISKRECORD_IMAGE;
    record.u64SectorCount = 300;
    std::strcpy(record.szDisplayName, "MemoryDevice 0");
    std::strncpy(record.szImagePath, path.c_str(), sizeof(record.szImagePath) - 1);
    const Bytes file =
        WriteStore("stored-image-state", [&](IRSData* w) { StoreDeviceIdentity(record, w); });

    DiskRecordList list;
    Reader r(file);
    DiskRecord* found = FindStoredDevice(&r.store, list);
    ASSERT_NE(found, nullptr);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(found, list[0].get());
    ASSERT_TRUE(found->pDevice);
    EXPECT_EQ(found->pDevice, found->ownedDevice.get());
    EXPECT_GE(found->pDevice->GetSectorCount(), 300u); // whole 256-sector blocks
    EXPECT_STREQ(found->szDisplayName, "MemoryDevice 0");
    std::uint8_t sector[512];
    ASSERT_EQ(found->pDevice->ReadSectors(sector, 17, 1), 1);
    EXPECT_EQ(0, std::memcmp(sector, source.Sector(17), 512));
}

TEST(ScanState, PartitionRecordsWithAnUnknownFileSystemFail) {
    // A saved partition record whose file-system type is none of the known ones is damaged:
    // the load fails with a store error instead of handing the type on.
    auto foundRecord = [](std::uint32_t type) {
        MemorySection m;
        RSWriteValue<std::uint32_t>(&m, 1);
        FoundPartitionInfo p;
        p.u64FirstSector = 2;
        p.u64SectorCount = 3;
        SaveFoundPartitionRecord(&m, p);
        RSWriteValue<std::uint32_t>(&m, 0);
        std::memcpy(m.bytes.data() + 4 + 8 + 8 + kFoundPartitionLabelBytes, &type, 4);
        return m;
    };
    auto searchedRecord = [](std::uint32_t kind, std::uint32_t type) {
        MemorySection m;
        RSWriteValue<std::uint64_t>(&m, 1);
        RSWriteValue<std::uint32_t>(&m, kind);
        auto p = CreateSearchedPartitionInfoByKind(kind);
        p->m_fileSystemType = FILESYSTEM_FAT32;
        p->Save(&m);
        std::memcpy(m.bytes.data() + 8 + 4, &type, 4);
        return m;
    };
    MemoryDevice disk(100);
    auto loadFound = [&](MemorySection& m) {
        FoundPartitionList list;
        FoundPartitionInfo* selected = nullptr;
        LoadFoundPartitionList(&m, list, &selected, &disk);
        return list.size();
    };
    auto loadSearched = [](MemorySection& m) {
        SearchedPartitionList list;
        LoadSearchedPartitions(&m, list);
        return list.size();
    };
    const struct {
        const char* what;
        std::function<MemorySection()> make;
        std::function<std::size_t(MemorySection&)> load;
        bool fails;
    } cases[] = {
        {"found, last known type", [&] { return foundRecord(FILESYSTEM_UNKNOWN); }, loadFound, false},
        {"found, type 8", [&] { return foundRecord(FILESYSTEM_UNKNOWN + 1); }, loadFound, true},
        {"found, type ~0", [&] { return foundRecord(~0u); }, loadFound, true},
        {"searched base, RAW", [&] { return searchedRecord(SEARCHED_PARTITION_BASE, FILESYSTEM_RAW); }, loadSearched, false},
        {"searched base, type 8", [&] { return searchedRecord(SEARCHED_PARTITION_BASE, 8); }, loadSearched, true},
        {"searched NTFS, type 9", [&] { return searchedRecord(SEARCHED_PARTITION_NTFS, 9); }, loadSearched, true},
        {"searched FAT, type ~0", [&] { return searchedRecord(SEARCHED_PARTITION_FAT, ~0u); }, loadSearched, true},
        {"searched EXT2, type 8", [&] { return searchedRecord(SEARCHED_PARTITION_EXT2, 8); }, loadSearched, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySection m = c.make();
        if (!c.fails) {
            EXPECT_EQ(c.load(m), 1u);
            continue;
        }
        try {
            c.load(m);
            ADD_FAILURE();
        } catch (const IRSException& e) {
            EXPECT_EQ(e.GetErrorCode(), RSERR_BAD_HEADER);
        }
    }
}

TEST(ScanState, RestoredStateIsFittedToTheDevice) {
    // A 34-sector device and a state that claims more than it holds: a carved PNG of 2^58
    // bytes at sector 2^51, an 8 GiB JPEG inside the device, partitions past its end and
    // scores out of range.
    MemoryDevice disk(34);
    const std::uint64_t deviceBytes = 34ull * kSectorSize;
    const std::uint64_t maxRaw = 1 << 20;
    CRawFileList carved;
    for (auto [start, size] : {std::pair<std::uint64_t, std::uint64_t>{1ull << 51, 1ull << 58},
                               {10, 8ull << 30}, {30, 600}, {34, 1}, {2, 700}}) {
        auto* r = new CRawFileInfo();
        r->m_u64StartSector = start;
        r->m_u64Size = size;
        carved.Add(r);
    }
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> searched;
    for (auto [first, score] : {std::pair<std::uint64_t, double>{100, 0.5}, {2, 7.5}, {3, std::nan("")},
                                {4, -0.5}, {5, 0.25}, {34, 1.0}}) {
        auto p = std::make_unique<CSearchedPartitionInfo>();
        p->m_u64FirstSector = first;
        p->m_u32SectorCount = 10;
        p->m_relativeScore = score;
        searched.push_back(std::move(p));
    }
    std::vector<std::unique_ptr<FoundPartitionInfo>> found;
    MemoryDevice wide(1000);  // where the lost-partition search saw them
    for (auto [first, count] : {std::pair<std::uint64_t, std::uint64_t>{40, 5}, {4, 1000}, {1, 2}}) {
        auto p = std::make_unique<FoundPartitionInfo>();
        p->u64FirstSector = first;
        p->u64SectorCount = count;
        p->fileSystemType = FILESYSTEM_FAT16;
        p->pDevice = std::make_unique<CBasicPartitionDevice>(&wide, first, count);
        found.push_back(std::move(p));
    }
    TreePtr root(CreateFileSystemNode());
    root->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties()));
    CFileSystemNode* raws = CreateFileSystemNode();
    raws->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties("Raw Files")));
    root->AddChild(raws);
    // A type folder as the RAW tree makes it: a file node with the folder attribute and an
    // empty sparse run; it stays whatever its run says.
    CFileNode* folder = CreateFileNode();
    CRAWFileProperties* folderProperties = CreateRAWFileProperties();
    folderProperties->SetName("Pictures");
    folderProperties->m_u16Attributes = FILEATTR_DIRECTORY;
    CRAWDataRunList sparse;
    sparse.AddRun(kSparseRunStart, 0);
    folderProperties->m_runRecord = CreateRunListRecord(&sparse);
    folder->SetProperties(std::unique_ptr<IFileProperties>(folderProperties));
    raws->AddChild(folder);
    for (auto [name, start, size] : {std::tuple<const char*, std::uint64_t, std::uint64_t>{"past.png", 1ull << 51, 1ull << 58},
                                     {"huge.jpg", 10, 8ull << 30}, {"fine.gif", 2, 700}}) {
        CFileNode* file = CreateFileNode();
        CRAWFileProperties* p = CreateRAWFileProperties();
        p->SetName(name);
        p->SetExtent(start, size);
        file->SetProperties(std::unique_ptr<IFileProperties>(p));
        folder->AddChild(file);
    }

    const Bytes file = WriteStore("fitted", [&](IRSData* w) {
        w->OpenSection(kFoundFileListSection);
        SaveFoundFileList(w, carved);
        w->CloseSection();
        SaveSearchedPartitions(w, {searched[0].get(), searched[1].get(), searched[2].get(),
                                   searched[3].get(), searched[4].get(), searched[5].get()});
        SaveFileTree(w, root.get(), nullptr);
        SaveFoundPartitionList(w, {found[0].get(), found[1].get(), found[2].get()}, found[0].get());
    });
    Reader r(file);

    auto files = LoadFoundFileList(&r.store);
    EXPECT_EQ(FitCarvedFilesToDevice(*files, disk.GetSectorCount(), maxRaw), 2u);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> kept;
    for (const CRawFileInfo* f : files->Records())
        kept.emplace_back(f->m_u64StartSector, f->m_u64Size);
    EXPECT_EQ(kept, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                        {10, deviceBytes - 10 * kSectorSize}, {30, 600}, {2, 700}}));
    EXPECT_EQ(FindRawFileAtSector(files.get(), 34), nullptr);
    // The options' limit cuts a size the device could hold.
    EXPECT_EQ(FitCarvedFilesToDevice(*files, 1ull << 40, 650), 0u);
    EXPECT_EQ(files->Records()[0]->m_u64Size, 650u);

    SearchedPartitionList partitions;
    LoadSearchedPartitions(&r.store, partitions);
    EXPECT_EQ(FitSearchedPartitionsToDevice(partitions, disk.GetSectorCount()), 2u);
    std::vector<std::pair<std::uint64_t, double>> scores;
    for (const auto& p : partitions)
        scores.emplace_back(p->m_u64FirstSector, p->m_relativeScore);
    EXPECT_EQ(scores, (std::vector<std::pair<std::uint64_t, double>>{{2, 1.0}, {3, 0.0}, {4, 0.0}, {5, 0.25}}));

    TreePtr tree(LoadFileTree(&r.store, nullptr));
    ASSERT_TRUE(tree);
    EXPECT_EQ(FitFileTreeToDevice(tree.get(), disk.GetSectorCount(), maxRaw), 1u);
    std::map<std::string, std::pair<std::uint64_t, std::vector<DataRun>>> leaves;
    ASSERT_TRUE(tree->m_pFirstChild->m_pFirstChild);
    EXPECT_STREQ(tree->m_pFirstChild->m_pFirstChild->m_pProperties->GetName(), "Pictures");
    for (CFileNode* c = tree->m_pFirstChild->m_pFirstChild->m_pFirstChild; c; c = c->m_pNextSibling) {
        bool resident = false;
        std::uint32_t offset = 0;
        leaves[c->m_pProperties->GetName()] = {c->m_pProperties->GetFileSize(), RunsOf(c->m_pProperties, &resident, &offset)};
    }
    ASSERT_EQ(leaves.size(), 2u);
    EXPECT_EQ(leaves["huge.jpg"].first, deviceBytes - 10 * kSectorSize);
    EXPECT_EQ(leaves["huge.jpg"].second, (std::vector<DataRun>{{10, 24}}));
    EXPECT_EQ(leaves["fine.gif"].first, 700u);
    EXPECT_EQ(leaves["fine.gif"].second, (std::vector<DataRun>{{2, 2}}));
    FileTreeCounters counters;
    tree->GetCounters(&counters);
    EXPECT_EQ(counters.files, 2u);

    // The found partitions are fitted as they load over the device: the selected one past its
    // end goes with the selection, the long one ends with the device.
    FoundPartitionList list;
    FoundPartitionInfo* selected = nullptr;
    LoadFoundPartitionList(&r.store, list, &selected, &disk);
    EXPECT_EQ(selected, nullptr);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->u64FirstSector, 4u);
    EXPECT_EQ(list[0]->u64SectorCount, 30u);
    ASSERT_TRUE(list[0]->pDevice);
    EXPECT_EQ(list[0]->pDevice->GetStartSector(), 4u);
    EXPECT_EQ(list[0]->pDevice->GetSectorCount(), 30u);
    EXPECT_EQ(list[1]->u64SectorCount, 2u);
    EXPECT_EQ(list[1]->pDevice->GetSectorCount(), 2u);
}
