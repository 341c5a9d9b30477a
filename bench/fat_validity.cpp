// The FAT32 validity check over a 16-million-entry table whose one chain runs from the last
// cluster down to cluster 2 (each entry points at the cluster before it).
#include "filesystems/fat/FatTables.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<std::uint8_t> DescendingChainFat(std::uint32_t sectors) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(sectors) * 512);
    auto put = [&](std::uint32_t i, std::uint32_t v) {
        for (int k = 0; k < 4; ++k)
            bytes[static_cast<std::size_t>(i) * 4 + k] = static_cast<std::uint8_t>(v >> (8 * k));
    };
    const std::uint32_t n = sectors * 128;
    put(0, 0x0FFFFFF8);
    put(1, 0x0FFFFFFF);
    put(2, 0x0FFFFFFF);
    for (std::uint32_t i = 3; i < n; ++i)
        put(i, i - 1);
    return bytes;
}

void BM_Fat32ValidityDescendingChain(benchmark::State& state) {
    const std::uint32_t sectors = 125000; // 16,000,000 entries
    std::vector<std::uint8_t> bytes = DescendingChainFat(sectors);
    CFAT32Table table(bytes.data(), bytes.size());
    for (auto _ : state) {
        bool valid = table.IsValid();
        if (!valid)
            state.SkipWithError("table reported invalid");
        benchmark::DoNotOptimize(valid);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sectors) * 128);
}
BENCHMARK(BM_Fat32ValidityDescendingChain)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
