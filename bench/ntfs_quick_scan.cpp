// Times the NTFS quick scan of volumes holding 10,000, 100,000 and 200,000 files (10 folders of
// a tenth each) and prints the peak memory the scan needs per file. The images are made on first
// run under <build>/bench-work with mkntfs and the ntfs_edit test helper (from this build folder,
// or from build/ beside it when this build has no tests).
//
// Peak memory is the rise of the process's resident high-water mark over the scan: freed heap and
// free tree chunks are handed back first (malloc_trim, CTreeArena::TrimCache) and the high-water
// mark reset (/proc/self/clear_refs), so each figure is what one scan holds at its worst, tree
// included, allocator overhead included. The plain read of the same MFT bytes is printed beside
// it as the baseline of the time.
#include "bench/PeakMemory.h"
#include "bench/NtfsEditTool.h"
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sys/resource.h>
#include <string>
#include <vector>

namespace {

constexpr int kFolders = 10;

// User and system CPU seconds of this process (RUSAGE_SELF: every thread) or of its ended
// children (RUSAGE_CHILDREN). On a busy machine the CPU time of a scan varies far less than
// its wall time.
double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string MakeImage(int files) {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string name = "ntfs-" + std::to_string(files / 1000) + "k";
    const std::string image = dir + "/" + name + ".img";
    if (std::filesystem::exists(image))
        return image;
    const std::string tool = NtfsEditTool();
    if (tool.empty())
        return "";
    std::filesystem::create_directories(dir);
    const std::string tmp = image + ".tmp";
    const std::string commands = dir + "/" + name + ".commands";
    {
        std::ofstream out(commands);
        for (int d = 0; d < kFolders; ++d)
            out << "mkdir /d" << d << "\n";
        for (int d = 0; d < kFolders; ++d)
            out << "fill /d" << d << " " << files / kFolders << " 64 " << d << "\n";
    }
    const std::string size = files > 100000 ? "1G" : "512M";
    const std::string cmd = "rm -f '" + tmp + "' && truncate -s " + size + " '" + tmp + "' && mkntfs -F -Q -q -c 4096 '" +
                            tmp + "' >/dev/null 2>&1 && '" + tool + "' '" + tmp + "' < '" + commands + "' && mv '" +
                            tmp + "' '" + image + "'";
    if (std::system(cmd.c_str()) != 0)
        return "";
    return image;
}

std::size_t CountNodes(CFileNode* root) {
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root, nodes);
    return nodes.size();
}

using benchsupport::ResetPeak;
using benchsupport::StatusBytes;

void BM_NtfsQuickScan(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string image = MakeImage(files);
    if (image.empty()) {
        state.SkipWithError("could not make the image (mkntfs, ntfs_edit)");
        return;
    }
    CImageFileDevice device(image.c_str());
    std::size_t records = 0;
    double peakPerFile = 0;
    double cpu = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ResetPeak();
        const std::uint64_t before = StatusBytes("VmRSS");
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        state.ResumeTiming();
        NtfsTreeBuildParams params;
        InitNtfsTreeBuildParams(&params);
        CNullDirBuildCallback callback;
        FileTreePtr root = BuildNtfsFileTree(&device, &params, &callback);
        if (!root) {
            state.SkipWithError("quick scan found nothing");
            return;
        }
        state.PauseTiming();
        cpu += CpuSeconds(RUSAGE_SELF) - cpuBefore;
        const std::uint64_t peak = StatusBytes("VmHWM");
        records = CountNodes(root.get()) - 1;
        if (records)
            peakPerFile = static_cast<double>(peak > before ? peak - before : 0) / static_cast<double>(records);
        root.reset();
        state.ResumeTiming();
    }
    state.counters["files"] = static_cast<double>(records);
    state.counters["peak_bytes/file"] = peakPerFile;
    state.counters["cpu_ms"] = 1000 * cpu / static_cast<double>(state.iterations());
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(records) * state.iterations(), benchmark::Counter::kIsRate);
}

// Baseline: reading every sector the scan reads (the MFT, 128 sectors a call) and nothing else.
void BM_NtfsMftPlainRead(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string image = MakeImage(files);
    if (image.empty()) {
        state.SkipWithError("could not make the image (mkntfs, ntfs_edit)");
        return;
    }
    CImageFileDevice device(image.c_str());
    CNTFSDBR boot;
    NtfsMftInfo mft;
    if (!ReadNtfsBootSector(device, 0, boot) || !ReadMftDataRuns(&device, boot, 0, &mft)) {
        state.SkipWithError("no MFT");
        return;
    }
    const std::uint32_t spc = boot.GetSectorsPerCluster();
    std::vector<std::uint8_t> buf(128 * kSectorSize);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& e : mft.extents) {
            if (e.lcn < 0)
                continue;
            const std::uint64_t first = static_cast<std::uint64_t>(e.lcn) * spc;
            const std::uint64_t count = e.count * spc;
            for (std::uint64_t at = 0; at < count; at += 128) {
                const std::uint64_t n = std::min<std::uint64_t>(128, count - at);
                benchmark::DoNotOptimize(device.ReadSectors(buf.data(), first + at, n));
                bytes += n * kSectorSize;
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}

// Baseline: the established listing tool, sleuthkit's `fls -r -p`, listing every file of the
// same image, its output thrown away (the process start is included, and is small beside the
// listing); skipped when fls is not installed. "cpu_ms" here and in the scan is the CPU time
// (every thread, or the child processes) of one scan or listing, which a busy machine disturbs
// far less than the wall time.
void BM_FlsRecursiveList(benchmark::State& state) {
    if (std::system("command -v fls >/dev/null 2>&1") != 0) {
        state.SkipWithError("fls is not installed (Debian package sleuthkit)");
        return;
    }
    const int files = static_cast<int>(state.range(0));
    const std::string image = MakeImage(files);
    if (image.empty()) {
        state.SkipWithError("could not make the image (mkntfs, ntfs_edit)");
        return;
    }
    const std::string cmd = "fls -r -p -f ntfs '" + image + "' >/dev/null 2>&1";
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("fls failed");
            return;
        }
    }
    state.counters["cpu_ms"] = 1000 * (CpuSeconds(RUSAGE_CHILDREN) - cpuBefore) / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_NtfsQuickScan)->ArgName("files")->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_NtfsMftPlainRead)->ArgName("files")->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FlsRecursiveList)->ArgName("files")->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK_MAIN();
