// Handing a piece of work to a worker and waiting for it: platform::RunWorker of empty work,
// without a wait hook (the engine's tests and tools) and with one that pauses on the wake as the
// program's does, beside a plain thread start and join (the least any such hand-over costs).
// Wall time is what counts here, as the waiting thread spends it asleep.
#include <benchmark/benchmark.h>

#include "platform/ThreadStart.h"
#include "platform/WorkerRun.h"
#include "platform/WorkerWait.h"

#include <atomic>

namespace {

void BM_ThreadStartJoin(benchmark::State& state) {
    for (auto _ : state) {
        std::thread worker = platform::StartThread([] {});
        worker.join();
    }
}
BENCHMARK(BM_ThreadStartJoin)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_RunWorkerEmpty(benchmark::State& state) {
    const int sleepMs = static_cast<int>(state.range(0));
    for (auto _ : state) {
        std::atomic<bool> done{false};
        benchmark::DoNotOptimize(platform::RunWorker(done, [] {}, sleepMs));
    }
}
BENCHMARK(BM_RunWorkerEmpty)->Arg(0)->Arg(10)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_RunWorkerEmptyWithHook(benchmark::State& state) {
    const int sleepMs = static_cast<int>(state.range(0));
    platform::SetPumpHook([](int ms, const platform::WorkerWake& wake) { wake.WaitFor(ms > 0 ? ms : 1); });
    for (auto _ : state) {
        std::atomic<bool> done{false};
        benchmark::DoNotOptimize(platform::RunWorker(done, [] {}, sleepMs));
    }
    platform::SetPumpHook({});
}
BENCHMARK(BM_RunWorkerEmptyWithHook)->Arg(0)->Arg(10)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
