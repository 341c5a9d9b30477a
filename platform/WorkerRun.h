#pragma once
// Running one piece of work on a worker thread while the calling thread waits for it: the one
// way the engine and the program hand a long operation to a worker. The thread is started
// through StartThread (so it gets the thread-start hook) and waited for through WaitForWorker
// (so the program's event loop keeps running, and the wait ends as soon as the work does), then
// joined.
#include <atomic>
#include <functional>

namespace platform {

// Runs `work` on a new thread, sets `done` once it has returned (work that sets it earlier is
// still waited for and joined) and wakes the calling thread, which waits for that (see
// WaitForWorker: the hook's pauses, or those between calls of `betweenChecks`, last at most
// `sleepMs` and end when the work does) and joins the thread. `betweenChecks`, when given, runs
// on the calling thread after each pause that found the work unfinished.
// Returns false, without running `work` and leaving `done` as it was, when no thread could be
// started.
bool RunWorker(std::atomic<bool>& done, const std::function<void()>& work, int sleepMs = 10,
               const std::function<void()>& betweenChecks = {});

} // namespace platform
