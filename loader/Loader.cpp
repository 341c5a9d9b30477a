#include "loader/Loader.h"

#include "app/LoaderObjects.h"
#include "logging/Log.h"
#include "logging/LogBuffer.h"
#include "platform/File.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <vector>

extern char** environ;

namespace {

using platform::FileHandle;

// Opens (creating) `path` and takes its exclusive lock without waiting. Returns the held
// descriptor; invalid when another process holds the lock (`busy` set) or on failure.
FileHandle LockFile(const std::string& path, bool& busy) {
    busy = false;
    FileHandle fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd.Valid())
        return fd;
    if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        fd.Close();
    }
    return fd;
}

// A FIFO made anew, with the loader's read end and a write end of its own (so the read end
// never reports a hang-up when the program closes its end).
struct LoaderFifo {
    std::string path;
    FileHandle read;
    FileHandle keepOpen;

    bool Make(const std::string& p) {
        Close();
        path = p;
        unlink(path.c_str());
        if (mkfifo(path.c_str(), 0600) != 0)
            return false;
        read.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (read.Valid())
            keepOpen.Reset(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return read.Valid() && keepOpen.Valid();
    }
    // Reads everything waiting; true when at least one byte was there.
    bool Drain() {
        if (!read.Valid())
            return false;
        bool any = false;
        char buf[64];
        for (;;) {
            const ssize_t n = ::read(read.Get(), buf, sizeof buf);
            if (n > 0) {
                any = true;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            return any;
        }
    }
    void Close() {
        read.Close();
        keepOpen.Close();
        if (!path.empty())
            unlink(path.c_str());
    }
    ~LoaderFifo() { Close(); }
};

// SIGCHLD through a self-pipe, for kernels without pidfd_open.
int g_childPipe[2] = {-1, -1};
void OnChild(int) {
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] ssize_t n = write(g_childPipe[1], &b, 1);
    errno = saved;
}

// A started program: its pid and a descriptor that becomes readable when it ends.
class Child {
public:
    ~Child() { Reap(true); }

    bool Start(const std::string& path, const std::vector<std::string>& args, char* const* envp = environ) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none, deflt;
        sigemptyset(&none);
        sigemptyset(&deflt);
        sigaddset(&deflt, SIGPIPE);
        sigaddset(&deflt, SIGCHLD);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &deflt);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, path.c_str(), nullptr, &attr, argv.data(), envp);
        posix_spawnattr_destroy(&attr);
        if (rc != 0)
            return false;
        m_pid = pid;
        m_ended = false;
        m_wake.Reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
        if (!m_wake.Valid())
            m_usePipe = true;
        return true;
    }

    // Leaves the program running on its own (nobody waits for it).
    void Detach() {
        m_ended = true;
        m_wake.Close();
    }

    // The descriptor to poll for the program's end.
    int WakeFd() const { return m_usePipe ? g_childPipe[0] : m_wake.Get(); }
    void ClearWake() {
        if (m_usePipe) {
            char buf[64];
            while (read(g_childPipe[0], buf, sizeof buf) > 0) {
            }
        }
    }

    // Reaps the program when it has ended (waiting for it when `wait`); true once it has.
    bool Reap(bool wait) {
        if (m_pid <= 0 || m_ended)
            return true;
        int status = 0;
        pid_t r;
        do
            r = waitpid(m_pid, &status, wait ? 0 : WNOHANG);
        while (r < 0 && errno == EINTR);
        if (r == m_pid || (r < 0 && errno == ECHILD)) {
            m_ended = true;
            m_wake.Close();
        }
        return m_ended;
    }

    // Waits at most `ms` for the program to end, then kills it; always reaps.
    void EndWithin(int ms) {
        for (int waited = 0; !Reap(false) && waited < ms; waited += 50) {
            pollfd p{WakeFd(), POLLIN, 0};
            poll(&p, WakeFd() >= 0 ? 1 : 0, 50);
            ClearWake();
        }
        if (!Reap(false)) {
            kill(m_pid, SIGKILL);
            Reap(true);
        }
    }

private:
    pid_t m_pid = -1;
    bool m_ended = true;
    bool m_usePipe = false;
    FileHandle m_wake;
};

