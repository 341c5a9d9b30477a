#include "tests/support/TreePtr.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "storage/ImageFileDevice.h"
#include "tests/filesystems/ntfs/NtfsTestImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/NtfsImages.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ctime>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sstream>

using namespace testsupport;

namespace {

// Records the stages and cancels once `cancelAfterPolls` polls of stage `cancelStage` happened.
class RecordingCallback : public IDIRBuildCallback {
public:
    std::vector<std::pair<std::string, std::int32_t>> stages;
    std::int64_t steps = 0;
    std::int32_t lastPos = 0;
    std::string cancelStage;
    int cancelAfterPolls = -1;
    int pollsInStage = 0;
    bool cancelled = false;

    int BeginStage(const char* text, std::int32_t total) override {
        stages.emplace_back(text, total);
        pollsInStage = 0;
        return Poll();
    }
    int StepBy(std::int32_t n) override {
        steps += n;
        return Poll();
    }
    int SetPos(std::int32_t n) override {
        lastPos = n;
        return Poll();
    }
    int Reset() override { return Poll(); }
    int Poll() override {
        if (!cancelled && !stages.empty() && stages.back().first == cancelStage && ++pollsInStage > cancelAfterPolls)
            cancelled = true;
        return cancelled ? -1 : 0;
    }
};

using testsupport::TreePtr;

TreePtr Build(IStorageDevice& dev, RecordingCallback& cb) {
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    return TreePtr(BuildNtfsFileTree(&dev, &params, &cb));
}

// Path ("/docs/a.bin") -> node, for every node below the root.
std::map<std::string, CFileNode*> Paths(CFileNode* root) {
    std::map<std::string, CFileNode*> out;
    std::vector<std::pair<CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, path] = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            std::string p = path + "/" + c->m_pProperties->GetName();
            EXPECT_EQ(out.count(p), 0u) << "duplicate " << p;
            out[p] = c;
            stack.emplace_back(c, p);
        }
    }
    return out;
}

// The file's bytes read through its run list.
std::vector<std::uint8_t> ReadThroughRuns(IStorageDevice& dev, const IFileProperties* props, std::uint32_t spc) {
    std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
    std::vector<std::uint8_t> out;
    if (!runs)
        return out;
    if (runs->IsResident()) {
        std::vector<std::uint8_t> rec(1024);
        const DataRun* r = runs->GetFirstRun();
        EXPECT_TRUE(dev.ReadSectors(rec.data(), r->start, 2));
        EXPECT_TRUE(ApplyFixups(rec.data(), rec.size()));
        std::uint32_t off = runs->GetResidentOffset();
        EXPECT_LE(off + props->GetFileSize(), 1024u);
        return std::vector<std::uint8_t>(rec.begin() + off, rec.begin() + off + props->GetFileSize());
    }
    for (const DataRun* r = runs->GetFirstRun(); r && out.size() < props->GetFileSize(); r = runs->GetNextRun()) {
        std::vector<std::uint8_t> piece(r->count * spc * 512, 0);
        if (r->start >= 0) {
            EXPECT_TRUE(dev.ReadSectors(piece.data(), r->start * spc, r->count * spc));
        }
        out.insert(out.end(), piece.begin(), piece.end());
    }
    out.resize(props->GetFileSize());
    return out;
}

// Live paths as ntfsls lists them (folders without the trailing '/').
std::set<std::string> NtfslsPaths(const std::string& image) {
    std::string text;
    EXPECT_TRUE(MustRun("ntfsls -R -F " + ShellQuote(image) + " 2>/dev/null", &text));
    std::set<std::string> out;
    std::istringstream in(text);
    std::string line, dir;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        if (line.back() == ':') {
            dir = line.substr(0, line.size() - 1);
            if (dir.size() > 1 && dir.back() == '/')
                dir.pop_back();
            continue;
        }
        if (line == "./" || line == "../")
            continue;
        if (line.back() == '/')
            line.pop_back();
        out.insert((dir == "/" ? "" : dir) + "/" + line);
    }
    return out;
}

std::string NtfsinfoTime(std::uint64_t ticks) {
    std::time_t t = static_cast<std::time_t>(ticks / 10000000 - 11644473600ull);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%a %b %e %H:%M:%S %Y UTC", &tm);
    return buf;
}

} // namespace

