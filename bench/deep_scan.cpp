// A whole deep scan of a generated 2 GiB disk image that holds an NTFS volume (with 200 files)
// and a FAT volume, beside a plain sequential read of the same image in windows of the same
// size. Two images: a sparse one, whose free space is zeros but for 512 MiB of random bytes
// with a PNG every 10 MiB, and a dense one, whose free space is random bytes throughout (as on
// a disk that has been used), with the same PNGs. Figures are in bytes per second of the device.
//
//   PlainSequentialRead/<dense>   pread of the image, 1000 sectors at a time
//   DeepScan/<dense>/<readAhead>/<concurrent>/<carve>
//       the intelligent search with the NTFS and FAT controllers, and the RAW carver beside
//       them, with or without the read-ahead loader and concurrent controllers
#include "carving/IntelligentSearch.h"
#include "carving/RAWSearchController.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/fat/FatSearchController.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "platform/File.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kImageBytes = 2ull << 30;
constexpr std::uint64_t kNtfsAt = 1ull << 20;   // 256 MiB NTFS volume
constexpr std::uint64_t kFatAt = 600ull << 20;  // 128 MiB FAT32 volume
constexpr std::uint64_t kRandomAt = 1ull << 30; // 512 MiB of random bytes
constexpr std::uint64_t kRandomBytes = 512ull << 20;
constexpr std::uint64_t kWindowSectors = 1000;

bool Sh(const std::string& cmd) {
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", cmd.c_str());
        return false;
    }
    return true;
}

// Copies `path` into the image at `offset`, leaving its holes as holes (or writing its zeros
// over what is there, with `dense`).
bool Place(int fd, const std::string& path, std::uint64_t offset, bool dense) {
    platform::FileHandle in = platform::OpenReadOnly(path);
    std::vector<std::uint8_t> buf(1 << 20);
    std::vector<std::uint8_t> zero(buf.size(), 0);
    for (std::uint64_t off = 0;; off += buf.size()) {
        const auto n = platform::ReadAt(in.Get(), buf.data(), buf.size(), off);
        if (n <= 0)
            return true;
        if (!dense && std::memcmp(buf.data(), zero.data(), static_cast<std::size_t>(n)) == 0)
            continue;
        if (::pwrite(fd, buf.data(), static_cast<std::size_t>(n),
                     static_cast<off_t>(offset + off)) != n)
            return false;
    }
}

std::string MakeImage(bool dense);

// The image, read before each figure so that every figure starts from the same page cache
// (both images do not always fit in it together).
const std::string& ImagePath(bool dense) {
    static const std::string sparsePath = MakeImage(false);
    static const std::string densePath = MakeImage(true);
    const std::string& p = dense ? densePath : sparsePath;
    platform::FileHandle f = platform::OpenReadOnly(p);
    std::vector<std::uint8_t> buf(1 << 20);
    for (std::uint64_t off = 0; off < kImageBytes; off += buf.size())
        platform::ReadAt(f.Get(), buf.data(), buf.size(), off);
    return p;
}

// Random bytes over [offset, offset + bytes) of the image.
bool FillRandom(int fd, std::mt19937_64& rng, std::uint64_t offset, std::uint64_t bytes) {
    std::vector<std::uint64_t> block(1 << 17);
    for (std::uint64_t off = 0; off < bytes; off += block.size() * 8) {
        for (auto& w : block)
            w = rng();
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size() * 8, bytes - off));
        if (::pwrite(fd, block.data(), n, static_cast<off_t>(offset + off)) !=
            static_cast<ssize_t>(n))
            return false;
    }
    return true;
}

