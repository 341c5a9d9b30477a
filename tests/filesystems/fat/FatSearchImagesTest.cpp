// The FAT search controller and the complete tree build over volumes made by mkfs.fat and
// mtools, placed at odd offsets inside larger devices: intact volumes against `mdir`, volumes
// whose boot sector and FATs are gone, a FAT32 root spread over several fragments, and two
// volumes side by side.
#include "filesystems/fat/FatCompleteTree.h"
#include "filesystems/fat/FatSearchController.h"

#include "carving/RAWSearchController.h"
#if __has_include("carving/IntelligentSearch.h")
#include "carving/IntelligentSearch.h"
#endif
#include "carving/records/RawFileInfo.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "tests/support/FatImages.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <zlib.h>
#include <map>
#include <memory>
#include <set>

namespace {

using namespace testsupport;

struct SampleFile {
    std::string path;
    std::size_t size;
};

std::uint32_t SeedOf(const std::string& path) {
    std::uint32_t h = 2166136261u;
    for (char c : path)
        h = (h ^ static_cast<std::uint8_t>(c)) * 16777619u;
    return h;
}

std::vector<std::uint8_t> ContentOf(const SampleFile& f) { return PatternBytes(f.size, SeedOf(f.path)); }

// Live at the end, with their clusters still their own (so also readable without a FAT, except
// the fragmented one).
std::vector<SampleFile> LiveFiles() {
    std::vector<SampleFile> files = {
        {"/root file.txt", 333},        {"/A/one.txt", 1500},
        {"/A/B/two.bin", 5000},         {"/A/B/C/deep.txt", 700},
        {"/Docs/Report 2021.txt", 9000}, {"/A/x1.bin", 3000},
        {"/A/x3.bin", 3000},
    };
    for (int i = 1; i <= 20; ++i)
        files.push_back({"/Long Names/Long file name number " + std::to_string(i) + ".txt", 600});
    return files;
}
const SampleFile kFragmented = {"/A/frag.bin", 9000};
// Deleted at the end; their clusters are not reused.
const std::vector<SampleFile> kDeleted = {
    {"/deleted root.bin", 7000},
    {"/Gone/Inner File.txt", 2000},
    {"/Gone/Sub/gone deep.txt", 800},
};
// Directories with "." entries: A, A/B, A/B/C, Docs, Long Names, Gone, Gone/Sub.
constexpr std::uint64_t kDirectoryCount = 7;

struct VolumeCase {
    const char* name;
    FatImageOptions options;
    std::uint64_t before; // sectors in front of the volume on the device
    std::uint64_t after;  // sectors behind it
};

const VolumeCase kCases[] = {
    {"search12.img", {12, 1440, 1, "", 0, ""}, 1001, 333},
    {"search16.img", {16, 16 * 1024, 4, "VOL16", 0, ""}, 1777, 517},
    {"search32.img", {32, 40 * 1024, 1, "VOL32", 0, ""}, 4099, 77},
};

// Points the FAT32 free-cluster hint back at cluster 2, so that the next file takes the first
// free clusters (and so is fragmented) as FAT12/16 allocation does.
bool RewindFreeHint(const std::string& image) {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    std::uint8_t boot[512];
    f.read(reinterpret_cast<char*>(boot), sizeof boot);
    const std::uint64_t fsInfo = boot[48] | (boot[49] << 8);
    const char hint[4] = {2, 0, 0, 0};
    f.seekp(static_cast<std::streamoff>(fsInfo * 512 + 492));
    f.write(hint, sizeof hint);
    return static_cast<bool>(f);
}

std::string MakeVolume(const VolumeCase& c) {
    return CachedFixture(c.name, [&](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, c.options))
            return false;
        FatImage img(tmp);
        bool ok = true;
        for (const char* dir : {"/A", "/A/B", "/A/B/C", "/Docs", "/Long Names", "/Gone", "/Gone/Sub"})
            ok = ok && img.MakeDir(dir);
        std::vector<SampleFile> files = LiveFiles();
        files.insert(files.begin() + 6, {"/A/x2.bin", 3000});
        files.insert(files.end(), kDeleted.begin(), kDeleted.end());
        for (const SampleFile& f : files)
            ok = ok && img.WriteFile(f.path, ContentOf(f));
        ok = ok && img.Delete("/A/x2.bin") && (c.options.fatBits != 32 || RewindFreeHint(tmp)) &&
             img.WriteFile(kFragmented.path, ContentOf(kFragmented));
        ok = ok && img.Delete("/deleted root.bin") && img.DeleteTree("/Gone");
        return ok;
    });
}

