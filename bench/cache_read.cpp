// Sequential read of a 1 GiB (sparse) image file: through the sector cache in front of the
// image-file device, the way the deep scan reads (load a window, then serve several readers
// from it), beside a plain pread loop over the same file. Figures are in bytes per second.
#include "platform/File.h"
#include "storage/ImageFileDevice.h"
#include "storage/StorageDeviceWithCache.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kImageBytes = 1ull << 30;

const std::string& ImagePath() {
    static const std::string path = [] {
        const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
        std::filesystem::create_directories(dir);
        const std::string p = dir + "/sparse-1g.img";
        int fd = ::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            if (::ftruncate(fd, static_cast<off_t>(kImageBytes)) != 0)
                std::perror("ftruncate");
            ::close(fd);
        }
        return p;
    }();
    return path;
}

// Arguments: readers served from each window, window size in sectors.
void CacheDeviceSequential(benchmark::State& state) {
    const int readers = static_cast<int>(state.range(0));
    const std::uint64_t kWindowSectors = static_cast<std::uint64_t>(state.range(1));
    CImageFileDevice image(ImagePath().c_str());
    CStorageDeviceWithCache cache(&image);
    cache.SetCacheSize(kWindowSectors);
    const std::uint64_t total = cache.GetSectorCount();
    std::vector<std::uint8_t> buf(kWindowSectors * kSectorSize);
    for (auto _ : state) {
        for (std::uint64_t w = 0; w * kWindowSectors < total; ++w) {
            cache.LoadCacheWindow(w);
            const std::uint64_t first = w * kWindowSectors;
            const std::uint64_t count = std::min(kWindowSectors, total - first);
            for (int r = 0; r < readers; ++r)
                benchmark::DoNotOptimize(cache.ReadSectors(buf.data(), first, count));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * total * kSectorSize));
}
BENCHMARK(CacheDeviceSequential)
    ->ArgNames({"readers", "sectors"})
    ->Args({1, 128})
    ->Args({3, 128})
    ->Args({1, 1000})
    ->Args({3, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Single-sector reads served from a loaded window (the per-call cost of a hit).
void CacheDeviceSingleSectors(benchmark::State& state) {
    CImageFileDevice image(ImagePath().c_str());
    CStorageDeviceWithCache cache(&image);
    cache.SetCacheSize(128);
    cache.LoadCacheWindow(5);
    std::uint8_t sector[kSectorSize];
    std::uint64_t s = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(cache.ReadSectors(sector, 5 * 128 + (s++ & 127), 1));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CacheDeviceSingleSectors);

// Argument: sectors per read.
void PlainPreadSequential(benchmark::State& state) {
    const std::uint64_t kWindowSectors = static_cast<std::uint64_t>(state.range(0));
    platform::FileHandle f = platform::OpenReadOnly(ImagePath());
    std::vector<std::uint8_t> buf(kWindowSectors * kSectorSize);
    for (auto _ : state) {
        for (std::uint64_t off = 0; off < kImageBytes; off += buf.size()) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), kImageBytes - off));
            benchmark::DoNotOptimize(platform::ReadAt(f.Get(), buf.data(), n, off));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(PlainPreadSequential)->ArgName("sectors")->Arg(128)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
