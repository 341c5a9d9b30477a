// The deep scan's candidate list on damaged disks made by the real tools: what the FAT and NTFS
// searches list must be volumes that exist, each once, at its true start; the copies a volume
// keeps of its own structures (the NTFS backup boot sector, the $MFTMirr records, the FAT32
// FSInfo copy) are evidence for that volume, never volumes of their own.
#include "carving/IntelligentSearch.h"
#include "carving/RAWSearchController.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FatImages.h"
#include "tests/support/FatTreeCheck.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <strings.h>

using namespace testsupport;

namespace {

struct Listed {
    bool ntfs;
    std::uint64_t start; // the partition's first sector (a FAT partition's boot sector)
    std::uint32_t spc;
    std::uint64_t sectors;
    std::uint32_t evidence;
    bool chosen;
    CSearchedPartitionInfo* record;
};

std::string Describe(const std::vector<Listed>& list) {
    std::ostringstream out;
    for (const Listed& l : list)
        out << (l.ntfs ? "NTFS" : "FAT") << " at " << l.start << " spc " << l.spc << " sectors "
            << l.sectors << " evidence 0x" << std::hex << l.evidence << std::dec << " score "
            << l.record->m_u64Score << (l.chosen ? " chosen" : "") << "\n";
    return out.str();
}

// The deep scan as the wizard runs it (FAT, NTFS and RAW searches), its list in listed order.
struct DeepScan {
    CFATSearchController fat;
    CNTFSSearchController ntfs;
    CRAWSearchController raw;
    CRawFileList carved;
    std::vector<IFileSystemSearchController*> controllers{&fat, &ntfs, &raw};
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    std::vector<Listed> list;

