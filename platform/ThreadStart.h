#pragma once
// Starting worker threads. Every thread the engine or the program starts goes through
// StartThread, which runs the process's thread-start hook on the new thread before its work.
// The program's crash handler installs a hook that gives each thread an alternate signal
// stack, so that a stack overflow on a worker is still reported; without a hook (tests,
// tools) nothing extra runs.
#include <thread>
#include <tuple>
#include <utility>

namespace platform {

using ThreadStartHook = void (*)();

// Replaces the hook (null: none). Threads already running are not affected.
void SetThreadStartHook(ThreadStartHook hook);
// Runs the hook, if one is set, on the calling thread.
void RunThreadStartHook();

// A std::thread that runs the hook and then `work(args...)`. Throws std::system_error as
// std::thread does when no thread can be made.
template <typename F, typename... Args> std::thread StartThread(F&& work, Args&&... args) {
    return std::thread(
        [fn = std::forward<F>(work), bound = std::make_tuple(std::forward<Args>(args)...)]() mutable {
            RunThreadStartHook();
            std::apply(std::move(fn), std::move(bound));
        });
}

} // namespace platform
