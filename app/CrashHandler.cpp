#include "app/CrashHandler.h"

#include "logging/Log.h"
#include "platform/AltSignalStack.h"
#include "platform/SystemInfo.h"
#include "platform/ThreadStart.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <thread>
#include <time.h>
#include <unistd.h>

const char kOutOfMemoryRawText[] =
    "Fail to allocate the Memory. Please untick \"Recover RAW file\" option in \"Option\" > \"RAW\" and try again.";
const char kOutOfMemoryText[] = "Oxtavo Data Recovery has encountered a memory problem and needs to close.\n"
                                "We are sorry for the inconvenience.\nYou can enlarge your virtual memory and try again.";

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kReserveSize = 1 << 20;
constexpr unsigned kOutOfMemoryCode = 0xE0000001u;

// Prepared at installation; read by the handlers.
int g_crashFd = -1;
int g_memoryFd = -1;
int g_lineFd = -1;
char g_dumpDir[4096];
std::atomic<unsigned> g_dumpCounter{0};
std::atomic<long> g_crashingThread{0}; // the thread that reports the crash
std::atomic<bool> g_reported{false};
std::atomic<int> g_oomEntered{0};
void* g_reserve = nullptr;
bool (*g_rawRecoveryOn)() = nullptr;
void (*g_notice)(const char*) = nullptr;
std::thread::id g_uiThread;

// --- async-signal-safe helpers ---

void Put(int fd, const char* s, std::size_t n) {
    while (fd >= 0 && n > 0) {
        const ssize_t w = write(fd, s, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return;
        s += w;
        n -= static_cast<std::size_t>(w);
    }
}
void Put(int fd, const char* s) { Put(fd, s, std::strlen(s)); }

// Hexadecimal with at least `width` digits.
void PutHex(int fd, unsigned long long v, int width) {
    char buf[32];
    int n = 0;
    do {
        buf[n++] = "0123456789abcdef"[v & 15];
        v >>= 4;
    } while (v != 0 || n < width);
    char out[32];
    for (int i = 0; i < n; ++i)
        out[i] = buf[n - 1 - i];
    Put(fd, out, static_cast<std::size_t>(n));
}

int FormatDecimal(char* out, unsigned long long v) {
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int i = 0; i < n; ++i)
        out[i] = buf[n - 1 - i];
    return n;
}

void PutDecimal(int fd, unsigned long long v) {
    char buf[24];
    Put(fd, buf, static_cast<std::size_t>(FormatDecimal(buf, v)));
}

void WriteByte(int fd) {
    const char b = 1;
    Put(fd, &b, 1);
}

void WriteCrashLine(unsigned code, unsigned long long address) {
    Put(g_lineFd, "Caught an excetpion! Exception Code:");
    PutHex(g_lineFd, code, 8);
    Put(g_lineFd, " Address:");
    PutHex(g_lineFd, address, 8);
    Put(g_lineFd, "\r\n");
}