TEST(NtfsQuickScan, BuildsLiveAndDeletedTreeLikeTheTools) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    MemoryDevice dev(ReadFileBytes(image));
    RecordingCallback cb;
    TreePtr root = Build(dev, cb);
    ASSERT_TRUE(root);

    EXPECT_STREQ(root->m_pProperties->GetName(), "1 NTFS");
    EXPECT_STREQ(root->GetName(), kBasicNtfsLabel);
    EXPECT_EQ(root->GetFileSystemType(), FILESYSTEM_NTFS);
    std::uint64_t first = 1;
    std::uint32_t spc = 0;
    root->GetFileSystemInfo(&first, &spc);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(spc, 8u);
    ASSERT_GE(cb.stages.size(), 2u);
    EXPECT_EQ(cb.stages[0].first, "NTFS:Reading files");
    EXPECT_EQ(cb.stages[1].first, "NTFS:Building directory tree");

    auto paths = Paths(root.get());
    // Live entries are exactly what ntfsls lists; no system file shows.
    std::set<std::string> live;
    for (auto& [p, node] : paths) {
        if (node->m_pProperties->GetFileState() == FILESTATE_LIVE)
            live.insert(p);
        EXPECT_NE(p.rfind("/$", 0), 0u) << p;
    }
    EXPECT_EQ(live, NtfslsPaths(image));

    // Deleted entries under their (live or deleted) folders.
    for (const char* p : {"/docs/gone.bin", "/trash", "/trash/t1.bin", "/trash/t2.bin"}) {
        ASSERT_TRUE(paths.count(p)) << p;
        EXPECT_EQ(paths[p]->m_pProperties->GetFileState(), FILESTATE_DELETED) << p;
    }
    EXPECT_TRUE(paths["/trash"]->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);

    // Sizes and bytes through the runs: live files against ntfscat, deleted ones against the originals.
    for (const char* p : {"/readme.txt", "/docs/a.bin", "/docs/b.bin", "/docs/caf\xC3\xA9.txt", "/docs/sub/c.bin",
                          "/docs/gone.bin", "/trash/t1.bin", "/trash/t2.bin"}) {
        ASSERT_TRUE(paths.count(p)) << p;
        const IFileProperties* props = paths[p]->m_pProperties;
        std::vector<std::uint8_t> want = BasicNtfsContent(p);
        if (props->GetFileState() == FILESTATE_LIVE) {
            std::string cat;
            ASSERT_TRUE(MustRun("ntfscat " + ShellQuote(image) + " " + ShellQuote(p) + " 2>/dev/null", &cat));
            EXPECT_EQ(std::vector<std::uint8_t>(cat.begin(), cat.end()), want) << p;
        }
        EXPECT_EQ(props->GetFileSize(), want.size()) << p;
        EXPECT_TRUE(ReadThroughRuns(dev, props, spc) == want) << p;
        EXPECT_FALSE(props->GetAttributes() & FILEATTR_DIRECTORY) << p;
    }
    std::unique_ptr<IDataRunList> resident(paths["/readme.txt"]->m_pProperties->GetDataRunList());
    ASSERT_TRUE(resident);
    EXPECT_TRUE(resident->IsResident());

    // Times as ntfsinfo shows them.
    std::string info;
    ASSERT_TRUE(MustRun("ntfsinfo -F /docs/b.bin " + ShellQuote(image) + " 2>/dev/null", &info));
    FileTime t;
    paths["/docs/b.bin"]->m_pProperties->GetCreationTime(&t);
    EXPECT_NE(info.find("File Creation Time:\t " + NtfsinfoTime(t.ticks)), std::string::npos) << info;
    paths["/docs/b.bin"]->m_pProperties->GetLastWriteTime(&t);
    EXPECT_NE(info.find("File Altered Time:\t " + NtfsinfoTime(t.ticks)), std::string::npos);

    // The folder of 400 files (its index is in INDX blocks).
    int many = 0;
    for (CFileNode* c = paths["/many"]->m_pFirstChild; c; c = c->m_pNextSibling)
        ++many;
    EXPECT_EQ(many, 400);
    EXPECT_TRUE(ReadThroughRuns(dev, paths["/many/f000399"]->m_pProperties, spc) == NtfsEditPattern(100, 50 + 399));
    EXPECT_FALSE(paths.count("/LostFiles1"));
}

