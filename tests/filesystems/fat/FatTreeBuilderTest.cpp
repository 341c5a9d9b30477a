// The quick scan over volumes made by mkfs.fat and mtools: Deleted File Recovery (deleted
// entries only), take-all mode against `mdir`, bytes read back through the runs, damaged boot
// sectors and FATs, and cancelling.
#include "tests/support/TreePtr.h"
#include "filesystems/fat/FatTreeBuilder.h"

#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "tests/support/FatImages.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

using namespace testsupport;

const char* const kWhen = "2021-03-04 05:06:08 UTC";

struct SampleFile {
    std::string path; // inside the image
    std::size_t size;
    bool deleted;     // gone by the end (deleted itself or inside a deleted folder)
    bool checkBytes;  // its clusters are still its own at the end
};

// Written in this order; then /frag/b.bin is deleted and /frag/d.bin written (it takes b's
// clusters and more, so it is fragmented); then the deletions.
const std::vector<SampleFile>& Samples() {
    static const std::vector<SampleFile> files = {
        {"/frag/a.bin", 3000, false, true},
        {"/frag/b.bin", 3000, true, false},
        {"/frag/c.bin", 3000, false, true},
        {"/Long Names/Long file name number 1.txt", 600, false, true},
        {"/Long Names/Long file name number 2.txt", 600, false, true},
        {"/Long Names/Long file name number 3.txt", 600, false, true},
        {"/Long Names/Long file name number 4.txt", 600, false, true},
        {"/Long Names/Long file name number 5.txt", 600, false, true},
        {"/Keep Folder/Live File.txt", 1500, false, true},
        {"/Keep Folder/A long deleted name.txt", 5000, true, true},
        {"/Keep Folder/Small One.txt", 1, true, true},
        {"/Root Deleted.bin", 70000, true, true},
        {"/Gone Folder/Inside File.dat", 2000, true, true},
        {"/Gone Folder/Sub Dir/Deep File.txt", 700, true, true},
        {"/Empty Deleted.txt", 0, true, true},
        {"/readme.txt", 10, false, true},
        {"/Live Root File.dat", 1234, false, true},
    };
    return files;
}

const SampleFile kFragmented = {"/frag/d.bin", 9000, false, true};

std::uint32_t SeedOf(const std::string& path) {
    std::uint32_t h = 2166136261u;
    for (char c : path)
        h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return h;
}

struct VolumeCase {
    const char* name;
    FatImageOptions options;
    std::uint32_t bootFlags; // evidence flags of the quick scan
};

const VolumeCase kCases[] = {
    {"tree12.img", {12, 1440, 1, "", 0, ""}, 0x3},
    {"tree16.img", {16, 16 * 1024, 1, "VOL16", 0, ""}, 0x3},
    {"tree32.img", {32, 40 * 1024, 1, "VOL32", 0, ""}, 0xC},
    {"tree32p.img", {32, 40 * 1024, 1, "", 2048, ""}, 0xC},
};

// Points the FAT32 free-cluster hint (FSInfo) back at cluster 2, so that the next file takes
// the first free clusters as FAT12/16 allocation does.
bool RewindFreeHint(const std::string& image, std::uint64_t firstSector) {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t boot[512];
    f.seekg(static_cast<std::streamoff>(firstSector * 512));
    f.read(reinterpret_cast<char*>(boot), sizeof boot);
    const std::uint64_t fsInfo = firstSector + (boot[48] | (boot[49] << 8));
    const char hint[4] = {2, 0, 0, 0};
    f.seekp(static_cast<std::streamoff>(fsInfo * 512 + 492));
    f.write(hint, sizeof hint);
    return static_cast<bool>(f);
}

