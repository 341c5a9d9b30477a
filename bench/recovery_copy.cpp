// File recovery throughput: copying a 1 GiB contiguous file from an image file to the target
// through the recovery engine, beside `dd bs=64K` of the same bytes (run after one another, and
// interleaved round by round); and the LZNT1 decoding rate on compressible text and on stored
// chunks. Figures are in bytes per second. The source is flushed and read once before anything
// is timed, and each copy runs several times, so both sides read a warm source.
#include "recovery/FileRecovery.h"
#include "recovery/Lznt1.h"
#include "storage/ImageFileDevice.h"
#include "tests/recovery/FakeTree.h"
#include "tests/recovery/Lznt1TestCompressor.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kFileBytes = 1ull << 30;

std::string WorkDir() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    std::filesystem::create_directories(dir);
    return dir;
}

// A 1 GiB image filled with non-zero bytes (made once).
const std::string& ImagePath() {
    static const std::string path = [] {
        const std::string p = WorkDir() + "/recovery-1g.img";
        std::error_code ec;
        if (std::filesystem::file_size(p, ec) != kFileBytes) {
            std::ofstream out(p, std::ios::binary | std::ios::trunc);
            std::vector<char> block(1 << 20);
            std::uint32_t x = 12345;
            for (char& c : block) {
                x = x * 1103515245u + 12345u;
                c = static_cast<char>(x >> 16);
            }
            for (std::uint64_t i = 0; i < kFileBytes / block.size(); ++i)
                out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
        // Flush a freshly written source and read it once, so no copy is timed while the
        // kernel is still writing it back or reading it in.
        int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            std::vector<char> buf(1 << 20);
            while (::read(fd, buf.data(), buf.size()) > 0) {
            }
            ::close(fd);
        }
        return p;
    }();
    return path;
}

