// Byte-wise end scans of the image and drawing analysers over 16 MiB files held in memory: the
// JPEG search for its end marker, the R2004 drawing's sentinel search and the camera-record
// search of CRW files, each beside the plain baseline of reading the same bytes in the reader's
// 512 KiB blocks and finding one byte value in them (memchr). Rates are bytes per second.
#include "carving/analysers/FileCRWAnalyser.h"
#include "carving/analysers/FileDWGAnalyser.h"
#include "carving/analysers/FileJPGAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kFileBytes = 16u << 20;

class BenchDevice : public IStorageDevice {
public:
    explicit BenchDevice(std::vector<std::uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (first > GetSectorCount() || count > GetSectorCount() - first)
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * kSectorSize, count * kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return m_bytes.size() / kSectorSize; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Bytes without FF (as entropy-coded data reads) and with few 'H' or 'h'.
std::vector<std::uint8_t> Body(std::size_t n) {
    std::vector<std::uint8_t> b(n);
    std::uint32_t x = 12345;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<std::uint8_t>((x >> 16) % 0xF0);
    }
    return b;
}

BenchDevice& JpegDevice() {
    static BenchDevice dev = [] {
        std::vector<std::uint8_t> b = Body(kFileBytes + 4096);
        const std::uint8_t head[] = {
            0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x00, 0x00,                         // DQT
            0xFF, 0xC0, 0x00, 0x11, 0x08, 0x10, 0x00, 0x10, 0x00, 0x03, 1, 0x11, 0, // SOF0 4096x4096
            2,    0x11, 0,    3,    0x11, 0,                                        //
            0xFF, 0xDA, 0x00, 0x0C, 0x03, 1, 0, 2, 0, 3, 0, 0, 0x3F, 0};            // SOS
        std::memcpy(b.data(), head, sizeof(head));
        b[kFileBytes - 2] = 0xFF;
        b[kFileBytes - 1] = 0xD9;
        return BenchDevice(std::move(b));
    }();
    return dev;
}

BenchDevice& DwgDevice() {
    static BenchDevice dev = [] {
        static const std::uint8_t sentinel[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF,
                                                  0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
        std::vector<std::uint8_t> b = Body(kFileBytes + 4096);
        std::memcpy(b.data(), "AC1018\0\0", 8);
        std::memcpy(b.data() + 128, sentinel, 16);
        std::memcpy(b.data() + kFileBytes - 108, sentinel, 16);
        return BenchDevice(std::move(b));
    }();
    return dev;
}

BenchDevice& CrwDevice() {
    static BenchDevice dev = [] {
        std::vector<std::uint8_t> b = Body(kFileBytes + 4096);
        const std::uint8_t sig[16] = {0x49, 0x49, 0x1A, 0, 0, 0, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R', 2, 0};
        std::memcpy(b.data(), sig, 16);
        char* r = reinterpret_cast<char*>(b.data() + kFileBytes - 512);
        std::memcpy(r, "High definition CCD image", 25);
        std::memcpy(r + 32, "CRW:High definition CCD image", 29);
        std::memcpy(r + 122, "Canon", 5);
        std::memcpy(r + 128, "Canon PowerShot", 15);
        return BenchDevice(std::move(b));
    }();
    return dev;
}

template <typename Analyser> void SizeWith(benchmark::State& state, BenchDevice& dev) {
    GetScanOptions().MaxRawFileSize = 50000000;
    Analyser a;
    for (auto _ : state) {
        CRawFileInfo r;
        a.ComputeFileSize(&r, &dev);
        if (r.m_u64Size + 4096 < kFileBytes)
            state.SkipWithError("wrong size");
        benchmark::DoNotOptimize(r.m_u64Size);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

void BM_JpegEndScan(benchmark::State& s) { SizeWith<FileJPGAnalyser>(s, JpegDevice()); }
void BM_DwgSentinelSearch(benchmark::State& s) { SizeWith<FileDWGAnalyser>(s, DwgDevice()); }
void BM_CrwRecordSearch(benchmark::State& s) { SizeWith<FileCRWAnalyser>(s, CrwDevice()); }

// Baseline: the same bytes through the reader's blocks, one memchr per block.
void BM_BaselineBlockReadAndMemchr(benchmark::State& state) {
    BenchDevice& dev = JpegDevice();
    for (auto _ : state) {
        RawFileReader reader(&dev, 0);
        std::size_t hits = 0;
        for (std::uint64_t at = 0; at < kFileBytes; at += kRawReaderBlockBytes) {
            ByteSpan s = reader.Read(at);
            hits += std::memchr(s.data(), 0xFF, std::min<std::size_t>(s.size(), kRawReaderBlockBytes)) != nullptr;
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileBytes));
}

} // namespace

BENCHMARK(BM_BaselineBlockReadAndMemchr)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegEndScan)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DwgSentinelSearch)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrwRecordSearch)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