std::string MakeTreeVolume(const VolumeCase& c) {
    return CachedFixture(c.name, [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, c.options))
            return false;
        FatImage img(tmp, c.options.offsetSectors);
        bool ok = true;
        for (const char* dir : {"/frag", "/Long Names", "/Keep Folder", "/Gone Folder",
                                "/Gone Folder/Sub Dir"})
            ok = ok && img.MakeDir(dir);
        for (const SampleFile& f : Samples())
            ok = ok && img.WriteFile(f.path, PatternBytes(f.size, SeedOf(f.path)), kWhen);
        ok = ok && img.Delete("/frag/b.bin") && (c.options.fatBits != 32 || RewindFreeHint(tmp, c.options.offsetSectors)) &&
             img.WriteFile(kFragmented.path, PatternBytes(kFragmented.size, SeedOf(kFragmented.path)),
                           kWhen);
        ok = ok && img.Delete("/Keep Folder/A long deleted name.txt") &&
             img.Delete("/Keep Folder/Small One.txt") && img.Delete("/Root Deleted.bin") &&
             img.Delete("/Empty Deleted.txt") && img.DeleteTree("/Gone Folder");
        return ok;
    });
}

// ---------------------------------------------------------------------------------------------

class RecordingCallback : public IDIRBuildCallback {
public:
    explicit RecordingCallback(int cancelAfterCalls = -1) : m_cancelAfter(cancelAfterCalls) {}
    int BeginStage(const char* text, std::int32_t) override {
        stages.push_back(text);
        return Answer();
    }
    int StepBy(std::int32_t) override { return Answer(); }
    int SetPos(std::int32_t pos) override {
        positions.push_back(pos);
        return Answer();
    }
    int Reset() override { return Answer(); }
    int Poll() override { return Answer(); }

    std::vector<std::string> stages;
    std::vector<std::int32_t> positions;
    std::atomic<int> calls{0};

private:
    int Answer() {
        int n = ++calls;
        return m_cancelAfter >= 0 && n > m_cancelAfter ? -1 : 0;
    }
    int m_cancelAfter;
};

using Tree = testsupport::TreePtr;

Tree Build(IStorageDevice& dev, std::uint64_t first, std::uint32_t flags, bool takeAll,
           IDIRBuildCallback* cb = nullptr) {
    CFATSearchedPartitionInfo part;
    part.m_u64KeptFirstSector = first;
    part.m_u32EvidenceFlags = flags;
    return Tree(BuildFatFileTree(cb, &part, nullptr, &dev, takeAll ? 1 : 0));
}

const CFATFileProperties* Props(const CFileNode* n) {
    return static_cast<const CFATFileProperties*>(n->m_pProperties.get());
}

std::uint64_t WhenTicks() {
    std::tm tm{};
    tm.tm_year = 2021 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 4;
    tm.tm_hour = 5;
    tm.tm_min = 6;
    tm.tm_sec = 8;
    return (static_cast<std::uint64_t>(timegm(&tm)) + 11644473600ull) * 10000000ull;
}

// The live entries `mdir -/ -a` lists: "path" -> size, or -1 for folders.
std::map<std::string, std::int64_t> MdirListing(FatImage& img) {
    std::map<std::string, std::int64_t> out;
    std::istringstream in(img.Mdir("/"));
    static const std::regex dirLine(R"(^Directory for ::/(.*)$)");
    static const std::regex entryLine(
        R"(^(.{8}) (.{3}) +(<DIR>|\d+) +\d{4}-\d\d-\d\d +\d+:\d\d(?:  (.*))?$)");
    auto trim = [](std::string s) {
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        return s;
    };
    std::string dir, line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, dirLine)) {
            dir = m[1].str();
            if (!dir.empty())
                dir += "/";
            continue;
        }
        line = trim(line);
        if (!std::regex_match(line, m, entryLine))
            continue;
        std::string name = m[4].matched && !m[4].str().empty() ? m[4].str() : trim(m[1].str());
        if (!(m[4].matched && !m[4].str().empty()) && !trim(m[2].str()).empty())
            name += "." + trim(m[2].str());
        if (name == "." || name == "..")
            continue;
        out[dir + name] = m[3].str() == "<DIR>" ? -1 : std::stoll(m[3].str());
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

