// The global allocation functions of the programs. An allocation that cannot be satisfied is
// logged with the memory figures of the moment and ends in the out-of-memory crash path;
// operator new never returns null.
#include "logging/Log.h"
#include "platform/SystemInfo.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_reporting{false};

void ReportAllocationFailure(std::size_t size) {
    // Logging must not depend on allocating; a failure while reporting goes straight on.
    if (g_reporting.exchange(true))
        return;
    LogInfo("Failed to alloc 0x%08llx bytes", static_cast<unsigned long long>(size));
    platform::MemoryStatus m;
    if (!platform::GetMemoryStatus(m))
        LogInfo("Failed to query memory status.");
    LogInfo("Memory status:");
    LogInfo("Total physical memory:%4lld MB\tAvailable physical memory:%4lld MB",
            static_cast<long long>(m.totalPhysical >> 20), static_cast<long long>(m.availablePhysical >> 20));
    LogInfo("Total   page    files:%4lld MB\tAvailable    page   files:%4lld MB",
            static_cast<long long>(m.totalPageFile >> 20), static_cast<long long>(m.availablePageFile >> 20));
}

} // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (p)
        return p;
    ReportAllocationFailure(size);
    platform::FatalOutOfMemory();
}

void* operator new[](std::size_t size) { return operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