void InstallChildPipe() {
    if (g_childPipe[0] >= 0)
        return;
    if (pipe2(g_childPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = OnChild;
    sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGCHLD, &sa, nullptr);
}

// Moves a crash note left by the program into the log file.
void AppendCrashNote(const std::string& note, int logFd) {
    FileHandle in(open(note.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!in.Valid())
        return;
    char buf[4096];
    ssize_t n;
    while ((n = read(in.Get(), buf, sizeof buf)) > 0)
        platform::WriteFully(logFd, buf, static_cast<std::size_t>(n));
    unlink(note.c_str());
}

// The environment of the programs the loader starts: its own, with the runtime folder it chose,
// so that the program meets it there whatever the program would find on its own.
class ProgramEnvironment {
public:
    explicit ProgramEnvironment(const std::string& runtimeDir) {
        const std::string key = std::string(platform::kRuntimeDirVariable) + "=";
        for (char** e = environ; e && *e; ++e)
            if (std::string_view(*e).substr(0, key.size()) != key)
                m_entries.emplace_back(*e);
        m_entries.push_back(key + runtimeDir);
        for (std::string& entry : m_entries)
            m_pointers.push_back(entry.data());
        m_pointers.push_back(nullptr);
    }
    char* const* Get() const { return m_pointers.data(); }

private:
    std::vector<std::string> m_entries;
    std::vector<char*> m_pointers;
};

enum class RunEnd { Ended, Crash, Memory };

int WatchAndRestart(const LoaderConfig& config, CFileMappingLog& log, int logFd) {
    const platform::AppPaths& paths = config.paths;
    const std::string program = paths.programDir + config.programName;
    const std::string note = CrashNoteFile(paths);
    const ProgramEnvironment environment(paths.runtimeDir);
    bool restartedForMemory = false;
    int memoryRestarts = 0;
    for (;;) {
        LoaderFifo crash, memory;
        if (!crash.Make(::CrashFifo(paths)) || !memory.Make(MemoryCrashFifo(paths)))
            DebugTrace("____---Cannot make the crash FIFOs in %s", paths.runtimeDir.c_str());
        unlink(note.c_str());
        Child child;
        if (!child.Start(program, {config.programName, "-pro"}, environment.Get())) {
            DebugTrace("____---Cannot start %s", program.c_str());
            return kLoaderStartFailed;
        }
        RunEnd end = RunEnd::Ended;
        unsigned wakeups = 0;
        for (;;) {
            pollfd fds[3] = {{child.WakeFd(), POLLIN, 0}, {crash.read.Get(), POLLIN, 0},
                             {memory.read.Get(), POLLIN, 0}};
            const int r = poll(fds, 3, config.waitMs);
            if (r < 0 && errno != EINTR)
                break;
            log.FlushToFile(logFd);
            ++wakeups;
            child.ClearWake();
            // Everything that arrived counts, whatever woke the loader first.
            const bool crashSeen = crash.Drain();
            const bool memorySeen = memory.Drain();
            const bool ended = child.Reap(false);
            if (memorySeen) {
                end = RunEnd::Memory;
                break;
            }
            if (crashSeen) {
                if (restartedForMemory && wakeups == 1) {
                    restartedForMemory = false;
                } else {
                    end = RunEnd::Crash;
                    break;
                }
            }
            if (ended)
                break;
        }
        // The program is gone (or made to go) before the loader restarts or reports.
        child.EndWithin(config.exitWaitMs);
        log.FlushToFile(logFd);
        AppendCrashNote(note, logFd);
        if (end == RunEnd::Memory && memoryRestarts >= config.maxMemoryRestarts)
            end = RunEnd::Crash;
        if (end == RunEnd::Memory) {
            ++memoryRestarts;
            restartedForMemory = true;
            DebugTrace("____---Start Brulin.");
            continue;
        }
        if (end == RunEnd::Crash) {
            Child reporter;
            if (!reporter.Start(paths.programDir + config.reporterName, {config.reporterName}, environment.Get()))
                return kLoaderReportFailed;
            reporter.Detach();
            return kLoaderOk;
        }
        return kLoaderOk;
    }
}

} // namespace

int RunLoader(const LoaderConfig& givenConfig, ILoaderMessages& messages) {
    // The runtime folder is chosen here; everything below uses the chosen one.
    LoaderConfig config = givenConfig;
    std::string error;
    std::vector<std::string> refused;
    if (!platform::CreateAppFolders(config.paths, &error, &refused)) {
        messages.ShowMessage(1, "Cannot create the program's folders: " + error);
        return kLoaderRefused;
    }
    bool busy = false;
    FileHandle instance = LockFile(SingleInstanceLockFile(config.paths), busy);
    if (busy) {
        messages.ShowMessage(2, kAlreadyRunningMessage);
        return kLoaderRefused;
    }
    FileHandle loaderLock = LockFile(config.paths.LoaderLockFile(), busy);

    FileHandle logFile(open(config.paths.LogFile().c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    for (const std::string& line : platform::RuntimeFolderNotes(config.paths, refused)) {
        const std::string text = line + "\r\n";
        platform::WriteFully(logFile.Get(), text.data(), text.size());
    }
    InstallChildPipe();
    int result;
    {
        const std::string mapping = LogMappingName(config.paths);
        const std::string mutex = LogMutexName(config.paths);
        CFileMappingLog log(CFileMappingLog::kCreateMode, mapping.c_str(), mutex.c_str());
        DebugTrace("____---Start Brulin.");
        result = WatchAndRestart(config, log, logFile.Get());
    }
    // The section's name went with the log object; the mutex's goes too, so that no runtime
    // folder leaves a name behind. (A program still running keeps the objects it has open; a
    // later loader makes new ones.)
    platform::NamedMutex::Remove(LogMutexName(config.paths));
    return result;
}