TEST(FatQuickScan, DeletedFileRecovery) {
    const std::uint64_t when = WhenTicks();
    for (const VolumeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string path = MakeTreeVolume(c);
        ASSERT_FALSE(path.empty());
        MemoryDevice dev(LoadImageBytes(path));
        RecordingCallback cb;
        Tree root = Build(dev, c.options.offsetSectors, c.bootFlags | FATEVIDENCE_BOTH_FATS, false, &cb);
        ASSERT_TRUE(root);
        EXPECT_EQ(cb.stages, (std::vector<std::string>{"Reading partition parameters...",
                                                       "Building Directories..."}));
        for (std::size_t i = 1; i < cb.positions.size(); ++i)
            EXPECT_LE(cb.positions[i - 1], cb.positions[i]);
        ASSERT_FALSE(cb.positions.empty());
        EXPECT_LE(cb.positions.back(), 100);

        const int bits = c.options.fatBits;
        EXPECT_STREQ(root->m_pProperties->GetName(),
                     bits == 12 ? "1 FAT12" : bits == 16 ? "1 FAT16" : "1 FAT32");
        EXPECT_EQ(root->GetFileSystemType(), std::uint32_t(bits == 12 ? 0 : bits == 16 ? 1 : 2));
        if (!c.options.label.empty()) {
            ASSERT_TRUE(root->GetName());
            EXPECT_STREQ(root->GetName(), c.options.label.c_str());
        }

        auto nodes = FlattenTree(root.get());
        for (const SampleFile& f : Samples()) {
            std::string rel = f.path.substr(1);
            if (!f.deleted) {
                EXPECT_FALSE(nodes.count(rel)) << "live file listed: " << rel;
                continue;
            }
            if (!f.checkBytes)
                continue;
            ASSERT_TRUE(nodes.count(rel)) << "deleted file missing: " << rel;
            const CFATFileProperties* p = Props(nodes[rel]);
            EXPECT_EQ(p->GetFileState() & 1, 1) << rel;
            EXPECT_EQ(p->GetFileSize(), f.size) << rel;
            EXPECT_EQ(p->m_lastWriteTime.ticks, when) << rel;
            EXPECT_EQ(ReadNodeBytes(dev, nodes[rel]), PatternBytes(f.size, SeedOf(f.path)))
                << rel;
        }
        // Folders: live ones that lead to deleted entries, and deleted ones with their content.
        ASSERT_TRUE(nodes.count("Keep Folder"));
        EXPECT_EQ(Props(nodes["Keep Folder"])->GetFileState(), 0);
        ASSERT_TRUE(nodes.count("Gone Folder/Sub Dir"));
        EXPECT_EQ(Props(nodes["Gone Folder"])->GetFileState(), 1);
        EXPECT_EQ(Props(nodes["Gone Folder/Sub Dir"])->GetFileState(), 1);
        EXPECT_TRUE(Props(nodes["Gone Folder"])->GetAttributes() & 0x10);
        EXPECT_FALSE(nodes.count("readme.txt"));
        EXPECT_FALSE(nodes.count("frag/d.bin"));
    }
}

