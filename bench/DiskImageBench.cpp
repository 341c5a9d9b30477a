// Disk-image rates: imaging a 1 GiB image-file source (no compression, zlib 1, 5 and 9) and
// reading an image back sequentially 1 sector and 1000 sectors at a time. Rates are reported
// as "MB/s" (10^6 bytes per second).
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::uint64_t kSourceBytes = 1ull << 30;

std::string WorkDir() {
    std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work/disk-image";
    std::filesystem::create_directories(dir);
    return dir;
}

// 1 GiB of mixed sectors (text, zeros, pseudo-random, tagged), made once per build tree.
std::string SourceFile() {
    std::string path = WorkDir() + "/source-1GiB.bin";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == kSourceBytes)
        return path;
    const std::size_t chunk = 8u << 20;
    std::vector<std::uint8_t> buf(chunk);
    std::uint32_t x = 12345;
    static const char kText[] = "Sector data of a file system: names, records, text and tables. ";
    for (std::size_t s = 0; s < chunk / 512; ++s) {
        std::uint8_t* p = buf.data() + s * 512;
        switch ((s / 64) % 4) {
        case 0:
            for (int i = 0; i < 512; ++i)
                p[i] = static_cast<std::uint8_t>(kText[(s * 512 + i) % (sizeof kText - 1)]);
            break;
        case 1:
            std::memset(p, 0, 512);
            break;
        case 2:
            for (int i = 0; i < 512; ++i) {
                x = x * 1664525u + 1013904223u;
                p[i] = static_cast<std::uint8_t>(x >> 24);
            }
            break;
        default:
            std::snprintf(reinterpret_cast<char*>(p), 512, "SECTOR %zu", s);
            break;
        }
    }
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    for (std::uint64_t done = 0; f && done < kSourceBytes; done += chunk)
        std::fwrite(buf.data(), 1, chunk, f);
    if (f)
        std::fclose(f);
    std::rename(tmp.c_str(), path.c_str());
    return path;
}

class NullCallBack : public ICompressCallBack {
public:
    void PumpMessages() override {}
    int IsCancelled() override { return 0; }
    void OnBlockDone(std::uint64_t) override {}
    void SetBlockCount(std::uint64_t, std::uint64_t) override {}
};

bool MakeImage(const std::string& path, CompressionType type, int level) {
    CImageFileDevice source(SourceFile().c_str());
    CCompressController c;
    c.Setup(&source, "bench source", 0, source.GetSectorCount(), 255);
    c.SetCompressionType(type);
    c.SetCompressionLevel(level);
    c.SetCompressor(CreateCompressor(type));
    c.SetSliceSize(0x7FFFF8);
    c.SetImagePath(path);
    NullCallBack cb;
    return c.CreateImage(&cb) == 1;
}

void SetRate(benchmark::State& state, std::uint64_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerIteration));
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * bytesPerIteration) / 1e6, benchmark::Counter::kIsRate);
}

void BM_ImageCreate(benchmark::State& state) {
    auto type = static_cast<CompressionType>(state.range(0));
    int level = static_cast<int>(state.range(1));
    SourceFile();
    std::string path = WorkDir() + "/create.edi";
    for (auto _ : state) {
        if (!MakeImage(path, type, level)) {
            state.SkipWithError("image not written");
            return;
        }
    }
    SetRate(state, kSourceBytes);
}
BENCHMARK(BM_ImageCreate)
    ->ArgNames({"type", "level"})
    ->Args({0, -1})
    ->Args({2, 1})
    ->Args({2, 5})
    ->Args({2, 9})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Sequential reads of the zlib-5 image of the same source.
void BM_ImageRead(benchmark::State& state) {
    const std::uint64_t chunk = static_cast<std::uint64_t>(state.range(0));
    std::string path = WorkDir() + "/read-zlib5.edi";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && !MakeImage(path, COMPRESSION_ZLIB, 5)) {
        state.SkipWithError("image not written");
        return;
    }
    CImageFileDeviceWithDecompress image(path.c_str());
    if (!image.CheckSliceFiles()) {
        state.SkipWithError("image does not open");
        return;
    }
    const std::uint64_t sectors = image.GetSectorCount();
    std::vector<std::uint8_t> buf(chunk * kSectorSize);
    for (auto _ : state) {
        for (std::uint64_t s = 0; s < sectors; s += chunk) {
            std::uint64_t n = std::min(chunk, sectors - s);
            benchmark::DoNotOptimize(image.ReadSectors(buf.data(), s, n));
        }
    }
    SetRate(state, sectors * kSectorSize);
}
BENCHMARK(BM_ImageRead)->ArgName("sectors")->Arg(1)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