TEST(NtfsQuickScan, CompressedAndFragmentedFiles) {
    {
        const std::string image = CompressedNtfsImage();
        ASSERT_FALSE(image.empty());
        MemoryDevice dev(ReadFileBytes(image));
        RecordingCallback cb;
        TreePtr root = Build(dev, cb);
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        ASSERT_TRUE(paths.count("/packed.txt"));
        const IFileProperties* props = paths["/packed.txt"]->m_pProperties;
        EXPECT_TRUE(props->GetAttributes() & FILEATTR_COMPRESSED);
        EXPECT_EQ(props->GetFileSize(), CompressedContent().size());
        std::string info;
        ASSERT_TRUE(MustRun("ntfsinfo -F /packed.txt " + ShellQuote(image) + " 2>/dev/null", &info));
        EXPECT_NE(info.find("COMPRESSED"), std::string::npos);
        std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
        ASSERT_TRUE(runs);
        std::int64_t clusters = 0;
        for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun())
            clusters += r->count;
        EXPECT_EQ(clusters * 4096 % 65536, 0) << "whole compression units";
    }
    {
        const std::string image = FragmentedNtfsImage();
        ASSERT_FALSE(image.empty());
        MemoryDevice dev(ReadFileBytes(image));
        RecordingCallback cb;
        TreePtr root = Build(dev, cb);
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        const std::string name = "/" + std::string(kFragmentedName);
        ASSERT_TRUE(paths.count(name));
        auto* props = static_cast<CNTFSFileProperties*>(paths[name]->m_pProperties.get());
        EXPECT_EQ(props->GetFileSize(), kFragmentedSize);
        ASSERT_NE(props->GetExtensionRecords(), nullptr);
        EXPECT_FALSE(props->GetExtensionRecords()->empty());
        std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
        ASSERT_TRUE(runs);
        EXPECT_GT(runs->GetRunCount(), 200u);
        EXPECT_TRUE(ReadThroughRuns(dev, props, 8) == FragmentedContent());
    }
}

TEST(NtfsQuickScan, DamagedVolumes) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const auto pristine = ReadFileBytes(image);
    std::int64_t docs = NtfsRecordNumber(image, "/docs");
    ASSERT_GT(docs, 24);
    RecordingCallback base;
    MemoryDevice baseDev(pristine);
    TreePtr baseRoot = Build(baseDev, base);
    ASSERT_TRUE(baseRoot);
    const std::size_t allEntries = Paths(baseRoot.get()).size();

    {   // The folder record of /docs is gone: its files land in LostFiles1 under the root, and
        // the orphan folder "sub" keeps its own file.
        auto bytes = pristine;
        std::int64_t off = NtfsRecordOffset(image, static_cast<std::uint64_t>(docs));
        std::fill(bytes.begin() + off, bytes.begin() + off + 1024, 0);
        MemoryDevice dev(bytes);
        RecordingCallback cb;
        TreePtr root = Build(dev, cb);
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        EXPECT_FALSE(paths.count("/docs"));
        ASSERT_TRUE(paths.count("/LostFiles1"));
        EXPECT_EQ(paths["/LostFiles1"]->m_pProperties->GetFileState(), FILESTATE_LOST_FILES_FOLDER);
        EXPECT_EQ(paths["/LostFiles1"]->m_pParent, root.get());
        for (const char* p : {"/LostFiles1/a.bin", "/LostFiles1/b.bin", "/LostFiles1/gone.bin", "/LostFiles1/sub",
                              "/LostFiles1/sub/c.bin"})
            EXPECT_TRUE(paths.count(p)) << p;
        EXPECT_TRUE(ReadThroughRuns(dev, paths["/LostFiles1/a.bin"]->m_pProperties, 8) == BasicNtfsContent("/docs/a.bin"));
        EXPECT_FALSE(paths.count("/LostFiles2"));
        // A second build numbers its folder from 1 again.
        RecordingCallback cb2;
        TreePtr again = Build(dev, cb2);
        ASSERT_TRUE(again);
        EXPECT_TRUE(Paths(again.get()).count("/LostFiles1"));
    }
    {   // Record 0 zeroed: the MFT is found through $MFTMirr, and everything else is still there.
        auto bytes = pristine;
        std::int64_t off = NtfsRecordOffset(image, 0);
        std::fill(bytes.begin() + off, bytes.begin() + off + 1024, 0);
        MemoryDevice dev(bytes);
        RecordingCallback cb;
        TreePtr root = Build(dev, cb);
        ASSERT_TRUE(root);
        EXPECT_EQ(Paths(root.get()).size(), allEntries);
        EXPECT_STREQ(root->GetName(), kBasicNtfsLabel);
    }
    {   // Unreadable MFT sectors are skipped, not parsed as stale buffer contents.
        MemoryDevice dev(pristine);
        std::int64_t off = NtfsRecordOffset(image, static_cast<std::uint64_t>(docs));
        dev.FailSector(off / 512);
        RecordingCallback cb;
        TreePtr root = Build(dev, cb);
        ASSERT_TRUE(root);
        auto paths = Paths(root.get());
        EXPECT_FALSE(paths.count("/docs"));
        EXPECT_TRUE(paths.count("/LostFiles1/a.bin"));
        EXPECT_EQ(paths.size(), allEntries); // docs is gone, LostFiles1 came
    }
    {   // Neither $MFT nor $MFTMirr: nothing.
        auto bytes = pristine;
        CNTFSDBR dbr;
        ASSERT_TRUE(dbr.SetData(bytes.data()));
        for (std::uint64_t c : {dbr.GetMftCluster(), dbr.GetMftMirrorCluster()})
            std::fill(bytes.begin() + c * 4096, bytes.begin() + c * 4096 + 1024, 0);
        MemoryDevice dev(bytes);
        RecordingCallback cb;
        EXPECT_FALSE(Build(dev, cb));
        bytes[0x0B] = 0; // not a boot sector any more
        MemoryDevice dev2(bytes);
        EXPECT_FALSE(Build(dev2, cb));
    }
}