// The volume with `before` and `after` sectors of noise around it.
std::vector<std::uint8_t> OnDevice(const std::vector<std::uint8_t>& volume, std::uint64_t before,
                                   std::uint64_t after, std::uint32_t seed = 7) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((before + after) * 512 + volume.size());
    const std::vector<std::uint8_t> head = PatternBytes(before * 512, seed);
    const std::vector<std::uint8_t> tail = PatternBytes(after * 512, seed + 1);
    bytes.insert(bytes.end(), head.begin(), head.end());
    bytes.insert(bytes.end(), volume.begin(), volume.end());
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// One deep-scan pass of a FAT controller over the device, in chunks of 1000 sectors.
struct Search {
    explicit Search(IStorageDevice& device) {
        controller.SetDevice(&device);
        controller.SetSectorsPerStep(1000);
        controller.BeginSearch();
        const std::uint64_t total = device.GetSectorCount();
        for (std::uint64_t first = 0; first < total; first += 1000)
            controller.AnalyzeSectors(first, std::min<std::uint64_t>(1000, total - first), &stats);
        controller.EndSearch();
        std::vector<CSearchedPartitionInfo*> raw;
        controller.CollectSearchedPartitions(raw);
        for (CSearchedPartitionInfo* p : raw)
            found.emplace_back(static_cast<CFATSearchedPartitionInfo*>(p));
    }
    TreePtr Build(IStorageDevice& device, std::size_t i, std::uint32_t index = 0) {
        return TreePtr(controller.BuildDirectoryTree(found.at(i).get(), &device, index, nullptr));
    }

    CFATSearchController controller;
    IntelligentSearchStats stats;
    std::vector<std::unique_ptr<CFATSearchedPartitionInfo>> found;
};

const CFATFileProperties* Props(const CFileNode* n) {
    return static_cast<const CFATFileProperties*>(n->m_pProperties.get());
}