TEST(FatQuickScan, TakeAllMatchesMdirAndOriginals) {
    for (const VolumeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string path = MakeTreeVolume(c);
        ASSERT_FALSE(path.empty());
        FatImage img(path, c.options.offsetSectors);
        std::map<std::string, std::int64_t> expected = MdirListing(img);
        ASSERT_EQ(expected.size(), 14u) << img.Mdir("/"); // 5 in the root, 3 + 5 + 1 below

        MemoryDevice dev(LoadImageBytes(path));
        Tree root = Build(dev, c.options.offsetSectors, c.bootFlags | FATEVIDENCE_BOTH_FATS, true);
        ASSERT_TRUE(root);
        std::map<std::string, std::int64_t> live;
        auto nodes = FlattenTree(root.get());
        for (const auto& [p, node] : nodes) {
            const CFATFileProperties* props = Props(node);
            if (props->GetFileState() & 1)
                continue;
            bool dir = props->GetAttributes() & 0x10;
            live[p] = dir ? -1 : static_cast<std::int64_t>(props->GetFileSize());
        }
        EXPECT_EQ(live, expected);

        std::vector<SampleFile> liveFiles;
        for (const SampleFile& f : Samples())
            if (!f.deleted)
                liveFiles.push_back(f);
        liveFiles.push_back(kFragmented);
        for (const SampleFile& f : liveFiles) {
            std::string rel = f.path.substr(1);
            ASSERT_TRUE(nodes.count(rel)) << rel;
            EXPECT_EQ(ReadNodeBytes(dev, nodes[rel]), PatternBytes(f.size, SeedOf(f.path)))
                << rel;
        }
        // "Long Names" holds 2 + 5 * 4 entries in one-sector clusters: the fourth long name
        // starts in the folder's first cluster and ends in its second, which lies elsewhere
        // (after the first files' data), so its entries are carried from one read to the next.
        {
            std::uint8_t boot[512];
            ASSERT_TRUE(dev.ReadSectors(boot, c.options.offsetSectors, 1));
            CFATDBR dbr(boot, sizeof boot);
            ASSERT_EQ(dbr.GetSectorsPerCluster(), 1u);
            auto fat = CreateFATTables(&dev, c.options.offsetSectors + dbr.GetReservedSectors(),
                                       dbr.GetFileSystemType(), dbr.GetSectorsPerFAT(), true, false);
            std::uint32_t dir = Props(nodes["Long Names"])->m_u32FirstCluster;
            std::uint32_t next = fat->GetEntry(dir);
            EXPECT_FALSE(IsFatChainStop(next));
            EXPECT_NE(next, dir + 1);
            EXPECT_TRUE(nodes.count("Long Names/Long file name number 4.txt"));
        }
        std::unique_ptr<IDataRunList> runs(nodes["frag/d.bin"]->m_pProperties->GetDataRunList());
        ASSERT_TRUE(runs);
        EXPECT_GE(runs->GetRunCount(), 2u) << "the rewritten file should be fragmented";
    }
}

// Damage done to a copy of the volume in memory.
struct Damage {
    const char* what;
    std::function<void(MemoryDevice&, std::uint64_t first, const CFATDBR&)> apply;
    bool withoutBackup; // the volume's evidence flags without the FAT32 backup bit
    bool built;
};

TEST(FatQuickScan, DamagedVolumes) {
    const Damage damages[] = {
        {"both FAT copies invalid (deleted files are still read whole)",
         [](MemoryDevice& d, std::uint64_t first, const CFATDBR& dbr) {
             // The first entry of each copy's second sector points at itself.
             const bool fat32 = dbr.GetFileSystemType() == FILESYSTEM_FAT32;
             const std::uint32_t self = fat32 ? 128 : 256;
             for (int copy = 0; copy < 2; ++copy) {
                 std::uint8_t* s = d.Sector(first + dbr.GetReservedSectors() +
                                            copy * dbr.GetSectorsPerFAT() + 1);
                 s[0] = static_cast<std::uint8_t>(self);
                 s[1] = static_cast<std::uint8_t>(self >> 8);
             }
         },
         false, true},
        {"FAT[1] dirty and hard-error bits in both copies",
         [](MemoryDevice& d, std::uint64_t first, const CFATDBR& dbr) {
             for (int copy = 0; copy < 2; ++copy) {
                 std::uint8_t* fat =
                     d.Sector(first + dbr.GetReservedSectors() + copy * dbr.GetSectorsPerFAT());
                 if (dbr.GetFileSystemType() == FILESYSTEM_FAT16)
                     fat[3] &= 0x3F;
                 else if (dbr.GetFileSystemType() == FILESYSTEM_FAT32)
                     fat[7] &= 0xF3;
             }
         },
         false, true},
        {"boot sector zeroed", [](MemoryDevice& d, std::uint64_t first, const CFATDBR&) {
             std::fill_n(d.Sector(first), 512, 0);
         },
         true, false},
        {"both FAT starts damaged",
         [](MemoryDevice& d, std::uint64_t first, const CFATDBR& dbr) {
             for (int copy = 0; copy < 2; ++copy)
                 std::fill_n(d.Sector(first + dbr.GetReservedSectors() +
                                      copy * dbr.GetSectorsPerFAT()),
                             8, 0);
         },
         true, false},
    };
    for (const VolumeCase& c : {kCases[1], kCases[2]}) {
        std::string path = MakeTreeVolume(c);
        ASSERT_FALSE(path.empty());
        const std::vector<std::uint8_t> original = LoadImageBytes(path);
        const std::uint64_t first = c.options.offsetSectors;
        CFATDBR dbr(original.data() + first * 512, 512);
        ASSERT_TRUE(dbr.IsValid());
        for (const Damage& d : damages) {
            SCOPED_TRACE(std::string(c.name) + ": " + d.what);
            MemoryDevice dev(original);
            d.apply(dev, first, dbr);
            std::uint32_t flags = d.withoutBackup ? c.bootFlags & ~0x8u : c.bootFlags;
            Tree root = Build(dev, first, flags | FATEVIDENCE_BOTH_FATS, false);
            ASSERT_EQ(root != nullptr, d.built);
            if (!root)
                continue;
            auto nodes = FlattenTree(root.get());
            for (const char* rel : {"Keep Folder/A long deleted name.txt", "Root Deleted.bin",
                                    "Gone Folder/Sub Dir/Deep File.txt"}) {
                ASSERT_TRUE(nodes.count(rel)) << rel;
                const SampleFile* f = nullptr;
                for (const SampleFile& s : Samples())
                    if (s.path.substr(1) == rel)
                        f = &s;
                EXPECT_EQ(ReadNodeBytes(dev, nodes[rel]), PatternBytes(f->size, SeedOf(f->path)))
                    << rel;
            }
        }
    }
}