void SetRate(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
    state.counters["MB/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kFileBytes) / 1e6, benchmark::Counter::kIsRate);
}

void RecoverContiguousFile(benchmark::State& state) {
    CImageFileDevice device(ImagePath().c_str());
    testsupport::TreePtr root = testsupport::MakeRoot(0, 8);
    testsupport::FileRecipe recipe{"big.bin", kFileBytes, {{0, static_cast<std::int64_t>(kFileBytes / 4096)}}};
    CFileNode* node = testsupport::AddFile(root.get(), recipe);
    const std::string target = WorkDir() + "/recovered.bin";
    for (auto _ : state) {
        RecoveryContext context;
        context.device = &device;
        if (RecoverFileData(context, node, target) != kRecoverDone)
            state.SkipWithError("recovery failed");
    }
    std::remove(target.c_str());
    SetRate(state);
}
BENCHMARK(RecoverContiguousFile)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void DdSameBytes(benchmark::State& state) {
    ImagePath();
    const std::string target = WorkDir() + "/dd.bin";
    const std::string command = "dd if='" + ImagePath() + "' of='" + target + "' bs=64K status=none";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("dd failed");
    }
    std::remove(target.c_str());
    SetRate(state);
}
BENCHMARK(DdSameBytes)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// User and system time of this thread (RUSAGE_THREAD) or of the waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The recovery copy and `dd bs=64K` of the same bytes one after the other in every round, so
// both meet the same load on a shared machine; the best round of each and their ratio are
// reported (the time is the recovery's), and beside them the processor time each copy took
// (user and system, the copies' own work, which the load of other programs changes less than
// their elapsed time). Each starts with the other's target removed, so neither pays for
// writing back the other's pages.
void RecoveryBesideDd(benchmark::State& state) {
    CImageFileDevice device(ImagePath().c_str());
    testsupport::TreePtr root = testsupport::MakeRoot(0, 8);
    testsupport::FileRecipe recipe{
        "big.bin", kFileBytes, {{0, static_cast<std::int64_t>(kFileBytes / 4096)}}};
    CFileNode* node = testsupport::AddFile(root.get(), recipe);
    // Arg 0: targets in the build folder (on disk); 1: in memory (/dev/shm), where only the
    // copies' own cost is measured, not the disk's write-back shared with other programs.
    std::string dir = WorkDir();
    if (state.range(0) == 1) {
        dir = "/dev/shm/brulin-bench-" + std::to_string(::getpid());
        std::error_code ec;
        if (!std::filesystem::create_directories(dir, ec)) {
            state.SkipWithError("no /dev/shm");
            return;
        }
    }
    const std::string target = dir + "/recovered.bin", ddTarget = dir + "/dd.bin";
    const std::string command =
        "dd if='" + ImagePath() + "' of='" + ddTarget + "' bs=64K status=none";
    using Clock = std::chrono::steady_clock;
    double bestRecovery = 0, bestDd = 0, bestRecoveryCpu = 0, bestDdCpu = 0;
    // Each copy starts with no dirty page of the other's target left to write back.
    const auto clear = [&] {
        std::remove(target.c_str());
        std::remove(ddTarget.c_str());
    };
    for (auto _ : state) {
        clear();
        const double cpuBefore = CpuSeconds(RUSAGE_THREAD);
        const auto began = Clock::now();
        RecoveryContext context;
        context.device = &device;
        if (RecoverFileData(context, node, target) != kRecoverDone)
            state.SkipWithError("recovery failed");
        const auto copied = Clock::now();
        const double recoveryCpu = CpuSeconds(RUSAGE_THREAD) - cpuBefore;
        clear();
        const double childrenBefore = CpuSeconds(RUSAGE_CHILDREN);
        const auto ddBegan = Clock::now();
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("dd failed");
        const auto ended = Clock::now();
        const double ddCpu = CpuSeconds(RUSAGE_CHILDREN) - childrenBefore;
        bestRecoveryCpu = std::max(bestRecoveryCpu, kFileBytes / recoveryCpu / 1e6);
        bestDdCpu = std::max(bestDdCpu, kFileBytes / ddCpu / 1e6);
        const double recovery = std::chrono::duration<double>(copied - began).count();
        const double dd = std::chrono::duration<double>(ended - ddBegan).count();
        bestRecovery = std::max(bestRecovery, kFileBytes / recovery / 1e6);
        bestDd = std::max(bestDd, kFileBytes / dd / 1e6);
        state.SetIterationTime(recovery);
    }
    clear();
    if (state.range(0) == 1)
        std::filesystem::remove(dir);
    state.counters["recovery MB/s"] = bestRecovery;
    state.counters["dd MB/s"] = bestDd;
    state.counters["of dd"] = bestDd > 0 ? bestRecovery / bestDd : 0;
    state.counters["recovery CPU MB/s"] = bestRecoveryCpu;
    state.counters["dd CPU MB/s"] = bestDdCpu;
    state.counters["CPU of dd"] = bestDdCpu > 0 ? bestRecoveryCpu / bestDdCpu : 0;
}
BENCHMARK(RecoveryBesideDd)->Arg(0)->Arg(1)->Iterations(6)->Unit(benchmark::kMillisecond)->UseManualTime();

// 4 MiB of input as chunks; arg 0: compressible text, 1: random bytes (stored chunks).
void Lznt1Decode(benchmark::State& state) {
    std::vector<std::uint8_t> plain(4 << 20);
    if (state.range(0) == 0) {
        std::string text;
        while (text.size() < plain.size())
            text += "decoding rate of line " + std::to_string(text.size() % 1009) + " in a text file\n";
        std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(plain.size()), plain.begin());
    } else {
        std::uint32_t x = 7;
        for (auto& b : plain) {
            x = x * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>(x >> 16);
        }
    }
    const std::vector<std::uint8_t> packed = testsupport::Lznt1Compress(plain);
    std::vector<std::uint8_t> out(kLznt1ChunkSize);
    for (auto _ : state) {
        std::size_t at = 0, decoded = 0;
        while (at < packed.size()) {
            std::size_t used = 0;
            decoded += DecompressLznt1Chunk(packed.data() + at, packed.size() - at, out.data(), &used);
            at += used;
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plain.size()));
    state.counters["ratio"] = static_cast<double>(packed.size()) / static_cast<double>(plain.size());
}
BENCHMARK(Lznt1Decode)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();
