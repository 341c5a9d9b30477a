// Times the EXT2 tree build of a volume holding 20,000 small files (20 folders of 1,000),
// beside the baseline of reading the whole image once in 1 MiB pieces. The image is made on
// first run under <build>/bench-work with mke2fs -d.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/FileNode.h"
#include "filesystems/ext2/Ext2TreeBuilder.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 1000;

std::string MakeImage() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string image = dir + "/ext2-20k.img";
    if (std::filesystem::exists(image))
        return image;
    const std::string content = dir + "/ext2-20k.content";
    std::filesystem::remove_all(content);
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = content + "/d" + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f)
            std::ofstream(folder + "/file-" + std::to_string(f) + ".txt") << "file " << d << " " << f << "\n";
    }
    const std::string tmp = image + ".tmp";
    const std::string cmd = "rm -f '" + tmp + "' && truncate -s 256M '" + tmp + "' && mke2fs -q -F -t ext2 -b 4096 -d '" +
                            content + "' '" + tmp + "' >/dev/null 2>&1 && mv '" + tmp + "' '" + image + "'";
    const int status = std::system(cmd.c_str());
    std::filesystem::remove_all(content);
    return status == 0 ? image : "";
}

void BM_Ext2TreeBuild20k(benchmark::State& state) {
    const std::string image = MakeImage();
    if (image.empty()) {
        state.SkipWithError("could not make the image (mke2fs)");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::size_t nodes = 0;
    for (auto _ : state) {
        CNullDirBuildCallback callback;
        CFileSystemNode* root = BuildExt2FileTree(&device, &callback, nullptr);
        if (!root) {
            state.SkipWithError("no tree");
            return;
        }
        std::vector<CFileNode*> all;
        CollectTreeNodes(root, all);
        nodes = all.size();
        DeleteFileTree(root);
    }
    state.counters["nodes"] = static_cast<double>(nodes);
    state.counters["nodes/s"] =
        benchmark::Counter(static_cast<double>(nodes) * state.iterations(), benchmark::Counter::kIsRate);
}

// Baseline: one sequential pass over the whole image.
void BM_PlainImageRead(benchmark::State& state) {
    const std::string image = MakeImage();
    if (image.empty()) {
        state.SkipWithError("could not make the image (mke2fs)");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::vector<std::uint8_t> buffer(1 << 20);
    const std::uint64_t sectors = device.GetSectorCount();
    for (auto _ : state) {
        for (std::uint64_t s = 0; s + 2048 <= sectors; s += 2048)
            benchmark::DoNotOptimize(device.ReadSectors(buffer.data(), s, 2048));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(sectors * 512) * state.iterations());
}

} // namespace

BENCHMARK(BM_Ext2TreeBuild20k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PlainImageRead)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