std::string MakeImage(bool dense) {
    return [dense] {
        const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
        std::filesystem::create_directories(dir);
        const std::string p = dir + (dense ? "/deep-scan-2g-dense.img" : "/deep-scan-2g-v2.img");
        if (std::filesystem::exists(p) && std::filesystem::file_size(p) == kImageBytes)
            return p;
        const std::string ntfs = dir + "/deep-scan-ntfs.img", fat = dir + "/deep-scan-fat.img";
        const std::string files = dir + "/deep-scan-files";
        std::filesystem::create_directories(files);
        std::mt19937_64 rng(42);
        for (int i = 0; i < 200; ++i) {
            std::vector<std::uint64_t> words(2048 + 512 * (i % 13));
            for (auto& w : words)
                w = rng();
            FILE* f = std::fopen((files + "/file" + std::to_string(i) + ".bin").c_str(), "wb");
            std::fwrite(words.data(), 8, words.size(), f);
            std::fclose(f);
        }
        bool ok =
            Sh("rm -f '" + ntfs + "' '" + fat + "' && truncate -s 256M '" + ntfs +
               "' && mkntfs -F -Q -q -p " + std::to_string(kNtfsAt / 512) + " '" + ntfs +
               "' >/dev/null 2>&1") &&
            Sh("truncate -s 128M '" + fat + "' && mkfs.fat -F 32 '" + fat + "' >/dev/null") &&
            Sh("for f in '" + files + "'/*.bin; do ntfscp -q '" + ntfs +
               "' \"$f\" \"/$(basename \"$f\")\" >/dev/null 2>&1 || exit 1; done") &&
            Sh("MTOOLS_SKIP_CHECK=1 mcopy -i '" + fat + "' '" + files + "'/file1*.bin ::/ >/dev/null");
        const std::string tmp = p + ".tmp";
        int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ok = ok && fd >= 0 && ::ftruncate(fd, static_cast<off_t>(kImageBytes)) == 0;
        if (dense)
            ok = ok && FillRandom(fd, rng, 0, kImageBytes);
        else
            ok = ok && FillRandom(fd, rng, kRandomAt, kRandomBytes);
        ok = ok && Place(fd, ntfs, kNtfsAt, dense) && Place(fd, fat, kFatAt, dense);
        // Pictures for the carver: small PNGs at every 10 MiB of the random space.
        for (std::uint64_t off = 0; ok && off < kRandomBytes; off += 10ull << 20) {
            std::vector<std::uint8_t> png = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
            auto chunk = [&](const char* type, std::uint32_t n) {
                for (int i = 3; i >= 0; --i)
                    png.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
                png.insert(png.end(), type, type + 4);
                for (std::uint32_t i = 0; i < n; ++i)
                    png.push_back(static_cast<std::uint8_t>(rng()));
                png.insert(png.end(), {0, 0, 0, 0});
            };
            chunk("IHDR", 13);
            png[19] = 16, png[23] = 16; // 16 x 16
            chunk("IDAT", 20000);
            chunk("IEND", 0);
            ok = ::pwrite(fd, png.data(), png.size(), static_cast<off_t>(kRandomAt + off)) ==
                 static_cast<ssize_t>(png.size());
        }
        if (fd >= 0)
            ::close(fd);
        if (!ok || std::rename(tmp.c_str(), p.c_str()) != 0) {
            std::fprintf(stderr, "could not make %s\n", p.c_str());
            std::exit(1);
        }
        return p;
    }();
}

void PlainSequentialRead(benchmark::State& state) {
    platform::FileHandle f = platform::OpenReadOnly(ImagePath(state.range(0) != 0));
    std::vector<std::uint8_t> buf(kWindowSectors * 512);
    for (auto _ : state) {
        for (std::uint64_t off = 0; off < kImageBytes; off += buf.size()) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), kImageBytes - off));
            benchmark::DoNotOptimize(platform::ReadAt(f.Get(), buf.data(), n, off));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
BENCHMARK(PlainSequentialRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void DeepScan(benchmark::State& state) {
    const bool readAhead = state.range(1) != 0;
    const bool concurrent = state.range(2) != 0;
    const bool carve = state.range(3) != 0;
    CImageFileDevice image(ImagePath(state.range(0) != 0).c_str());
    std::size_t found = 0, carved = 0;
    for (auto _ : state) {
        CNTFSSearchController ntfs;
        CFATSearchController fat;
        CRAWSearchController raw;
        CRawFileList files;
        CIntelligentSearchController search;
        search.SetDevice(&image);
        search.SetReadAhead(readAhead);
        search.SetConcurrentControllers(concurrent);
        search.AddController(&ntfs);
        search.AddController(&fat);
        if (carve)
            search.AddController(&raw);
        SetControllersResultSink(search.Controllers(), &files);
        search.Search(nullptr);
        std::vector<CSearchedPartitionInfo*> list;
        ntfs.CollectSearchedPartitions(list);
        fat.CollectSearchedPartitions(list);
        found = list.size();
        carved = files.Size();
        for (auto* r : list)
            delete r;
    }
    state.counters["partitions"] = static_cast<double>(found);
    state.counters["carved"] = static_cast<double>(carved);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageBytes));
}
// Arguments: dense image, read-ahead, concurrent controllers, the carver beside the file-system
// controllers.
BENCHMARK(DeepScan)
    ->Args({0, 0, 0, 0})
    ->Args({0, 1, 0, 0})
    ->Args({0, 0, 0, 1})
    ->Args({0, 1, 0, 1})
    ->Args({0, 1, 1, 1})
    ->Args({1, 0, 0, 1})
    ->Args({1, 1, 0, 1})
    ->Args({1, 1, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