TEST(NtfsQuickScan, CancelReturnsNullAndFreesEverything) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    MemoryDevice dev(ReadFileBytes(image));
    struct Case { const char* stage; int polls; };
    for (const Case& c : {Case{"NTFS:Reading files", 0}, Case{"NTFS:Reading files", 1},
                          Case{"NTFS:Building directory tree", 100}}) {
        RecordingCallback cb;
        cb.cancelStage = c.stage;
        cb.cancelAfterPolls = c.polls;
        EXPECT_FALSE(Build(dev, cb)) << c.stage << " " << c.polls;
        EXPECT_TRUE(cb.cancelled);
    }
    // A cancel at any point of the linking (under the root, in a folder, while the orphans are
    // grouped) returns null and frees every record that waited for its folder.
    auto damaged = ReadFileBytes(image);
    const std::int64_t docs = NtfsRecordNumber(image, "/docs");
    ASSERT_GT(docs, 24);
    const std::int64_t off = NtfsRecordOffset(image, static_cast<std::uint64_t>(docs));
    std::fill(damaged.begin() + off, damaged.begin() + off + 1024, 0);
    for (const auto* bytes : {&dev.Bytes(), &damaged}) {
        MemoryDevice d(*bytes);
        for (int polls = 0;; ++polls) {
            RecordingCallback cb;
            cb.cancelStage = "NTFS:Building directory tree";
            cb.cancelAfterPolls = polls;
            TreePtr root = Build(d, cb);
            if (root) {
                EXPECT_FALSE(cb.cancelled);
                EXPECT_GT(polls, 2);
                break;
            }
            EXPECT_TRUE(cb.cancelled) << polls;
        }
    }
    // Without a callback nothing starts.
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    EXPECT_EQ(BuildNtfsFileTree(&dev, &params, nullptr), nullptr);
}

