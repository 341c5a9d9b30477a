// The cross-link pass of the quick scans beside the scans themselves, on volumes that hold
// deleted files (a tree without one skips the pass): NTFS (mkntfs and the ntfs_edit test helper),
// EXT2 (mke2fs -d, then debugfs) and FAT32 (mkfs.fat and mtools), each with files of 5,000 bytes
// in 10 folders of which every tenth is deleted. BM_<fs>QuickScan is the whole quick scan, the
// pass included: the baseline of BM_<fs>CrossLinkPass, the pass alone over the finished tree
// (one cluster-use map from the live files' runs and the volume's allocation record, then the
// deleted files against it). The images are made on first run under <build>/bench-work.
#include "bench/NtfsEditTool.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/ext2/Ext2CrossLinks.h"
#include "filesystems/ext2/Ext2FileSystem.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "filesystems/fat/FatCrossLinks.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatTables.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "filesystems/ntfs/NtfsCrossLinks.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFolders = 10;
constexpr int kFileBytes = 5000;

std::string WorkDir() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    std::filesystem::create_directories(dir);
    return dir;
}

// Runs `make`(tmp) once and keeps its image under bench-work/<name>.
std::string CachedImage(const std::string& name, const std::function<bool(const std::string& tmp)>& make) {
    const std::string image = WorkDir() + "/" + name;
    if (std::filesystem::exists(image))
        return image;
    const std::string tmp = image + ".tmp";
    std::filesystem::remove_all(tmp);
    if (!make(tmp))
        return "";
    std::filesystem::rename(tmp, image);
    return image;
}

bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// A host folder of kFolders folders "d<n>" of `perFolder` files "f<i>.bin".
std::string MakeContent(const std::string& dir, int perFolder) {
    std::filesystem::remove_all(dir);
    const std::string bytes(kFileBytes, 'x');
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = dir + "/d" + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int f = 0; f < perFolder; ++f)
            std::ofstream(folder + "/f" + std::to_string(f) + ".bin") << d << " " << f << bytes;
    }
    return dir;
}

constexpr int kNtfsPerFolder = 2000;

std::string NtfsImage() {
    return CachedImage("crosslink-ntfs-20k.img", [](const std::string& tmp) {
        const std::string tool = NtfsEditTool();
        if (tool.empty())
            return false;
        // The files are removed in a second session (ntfs-3g does not find them in the first).
        const std::string fill = tmp + ".fill", remove = tmp + ".remove";
        {
            std::ofstream out(fill);
            for (int d = 0; d < kFolders; ++d)
                out << "mkdir /d" << d << "\nfill /d" << d << " " << kNtfsPerFolder << " " << kFileBytes << " " << d << "\n";
            std::ofstream rm(remove);
            for (int d = 0; d < kFolders; ++d)
                for (int f = 0; f < kNtfsPerFolder; f += 10) {
                    char name[32];
                    std::snprintf(name, sizeof name, "/d%d/f%06d", d, f);
                    rm << "rm " << name << "\n";
                }
        }
        return Sh("truncate -s 512M '" + tmp + "' && mkntfs -F -Q -q -c 4096 '" + tmp + "' >/dev/null 2>&1 && '" +
                  tool + "' '" + tmp + "' < '" + fill + "' >/dev/null && '" + tool + "' '" + tmp + "' < '" + remove +
                  "' >/dev/null");
    });
}

constexpr int kExt2PerFolder = 2000;

std::string Ext2Image() {
    return CachedImage("crosslink-ext2-20k.img", [](const std::string& tmp) {
        const std::string content = MakeContent(tmp + ".content", kExt2PerFolder);
        const std::string commands = tmp + ".commands";
        {
            std::ofstream out(commands);
            for (int d = 0; d < kFolders; ++d)
                for (int f = 0; f < kExt2PerFolder; f += 10)
                    out << "rm /d" << d << "/f" << f << ".bin\n";
        }
        const bool ok = Sh("truncate -s 256M '" + tmp + "' && mke2fs -q -F -t ext2 -b 4096 -d '" + content + "' '" +
                           tmp + "' >/dev/null 2>&1 && debugfs -w -f '" + commands + "' '" + tmp + "' >/dev/null 2>&1");
        std::filesystem::remove_all(content);
        return ok;
    });
}

constexpr int kFatPerFolder = 200;

std::string FatImage() {
    return CachedImage("crosslink-fat32-2k.img", [](const std::string& tmp) {
        const std::string content = MakeContent(tmp + ".content", kFatPerFolder);
        std::string gone;
        for (int d = 0; d < kFolders; ++d)
            for (int f = 0; f < kFatPerFolder; f += 10)
                gone += " ::/d" + std::to_string(d) + "/f" + std::to_string(f) + ".bin";
        std::string copy;
        for (int d = 0; d < kFolders; ++d)
            copy += " && mmd -i '" + tmp + "' ::/d" + std::to_string(d) + " && mcopy -i '" + tmp + "' '" + content + "/d" +
                    std::to_string(d) + "'/* ::/d" + std::to_string(d) + "/";
        const bool ok = Sh("export MTOOLS_SKIP_CHECK=1 && truncate -s 256M '" + tmp + "' && mkfs.fat -F 32 '" + tmp +
                           "' >/dev/null" + copy + " && mdel -i '" + tmp + "'" + gone);
        std::filesystem::remove_all(content);
        return ok;
    });
}