// The node whose path ends with `suffix` (a whole path component boundary), or null.
const CFileNode* FindBySuffix(const std::map<std::string, const CFileNode*>& nodes,
                              const std::string& suffix) {
    for (const auto& [path, node] : nodes)
        if (path == suffix ||
            (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
             path[path.size() - suffix.size() - 1] == '/'))
            return node;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------

TEST(FatSearchImages, IntactVolumesAtOddOffsets) {
    for (const VolumeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeVolume(c);
        ASSERT_FALSE(path.empty());
        const std::vector<std::uint8_t> volume = LoadImageBytes(path);
        CFATDBR dbr(volume.data(), 512);
        ASSERT_TRUE(dbr.IsValid());
        MemoryDevice dev(OnDevice(volume, c.before, c.after));

        Search search(dev);
        ASSERT_EQ(search.found.size(), 1u);
        const CFATSearchedPartitionInfo& p = *search.found[0];
        const bool fat32 = c.options.fatBits == 32;
        const std::uint64_t dataOffset = dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT() +
                                         (fat32 ? 0 : dbr.GetRootDirSectors());
        EXPECT_EQ(p.m_fileSystemType, static_cast<std::uint32_t>(dbr.GetFileSystemType()));
        EXPECT_EQ(p.m_u64KeptFirstSector, c.before);
        EXPECT_EQ(p.m_u64FirstSector, c.before + dataOffset);
        EXPECT_EQ(p.m_sectorsPerCluster, dbr.GetSectorsPerCluster());
        EXPECT_EQ(p.m_u32SectorCount, dbr.GetTotalSectors());
        EXPECT_EQ(p.m_u32SectorsPerFat, dbr.GetSectorsPerFAT());
        EXPECT_EQ(p.m_u16ReservedSectors, dbr.GetReservedSectors());
        const std::uint32_t boot = c.options.fatBits == 12 ? 0x1 : c.options.fatBits == 16 ? 0x2 : 0xC;
        EXPECT_EQ(p.m_u32EvidenceFlags, boot | 0x10 | 0x40 | 0x80 | 0x100 | 0x200);
        EXPECT_EQ(p.m_u64Score, 100u);
        EXPECT_EQ(p.m_u64EvidenceA, kDirectoryCount);
        EXPECT_EQ(search.stats.counters[ISS_FATBootRecords], fat32 ? 2u : 1u);
        EXPECT_EQ(search.stats.counters[ISS_FATFolders], kDirectoryCount);
        EXPECT_GT(search.stats.counters[ISS_FATFolderParts], 0u);
        EXPECT_GE(search.stats.counters[ISS_TotalFilesFound], 30u);

        TreePtr root = search.Build(dev, 0, 2);
        ASSERT_TRUE(root);
        const int bits = c.options.fatBits;
        EXPECT_STREQ(root->m_pProperties->GetName(),
                     bits == 12 ? "3 FAT12" : bits == 16 ? "3 FAT16" : "3 FAT32");
        if (!c.options.label.empty()) {
            ASSERT_TRUE(root->GetName());
            EXPECT_STREQ(root->GetName(), c.options.label.c_str());
        }
        FatImage img(path);
        EXPECT_EQ(LiveTreeEntries(root.get()), MdirEntries(img));

        auto nodes = FlattenTree(root.get());
        EXPECT_FALSE(nodes.count("Lost Folders")) << "an intact volume has nothing lost";
        std::vector<SampleFile> live = LiveFiles();
        live.push_back(kFragmented);
        for (const SampleFile& f : live) {
            const std::string rel = f.path.substr(1);
            ASSERT_TRUE(nodes.count(rel)) << rel;
            EXPECT_EQ(ReadNodeBytes(dev, nodes[rel]), ContentOf(f)) << rel;
        }
        for (const SampleFile& f : kDeleted) {
            const std::string rel = f.path.substr(1);
            ASSERT_TRUE(nodes.count(rel)) << rel;
            EXPECT_EQ(Props(nodes[rel])->GetFileState(), FILESTATE_DELETED) << rel;
            EXPECT_EQ(ReadNodeBytes(dev, nodes[rel]), ContentOf(f)) << rel;
        }
        ASSERT_TRUE(nodes.count("Gone/Sub"));
        EXPECT_EQ(Props(nodes["Gone/Sub"])->GetFileState(), FILESTATE_DELETED);
    }
}

TEST(FatSearchImages, BootSectorAndFatsGone) {
    for (const VolumeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = MakeVolume(c);
        ASSERT_FALSE(path.empty());
        std::vector<std::uint8_t> volume = LoadImageBytes(path);
        CFATDBR dbr(volume.data(), 512);
        ASSERT_TRUE(dbr.IsValid());
        const std::uint32_t spc = dbr.GetSectorsPerCluster();
        const bool fat32 = c.options.fatBits == 32;
        const std::uint64_t dataOffset = dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT() +
                                         (fat32 ? 0 : dbr.GetRootDirSectors());
        // Every reserved sector (boot sector, FSInfo, backups) and both FATs.
        std::fill_n(volume.begin(),
                    (dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT()) * 512, 0);
        MemoryDevice dev(OnDevice(volume, c.before, c.after));

        Search search(dev);
        EXPECT_EQ(search.stats.counters[ISS_FATBootRecords], 0u);
        ASSERT_EQ(search.found.size(), 1u);
        const CFATSearchedPartitionInfo& p = *search.found[0];
        EXPECT_EQ(p.m_u32EvidenceFlags, 0x10u);
        EXPECT_EQ(p.m_sectorsPerCluster, spc);
        EXPECT_EQ(p.m_u64FirstSector, c.before + dataOffset);
        // The first directory placed it; the others confirmed it.
        EXPECT_EQ(p.m_u64EvidenceA, kDirectoryCount - 1);
        EXPECT_EQ(p.m_u64Score, 20u);
        EXPECT_EQ(p.m_u16ReservedSectors, 1u);
        EXPECT_LE(p.m_u64KeptFirstSector + p.m_u32SectorCount, dev.GetSectorCount());

        TreePtr root = search.Build(dev, 0);
        ASSERT_TRUE(root);
        auto nodes = FlattenTree(root.get());
        ASSERT_TRUE(nodes.count("Lost Folders"));
        // Folders are joined by their ".." clusters: the nested ones keep their names and their
        // place; FAT32's root, read as a lost fragment, names its folders too.
        const CFileNode* deep = FindBySuffix(nodes, "B/C/deep.txt");
        ASSERT_TRUE(deep);
        if (fat32) {
            EXPECT_TRUE(nodes.count("A/B/C/deep.txt"));
            EXPECT_TRUE(nodes.count("Docs/Report 2021.txt"));
        }
        // Contiguous files read back exactly; files of a folder's later clusters turn up in
        // fragments under "Lost Folders" (a long name cut by a cluster's end keeps its first
        // part, and a last sector holding a single entry is not known as a directory sector).
        int longNamesFound = 0;
        for (const SampleFile& f : LiveFiles()) {
            const std::string name = f.path.substr(f.path.rfind('/') + 1);
            const bool inRootArea = !fat32 && f.path.rfind('/') == 0;
            const CFileNode* node = FindBySuffix(nodes, name);
            if (inRootArea) {
                EXPECT_FALSE(node) << "the FAT12/16 root area lies outside the data area";
                continue;
            }
            if (f.path.rfind("/Long Names/", 0) == 0) {
                if (!node)
                    continue;
                ++longNamesFound;
            }
            ASSERT_TRUE(node) << f.path;
            EXPECT_EQ(ReadNodeBytes(dev, node), ContentOf(f)) << f.path;
        }
        EXPECT_GE(longNamesFound, 14);
        bool lostLongNames = false;
        for (const auto& [p2, node] : nodes)
            lostLongNames = lostLongNames || (p2.rfind("Lost Folders/DIR", 0) == 0 &&
                                              p2.find("/Long file name number") != std::string::npos);
        EXPECT_TRUE(lostLongNames) << "the second cluster of \"Long Names\" is a lost fragment";
        for (const SampleFile& f : kDeleted) {
            if (!fat32 && f.path.rfind('/') == 0)
                continue;
            const CFileNode* node = FindBySuffix(nodes, f.path.substr(f.path.rfind('/') + 1));
            ASSERT_TRUE(node) << f.path;
            EXPECT_EQ(Props(node)->GetFileState(), FILESTATE_DELETED) << f.path;
            EXPECT_EQ(ReadNodeBytes(dev, node), ContentOf(f)) << f.path;
        }
    }
}

TEST(FatSearchImages, ClusterUseMapOfTheBuiltTree) {
    const VolumeCase& c = kCases[1];
    const std::string path = MakeVolume(c);
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(OnDevice(LoadImageBytes(path), c.before, c.after));
    Search search(dev);
    ASSERT_EQ(search.found.size(), 1u);
    const CFATSearchedPartitionInfo& p = *search.found[0];

    auto tables = CreateFATTables(&dev, p.m_u64KeptFirstSector + p.m_u16ReservedSectors,
                                  static_cast<FileSystemType>(p.m_fileSystemType),
                                  p.m_u32SectorsPerFat, true, false);
    FatDirectoryScanner scanner(nullptr, &dev);
    scanner.SetSearchedLayout(p, tables.get());
    TreePtr root(scanner.BuildCompleteTree(search.controller.DirectorySectors(), 0));
    ASSERT_TRUE(root);
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> used = MakeFatClusterUseBitMap(scanner, &bits);
    EXPECT_EQ(used->GetFirstSector(), p.m_u64FirstSector);
    EXPECT_EQ(used->GetSectorsPerCluster(), p.m_sectorsPerCluster);

    // Every sector of a live file, and the first sector of every directory, is used; the end
    // of the data area (never written) and a deleted file's clusters are not.
    auto nodes = FlattenTree(root.get());
    for (const SampleFile& f : LiveFiles()) {
        const CFileNode* node = nodes[f.path.substr(1)];
        ASSERT_TRUE(node) << f.path;
        std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
        ASSERT_TRUE(runs);
        for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun())
            for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(r->count) * p.m_sectorsPerCluster; ++k)
                EXPECT_TRUE(used->IsClusterUsed(p.m_u64FirstSector + r->start * p.m_sectorsPerCluster + k))
                    << f.path;
    }
    for (const FatDirectorySectorRecord& r : search.controller.DirectorySectors())
        if (r.sector >= p.m_u64FirstSector) {
            EXPECT_TRUE(used->IsClusterUsed(r.sector)) << r.sector;
        }
    const CFATFileProperties* gone = Props(nodes["deleted root.bin"]);
    EXPECT_FALSE(used->IsClusterUsed(p.m_u64FirstSector +
                                     (gone->m_u32FirstCluster - 2ull) * p.m_sectorsPerCluster));
    const std::uint64_t lastCluster = used->GetClusterCount() - 1;
    EXPECT_FALSE(used->IsClusterUsed(p.m_u64FirstSector + lastCluster * p.m_sectorsPerCluster));
    EXPECT_TRUE(used->IsClusterUsed(p.m_u64FirstSector - 1)) << "before the data area";
}

