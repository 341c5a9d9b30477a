// Times the NTFS quick scan of a volume holding 100,000 files (10 folders of 10,000). The image
// is made on first run under <build>/bench-work with mkntfs and the ntfs_edit test helper.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kFolders = 10;
constexpr int kFilesPerFolder = 10000;

std::string MakeImage() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string image = dir + "/ntfs-100k.img";
    if (std::filesystem::exists(image))
        return image;
    std::filesystem::create_directories(dir);
    const std::string tmp = image + ".tmp";
    const std::string commands = dir + "/ntfs-100k.commands";
    {
        std::ofstream out(commands);
        for (int d = 0; d < kFolders; ++d)
            out << "mkdir /d" << d << "\n";
        for (int d = 0; d < kFolders; ++d)
            out << "fill /d" << d << " " << kFilesPerFolder << " 64 " << d << "\n";
    }
    const std::string cmd = "rm -f '" + tmp + "' && truncate -s 512M '" + tmp + "' && mkntfs -F -Q -q -c 4096 '" +
                            tmp + "' >/dev/null 2>&1 && '" + BRULIN_BINARY_DIR + "/tests/ntfs_edit' '" + tmp +
                            "' < '" + commands + "' && mv '" + tmp + "' '" + image + "'";
    if (std::system(cmd.c_str()) != 0)
        return "";
    return image;
}

std::size_t CountNodes(CFileNode* root) {
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root, nodes);
    return nodes.size();
}

void BM_NtfsQuickScan100k(benchmark::State& state) {
    const std::string image = MakeImage();
    if (image.empty()) {
        state.SkipWithError("could not make the image (mkntfs, ntfs_edit)");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::size_t records = 0;
    for (auto _ : state) {
        NtfsTreeBuildParams params;
        InitNtfsTreeBuildParams(&params);
        CNullDirBuildCallback callback;
        CFileSystemNode* root = BuildNtfsFileTree(&device, &params, &callback);
        if (!root) {
            state.SkipWithError("quick scan found nothing");
            return;
        }
        records = CountNodes(root) - 1;
        DeleteFileTree(root);
    }
    state.counters["files"] = static_cast<double>(records);
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(records) * state.iterations(), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_NtfsQuickScan100k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
