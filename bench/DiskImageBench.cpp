// Disk-image rates: imaging a 1 GiB image-file source per codec and level on all cores and on
// one, beside the codec alone on one core (compressing the same blocks from memory) and beside
// pigz / xz -T0 on the same file when they are installed; and reading images back
// sequentially. Rates are reported as "MB/s" (10^6 bytes per second).
#include "storage/CompressController.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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

bool MakeImage(const std::string& path, CompressionType type, int level, unsigned threads = 0) {
    CImageFileDevice source(SourceFile().c_str());
    CCompressController c;
    c.Setup(&source, "bench source", 0, source.GetSectorCount(), 255);
    c.SetCompressionType(type);
    c.SetCompressionLevel(level);
    c.SetCompressor(CreateCompressor(type));
    c.SetSliceSize(0x7FFFF8);
    c.SetThreadCount(threads);
    c.SetImagePath(path);
    NullCallBack cb;
    return c.CreateImage(&cb) == 1;
}

void SetRate(benchmark::State& state, std::uint64_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytesPerIteration));
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * bytesPerIteration) / 1e6, benchmark::Counter::kIsRate);
}

// Arguments: codec, level, threads (0 = one per core).
void BM_ImageCreate(benchmark::State& state) {
    auto type = static_cast<CompressionType>(state.range(0));
    int level = static_cast<int>(state.range(1));
    unsigned threads = static_cast<unsigned>(state.range(2));
    SourceFile();
    std::string path = WorkDir() + "/create.edi";
    for (auto _ : state) {
        if (!MakeImage(path, type, level, threads)) {
            state.SkipWithError("image not written");
            return;
        }
    }
    SetRate(state, kSourceBytes);
}
BENCHMARK(BM_ImageCreate)
    ->ArgNames({"type", "level", "threads"})
    ->Args({0, -1, 0})
    ->Args({2, 1, 0})
    ->Args({2, 1, 1})
    ->Args({2, 5, 0})
    ->Args({2, 9, 0})
    ->Args({1, 1, 0})
    ->Args({3, 1, 0})
    ->Args({3, 6, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The codec alone on one core: the blocks of the source's first 64 MiB (the source repeats
// every 8 MiB) compressed from memory, as the writer's workers do.
void BM_CodecAlone(benchmark::State& state) {
    auto type = static_cast<CompressionType>(state.range(0));
    int level = static_cast<int>(state.range(1));
    const std::size_t bytes = 64u << 20;
    std::vector<std::uint8_t> data(bytes);
    FILE* f = std::fopen(SourceFile().c_str(), "rb");
    if (!f || std::fread(data.data(), 1, bytes, f) != bytes) {
        if (f)
            std::fclose(f);
        state.SkipWithError("source not read");
        return;
    }
    std::fclose(f);
    std::unique_ptr<ICompressor> codec(CreateCompressor(type));
    std::vector<std::uint8_t> out(kImageStoredBlockCapacity);
    std::uint64_t stored = 0;
    for (auto _ : state) {
        for (std::size_t at = 0; at < bytes; at += kImageBlockBytes)
            stored += CompressWithCodec(codec.get(), level, 8u << 20, data.data() + at,
                                        kImageBlockBytes, out.data(), kImageStoredBlockCapacity);
    }
    benchmark::DoNotOptimize(stored);
    SetRate(state, bytes);
}
BENCHMARK(BM_CodecAlone)
    ->ArgNames({"type", "level"})
    ->Args({2, 1})
    ->Args({2, 5})
    ->Args({2, 9})
    ->Args({1, 1})
    ->Args({3, 1})
    ->Args({3, 6})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// The established parallel compressors on the same 1 GiB file, output discarded (or, with
// `output`, written to that file beside the images, as the writer writes its slices).
void RunTool(benchmark::State& state, const char* tool, const std::string& arguments,
             const std::string& output = "/dev/null") {
    std::string probe = std::string("command -v ") + tool + " >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0) {
        state.SkipWithError("tool not installed");
        return;
    }
    std::string command = std::string(tool) + " " + arguments + " < '" + SourceFile() + "' > '" + output + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("tool failed");
            return;
        }
    }
    SetRate(state, kSourceBytes);
}
void BM_Pigz(benchmark::State& state) {
    RunTool(state, "pigz", "-c -" + std::to_string(state.range(0)));
}
BENCHMARK(BM_Pigz)->ArgName("level")->Arg(1)->Arg(5)->Arg(9)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
void BM_PigzToFile(benchmark::State& state) {
    RunTool(state, "pigz", "-c -" + std::to_string(state.range(0)), WorkDir() + "/pigz.gz");
    std::remove((WorkDir() + "/pigz.gz").c_str());
}
BENCHMARK(BM_PigzToFile)->ArgName("level")->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
void BM_XzAllCores(benchmark::State& state) {
    RunTool(state, "xz", "-c -T0 -" + std::to_string(state.range(0)));
}
BENCHMARK(BM_XzAllCores)->ArgName("level")->Arg(1)->Arg(6)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The image of the source that the read benches read, made once per build tree; "" when it
// cannot be written.
std::string ReadImagePath(CompressionType type, int level) {
    std::string path = WorkDir() + "/read-" + std::to_string(type) + "-" + std::to_string(level) + ".edi";
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 && !MakeImage(path, type, level))
        return "";
    return path;
}

