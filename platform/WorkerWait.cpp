#include "platform/WorkerWait.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace platform {
namespace {
std::mutex g_mutex;
PumpHook g_hook;
} // namespace

void SetPumpHook(PumpHook hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = std::move(hook);
}

void WaitForWorker(const std::atomic<bool>& done, int sleepMs,
                   const std::function<void()>& betweenChecks) {
    PumpHook hook;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        hook = g_hook;
    }
    while (!done.load(std::memory_order_acquire)) {
        if (hook)
            hook(sleepMs);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs > 0 ? sleepMs : 1));
        if (betweenChecks && !done.load(std::memory_order_acquire))
            betweenChecks();
    }
}

} // namespace platform
