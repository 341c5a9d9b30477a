// Times the EXT2 tree build (the quick scan of a volume) of volumes holding 20,000 and 200,000
// small files (folders of 1,000 each) and prints the peak memory the build needs per
// file. Beside it, in the same run: the listing of the same image by sleuthkit's `fls -r -p`
// (when fls is installed; scripts/setup.sh installs it), and one sequential read of the whole
// image in 1 MiB pieces. The images are made on first run under <build>/bench-work with
// mke2fs -d (4 KiB blocks), from content written to /dev/shm when there is one.
//
// Peak memory (bench/PeakMemory.h) is what one build holds at its worst, tree included,
// allocator overhead included.
#include "bench/PeakMemory.h"
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

constexpr int kFilesPerFolder = 1000;

std::string MakeImage(int files) {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string name = "ext2-" + std::to_string(files / 1000) + "k";
    const std::string image = dir + "/" + name + ".img";
    if (std::filesystem::exists(image))
        return image;
    const std::string content =
        (std::filesystem::is_directory("/dev/shm") ? std::string("/dev/shm") : dir) + "/brulin-" + name + ".content";
    std::filesystem::remove_all(content);
    for (int d = 0; d < files / kFilesPerFolder; ++d) {
        const std::string folder = content + "/d" + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f)
            std::ofstream(folder + "/file-" + std::to_string(f) + ".txt") << "file " << d << " " << f << "\n";
    }
    // Each small file takes one 4 KiB block; room for them, their inodes and the folders.
    std::filesystem::create_directories(dir);
    const std::uint64_t mib = 64 + static_cast<std::uint64_t>(files) * 5 / 1000;
    const std::string tmp = image + ".tmp";
    const std::string cmd = "rm -f '" + tmp + "' && truncate -s " + std::to_string(mib) + "M '" + tmp +
                            "' && mke2fs -q -F -t ext2 -b 4096 -N " + std::to_string(files + files / 10 + 1024) +
                            " -d '" + content + "' '" + tmp + "' >/dev/null 2>&1 && mv '" + tmp + "' '" + image + "'";
    const int status = std::system(cmd.c_str());
    std::filesystem::remove_all(content);
    return status == 0 ? image : "";
}

using benchsupport::ResetPeak;
using benchsupport::StatusBytes;

void BM_Ext2TreeBuild(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string image = MakeImage(files);
    if (image.empty()) {
        state.SkipWithError("could not make the image (mke2fs)");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::size_t nodes = 0;
    double peakPerFile = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetPeak();
        const std::uint64_t before = StatusBytes("VmRSS");
        state.ResumeTiming();
        CNullDirBuildCallback callback;
        FileTreePtr root = BuildExt2FileTree(&device, &callback, nullptr);
        if (!root) {
            state.SkipWithError("no tree");
            return;
        }
        state.PauseTiming();
        const std::uint64_t peak = StatusBytes("VmHWM");
        std::vector<CFileNode*> all;
        CollectTreeNodes(root.get(), all);
        nodes = all.size() - 1;
        if (nodes)
            peakPerFile = static_cast<double>(peak > before ? peak - before : 0) / static_cast<double>(nodes);
        root.reset();
        state.ResumeTiming();
    }
    state.counters["files"] = static_cast<double>(nodes);
    state.counters["peak_bytes/file"] = peakPerFile;
    state.counters["files/s"] =
        benchmark::Counter(static_cast<double>(nodes) * state.iterations(), benchmark::Counter::kIsRate);
}

// Baseline: sleuthkit's recursive listing of the same image, full paths, output thrown away.
void BM_FlsListing(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    if (std::system("command -v fls >/dev/null 2>&1") != 0) {
        state.SkipWithError("fls is not installed (sleuthkit)");
        return;
    }
    const std::string image = MakeImage(files);
    if (image.empty()) {
        state.SkipWithError("could not make the image (mke2fs)");
        return;
    }
    const std::string cmd = "fls -r -p '" + image + "' >/dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("fls failed");
            return;
        }
    }
}

// Baseline: one sequential pass over the whole image.
void BM_PlainImageRead(benchmark::State& state) {
    const std::string image = MakeImage(static_cast<int>(state.range(0)));
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

BENCHMARK(BM_Ext2TreeBuild)->ArgName("files")->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_FlsListing)->ArgName("files")->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PlainImageRead)->ArgName("files")->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