// Sequential reads of an image of the same source. Arguments: codec, level, sectors per read,
// decoding workers ahead of the reads (-1: the default, one per core but one, at most 4; 0: none,
// every block decoded by the reading thread).
void BM_ImageRead(benchmark::State& state) {
    auto type = static_cast<CompressionType>(state.range(0));
    int level = static_cast<int>(state.range(1));
    const std::uint64_t chunk = static_cast<std::uint64_t>(state.range(2));
    const int workers = static_cast<int>(state.range(3));
    const std::string path = ReadImagePath(type, level);
    if (path.empty()) {
        state.SkipWithError("image not written");
        return;
    }
    CImageFileDeviceWithDecompress image(path.c_str());
    if (!image.CheckSliceFiles()) {
        state.SkipWithError("image does not open");
        return;
    }
    if (workers >= 0)
        image.SetReadAheadWorkers(static_cast<unsigned>(workers));
    const std::uint64_t sectors = image.GetSectorCount();
    std::vector<std::uint8_t> buf(chunk * kSectorSize);
    for (auto _ : state) {
        for (std::uint64_t s = 0; s < sectors; s += chunk) {
            std::uint64_t n = std::min(chunk, sectors - s);
            benchmark::DoNotOptimize(image.ReadSectors(buf.data(), s, n));
        }
    }
    SetRate(state, sectors * kSectorSize);
    state.counters["blocks ahead"] = static_cast<double>(image.GetBlocksDecodedAhead());
}
BENCHMARK(BM_ImageRead)
    ->ArgNames({"type", "level", "sectors", "ahead"})
    ->Args({0, -1, 1, -1})
    ->Args({0, -1, 1000, -1})
    ->Args({0, -1, 1000, 0})
    ->Args({2, 5, 1, -1})
    ->Args({2, 5, 1000, -1})
    ->Args({2, 5, 1000, 0})
    ->Args({2, 1, 1000, -1})
    ->Args({2, 1, 1000, 0})
    ->Args({1, 1, 1000, -1})
    ->Args({1, 1, 1000, 0})
    ->Args({3, 1, 1000, -1})
    ->Args({3, 1, 1000, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Baseline for the reads: the source file itself, 1000 sectors at a time.
void BM_PlainRead(benchmark::State& state) {
    CImageFileDevice source(SourceFile().c_str());
    const std::uint64_t sectors = source.GetSectorCount();
    std::vector<std::uint8_t> buf(1000 * kSectorSize);
    for (auto _ : state) {
        for (std::uint64_t s = 0; s < sectors; s += 1000)
            benchmark::DoNotOptimize(source.ReadSectors(buf.data(), s, std::min<std::uint64_t>(1000, sectors - s)));
    }
    SetRate(state, sectors * kSectorSize);
}
BENCHMARK(BM_PlainRead)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Baseline for the stored image: `cat` of its slice files, output discarded. The rate counts
// the imaged bytes, as the image reads do.
void BM_CatStoredImage(benchmark::State& state) {
    const std::string path = ReadImagePath(COMPRESSION_NONE, -1);
    if (path.empty()) {
        state.SkipWithError("image not written");
        return;
    }
    std::string command = "cat";
    for (unsigned slice = 0;; ++slice) {
        const std::string name = ImageSlicePath(path, slice);
        if (!std::filesystem::exists(name))
            break;
        command += " '" + name + "'";
    }
    command += " > /dev/null";
    CImageFileDeviceWithDecompress image(path.c_str());
    const std::uint64_t sectors = image.GetSectorCount();
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("cat failed");
            return;
        }
    }
    SetRate(state, sectors * kSectorSize);
}
BENCHMARK(BM_CatStoredImage)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
