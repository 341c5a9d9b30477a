// Crashes in a chosen way with the main program's crash handler installed. Built without the
// sanitizers, which would catch the signals first. Usage: crash_probe <mode> <folder>, where
// the folder holds the FIFOs "crash" and "memory" and receives "log.txt" and the dumps.
// Modes: segv, segv-worker, segv-two (two workers fault at the same moment), overflow,
// overflow-worker, overflow-toolkit (on a thread that GLib starts, not platform::StartThread),
// abort, oom-raw, oom-plain, oom-worker
// (RAW recovery off, the allocations on a worker), oom-twice (the notice itself runs out of
// memory). A fault that does not happen ends the probe with status 67, falling through every
// mode with 66. Workers are started as the program starts them (platform::StartThread).
#include "app/CrashHandler.h"
#include "logging/Log.h"
#include "platform/ThreadStart.h"

#include <glib.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool g_raw = false;

// The pointer itself is volatile: its value is read at run time, so no optimiser can see a
// write through null (undefined behaviour it may delete or turn into a trap) and the write
// really faults. Should it ever not fault, the probe ends with kNoFault.
int* volatile g_nowhere = nullptr;
constexpr int kNoFault = 67;

__attribute__((noinline)) void Fault() {
    int* p = g_nowhere;
    *static_cast<volatile int*>(p) = 1;
    std::_Exit(kNoFault);
}

__attribute__((noinline)) int Recurse(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (depth < 0)
        return 0;
    return Recurse(depth + 1) + pad[0];
}

__attribute__((noinline)) void ExhaustMemory() {
    std::vector<char*> blocks;
    for (;;) {
        blocks.push_back(new char[16 << 20]);
        blocks.back()[0] = 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 64;
    const std::string mode = argv[1];
    const std::string dir = std::string(argv[2]) + "/";
    InitLog((dir + "log.txt").c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
    CrashHandlerSetup setup;
    setup.dumpDir = dir;
    setup.crashFifo = dir + "crash";
    setup.memoryFifo = dir + "memory";
    setup.lineFile = dir + "log.txt";
    g_raw = mode == "oom-raw";
    setup.rawRecoveryOn = [] { return g_raw; };
    if (mode == "oom-twice")
        setup.outOfMemoryNotice = [](const char*) {
            // A window that cannot be made for want of memory.
            volatile char* p = new char[std::size_t(1) << 30];
            p[0] = 1;
        };
    else
        setup.outOfMemoryNotice = [](const char* text) { std::fprintf(stderr, "notice: %s\n", text); };
    if (!InstallCrashHandler(setup))
        return 65;
    if (mode == "segv") {
        Fault();
    } else if (mode == "segv-worker") {
        platform::StartThread(Fault).join();
    } else if (mode == "segv-two") {
        static std::atomic<int> ready{0};
        auto both = [] {
            ++ready;
            while (ready.load() < 2) {
            }
            Fault();
        };
        std::thread a = platform::StartThread(both), b = platform::StartThread(both);
        a.join();
        b.join();
    } else if (mode == "overflow") {
        return Recurse(0);
    } else if (mode == "overflow-worker") {
        platform::StartThread([] { Recurse(0); }).join();
    } else if (mode == "overflow-toolkit") {
        GThread* t = g_thread_new("toolkit", [](gpointer) -> gpointer { return GINT_TO_POINTER(Recurse(0)); }, nullptr);
        g_thread_join(t);
    } else if (mode == "abort") {
        std::abort();
    } else if (mode.rfind("oom-", 0) == 0) {
        rlimit lim{};
        lim.rlim_cur = lim.rlim_max = rlim_t(512) << 20;
        setrlimit(RLIMIT_AS, &lim);
        if (mode == "oom-worker")
            platform::StartThread(ExhaustMemory).join();
        else
            ExhaustMemory();
    }
    return 66;
}
