#pragma once
// Waiting for a worker thread. The engine's callers wait here; the program installs a hook that
// lets its event loop run while it waits, tests leave the default (a plain blocking wait).
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

// The end of one piece of work, told by the worker to the thread that waits for it.
class WorkerWake {
public:
    // Marks the work ended and wakes every thread waiting in WaitFor (called on the worker).
    void Signal();
    bool Signalled() const;
    // Blocks until Signal has been called or `timeoutMs` milliseconds have passed (negative: no
    // limit). True once signalled.
    bool WaitFor(int timeoutMs) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_signalled = false; // guarded by m_mutex
};

// Called repeatedly while waiting: runs what must keep running meanwhile (the event loop), then
// pauses for at most `sleepMs` (0 = as briefly as possible, as some workers ask) by waiting on
// `wake`, so that it returns as soon as the work ends.
using PumpHook = std::function<void(int sleepMs, const WorkerWake& wake)>;
void SetPumpHook(PumpHook hook);

// Returns once `wake` is signalled. Without a hook and without `betweenChecks` this is one
// blocking wait; otherwise the hook (or a pause of `sleepMs` on `wake`) runs until then, and
// `betweenChecks`, when given, after each pause that ended with the work unfinished.
void WaitForWorker(const WorkerWake& wake, int sleepMs = 10,
                   const std::function<void()>& betweenChecks = {});

// Returns once `done` is true, for a flag whose setter wakes nobody: it is checked after each
// run of the hook (or a pause of `sleepMs`). `betweenChecks`, when given, runs after each check
// that found `done` still false.
void WaitForWorker(const std::atomic<bool>& done, int sleepMs = 10,
                   const std::function<void()>& betweenChecks = {});

} // namespace platform