// A FAT32 root of many long names, written between files, so that its clusters lie apart.
std::string MakeFragmentedRoot() {
    return CachedFixture("search32root.img", [](const std::string& tmp) {
        FatImageOptions o{32, 40 * 1024, 1, "FRAGROOT", 0, ""};
        if (!RequireFatTools() || !FatImage::Format(tmp, o))
            return false;
        FatImage img(tmp);
        bool ok = true;
        for (int i = 0; i < 24 && ok; ++i)
            ok = img.WriteFile("/Root file with a long name " + std::to_string(i) + ".dat",
                               PatternBytes(1200, 100 + i));
        ok = ok && img.MakeDir("/Late Folder") && img.MakeDir("/Late Folder/Inner") &&
             img.WriteFile("/Late Folder/inside.txt", PatternBytes(900, 99));
        return ok;
    });
}

TEST(FatSearchImages, Fat32RootInFragments) {
    const std::string path = MakeFragmentedRoot();
    ASSERT_FALSE(path.empty());
    std::vector<std::uint8_t> volume = LoadImageBytes(path);
    CFATDBR dbr(volume.data(), 512);
    ASSERT_EQ(dbr.GetFileSystemType(), FILESYSTEM_FAT32);
    {
        MemoryDevice plain(volume);
        auto fat = CreateFATTables(&plain, dbr.GetReservedSectors(), FILESYSTEM_FAT32,
                                   dbr.GetSectorsPerFAT(), true, false);
        std::uint32_t c = dbr.GetRootCluster(), jumps = 0;
        for (int i = 0; i < 100 && !IsFatChainStop(fat->GetEntry(c)); ++i) {
            jumps += fat->GetEntry(c) != c + 1;
            c = fat->GetEntry(c);
        }
        ASSERT_GE(jumps, 3u) << "the root should be fragmented";
    }
    FatImage img(path);
    const auto expected = MdirEntries(img);
    ASSERT_EQ(expected.size(), 27u);

    // Intact: the root chain is followed through the FAT.
    {
        MemoryDevice dev(OnDevice(volume, 123, 45));
        Search search(dev);
        ASSERT_EQ(search.found.size(), 1u);
        TreePtr root = search.Build(dev, 0);
        ASSERT_TRUE(root);
        EXPECT_EQ(LiveTreeEntries(root.get()), expected);
    }
    // Without boot sector and FATs: every root fragment becomes a lost folder, and together
    // they hold every root file.
    std::fill_n(volume.begin(), (dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT()) * 512, 0);
    MemoryDevice dev(OnDevice(volume, 123, 45));
    Search search(dev);
    ASSERT_EQ(search.found.size(), 1u) << "\"Late Folder\" and its parent's \"..\" place it";
    TreePtr root = search.Build(dev, 0);
    ASSERT_TRUE(root);
    auto nodes = FlattenTree(root.get());
    // Names cut by a cluster's end keep only their first part; the others are whole.
    std::set<std::string> lostDirs;
    int whole = 0;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "Root file with a long name " + std::to_string(i) + ".dat";
        std::string where;
        for (const auto& [p, node] : nodes)
            if (p.size() > name.size() && p.compare(p.size() - name.size(), name.size(), name) == 0)
                where = p;
        if (where.empty())
            continue;
        ++whole;
        ASSERT_EQ(where.rfind("Lost Folders/DIR", 0), 0u) << name << " at " << where;
        lostDirs.insert(where.substr(0, where.rfind('/')));
        EXPECT_EQ(ReadNodeBytes(dev, nodes[where]), PatternBytes(1200, 100 + i)) << name;
    }
    EXPECT_GE(whole, 18);
    EXPECT_GE(lostDirs.size(), 3u);
    EXPECT_TRUE(nodes.count("Late Folder/inside.txt")) << "named by the lost root fragment";
}

