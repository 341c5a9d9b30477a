// Times the lost-partition search over a blank 16 GiB disk image (a sparse file), with 255 and
// with 240 heads, beside the baseline: plain one-sector reads of the same candidate sectors in
// the same order, so the ratio shows what the recognisers and the bookkeeping add to the reads.
#include "carving/partition/PartitionSearcher.h"
#include "storage/ImageFileDevice.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::uint64_t kDiskSectors = 16ull * 1024 * 1024 * 2; // 16 GiB

std::string MakeImage() {
    const std::string dir = std::string(BRULIN_BINARY_DIR) + "/bench-work";
    const std::string image = dir + "/blank-16g.img";
    if (std::filesystem::exists(image))
        return image;
    std::filesystem::create_directories(dir);
    const std::string cmd =
        "truncate -s " + std::to_string(kDiskSectors * 512) + " '" + image + "'";
    return std::system(cmd.c_str()) == 0 ? image : "";
}

class QuietCallback : public IPartitionSearchCallback {
public:
    int PumpMessages() override { return 0; }
    void StepProgress() override {}
    int IsCancelled() override { return 0; }
    void SetStage(int) override {}
    void AddProgress() override {}
    void SetRange(std::uint64_t, std::uint64_t) override {}
    void SetPosition(int) override {}
    void OnPartitionFound(const FoundPartitionInfo*) override {}
};

// The sectors the search probes, in its order (each once).
std::vector<std::uint64_t> CandidateSectors(int heads) {
    std::vector<std::unique_ptr<IPartitionSearchAlgorithm>> sequences;
    sequences.push_back(std::make_unique<CPartitionSearchAccordingTo255Head>(kDiskSectors));
    if (heads == 240)
        sequences.push_back(std::make_unique<CPartitionSearchAccordingTo240Head>(kDiskSectors));
    sequences.push_back(std::make_unique<CPartitionSearchAccordingTo1MiB>(kDiskSectors));
    std::vector<std::uint64_t> out;
    for (std::size_t a = 0; a < sequences.size(); ++a) {
        auto probedBefore = [&](std::uint64_t s) {
            for (std::size_t b = 0; b < a; ++b)
                if (sequences[b]->Probes(s))
                    return true;
            return false;
        };
        const std::uint64_t count = sequences[a]->GetCandidateCount();
        for (std::uint64_t j = 0; j < count; ++j) {
            const std::uint64_t c = sequences[a]->GetNextCandidate();
            for (std::uint64_t s : {c, c + sequences[a]->GetTrackOffset()}) {
                if (s < kDiskSectors && !(sequences[a]->SkipsSharedCandidates() && probedBefore(s)))
                    out.push_back(s);
                if (sequences[a]->GetTrackOffset() == 0)
                    break;
            }
        }
    }
    return out;
}

void BM_PlainCandidateReads(benchmark::State& state) {
    const std::string image = MakeImage();
    if (image.empty()) {
        state.SkipWithError("could not make the image");
        return;
    }
    CImageFileDevice device(image.c_str());
    const std::vector<std::uint64_t> sectors = CandidateSectors(static_cast<int>(state.range(0)));
    std::uint8_t buffer[512];
    for (auto _ : state)
        for (std::uint64_t s : sectors)
            benchmark::DoNotOptimize(device.ReadSectors(buffer, s, 1));
    state.counters["sectors"] = static_cast<double>(sectors.size());
}

void BM_PartitionSearch(benchmark::State& state) {
    const std::string image = MakeImage();
    if (image.empty()) {
        state.SkipWithError("could not make the image");
        return;
    }
    CImageFileDevice device(image.c_str());
    for (auto _ : state) {
        CPartitionSearcher searcher;
        searcher.SetDevice(&device);
        searcher.AddPartitionFileSystemController(&searcher.FatController());
        searcher.AddPartitionFileSystemController(&searcher.NtfsController());
        searcher.AddPartitionFileSystemController(&searcher.Ext2Controller());
        searcher.AddPartitionSearchAlgorithms(static_cast<int>(state.range(0)));
        QuietCallback callback;
        searcher.StartPartitionSearch(&callback);
        state.counters["candidates"] = static_cast<double>(searcher.GetCandidateTotal());
    }
}

} // namespace

BENCHMARK(BM_PlainCandidateReads)->Arg(255)->Arg(240)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PartitionSearch)->Arg(255)->Arg(240)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
