#include "platform/SystemInfo.h"

#include "platform/DebugOutput.h"

#include <atomic>
#include <chrono>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace platform {
namespace {
std::atomic<OutOfMemoryHandler> g_oomHandler{nullptr};
} // namespace

bool GetMemoryStatus(MemoryStatus& out) {
    out = MemoryStatus();
    struct sysinfo si {};
    if (::sysinfo(&si) != 0)
        return false;
    const std::uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    out.totalPhysical = static_cast<std::uint64_t>(si.totalram) * unit;
    out.availablePhysical = (static_cast<std::uint64_t>(si.freeram) + si.bufferram) * unit;
    out.totalPageFile = out.totalPhysical + static_cast<std::uint64_t>(si.totalswap) * unit;
    out.availablePageFile = out.availablePhysical + static_cast<std::uint64_t>(si.freeswap) * unit;
    return true;
}

std::uint64_t GetTickCount64() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(GetTickCount64()); }

OutOfMemoryHandler SetOutOfMemoryHandler(OutOfMemoryHandler handler) {
    return g_oomHandler.exchange(handler);
}

void FatalOutOfMemory() {
    if (OutOfMemoryHandler h = g_oomHandler.load())
        h();
    DebugOutput("Out of memory: ending the process.\n");
    ::_exit(kOutOfMemoryExitStatus);
}

} // namespace platform