TEST(FatQuickScan, Fat32BackupBootSector) {
    const VolumeCase& c = kCases[3]; // partitioned: the backup lies at partition start + 6
    std::string path = MakeTreeVolume(c);
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(LoadImageBytes(path));
    const std::uint64_t first = c.options.offsetSectors;
    std::fill_n(dev.Sector(first), 512, 0);
    EXPECT_FALSE(Build(dev, first, 0x4 | FATEVIDENCE_BOTH_FATS, false)) << "no fallback without flag 0x8";
    Tree root = Build(dev, first, 0xC | FATEVIDENCE_BOTH_FATS, false);
    ASSERT_TRUE(root);
    EXPECT_TRUE(FlattenTree(root.get()).count("Gone Folder/Sub Dir/Deep File.txt"));

    // A FAT16 volume has no backup to fall back on.
    MemoryDevice dev16(LoadImageBytes(MakeTreeVolume(kCases[1])));
    std::fill_n(dev16.Sector(0), 512, 0);
    EXPECT_FALSE(Build(dev16, 0, 0x3 | 0x8 | FATEVIDENCE_BOTH_FATS, false));
}

TEST(FatQuickScan, FirstCopyOnlyOrSecondCopyOnly) {
    std::string path = MakeTreeVolume(kCases[1]);
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(LoadImageBytes(path));
    CFATDBR dbr(dev.Sector(0), 512);
    // Damage the first copy: with only the first allowed there is no FAT, with the second
    // allowed the live fragmented file is rebuilt from the second copy.
    std::fill_n(dev.Sector(dbr.GetReservedSectors()), 8, 0x11);
    for (std::uint32_t flags : {0x3u | 0xC0u, 0x3u | 0x300u}) {
        Tree root = Build(dev, 0, flags, true);
        ASSERT_TRUE(root);
        auto nodes = FlattenTree(root.get());
        ASSERT_TRUE(nodes.count("frag/d.bin"));
        bool intact = ReadNodeBytes(dev, nodes["frag/d.bin"]) ==
                      PatternBytes(kFragmented.size, SeedOf(kFragmented.path));
        EXPECT_EQ(intact, (flags & 0x300) != 0) << std::hex << flags;
    }
}

TEST(FatQuickScan, Cancel) {
    std::string path = MakeTreeVolume(kCases[2]);
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(LoadImageBytes(path));
    RecordingCallback counter;
    ASSERT_TRUE(Build(dev, 0, 0xC | FATEVIDENCE_BOTH_FATS, true, &counter));
    const int total = counter.calls;
    ASSERT_GT(total, 8);
    // Cancelled before, during and after the directory walk: nothing comes back (and the
    // sanitizer sees nothing leak).
    for (int after : {0, 2, 4, total / 2, total - 2, total - 1}) {
        RecordingCallback cb(after);
        EXPECT_FALSE(Build(dev, 0, 0xC | FATEVIDENCE_BOTH_FATS, true, &cb)) << "cancel after " << after;
    }
}

} // namespace
