#include "platform/WorkerWait.h"

#include <chrono>

namespace platform {
namespace {
std::mutex g_mutex;
PumpHook g_hook;

PumpHook CurrentHook() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_hook;
}

// The hook's pause, or a plain one of `sleepMs` (at least 1 ms) on `wake`.
void Pause(const PumpHook& hook, int sleepMs, const WorkerWake& wake) {
    if (hook)
        hook(sleepMs, wake);
    else
        wake.WaitFor(sleepMs > 0 ? sleepMs : 1);
}

} // namespace

void WorkerWake::Signal() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_signalled = true;
    }
    m_changed.notify_all();
}

bool WorkerWake::Signalled() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_signalled;
}

bool WorkerWake::WaitFor(int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0)
        m_changed.wait(lock, [this] { return m_signalled; });
    else
        m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_signalled; });
    return m_signalled;
}

void SetPumpHook(PumpHook hook) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_hook = std::move(hook);
}

void WaitForWorker(const WorkerWake& wake, int sleepMs, const std::function<void()>& betweenChecks) {
    const PumpHook hook = CurrentHook();
    if (!hook && !betweenChecks) {
        wake.WaitFor(-1);
        return;
    }
    while (!wake.Signalled()) {
        Pause(hook, sleepMs, wake);
        if (betweenChecks && !wake.Signalled())
            betweenChecks();
    }
}

void WaitForWorker(const std::atomic<bool>& done, int sleepMs, const std::function<void()>& betweenChecks) {
    const PumpHook hook = CurrentHook();
    const WorkerWake never; // nobody tells this wait; each pause runs its full length
    while (!done.load(std::memory_order_acquire)) {
        Pause(hook, sleepMs, never);
        if (betweenChecks && !done.load(std::memory_order_acquire))
            betweenChecks();
    }
}

} // namespace platform