    explicit DeepScan(IStorageDevice& dev) {
        SetControllersResultSink(controllers, &carved);
        CIntelligentSearchController search;
        search.SetDevice(&dev);
        for (IFileSystemSearchController* c : controllers)
            search.AddController(c);
        EXPECT_EQ(search.Search(nullptr), 1);
        std::vector<CSearchedPartitionInfo*> records;
        for (IFileSystemSearchController* c : controllers)
            c->CollectSearchedPartitions(records);
        for (CSearchedPartitionInfo* p : records)
            owned.emplace_back(p);
        ScoreSearchedPartitions(records);
        SortSearchedPartitions(records);
        SelectBestSearchedPartitions(records, dev.GetSectorCount());
        for (CSearchedPartitionInfo* p : records) {
            Listed l{};
            l.ntfs = p->GetKind() == SEARCHED_PARTITION_NTFS;
            l.start = p->m_u64KeptFirstSector;
            l.spc = p->m_sectorsPerCluster;
            l.sectors = p->GetSectorCount64();
            l.evidence = l.ntfs ? static_cast<CSearchedNTFSPartitionInfo*>(p)->GetEvidence()
                                : static_cast<CFATSearchedPartitionInfo*>(p)->m_u32EvidenceFlags;
            l.chosen = p->m_u32Chosen != 0;
            l.record = p;
            list.push_back(l);
        }
    }
    // The listed volumes as (kind, first sector), in listed order.
    std::vector<std::pair<std::string, std::uint64_t>> Starts() const {
        std::vector<std::pair<std::string, std::uint64_t>> out;
        for (const Listed& l : list)
            out.emplace_back(l.ntfs ? "NTFS" : "FAT", l.start);
        std::sort(out.begin(), out.end());
        return out;
    }
    const Listed* Find(bool ntfs, std::uint64_t start) const {
        for (const Listed& l : list)
            if (l.ntfs == ntfs && l.start == start)
                return &l;
        return nullptr;
    }
    // The bytes of `path` (no leading '/', any case) in the tree of the listed volume `l`, or
    // of the one file of that name in a folder the build made for what it could not place
    // (a FAT32 root directory is unknown without a boot sector); empty when missing.
    std::vector<std::uint8_t> FileBytes(IStorageDevice& dev, const Listed& l,
                                        const std::string& path) {
        TreePtr root(BuildDirectoryTreeByController(controllers, l.record, &dev, nullptr, 0));
        if (!root)
            return {};
        const std::string leaf = "/" + path.substr(path.find_last_of('/') + 1);
        const CFileNode* lost = nullptr;
        int lostCount = 0;
        for (const auto& [p, node] : FlattenTree(root.get())) {
            if (strcasecmp(p.c_str(), path.c_str()) == 0)
                return ReadNodeBytes(dev, node);
            if (p.rfind("Lost Folders/", 0) == 0 && p.size() > leaf.size() &&
                strcasecmp(p.c_str() + p.size() - leaf.size(), leaf.c_str()) == 0) {
                lost = node;
                ++lostCount;
            }
        }
        return lostCount == 1 ? ReadNodeBytes(dev, lost) : std::vector<std::uint8_t>{};
    }
};

using Starts = std::vector<std::pair<std::string, std::uint64_t>>;

// ---------------------------------------------------------------------------------------------
// The disks, made by the real tools and cached in the build folder.

struct VolumeFile {
    std::string path; // "/docs/deep/two.bin"
    std::vector<std::uint8_t> bytes;
};

const std::vector<VolumeFile>& NtfsFiles() {
    static const std::vector<VolumeFile> files = {{"/docs/one.bin", PatternBytes(30000, 61)},
                                                  {"/docs/deep/two.bin", PatternBytes(70000, 62)},
                                                  {"/three.bin", PatternBytes(5000, 63)}};
    return files;
}
const std::vector<VolumeFile>& FatFiles() {
    static const std::vector<VolumeFile> files = {{"/Docs/a.bin", PatternBytes(30000, 71)},
                                                  {"/Docs/Deep/b.bin", PatternBytes(70000, 72)},
                                                  {"/c.bin", PatternBytes(5000, 73)}};
    return files;
}

// An empty disk of `sectors` with an MBR that sfdisk wrote from `table` (sfdisk script lines).
bool MakeDisk(const std::string& path, std::uint64_t sectors, const std::string& table) {
    const std::string script = path + ".sfdisk";
    std::ofstream(script) << "label: dos\n" << table;
    const bool ok = RequireFatTools() &&
                    MustRun("truncate -s " + std::to_string(sectors * kSectorSize) + " " +
                            ShellQuote(path) + " && sfdisk -q --no-reread --no-tell-kernel " +
                            ShellQuote(path) + " < " + ShellQuote(script) + " >/dev/null");
    std::filesystem::remove(script);
    return ok;
}

// An NTFS volume of `sectors` made by mkntfs (4 KiB clusters) with folders and the NTFS files,
// then `commands` for ntfs_edit, one run per line, copied into `disk` at `start`.
bool PutNtfs(const std::string& disk, std::uint64_t start, std::uint64_t sectors,
             const std::string& label, const std::vector<std::string>& commands = {}) {
    const std::string part = disk + ".ntfs";
    bool ok = RequireTool("mkntfs") &&
              MustRun("truncate -s " + std::to_string(sectors * kSectorSize) + " " +
                      ShellQuote(part) + " && mkntfs -F -Q -q -c 4096 -p " +
                      std::to_string(start) + " -L " + ShellQuote(label) + " " + ShellQuote(part) +
                      " >/dev/null 2>&1") &&
              NtfsMkdir(part, "/docs") && NtfsMkdir(part, "/docs/deep");
    for (const VolumeFile& f : NtfsFiles())
        ok = ok && NtfsWriteFile(part, f.path, f.bytes);
    for (const std::string& c : commands)
        ok = ok && NtfsEdit(part, c);
    ok = ok && MustRun("dd if=" + ShellQuote(part) + " of=" + ShellQuote(disk) +
                       " bs=1M oflag=seek_bytes seek=" + std::to_string(start * kSectorSize) +
                       " conv=notrunc,sparse status=none");
    std::filesystem::remove(part);
    return ok;
}

// A FAT32 volume made by mkfs.fat in place (one sector per cluster) with the FAT files.
bool PutFat32(const std::string& disk, std::uint64_t start, std::uint64_t sectors,
              const std::string& label, const std::vector<VolumeFile>& files) {
    bool ok = MustRun("mkfs.fat -F 32 -s 1 --offset=" + std::to_string(start) + " -h " +
                      std::to_string(start) + " -n " + label + " " + ShellQuote(disk) + " " +
                      std::to_string(sectors / 2) + " >/dev/null 2>&1");
    FatImage image(disk, start);
    std::set<std::string> made;
    for (const VolumeFile& f : files)
        for (std::size_t slash = f.path.find('/', 1); slash != std::string::npos;
             slash = f.path.find('/', slash + 1))
            if (made.insert(f.path.substr(0, slash)).second)
                ok = ok && image.MakeDir(f.path.substr(0, slash));
    for (const VolumeFile& f : files)
        ok = ok && image.WriteFile(f.path, f.bytes);
    return ok;
}

bool ZeroSectors(const std::string& disk, std::uint64_t first, std::uint64_t count) {
    return MustRun("dd if=/dev/zero of=" + ShellQuote(disk) + " bs=512 seek=" +
                   std::to_string(first) + " count=" + std::to_string(count) +
                   " conv=notrunc status=none");
}

std::uint64_t Rd(const std::vector<std::uint8_t>& s, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | s[at + static_cast<std::size_t>(i)];
    return v;
}
std::vector<std::uint8_t> SectorOf(const std::string& disk, std::uint64_t sector) {
    std::vector<std::uint8_t> s(kSectorSize, 0);
    std::ifstream in(disk, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(sector * kSectorSize));
    in.read(reinterpret_cast<char*>(s.data()), kSectorSize);
    return s;
}

// A copy of the cached disk `base` (sparse) with the ranges {first, count} zeroed by dd.
std::string Damaged(const std::string& name, const std::string& base,
                    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ranges) {
    return CachedFixture(name, [&](const std::string& tmp) {
        bool ok = MustRun("cp --sparse=always " + ShellQuote(base) + " " + ShellQuote(tmp));
        for (const auto& [first, count] : ranges)
            ok = ok && ZeroSectors(tmp, first, count);
        return ok;
    });
}

// One NTFS volume of 1,200,000 sectors at 4111 (its MFT at cluster 4, its $MFTMirr in the
// middle, its backup boot sector at 1204110); the table zeroed.
constexpr std::uint64_t kLoneStart = 4111, kLoneSectors = 1200000;
std::string LoneNtfsDisk() {
    return CachedFixture("deepscan-lone-ntfs-v1.img", [](const std::string& tmp) {
        return MakeDisk(tmp, kLoneStart + kLoneSectors + 2048,
                        "start=4111, size=1200000, type=7\n") &&
               PutNtfs(tmp, kLoneStart, kLoneSectors, "Lone4111") && ZeroSectors(tmp, 0, 1);
    });
}

// An NTFS volume and after it a FAT32 volume at an odd sector; the table zeroed.
constexpr std::uint64_t kPairNtfs = 2048, kPairNtfsSectors = 32 * 2048;
constexpr std::uint64_t kPairFat = kPairNtfs + kPairNtfsSectors + 1234, kPairFatSectors = 40 * 2048;
std::string NtfsAndFat32Disk() {
    return CachedFixture("deepscan-ntfs-fat32-v1.img", [](const std::string& tmp) {
        return MakeDisk(tmp, kPairFat + kPairFatSectors + 2048,
                        "start=" + std::to_string(kPairNtfs) +
                            ", size=" + std::to_string(kPairNtfsSectors) + ", type=7\nstart=" +
                            std::to_string(kPairFat) + ", size=" + std::to_string(kPairFatSectors) +
                            ", type=c\n") &&
               PutNtfs(tmp, kPairNtfs, kPairNtfsSectors, "PairNtfs") &&
               PutFat32(tmp, kPairFat, kPairFatSectors, "PAIRFAT", FatFiles()) &&
               ZeroSectors(tmp, 0, 1);
    });
}

} // namespace

