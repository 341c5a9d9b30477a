// Carving rate: the RAW search over a generated 1 GiB image (pseudo-random sectors, zero runs
// and a planted PNG every MiB), chunk by chunk as the deep scan feeds it, beside a plain
// sequential read of the same image in the same chunks. Rates are "MB/s" (10^6 bytes/s).
#include "carving/RAWSearchController.h"
#include "filesystems/FileProperties.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::uint64_t kImageBytes = 1ull << 30;
constexpr std::uint32_t kStep = 1000;

void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// A PNG-shaped file of `size` bytes: signature, IHDR, IDAT chunks of 64 KiB over the existing
// (random) bytes, IEND.
void PlantPng(std::uint8_t* p, std::uint32_t size) {
    static const std::uint8_t sig[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    std::memcpy(p, sig, 8);
    PutBe32(p + 8, 13);
    std::memcpy(p + 12, "IHDR", 4);
    PutBe32(p + 16, 640);
    PutBe32(p + 20, 480);
    std::uint32_t at = 33;
    while (at + 12 + 12 < size) {
        std::uint32_t n = size - at - 24;
        if (n > 65536)
            n = 65536;
        PutBe32(p + at, n);
        std::memcpy(p + at + 4, "IDAT", 4);
        at += n + 12;
    }
    PutBe32(p + at, 0);
    std::memcpy(p + at + 4, "IEND", 4);
}

std::string ImagePath() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work/raw-carve";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/image-1GiB.bin";
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && static_cast<std::uint64_t>(st.st_size) == kImageBytes)
        return path;
    std::FILE* f = std::fopen((path + ".tmp").c_str(), "wb");
    if (!f)
        return "";
    const std::size_t chunk = 8u << 20;
    std::vector<std::uint8_t> buf(chunk);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t done = 0; done < kImageBytes; done += chunk) {
        for (std::size_t i = 0; i < chunk; i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(&buf[i], &x, 8);
        }
        // A zero run of 1 MiB in every 8 MiB, and a PNG of 100 to 400 KiB at each other MiB.
        std::memset(buf.data() + (3u << 20), 0, 1u << 20);
        for (std::size_t mib = 0; mib < 8; ++mib)
            if (mib != 3)
                PlantPng(buf.data() + (mib << 20) + 512 * (mib + 1),
                         static_cast<std::uint32_t>((100u + 40 * mib) << 10));
        if (std::fwrite(buf.data(), 1, chunk, f) != chunk) {
            std::fclose(f);
            return "";
        }
    }
    std::fclose(f);
    std::filesystem::rename(path + ".tmp", path);
    return path;
}

void Report(benchmark::State& state) {
    const double bytes = static_cast<double>(state.iterations()) * kImageBytes;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["MB/s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_PlainRead(benchmark::State& state) {
    const std::string path = ImagePath();
    CImageFileDevice device(path.c_str());
    if (path.empty() || !device.Open()) {
        state.SkipWithError("no image");
        return;
    }
    std::vector<std::uint8_t> buf(kStep * kSectorSize);
    const std::uint64_t sectors = device.GetSectorCount();
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (std::uint64_t s = 0; s < sectors; s += kStep) {
            device.ReadSectors(buf.data(), s, std::min<std::uint64_t>(kStep, sectors - s));
            sum += buf[0];
        }
        benchmark::DoNotOptimize(sum);
    }
    Report(state);
}

// The same read into the slots of a ring of 21 chunks, as the search keeps them: the memory
// traffic that carving cannot avoid, without any analysis.
void BM_ReadIntoRing(benchmark::State& state) {
    const std::string path = ImagePath();
    CImageFileDevice device(path.c_str());
    if (path.empty() || !device.Open()) {
        state.SkipWithError("no image");
        return;
    }
    CBufferStorageDevice ring;
    const std::uint64_t sectors = device.GetSectorCount();
    for (auto _ : state) {
        ring.Setup(0, kStep, kRawRingChunks);
        std::uint64_t sum = 0;
        for (std::uint64_t s = 0; s < sectors; s += kStep) {
            std::uint8_t* slot = ring.GetIncomingSlot();
            device.ReadSectors(slot, s, std::min<std::uint64_t>(kStep, sectors - s));
            sum += slot[0];
            ring.CommitIncoming();
        }
        benchmark::DoNotOptimize(sum);
    }
    Report(state);
}

void BM_RawCarve(benchmark::State& state) {
    const std::string path = ImagePath();
    CImageFileDevice device(path.c_str());
    if (path.empty() || !device.Open()) {
        state.SkipWithError("no image");
        return;
    }
    GetScanOptions().SetDefaults(); // every built-in type
    const std::uint64_t sectors = device.GetSectorCount();
    std::size_t found = 0, sized = 0;
    // One controller for every run: a deep scan allocates its ring once per search, and the
    // steady state over a whole device is what is measured (a search's setup is a one-off).
    CRAWSearchController controller;
    controller.SetDevice(&device);
    controller.SetSectorsPerStep(kStep);
    for (auto _ : state) {
        CRawFileList list;
        controller.SetResultSink(&list);
        controller.BeginSearch();
        IntelligentSearchStats stats;
        for (std::uint64_t s = 0; s < sectors; s += kStep)
            controller.AnalyzeSectors(s, std::min<std::uint64_t>(kStep, sectors - s), &stats);
        controller.EndSearch();
        found = list.Size();
        sized = 0;
        for (const CRawFileInfo* r : list.Records())
            sized += r->m_u64Size != 0;
    }
    Report(state);
    state.counters["files"] = static_cast<double>(found);
    state.counters["sized"] = static_cast<double>(sized);
}

} // namespace

BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadIntoRing)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RawCarve)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
