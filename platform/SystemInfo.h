#pragma once
// Memory figures, the millisecond tick count, and the fatal out-of-memory exit.
#include <cstdint>

namespace platform {

struct MemoryStatus {
    std::uint64_t totalPhysical = 0;
    std::uint64_t availablePhysical = 0;
    std::uint64_t totalPageFile = 0;     // commit limit: physical memory plus swap
    std::uint64_t availablePageFile = 0; // free physical memory plus free swap
};
bool GetMemoryStatus(MemoryStatus& out);

// Milliseconds of a monotonic clock (wraps after about 49.7 days, like any 32-bit tick).
std::uint32_t GetTickCount();
std::uint64_t GetTickCount64();

// Exit status of a process ended by FatalOutOfMemory when no handler took over.
constexpr int kOutOfMemoryExitStatus = 3;

// The crash path of an allocation that cannot be satisfied: calls the installed handler (the
// program's crash handling) and, should it return, ends the process with
// kOutOfMemoryExitStatus. Never returns.
using OutOfMemoryHandler = void (*)();
OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler);
[[noreturn]] void FatalOutOfMemory();

} // namespace platform