// The backup boot sector at the volume's last sector and the $MFTMirr copy of records 0 to 3
// in its middle: whatever else of the volume is gone, they place it at its own start.
TEST(DeepScanCandidates, BackupBootSectorAndMirrorCopyAreEvidenceOfTheirVolume) {
    const std::string disk = LoneNtfsDisk();
    ASSERT_FALSE(disk.empty());
    const auto boot = SectorOf(disk, kLoneStart);
    const std::uint64_t total = Rd(boot, 0x28, 8), spc = boot[13];
    const std::uint64_t mft = kLoneStart + Rd(boot, 0x30, 8) * spc;
    const std::uint64_t mirror = kLoneStart + Rd(boot, 0x38, 8) * spc;
    const std::uint64_t backup = kLoneStart + total;
    ASSERT_EQ(backup, kLoneStart + kLoneSectors - 1);
    ASSERT_GT(mirror, mft + 1000); // mkntfs keeps the mirror in the volume's middle
    struct Case {
        std::string name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroed;
        std::uint32_t evidence; // bits the volume must have
    };
    const std::vector<Case> cases = {
        {"intact", {}, NTFS_EVIDENCE_BOOT | NTFS_EVIDENCE_BACKUP_BOOT},
        {"boot", {{kLoneStart, 1}}, NTFS_EVIDENCE_BACKUP_BOOT | NTFS_EVIDENCE_MFT_AND_MIRROR},
        {"boot-mft", {{kLoneStart, 1}, {mft, 8}}, NTFS_EVIDENCE_BACKUP_BOOT | NTFS_EVIDENCE_MIRROR},
        {"boot-mft-backup", {{kLoneStart, 1}, {mft, 8}, {backup, 1}}, NTFS_EVIDENCE_MIRROR},
        {"mft", {{mft, 8}}, NTFS_EVIDENCE_BOOT | NTFS_EVIDENCE_BACKUP_BOOT | NTFS_EVIDENCE_MIRROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string image =
            c.zeroed.empty() ? disk : Damaged("deepscan-lone-ntfs-" + c.name + "-v1.img", disk, c.zeroed);
        ASSERT_FALSE(image.empty());
        CImageFileDevice dev(image.c_str());
        DeepScan scan(dev);
        ASSERT_EQ(scan.Starts(), (Starts{{"NTFS", kLoneStart}})) << Describe(scan.list);
        const Listed& v = scan.list[0];
        EXPECT_TRUE(v.chosen);
        EXPECT_EQ(v.spc, spc);
        EXPECT_EQ(v.evidence & c.evidence, c.evidence) << Describe(scan.list);
        // Its size: the boot sectors', else what its $Bitmap covers (whole bytes of bits).
        EXPECT_GE(v.sectors, total / spc * spc);
        EXPECT_LE(v.sectors, (total / spc + 64) * spc);
        if (c.name == "boot-mft-backup") {
            for (const VolumeFile& f : NtfsFiles())
                EXPECT_TRUE(scan.FileBytes(dev, v, f.path.substr(1)) == f.bytes) << f.path;
        }
    }
}

// The NTFS volume has lost its boot sectors and the start of its MFT, the FAT32 volume its boot
// sector, the backup and both FATs; its FSInfo sectors are left.
TEST(DeepScanCandidates, NtfsAndFat32WithoutBootSectorsMftStartOrFats) {
    const std::string intact = NtfsAndFat32Disk();
    ASSERT_FALSE(intact.empty());
    const auto ntfsBoot = SectorOf(intact, kPairNtfs);
    const auto fatBoot = SectorOf(intact, kPairFat);
    const std::uint64_t ntfsSpc = ntfsBoot[13];
    const std::uint64_t mft = kPairNtfs + Rd(ntfsBoot, 0x30, 8) * ntfsSpc;
    const std::uint64_t reserved = Rd(fatBoot, 14, 2), perFat = Rd(fatBoot, 36, 4);
    ASSERT_EQ(Rd(fatBoot, 48, 2), 1u) << "FSInfo in sector 1";
    const std::uint64_t fatClusters = (kPairFatSectors - reserved - 2 * perFat) / fatBoot[13];
    {
        CImageFileDevice dev(intact.c_str());
        DeepScan scan(dev);
        EXPECT_EQ(scan.Starts(), (Starts{{"FAT", kPairFat}, {"NTFS", kPairNtfs}}))
            << Describe(scan.list);
    }
    const std::string damaged =
        Damaged("deepscan-ntfs-fat32-damaged-v1.img", intact,
                {{kPairNtfs, 1},
                 {kPairNtfs + Rd(ntfsBoot, 0x28, 8), 1},
                 {mft, 8},
                 {kPairFat, 1},
                 {kPairFat + 6, 1},
                 {kPairFat + reserved, 2 * perFat}});
    ASSERT_FALSE(damaged.empty());
    CImageFileDevice dev(damaged.c_str());
    DeepScan scan(dev);
    ASSERT_EQ(scan.Starts(), (Starts{{"FAT", kPairFat}, {"NTFS", kPairNtfs}})) << Describe(scan.list);
    const Listed* fat = scan.Find(false, kPairFat);
    const Listed* ntfs = scan.Find(true, kPairNtfs);
    ASSERT_TRUE(fat && ntfs);
    EXPECT_TRUE(fat->chosen);
    EXPECT_TRUE(ntfs->chosen) << Describe(scan.list);
    // The FAT32 volume's size: its FATs bound its clusters (to within one FAT sector's worth).
    const std::uint64_t fatData = kPairFat + reserved + 2 * perFat;
    EXPECT_EQ(fat->record->m_u64FirstSector, fatData);
    EXPECT_GE(fat->sectors, reserved + 2 * perFat + fatClusters);
    EXPECT_LT(fat->sectors, reserved + 2 * perFat + fatClusters + 128);
    EXPECT_LE(fat->start + fat->sectors, dev.GetSectorCount());
    EXPECT_LE(ntfs->start + ntfs->sectors, fat->start);
    for (const VolumeFile& f : FatFiles())
        EXPECT_TRUE(scan.FileBytes(dev, *fat, f.path.substr(1)) == f.bytes) << f.path;
    for (const VolumeFile& f : NtfsFiles())
        EXPECT_TRUE(scan.FileBytes(dev, *ntfs, f.path.substr(1)) == f.bytes) << f.path;
}

// FAT32 quick-formatted over an NTFS volume at the same start: the new volume's reserved
// sectors and FATs cover the old one's boot sector and MFT start; both are listed, once each.
TEST(DeepScanCandidates, Fat32QuickFormattedOverAnOldNtfs) {
    constexpr std::uint64_t kStart = 2048, kSectors = 64 * 2048;
    const std::vector<VolumeFile> newFiles = {{"/New/a.bin", PatternBytes(30000, 81)},
                                              {"/New/Deeper/b.bin", PatternBytes(9000, 82)}};
    const std::string disk = CachedFixture("deepscan-fat32-over-ntfs-v1.img", [&](const std::string& tmp) {
        return MakeDisk(tmp, kStart + kSectors + 2048,
                        "start=2048, size=" + std::to_string(kSectors) + ", type=c\n") &&
               PutNtfs(tmp, kStart, kSectors, "OldNtfs") &&
               PutFat32(tmp, kStart, kSectors, "NEWFAT", newFiles) && ZeroSectors(tmp, 0, 1);
    });
    ASSERT_FALSE(disk.empty());
    CImageFileDevice dev(disk.c_str());
    DeepScan scan(dev);
    ASSERT_EQ(scan.Starts(), (Starts{{"FAT", kStart}, {"NTFS", kStart}})) << Describe(scan.list);
    const Listed* fat = scan.Find(false, kStart);
    ASSERT_TRUE(fat);
    EXPECT_TRUE(fat->chosen);
    for (const VolumeFile& f : newFiles)
        EXPECT_TRUE(scan.FileBytes(dev, *fat, f.path.substr(1)) == f.bytes) << f.path;
    // The old volume (its MFT lay where the new FATs are) is listed from its backup boot
    // sector and $MFTMirr copy, below the new one it overlaps.
    const Listed* ntfs = scan.Find(true, kStart);
    ASSERT_TRUE(ntfs);
    EXPECT_EQ(ntfs->evidence, NTFS_EVIDENCE_BACKUP_BOOT | NTFS_EVIDENCE_MIRROR);
    EXPECT_FALSE(ntfs->chosen);
}

// Index blocks are read with the record of their folder. Volumes made alike number their
// folders alike, and a folder record reused after a folder was deleted meets the old folder's
// blocks: neither pair places a volume, and candidates whose trees would begin with the same
// FILE records are one volume.
TEST(DeepScanCandidates, IndexBlocksOfOtherFoldersPlaceNoVolume) {
    // Folders with index blocks in both volumes, made in the same order.
    const std::vector<std::string> folders = {"mkdir /many", "fill /many 40 3000 7",
                                              "mkdir /docs/more", "fill /docs/more 30 2000 8"};
    constexpr std::uint64_t kA = 2048, kASectors = 32 * 2048;
    constexpr std::uint64_t kB = kA + kASectors + 1, kBSectors = 400000;
    const std::string alike = CachedFixture("deepscan-ntfs-alike-v1.img", [&](const std::string& tmp) {
        return MakeDisk(tmp, kB + kBSectors + 4096, "") &&
               PutNtfs(tmp, kA, kASectors, "AlikeA", folders) &&
               PutNtfs(tmp, kB, kBSectors, "AlikeB", folders);
    });
    // /old gets index blocks, is emptied and deleted; /new takes its record and gets blocks of
    // its own further on.
    std::string empty;
    for (int i = 0; i < 30; ++i) {
        char line[40];
        std::snprintf(line, sizeof line, "rm /old/f%06d\n", i);
        empty += line;
    }
    empty += "rm /old";
    const std::string reused = CachedFixture("deepscan-ntfs-reused-v1.img", [&](const std::string& tmp) {
        return MakeDisk(tmp, kA + kASectors + 2048, "") &&
               PutNtfs(tmp, kA, kASectors, "Reused",
                       {"mkdir /old\nfill /old 30 3000 1\nmkdir /keep\nfill /keep 30 3000 2",
                        empty, "mkdir /new\nfill /new 30 3000 3"});
    });
    ASSERT_FALSE(alike.empty());
    ASSERT_FALSE(reused.empty());
    struct Case {
        std::string image;
        Starts starts;
    };
    const std::string reusedNoBoot = Damaged("deepscan-ntfs-reused-noboot-v1.img", reused, {{kA, 1}});
    for (const Case& c : {Case{alike, {{"NTFS", kA}, {"NTFS", kB}}}, Case{reused, {{"NTFS", kA}}},
                          Case{reusedNoBoot, {{"NTFS", kA}}}}) {
        SCOPED_TRACE(c.image);
        CImageFileDevice dev(c.image.c_str());
        DeepScan scan(dev);
        EXPECT_EQ(scan.Starts(), c.starts) << Describe(scan.list);
        for (const Listed& l : scan.list)
            EXPECT_TRUE(l.evidence & NTFS_EVIDENCE_INDEX) << "found without its index blocks";
    }
}
