// The FAT search controller over a 256 MiB FAT32 volume holding 2,000 files in 100 folders
// (its free space filled with pseudo-random bytes, as on a used disk), fed in deep-scan chunks
// of 1000 sectors from memory, beside the same chunks merely copied (the baseline); and the
// complete tree build of the partition it found. The image is made on first run under
// <build>/bench-work with mkfs.fat and mtools.
#if __has_include("carving/IntelligentSearch.h")
#include "carving/IntelligentSearch.h"
#endif
#include "filesystems/FileNode.h"
#include "filesystems/fat/FatSearchController.h"
#include "fuzz/SpanDevice.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 20;
constexpr std::uint32_t kChunk = 1000;

std::string MakeImage() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string image = dir + "/fat32-2k.img";
    if (std::filesystem::exists(image))
        return image;
    const std::string tree = dir + "/fat32-2k-tree";
    std::filesystem::remove_all(tree);
    std::vector<char> data(20000);
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = tree + "/Folder number " + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<char>((i * 131 + d * 7 + f) >> 3);
            std::ofstream(folder + "/A file with a long name " + std::to_string(f) + ".jpg",
                          std::ios::binary)
                .write(data.data(), 1000 + 900 * f);
        }
    }
    const std::string tmp = image + ".tmp";
    const std::string cmd = "rm -f '" + tmp + "' && truncate -s 256M '" + tmp +
                            "' && mkfs.fat -F 32 -s 4 '" + tmp + "' >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -s -i '" +
                            tmp + "' '" + tree + "'/* ::/ && mv '" + tmp + "' '" + image + "'";
    if (std::system(cmd.c_str()) != 0)
        return "";
    return image;
}

std::vector<std::uint8_t> LoadImage() {
    const std::string path = MakeImage();
    std::vector<std::uint8_t> bytes;
    if (path.empty())
        return bytes;
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    // A used disk: the free clusters hold old data, not zeros, so every sector is looked at.
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::size_t s = 8192 * 512; s + 512 <= bytes.size(); s += 512) {
        bool zero = true;
        for (std::size_t i = 0; i < 512 && zero; ++i)
            zero = bytes[s + i] == 0;
        for (std::size_t i = 0; zero && i < 512; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            bytes[s + i] = static_cast<std::uint8_t>(x >> 24);
        }
    }
    return bytes;
}

const std::vector<std::uint8_t>& Image() {
    static const std::vector<std::uint8_t> bytes = LoadImage();
    return bytes;
}

void BM_PlainChunkCopy(benchmark::State& state) {
    if (Image().empty()) {
        state.SkipWithError("could not make the image (mkfs.fat, mcopy)");
        return;
    }
    SpanDevice device(Image());
    std::vector<std::uint8_t> buffer(kChunk * 512);
    const std::uint64_t total = device.GetSectorCount();
    for (auto _ : state) {
        for (std::uint64_t first = 0; first < total; first += kChunk) {
            device.ReadSectors(buffer.data(), first, std::min<std::uint64_t>(kChunk, total - first));
            benchmark::DoNotOptimize(buffer.data());
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total * 512));
}
BENCHMARK(BM_PlainChunkCopy)->Unit(benchmark::kMillisecond);

void BM_FatSearchController(benchmark::State& state) {
    if (Image().empty()) {
        state.SkipWithError("could not make the image (mkfs.fat, mcopy)");
        return;
    }
    SpanDevice device(Image());
    const std::uint64_t total = device.GetSectorCount();
    std::size_t found = 0;
    for (auto _ : state) {
        CFATSearchController controller;
        controller.SetDevice(&device);
        controller.SetSectorsPerStep(kChunk);
        controller.BeginSearch();
        IntelligentSearchStats stats;
        for (std::uint64_t first = 0; first < total; first += kChunk)
            controller.AnalyzeSectors(first, std::min<std::uint64_t>(kChunk, total - first), &stats);
        controller.EndSearch();
        std::vector<CSearchedPartitionInfo*> partitions;
        controller.CollectSearchedPartitions(partitions);
        found = partitions.size();
        for (CSearchedPartitionInfo* p : partitions)
            delete p;
    }
    if (found != 1)
        state.SkipWithError("expected one partition");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(total * 512));
}
BENCHMARK(BM_FatSearchController)->Unit(benchmark::kMillisecond);

void BM_FatCompleteBuild(benchmark::State& state) {
    if (Image().empty()) {
        state.SkipWithError("could not make the image (mkfs.fat, mcopy)");
        return;
    }
    SpanDevice device(Image());
    CFATSearchController controller;
    controller.SetDevice(&device);
    controller.SetSectorsPerStep(kChunk);
    const std::uint64_t total = device.GetSectorCount();
    for (std::uint64_t first = 0; first < total; first += kChunk)
        controller.AnalyzeSectors(first, std::min<std::uint64_t>(kChunk, total - first), nullptr);
    std::vector<CSearchedPartitionInfo*> partitions;
    controller.CollectSearchedPartitions(partitions);
    if (partitions.size() != 1) {
        state.SkipWithError("expected one partition");
        return;
    }
    std::unique_ptr<CSearchedPartitionInfo> partition(partitions[0]);
    std::size_t nodes = 0;
    for (auto _ : state) {
        FileTreePtr root = controller.BuildDirectoryTree(partition.get(), &device, 0, nullptr);
        std::vector<CFileNode*> all;
        if (root)
            CollectTreeNodes(root.get(), all);
        nodes = all.size();
        root.reset();
    }
    state.counters["nodes"] = static_cast<double>(nodes);
}
BENCHMARK(BM_FatCompleteBuild)->Unit(benchmark::kMillisecond);

#if __has_include("carving/IntelligentSearch.h")
// The FAT controller driven by the deep scan's own loop (read-ahead, controllers on threads of
// their own), as the deep-scan benchmark runs it beside the other controllers.
void BM_FatDeepScanThroughIntelligentSearch(benchmark::State& state) {
    if (Image().empty()) {
        state.SkipWithError("could not make the image (mkfs.fat, mcopy)");
        return;
    }
    SpanDevice device(Image());
    std::size_t found = 0;
    for (auto _ : state) {
        CFATSearchController fat;
        CIntelligentSearchController search;
        search.SetDevice(&device);
        search.AddController(&fat);
        search.Search(nullptr);
        std::vector<CSearchedPartitionInfo*> partitions;
        fat.CollectSearchedPartitions(partitions);
        found = partitions.size();
        for (CSearchedPartitionInfo* p : partitions)
            delete p;
    }
    if (found != 1)
        state.SkipWithError("expected one partition");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(device.GetSectorCount() * 512));
}
BENCHMARK(BM_FatDeepScanThroughIntelligentSearch)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

} // namespace

BENCHMARK_MAIN();