TEST(FatSearchImages, TwoVolumesSideBySide) {
    const std::string p16 = MakeVolume(kCases[1]);
    const std::string p12 = MakeVolume(kCases[0]);
    ASSERT_FALSE(p16.empty());
    ASSERT_FALSE(p12.empty());
    const std::vector<std::uint8_t> v16 = LoadImageBytes(p16), v12 = LoadImageBytes(p12);
    std::vector<std::uint8_t> bytes = OnDevice(v16, 63, 3);
    const std::uint64_t second = bytes.size() / 512;
    bytes.insert(bytes.end(), v12.begin(), v12.end());
    MemoryDevice dev(bytes);

    Search search(dev);
    ASSERT_EQ(search.found.size(), 2u);
    EXPECT_EQ(search.found[0]->m_u64KeptFirstSector, 63u);
    EXPECT_EQ(search.found[1]->m_u64KeptFirstSector, second);
    FatImage img16(p16), img12(p12);
    const std::map<std::string, std::int64_t> expected[] = {MdirEntries(img16), MdirEntries(img12)};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(search.found[i]->m_u64Score, 100u);
        TreePtr root = search.Build(dev, i, static_cast<std::uint32_t>(i));
        ASSERT_TRUE(root);
        EXPECT_EQ(LiveTreeEntries(root.get()), expected[i]) << i;
        EXPECT_FALSE(FlattenTree(root.get()).count("Lost Folders")) << i;
    }
}

