// Writing and reading back 256 MiB through the scan-state store (4096-byte zlib chunks), in
// MB/s of payload. The data is half compressible text-like bytes, half random.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "recovery/RSData.h"

namespace {

constexpr std::size_t kTotal = 256u * 1024 * 1024;
constexpr std::size_t kPiece = 64 * 1024;
const RSGuid kSection{0xB0B0B0B0, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

std::string StorePath() {
    std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    std::filesystem::create_directories(dir);
    return dir + "/store_throughput.rdf";
}

std::vector<std::uint8_t> Piece() {
    std::vector<std::uint8_t> piece(kPiece);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < kPiece; ++i)
        piece[i] = i < kPiece / 2 ? static_cast<std::uint8_t>("scan state "[i % 11])
                                  : static_cast<std::uint8_t>(rng());
    return piece;
}

void WriteStore(const std::string& path, const std::vector<std::uint8_t>& piece) {
    CRSDataEx w(RSDATA_WRITE);
    w.Open(path.c_str(), true);
    w.SetStage(1);
    w.OpenSection(kSection);
    for (std::size_t done = 0; done < kTotal; done += kPiece)
        w.Write(piece.data(), static_cast<std::uint32_t>(kPiece));
    w.CloseSection();
    w.Close();
}

void BM_StoreWrite256MiB(benchmark::State& state) {
    std::string path = StorePath();
    std::vector<std::uint8_t> piece = Piece();
    for (auto _ : state)
        WriteStore(path, piece);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
    std::remove(path.c_str());
}
BENCHMARK(BM_StoreWrite256MiB)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_StoreRead256MiB(benchmark::State& state) {
    std::string path = StorePath();
    WriteStore(path, Piece());
    std::vector<std::uint8_t> buffer(kPiece);
    for (auto _ : state) {
        CRSDataEx r(RSDATA_READ);
        r.Open(path.c_str(), false);
        r.OpenSection(kSection);
        for (std::size_t done = 0; done < kTotal; done += kPiece)
            r.Read(buffer.data(), static_cast<std::uint32_t>(kPiece));
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotal));
    std::remove(path.c_str());
}
BENCHMARK(BM_StoreRead256MiB)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