// The live $Bitmap entry of an NTFS tree.
const CNTFSFileProperties* FindBitmap(CFileNode* root) {
    std::vector<CFileNode*> stack{root};
    while (!stack.empty()) {
        CFileNode* node = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
        const IFileProperties* p = node->m_pProperties;
        if (p && p->GetFileSystemKind() == FILEPROPS_NTFS && !(p->GetFileState() & FILESTATE_DELETED) &&
            std::strcmp(p->GetName(), "$Bitmap") == 0)
            return static_cast<const CNTFSFileProperties*>(p);
    }
    return nullptr;
}

FileTreePtr NtfsScan(IStorageDevice& device) {
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    CNullDirBuildCallback callback;
    return BuildNtfsFileTree(&device, &params, &callback);
}

FileTreePtr Ext2Scan(IStorageDevice& device) {
    CNullDirBuildCallback callback;
    return BuildExt2FileTree(&device, &callback, nullptr);
}

FileTreePtr FatScan(IStorageDevice& device) {
    std::uint8_t boot[512];
    CFATSearchedPartitionInfo part;
    if (device.ReadSectors(boot, 0, 1) != 1 || !InitFATSearchedPartitionInfo(part, boot, sizeof boot, 0))
        return nullptr;
    return BuildFatFileTree(nullptr, &part, nullptr, &device, 1); // live files too
}

using Scan = FileTreePtr (*)(IStorageDevice&);

void QuickScan(benchmark::State& state, const std::string& image, Scan scan) {
    if (image.empty()) {
        state.SkipWithError("could not make the image");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::size_t flagged = 0;
    for (auto _ : state) {
        FileTreePtr root = scan(device);
        if (!root) {
            state.SkipWithError("no tree");
            return;
        }
        state.PauseTiming();
        std::vector<CFileNode*> nodes;
        CollectTreeNodes(root.get(), nodes);
        flagged = 0;
        for (CFileNode* n : nodes)
            flagged += n->m_pProperties && (n->m_pProperties->GetFileState() & FILESTATE_CROSS_LINK);
        root.reset();
        state.ResumeTiming();
    }
    state.counters["cross_linked"] = static_cast<double>(flagged);
}

// Times `pass` over one finished tree.
void Pass(benchmark::State& state, const std::string& image, Scan scan,
          const std::function<std::size_t(CFileSystemNode*, IStorageDevice&)>& pass) {
    if (image.empty()) {
        state.SkipWithError("could not make the image");
        return;
    }
    CImageFileDevice device(image.c_str());
    FileTreePtr root = scan(device);
    if (!root) {
        state.SkipWithError("no tree");
        return;
    }
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root.get(), nodes);
    for (auto _ : state)
        benchmark::DoNotOptimize(pass(root.get(), device));
    state.counters["nodes"] = static_cast<double>(nodes.size());
}

void BM_NtfsQuickScan(benchmark::State& state) { QuickScan(state, NtfsImage(), NtfsScan); }
void BM_NtfsCrossLinkPass(benchmark::State& state) {
    Pass(state, NtfsImage(), NtfsScan, [](CFileSystemNode* root, IStorageDevice& device) {
        return FlagNtfsCrossLinks(root, &device, FindBitmap(root), device.GetSectorCount() / 8);
    });
}
void BM_Ext2QuickScan(benchmark::State& state) { QuickScan(state, Ext2Image(), Ext2Scan); }
// The pass's inputs the scan has at hand (the open file system, the FAT tables) are made once.
void BM_Ext2CrossLinkPass(benchmark::State& state) {
    const std::string image = Ext2Image();
    CImageFileDevice device(image.c_str());
    std::unique_ptr<CExt2FileSystem> fs = image.empty() ? nullptr : OpenExt2FileSystem(&device, 0);
    Pass(state, fs ? image : "", Ext2Scan, [&fs](CFileSystemNode* root, IStorageDevice&) {
        return FlagExt2CrossLinks(root, *fs);
    });
}
void BM_FatQuickScan(benchmark::State& state) { QuickScan(state, FatImage(), FatScan); }
void BM_FatCrossLinkPass(benchmark::State& state) {
    const std::string image = FatImage();
    CImageFileDevice device(image.c_str());
    std::uint8_t boot[512] = {};
    if (!image.empty() && device.ReadSectors(boot, 0, 1) != 1)
        boot[0] = 0;
    CFATDBR dbr(boot, sizeof boot);
    std::unique_ptr<CDoubleFATTable> tables =
        dbr.IsValid() ? CreateFATTables(&device, dbr.GetReservedSectors(), dbr.GetFileSystemType(),
                                        dbr.GetSectorsPerFAT(), true, true)
                      : nullptr;
    const std::uint64_t dataStart = dbr.GetReservedSectors() + 2ull * dbr.GetSectorsPerFAT();
    const std::uint64_t clusters =
        dbr.IsValid() && dbr.GetTotalSectors() > dataStart ? (dbr.GetTotalSectors() - dataStart) / dbr.GetSectorsPerCluster() : 0;
    Pass(state, tables ? image : "", FatScan, [&](CFileSystemNode* root, IStorageDevice&) {
        return FlagFatCrossLinks(root, tables.get(), clusters);
    });
}

} // namespace

BENCHMARK(BM_NtfsQuickScan)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_NtfsCrossLinkPass)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_Ext2QuickScan)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_Ext2CrossLinkPass)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_FatQuickScan)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK(BM_FatCrossLinkPass)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->UseRealTime();
BENCHMARK_MAIN();