namespace {

// Puts the update-sequence number into a record whose sector ends hold their real bytes.
void SealRecord(std::uint8_t* rec, std::uint16_t usn) {
    const ByteSpan header(rec, 8);
    std::uint16_t usaOff = header.u16(4), count = header.u16(6);
    NtfsWr16(rec + usaOff, usn);
    for (std::uint16_t i = 0; i + 1 < count; ++i) {
        std::memcpy(rec + usaOff + 2 * (i + 1), rec + (i + 1) * 512 - 2, 2);
        NtfsWr16(rec + (i + 1) * 512 - 2, usn);
    }
}

std::vector<std::uint8_t> EncodePairs(const NtfsExtentList& extents) {
    CNoneResidentNTFSDataRunList list;
    for (const auto& e : extents)
        list.PushRun({e.lcn, static_cast<std::int64_t>(e.count)});
    return EncodeRunListBytes(list);
}

// A non-resident unnamed $DATA attribute piece.
std::vector<std::uint8_t> DataPiece(const NtfsExtentList& extents, std::uint64_t lowest, std::uint64_t highest,
                                    std::uint64_t alloc, std::uint64_t size, std::uint16_t instance) {
    auto pairs = EncodePairs(extents);
    std::vector<std::uint8_t> a((0x40 + pairs.size() + 7) & ~std::size_t{7}, 0);
    std::uint32_t type = kNtfsAttrData, len = static_cast<std::uint32_t>(a.size());
    std::memcpy(a.data(), &type, 4);
    std::memcpy(a.data() + 4, &len, 4);
    a[8] = 1;
    std::memcpy(a.data() + 0x0E, &instance, 2);
    std::memcpy(a.data() + 0x10, &lowest, 8);
    std::memcpy(a.data() + 0x18, &highest, 8);
    a[0x20] = 0x40;
    std::memcpy(a.data() + 0x28, &alloc, 8);
    std::memcpy(a.data() + 0x30, &size, 8);
    std::memcpy(a.data() + 0x38, &size, 8);
    std::memcpy(a.data() + 0x40, pairs.data(), pairs.size());
    return a;
}

} // namespace