// ---------------------------------------------------------------------------------------------
// Carving over the partition's unused clusters.

// A PNG of noisy RGB pixels (zlib-compressed, with its chunk CRCs).
std::vector<std::uint8_t> MakePng(std::uint32_t width, std::uint32_t height, std::uint32_t seed) {
    std::vector<std::uint8_t> rows;
    const std::vector<std::uint8_t> pixels = PatternBytes(std::size_t{width} * height * 3, seed);
    for (std::uint32_t y = 0; y < height; ++y) {
        rows.push_back(0);
        rows.insert(rows.end(), pixels.begin() + y * width * 3, pixels.begin() + (y + 1) * width * 3);
    }
    uLongf zlen = compressBound(static_cast<uLong>(rows.size()));
    std::vector<std::uint8_t> z(zlen);
    compress2(z.data(), &zlen, rows.data(), static_cast<uLong>(rows.size()), 6);
    z.resize(zlen);
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto be32 = [&](std::vector<std::uint8_t>& v, std::uint32_t x) {
        for (int i = 3; i >= 0; --i)
            v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
    };
    auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
        be32(out, static_cast<std::uint32_t>(data.size()));
        std::vector<std::uint8_t> body(type, type + 4);
        body.insert(body.end(), data.begin(), data.end());
        out.insert(out.end(), body.begin(), body.end());
        be32(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
    };
    std::vector<std::uint8_t> ihdr;
    be32(ihdr, width);
    be32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", z);
    chunk("IEND", {});
    return out;
}

const SampleFile kLivePng = {"/Pictures/live photo.png", 0};
const SampleFile kGonePng = {"/Pictures/gone photo.png", 0};

std::string MakePictureVolume() {
    return CachedFixture("search16png.img", [](const std::string& tmp) {
        if (!RequireFatTools() || !FatImage::Format(tmp, {16, 16 * 1024, 4, "", 0, ""}))
            return false;
        FatImage img(tmp);
        return img.MakeDir("/Pictures") && img.MakeDir("/Pictures/Old") &&
               img.WriteFile(kLivePng.path, MakePng(90, 70, 1)) &&
               img.WriteFile("/Pictures/Old/note.txt", PatternBytes(700, 5)) &&
               img.WriteFile(kGonePng.path, MakePng(60, 80, 2)) && img.Delete(kGonePng.path);
    });
}

