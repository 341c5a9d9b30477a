#pragma once
// Waiting for a worker thread's done flag. The engine's callers wait here; the program installs
// a hook that lets its event loop run between checks, tests leave the default (a plain wait).
#include <atomic>
#include <functional>

namespace platform {

// Called repeatedly while waiting; `sleepMs` is how long the caller would like to pause
// (0 = pump without sleeping, as some workers ask).
using PumpHook = std::function<void(int sleepMs)>;
void SetPumpHook(PumpHook hook);

// Returns once `done` is true. `betweenChecks`, when given, runs after each check that found
// `done` still false.
void WaitForWorker(const std::atomic<bool>& done, int sleepMs = 10,
                   const std::function<void()>& betweenChecks = {});

} // namespace platform