TEST(NtfsQuickScan, MftWithAnAttributeList) {
    // The MFT's own runs split over record 0 and extension record 15, with an $ATTRIBUTE_LIST in
    // record 0 (as on a volume whose MFT is badly fragmented).
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    auto bytes = ReadFileBytes(image);
    MemoryDevice pristineDev(bytes);
    RecordingCallback cb0;
    TreePtr pristine = Build(pristineDev, cb0);
    ASSERT_TRUE(pristine);

    const std::int64_t off0 = NtfsRecordOffset(image, 0);
    std::vector<std::uint8_t> rec0(bytes.begin() + off0, bytes.begin() + off0 + 1024);
    ASSERT_TRUE(ApplyFixups(rec0.data(), 1024));
    NtfsExtentList mft;
    std::uint64_t mftSize = 0;
    ASSERT_TRUE(CollectDataRuns(rec0.data(), 1024, mft, false, &mftSize));
    const std::uint64_t total = GetTotalClusters(mft);
    const std::uint64_t split = 16; // clusters 0..15 hold records 0..63
    ASSERT_GT(total, split + 8) << "the volume's MFT is too small for this case";
    NtfsExtentList low, high;
    for (const auto& e : mft) {
        if (e.vcn + e.count <= split)
            low.push_back(e);
        else if (e.vcn >= split)
            high.push_back(e);
        else {
            std::uint64_t n = split - e.vcn;
            low.push_back({e.lcn, e.vcn, n});
            high.push_back({e.lcn + static_cast<std::int64_t>(n), split, e.count - n});
        }
    }
    const std::uint64_t alloc = total * 4096;

    // New record 0: its attributes with an $ATTRIBUTE_LIST before $FILE_NAME and the low $DATA piece.
    std::vector<std::uint8_t> rec(1024, 0);
    const ByteSpan r0(rec0.data(), rec0.size());
    std::memcpy(rec.data(), rec0.data(), r0.u16(0x14));
    std::size_t at = r0.u16(0x14);
    auto put = [&](const std::vector<std::uint8_t>& attr) {
        ASSERT_LE(at + attr.size() + 8, 1024u);
        std::memcpy(rec.data() + at, attr.data(), attr.size());
        at += attr.size();
    };
    std::vector<std::uint8_t> list;
    auto listEntry = [&](std::uint32_t type, std::uint64_t vcn, std::uint64_t record) {
        std::vector<std::uint8_t> e(0x20, 0);
        std::memcpy(e.data(), &type, 4);
        e[4] = 0x20;
        std::memcpy(e.data() + 8, &vcn, 8);
        std::memcpy(e.data() + 16, &record, 6);
        list.insert(list.end(), e.begin(), e.end());
    };
    listEntry(kNtfsAttrStandardInformation, 0, 0);
    listEntry(kNtfsAttrFileName, 0, 0);
    listEntry(kNtfsAttrData, 0, 0);
    listEntry(kNtfsAttrData, split, 15);
    for (int i = 0;; ++i) {
        ByteSpan a;
        std::size_t walk = r0.u16(0x14);
        int n = 0;
        while (walk < 1016 && r0.u32(walk) != kNtfsAttrEnd) {
            if (n++ == i) {
                a = r0.sub(walk, r0.u32(walk + 4));
                break;
            }
            walk += r0.u32(walk + 4);
        }
        if (a.empty())
            break;
        std::uint32_t type = a.u32(0);
        if (type == kNtfsAttrFileName) {
            std::vector<std::uint8_t> attr((0x18 + list.size() + 7) & ~std::size_t{7}, 0);
            std::uint32_t t = kNtfsAttrAttributeList, len = static_cast<std::uint32_t>(attr.size()),
                          vl = static_cast<std::uint32_t>(list.size());
            std::memcpy(attr.data(), &t, 4);
            std::memcpy(attr.data() + 4, &len, 4);
            std::memcpy(attr.data() + 0x10, &vl, 4);
            attr[0x14] = 0x18;
            std::memcpy(attr.data() + 0x18, list.data(), list.size());
            put(attr);
        }
        if (type == kNtfsAttrData && a.u8(9) == 0)
            put(DataPiece(low, 0, split - 1, alloc, mftSize, a.u16(0x0E)));
        else
            put(std::vector<std::uint8_t>(a.data(), a.data() + a.size()));
    }
    std::uint32_t end = kNtfsAttrEnd;
    std::memcpy(rec.data() + at, &end, 4);
    std::uint32_t used = static_cast<std::uint32_t>(at + 8);
    std::memcpy(rec.data() + 0x18, &used, 4);
    SealRecord(rec.data(), 0x4242);
    std::memcpy(bytes.data() + off0, rec.data(), 1024);

    // Extension record 15: the high $DATA piece.
    std::vector<std::uint8_t> ext(1024, 0);
    std::memcpy(ext.data(), "FILE", 4);
    ext[4] = 0x30;
    ext[6] = 3;
    ext[0x10] = 1;
    ext[0x14] = 0x38;
    ext[0x16] = 1;
    std::uint64_t baseRef = std::uint64_t{1} << 48;
    std::memcpy(ext.data() + 0x20, &baseRef, 8);
    std::uint32_t extAlloc = 1024;
    std::memcpy(ext.data() + 0x1C, &extAlloc, 4);
    auto piece = DataPiece(high, split, total - 1, 0, 0, 0);
    std::memcpy(ext.data() + 0x38, piece.data(), piece.size());
    std::memcpy(ext.data() + 0x38 + piece.size(), &end, 4);
    SealRecord(ext.data(), 0x4343);
    const std::int64_t off15 = NtfsRecordOffset(image, 15);
    std::memcpy(bytes.data() + off15, ext.data(), 1024);

    MemoryDevice dev(bytes);
    CNTFSDBR dbr;
    ASSERT_TRUE(ReadNtfsBootSector(dev, 0, dbr));
    NtfsMftInfo info;
    ASSERT_TRUE(ReadMftRecordRuns(&dev, off0 / 512, 8, 0, &info));
    EXPECT_EQ(GetTotalClusters(info.extents), total);
    EXPECT_EQ(info.startSector, static_cast<std::uint64_t>(off0 / 512));

    RecordingCallback cb;
    TreePtr root = Build(dev, cb);
    ASSERT_TRUE(root);
    auto want = Paths(pristine.get());
    auto got = Paths(root.get());
    EXPECT_EQ(got.size(), want.size());
    for (auto& [p, node] : want)
        EXPECT_TRUE(got.count(p)) << p;
}

TEST(NtfsQuickScan, OrphanFoldersNeverFormACycle) {
    // Folders 30 -> 31 -> 30 name each other as parent, a long chain 100..20099 hangs below
    // 31, and a file names a missing folder.
    std::deque<NtfsRecordEntry> entries;
    auto add = [&](std::int64_t record, std::int64_t parent, bool dir) {
        NtfsRecordEntry e;
        e.record = record;
        e.parent = parent;
        e.isDirectory = dir;
        e.properties = dir ? MakeNtfsSyntheticFolder("d" + std::to_string(record), FILESTATE_DELETED)
                           : MakeNtfsSyntheticFolder("f" + std::to_string(record), FILESTATE_DELETED);
        entries.push_back(e);
    };
    add(30, 31, true);
    add(31, 30, true);
    for (std::int64_t r = 100; r < 20100; ++r)
        add(r, r == 100 ? 31 : r - 1, true);
    add(20200, 9999999, false);
    NtfsParentMap map;
    for (auto& e : entries)
        map.emplace(e.parent, &e);
    RecordingCallback cb;
    int counter = 0;
    FileSubtreePtr lost = GroupOrphanNodes(map, &cb, &counter);
    ASSERT_NE(lost, nullptr);
    EXPECT_STREQ(lost->m_pProperties->GetName(), "LostFiles1");
    std::vector<CFileNode*> all;
    CollectTreeNodes(lost.get(), all);
    EXPECT_EQ(all.size(), entries.size() + 1);
    int topLevel = 0;
    for (CFileNode* c = lost->m_pFirstChild; c; c = c->m_pNextSibling)
        ++topLevel;
    EXPECT_EQ(topLevel, 2); // one of the pair (with the other and the chain below it), and the file
    for (CFileNode* n : all)
        n->m_pSourceRecord = nullptr;
}