TEST(FatSearchImages, CarvedFilesInUnusedClusters) {
    const std::string path = MakePictureVolume();
    ASSERT_FALSE(path.empty());
    MemoryDevice dev(OnDevice(LoadImageBytes(path), 777, 100));
    GetScanOptions().SetDefaults();

    // The deep scan's pair: the carver fills the list the FAT controller is given.
    CRawFileList carved;
    CRAWSearchController raw;
    CFATSearchController fat;
    for (IFileSystemSearchController* c : {static_cast<IFileSystemSearchController*>(&raw),
                                           static_cast<IFileSystemSearchController*>(&fat)}) {
        c->SetResultSink(&carved);
        c->SetDevice(&dev);
        c->SetSectorsPerStep(1000);
        c->BeginSearch();
    }
    const std::uint64_t total = dev.GetSectorCount();
    for (std::uint64_t first = 0; first < total; first += 1000) {
        raw.AnalyzeSectors(first, std::min<std::uint64_t>(1000, total - first), nullptr);
        fat.AnalyzeSectors(first, std::min<std::uint64_t>(1000, total - first), nullptr);
    }
    raw.EndSearch();
    fat.EndSearch();
    ASSERT_EQ(carved.Size(), 2u);
    std::vector<CSearchedPartitionInfo*> found;
    fat.CollectSearchedPartitions(found);
    ASSERT_EQ(found.size(), 1u);
    std::unique_ptr<CSearchedPartitionInfo> partition(found[0]);
    EXPECT_EQ(partition->m_u64EvidenceB, 2u) << "both names sit where a PNG was carved";

    TreePtr root(fat.BuildDirectoryTree(partition.get(), &dev, 0, nullptr));
    ASSERT_TRUE(root);
    auto nodes = FlattenTree(root.get());
    ASSERT_TRUE(nodes.count("Pictures/live photo.png"));
    ASSERT_TRUE(nodes.count("Pictures/gone photo.png"));
    const CFATFileProperties* gone = Props(nodes["Pictures/gone photo.png"]);
    const std::uint64_t goneSector =
        partition->m_u64FirstSector + (gone->m_u32FirstCluster - 2ull) * partition->m_sectorsPerCluster;
    // Only the deleted picture's clusters are unused: it alone is carved into "Raw Files".
    std::vector<const CFileNode*> rawFiles;
    for (const auto& [p, node] : nodes)
        if (p.rfind("Raw Files/", 0) == 0 && !(node->m_pProperties->GetAttributes() & 0x10))
            rawFiles.push_back(node);
    ASSERT_EQ(rawFiles.size(), 1u);
    std::unique_ptr<IDataRunList> runs(rawFiles[0]->m_pProperties->GetDataRunList());
    ASSERT_TRUE(runs);
    ASSERT_TRUE(runs->GetFirstRun());
    EXPECT_EQ(runs->GetFirstRun()->start, goneSector);
    const std::vector<std::uint8_t> png = MakePng(60, 80, 2);
    EXPECT_EQ(ReadNodeBytes(dev, rawFiles[0]), png);
    EXPECT_EQ(ReadNodeBytes(dev, nodes["Pictures/gone photo.png"]), png);
}

#if __has_include("carving/IntelligentSearch.h")
// ---------------------------------------------------------------------------------------------
// The whole deep scan: the intelligent search feeds the FAT controller and the carver, the
// found partitions are scored and chosen, and the trees are built through the controllers.