// Opens the next free "Brulindump<n>.dmp"; earlier dumps are never overwritten.
int OpenDumpFile() {
    char path[4096 + 64];
    const std::size_t dirLen = std::strlen(g_dumpDir);
    std::memcpy(path, g_dumpDir, dirLen);
    for (int attempt = 0; attempt < 10000; ++attempt) {
        std::size_t n = dirLen;
        std::memcpy(path + n, "Brulindump", 10);
        n += 10;
        n += static_cast<std::size_t>(FormatDecimal(path + n, g_dumpCounter.fetch_add(1)));
        std::memcpy(path + n, ".dmp", 5);
        const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void WriteDump(int sig, unsigned code, unsigned long long address) {
    const int fd = OpenDumpFile();
    if (fd < 0)
        return;
    Put(fd, "Brulin crash dump 1\nsignal: ");
    PutDecimal(fd, static_cast<unsigned>(sig));
    Put(fd, "\ncode: ");
    PutHex(fd, code, 1);
    Put(fd, "\naddress: ");
    PutHex(fd, address, 1);
    Put(fd, "\nthread: ");
    PutDecimal(fd, static_cast<unsigned long long>(syscall(SYS_gettid)));
    Put(fd, "\nbacktrace:\n");
    void* frames[64];
    const int count = backtrace(frames, 64);
    backtrace_symbols_fd(frames, count, fd);
    Put(fd, "maps:\n");
    const int maps = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (maps >= 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(maps, buf, sizeof buf)) > 0)
            Put(fd, buf, static_cast<std::size_t>(n));
        close(maps);
    }
    close(fd);
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
    const long self = syscall(SYS_gettid);
    long first = 0;
    if (g_crashingThread.compare_exchange_strong(first, self)) {
        WriteByte(g_crashFd);
        const unsigned long long address = reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr);
        WriteCrashLine(static_cast<unsigned>(sig), address);
        WriteDump(sig, info ? static_cast<unsigned>(info->si_code) : 0u, address);
        g_reported.store(true);
    } else if (first != self) {
        // Another thread is reporting its crash and ends the process when done; ending it now
        // would cut its dump short. Should it never finish, end the process after a while.
        const timespec tick{0, 10 * 1000 * 1000};
        for (int i = 0; i < 1000 && !g_reported.load(); ++i)
            nanosleep(&tick, nullptr);
    }
    // (The same thread faulting again inside the report goes straight on.)
    // End by the same signal.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    _exit(128 + sig);
}

void OnOutOfMemory() {
    const bool raw = g_rawRecoveryOn && g_rawRecoveryOn();
    const int fd = raw ? g_memoryFd : g_crashFd;
    if (g_oomEntered.exchange(1) != 0) {
        // A second failure inside this path: only the loader's byte, then the end.
        WriteByte(fd);
        _exit(platform::kOutOfMemoryExitStatus);
    }
    std::free(g_reserve);
    g_reserve = nullptr;
    if (g_notice && std::this_thread::get_id() == g_uiThread)
        g_notice(raw ? kOutOfMemoryRawText : kOutOfMemoryText);
    WriteByte(fd);
    LogInfo("Caught an excetpion! Exception Code:%08x Address:%08x", kOutOfMemoryCode, 0u);
    WriteDump(0, kOutOfMemoryCode, 0);
    _exit(platform::kOutOfMemoryExitStatus);
}

int OpenFifoWriteEnd(const std::string& path) {
    return path.empty() ? -1 : open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
}

} // namespace

namespace {

void AltSignalStackForNewThread() { platform::EnsureAltSignalStack(); }

} // namespace

bool InstallCrashHandler(const CrashHandlerSetup& setup) {
    g_crashFd = OpenFifoWriteEnd(setup.crashFifo);
    g_memoryFd = OpenFifoWriteEnd(setup.memoryFifo);
    if (!setup.lineFile.empty())
        g_lineFd = open(setup.lineFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const std::size_t n = std::min(setup.dumpDir.size(), sizeof g_dumpDir - 1);
    std::memcpy(g_dumpDir, setup.dumpDir.data(), n);
    g_dumpDir[n] = '\0';
    g_rawRecoveryOn = setup.rawRecoveryOn;
    g_notice = setup.outOfMemoryNotice;
    g_uiThread = std::this_thread::get_id();
    g_reserve = std::malloc(kReserveSize);
    if (g_reserve)
        std::memset(g_reserve, 0, kReserveSize);  // really committed
    // backtrace loads its unwinder on first use, which is not safe inside a handler.
    void* frames[4];
    backtrace(frames, 4);
    platform::EnsureAltSignalStack();
    platform::SetThreadStartHook(AltSignalStackForNewThread);
    platform::SetOutOfMemoryHandler(OnOutOfMemory);
    bool ok = true;
    for (int sig : kSignals) {
        struct sigaction sa {};
        sa.sa_sigaction = OnFatalSignal;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        ok = sigaction(sig, &sa, nullptr) == 0 && ok;
    }
    return ok;
}