TEST(NtfsTreeBuilder, DamagedMftRunsReadNoMoreThanTheDevice) {
    // Runs that name the same clusters over and over, and one whose length wraps when turned
    // into sectors: the MFT pass reads at most the device's size in all.
    MemoryDevice dev(64);
    NtfsExtentList mft;
    for (std::uint64_t i = 0; i < 50; ++i)
        mft.push_back({0, i * 64, 64});
    mft.push_back({0, 50 * 64, UINT64_MAX / 2 + 1});
    NtfsRecordList list;
    CNullDirBuildCallback cb;
    ASSERT_TRUE(ReadAllMftRecords(&dev, &cb, &list, mft, 2, 0));
    std::uint64_t sectorsRead = 0;
    for (const auto& call : dev.Calls())
        sectorsRead += call.count;
    EXPECT_LE(sectorsRead, 64u);
}

// A volume on a device of 2 TiB and more (a sparse image file): the partition record keeps the
// device's whole sector count, never a count wrapped at 32 bits.
TEST(NtfsQuickScan, VolumeOverTwoTebibytesKeepsItsSectorCount) {
    const std::string image = BasicNtfsImage();
    ASSERT_FALSE(image.empty());
    const std::string big = ScratchDir("ntfs-2tib") + "/big.img";
    constexpr std::uint64_t kBytes = (2ull << 40) + (1ull << 20);
    ASSERT_TRUE(MustRun("cp --sparse=always " + ShellQuote(image) + " " + ShellQuote(big) + " && truncate -s " +
                        std::to_string(kBytes) + " " + ShellQuote(big)));
    CImageFileDevice dev(big.c_str());
    ASSERT_EQ(dev.GetSectorCount(), kBytes / 512);
    RecordingCallback cb;
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    TreePtr root(BuildNtfsFileTree(&dev, &params, &cb));
    ASSERT_TRUE(root);
    EXPECT_EQ(params.volume.m_u32SectorCount, kBytes / 512 - 1);
    std::remove(big.c_str());
}

// ntfs_edit takes host files in quotes: a folder whose name holds blanks and a double quote (as a
// checkout's path may) still gets the bytes in.
TEST(NtfsImageHelpers, HostFilesInAFolderWithBlanks) {
    const std::string folder = ScratchDir("ntfs-host-folder") + "/a b \"c\" $d";
    std::filesystem::create_directories(folder);
    const std::string image = folder + "/volume.img";
    NtfsImageRecipe recipe;
    recipe.sizeMiB = 8;
    ASSERT_TRUE(MakeNtfsImage(image, recipe));
    const std::string data = folder + "/data file.bin", efs = folder + "/efs \\ file.bin";
    ASSERT_TRUE(WriteFileBytes(data, PatternBytes(5000, 9)));
    ASSERT_TRUE(WriteFileBytes(efs, PatternBytes(200, 10)));
    ASSERT_TRUE(NtfsEdit(image, "put " + NtfsEditWord(data) + " /in.bin\nefs " + NtfsEditWord(data) +
                                    " /sealed.bin " + NtfsEditWord(efs) + "\n"));
    std::string cat;
    ASSERT_TRUE(MustRun("ntfscat " + ShellQuote(image) + " /in.bin 2>/dev/null", &cat));
    EXPECT_EQ(std::vector<std::uint8_t>(cat.begin(), cat.end()), PatternBytes(5000, 9));
    EXPECT_GE(NtfsRecordNumber(image, "/sealed.bin"), 16);
}