void RunFatDeepScanThroughIntelligentSearch() {
    const std::string p12 = MakeVolume(kCases[0]);
    const std::string p16 = MakeVolume(kCases[1]);
    const std::string pics = MakePictureVolume();
    ASSERT_FALSE(p12.empty());
    ASSERT_FALSE(p16.empty());
    ASSERT_FALSE(pics.empty());
    GetScanOptions().SetDefaults();
    // An intact FAT12 volume, the picture volume, and last (a volume found from its folders
    // alone reaches to the device's end) a FAT16 volume without boot sector and FATs, with
    // noise between them.
    std::vector<std::uint8_t> damaged = LoadImageBytes(p16);
    {
        CFATDBR dbr(damaged.data(), 512);
        ASSERT_TRUE(dbr.IsValid());
        std::fill_n(damaged.begin(), (dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT()) * 512, 0);
    }
    std::vector<std::uint8_t> bytes = OnDevice(LoadImageBytes(p12), 301, 17);
    const std::uint64_t atPics = bytes.size() / 512;
    std::vector<std::uint8_t> part = OnDevice(LoadImageBytes(pics), 0, 40, 13);
    bytes.insert(bytes.end(), part.begin(), part.end());
    const std::uint64_t at16 = bytes.size() / 512;
    part = OnDevice(damaged, 0, 29, 11);
    bytes.insert(bytes.end(), part.begin(), part.end());
    MemoryDevice dev(bytes);

    CFATSearchController fat;
    CRAWSearchController raw;
    CRawFileList carved;
    const std::vector<IFileSystemSearchController*> controllers = {&fat, &raw};
    SetControllersResultSink(controllers, &carved);
    CIntelligentSearchController search;
    search.SetDevice(&dev);
    for (IFileSystemSearchController* c : controllers)
        search.AddController(c);
    ASSERT_EQ(search.Search(nullptr), 1);
    EXPECT_EQ(search.GetStatistics().counters[ISS_FATBootRecords], 2u);
    EXPECT_GE(search.GetStatistics().counters[ISS_FATFolders], 2 * kDirectoryCount);

    std::vector<CSearchedPartitionInfo*> list;
    for (IFileSystemSearchController* c : controllers)
        c->CollectSearchedPartitions(list);
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned(list.begin(), list.end());
    ScoreSearchedPartitions(list);
    SortSearchedPartitions(list);
    SelectBestSearchedPartitions(list, dev.GetSectorCount());
    std::vector<CFATSearchedPartitionInfo*> chosen;
    for (CSearchedPartitionInfo* p : list)
        if (p->m_u32Chosen)
            chosen.push_back(static_cast<CFATSearchedPartitionInfo*>(p));
    ASSERT_EQ(chosen.size(), 3u);
    std::sort(chosen.begin(), chosen.end(), [](auto* a, auto* b) { return a->m_u64FirstSector < b->m_u64FirstSector; });
    EXPECT_EQ(chosen[0]->m_u64KeptFirstSector, 301u);
    EXPECT_EQ(chosen[0]->m_u64Score, 100u);
    EXPECT_EQ(chosen[1]->m_u64KeptFirstSector, atPics);
    EXPECT_EQ(chosen[1]->m_u64EvidenceB, 2u);
    EXPECT_EQ(chosen[2]->m_u32EvidenceFlags, 0x10u) << "the damaged one, placed by its folders";
    EXPECT_GT(chosen[2]->m_u64FirstSector, at16);

    // The intact volume's tree is the one mdir lists; the damaged one's folders are joined
    // below placeholders; the pictures' unused clusters are carved.
    FatImage img12(p12);
    for (std::uint32_t i = 0; i < 3; ++i) {
        TreePtr root(BuildDirectoryTreeByController(controllers, chosen[i], &dev, nullptr, i));
        ASSERT_TRUE(root) << i;
        auto nodes = FlattenTree(root.get());
        if (i == 0) {
            EXPECT_EQ(LiveTreeEntries(root.get()), MdirEntries(img12));
        }
        if (i == 2) {
            const CFileNode* deep = FindBySuffix(nodes, "B/C/deep.txt");
            ASSERT_TRUE(deep);
            EXPECT_EQ(ReadNodeBytes(dev, deep), ContentOf({"/A/B/C/deep.txt", 700}));
        }
        if (i == 1) {
            int rawFiles = 0;
            for (const auto& [p, node] : nodes)
                rawFiles += p.rfind("Raw Files/", 0) == 0 && !(node->m_pProperties->GetAttributes() & 0x10);
            EXPECT_EQ(rawFiles, 1);
        }
    }
}

TEST(FatSearchImages, ThroughTheIntelligentSearch) { RunFatDeepScanThroughIntelligentSearch(); }
#endif

} // namespace
