#include "loader/Loader.h"

#include "app/LoaderObjects.h"
#include "logging/Log.h"
#include "logging/LogBuffer.h"
#include "platform/File.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <iterator>
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
        read.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
        if (read.Valid())
            keepOpen.Reset(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
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

// The signals that end the loader, told through a self-pipe: the watch loop ends the program
// first. The handlers are the loader's only while it runs. A SIGHUP ignored when the loader
// started (nohup) stays ignored, for the loader and the programs it starts.
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_stopPipe[2] = {-1, -1};
volatile sig_atomic_t g_stopSignal = 0;
bool g_hangUpIgnored = false;
void OnStop(int sig) {
    const int saved = errno;
    if (!g_stopSignal)
        g_stopSignal = sig;
    const char b = 1;
    [[maybe_unused]] ssize_t n = write(g_stopPipe[1], &b, 1);
    errno = saved;
}

class StopSignals {
public:
    StopSignals() {
        g_stopSignal = 0;
        if (g_stopPipe[0] < 0 && pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            g_stopPipe[0] = g_stopPipe[1] = -1;
        ClearWake();
        struct sigaction sa {};
        sa.sa_handler = OnStop;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], nullptr, &m_old[i]);
            if (kStopSignals[i] == SIGHUP)
                g_hangUpIgnored = m_old[i].sa_handler == SIG_IGN;
            if (kStopSignals[i] != SIGHUP || !g_hangUpIgnored)
                sigaction(kStopSignals[i], &sa, nullptr);
        }
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            sigaction(kStopSignals[i], &m_old[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    static int WakeFd() { return g_stopPipe[0]; }
    static int Pending() { return g_stopSignal; }
    // Ends the loader as the signal `sig` would (a signal that came first stays the one).
    static void Stop(int sig) {
        if (!g_stopSignal)
            g_stopSignal = sig;
    }
    static void ClearWake() {
        char buf[64];
        while (g_stopPipe[0] >= 0 && read(g_stopPipe[0], buf, sizeof buf) > 0) {
        }
    }

private:
    struct sigaction m_old[std::size(kStopSignals)] {};
};

// A started program: its pid and a descriptor that becomes readable when it ends.
class Child {
public:
    ~Child() { Reap(true); }

    // Starts `path`. A program `tied` to the loader is killed when the loader ends, however it
    // ends (the crash reporter is not: it outlives the loader on purpose).
    bool Start(const std::string& path, const std::vector<std::string>& args, bool tied, char* const* envp = environ) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        // Told by the child when its exec failed (the pipe closes on a successful exec).
        int failPipe[2];
        if (pipe2(failPipe, O_CLOEXEC) != 0)
            return false;
        // No handler of the loader's may run in the child before its exec.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            // Async-signal-safe calls only from here to the exec.
            close(failPipe[0]);
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            for (int sig : kStopSignals)
                if (sig != SIGHUP || !g_hangUpIgnored)
                    sigaction(sig, &dfl, nullptr);
            sigaction(SIGPIPE, &dfl, nullptr);
            sigaction(SIGCHLD, &dfl, nullptr);
            int err = 0;
            if (tied && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent))
                err = ECHILD;  // the loader is already gone
            if (!err) {
                sigset_t none;
                sigemptyset(&none);
                sigprocmask(SIG_SETMASK, &none, nullptr);
                execve(path.c_str(), argv.data(), envp);
                err = errno;
            }
            [[maybe_unused]] ssize_t n = write(failPipe[1], &err, sizeof err);
            _exit(127);
        }
        const int forkErr = errno;
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        close(failPipe[1]);
        if (pid < 0) {
            close(failPipe[0]);
            errno = forkErr;
            return false;
        }
        int err = 0;
        ssize_t n;
        do
            n = read(failPipe[0], &err, sizeof err);
        while (n < 0 && errno == EINTR);
        close(failPipe[0]);
        if (n > 0) {
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            errno = err;
            return false;
        }
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

    // Asks the program to end (SIGTERM), waits at most `ms`, then kills it.
    void Stop(int ms) {
        if (!Reap(false))
            kill(m_pid, SIGTERM);
        EndWithin(ms);
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

// The environment of the programs the loader starts: its own, with the runtime folder it chose
// and the loader's pid (the program takes the folder only from its parent), so that the program
// meets it there whatever the program would find on its own.
class ProgramEnvironment {
public:
    explicit ProgramEnvironment(const std::string& runtimeDir) {
        const std::string key = std::string(platform::kRuntimeDirVariable) + "=";
        const std::string pidKey = std::string(platform::kLoaderPidVariable) + "=";
        for (char** e = environ; e && *e; ++e)
            if (std::string_view(*e).substr(0, key.size()) != key &&
                std::string_view(*e).substr(0, pidKey.size()) != pidKey)
                m_entries.emplace_back(*e);
        m_entries.push_back(key + runtimeDir);
        m_entries.push_back(pidKey + std::to_string(getpid()));
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

// A loader started through pkexec by the user's loader ends as on SIGTERM when that loader ends
// (the user may signal only their own loader, not this one). The kernel's parent-death signal
// is sent with the dying parent's rights, so a user's loader could never deliver it to a loader
// of root's: the starter is watched here instead, through a descriptor that becomes readable
// when it ends (on a kernel without pidfd_open, by the parent's pid at each wake-up, which then
// comes at least every kFallbackCheckMs). A starter already gone when this loader starts (its
// parent is another process by then) ends it at once, before any program is started.
class ParentWatch {
public:
    explicit ParentWatch(int startedBy) : m_startedBy(startedBy) {
        if (m_startedBy <= 0)
            return;
        m_fd.Reset(static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(m_startedBy), 0)));
        // Checked after the open: while the starter is still the parent, the descriptor is its
        // own and no later process's with the same pid. Init never starts pkexec.
        if (m_startedBy == 1 || getppid() != m_startedBy)
            m_gone = true;
    }
    ParentWatch(const ParentWatch&) = delete;
    ParentWatch& operator=(const ParentWatch&) = delete;

    // The descriptor to poll with the others (-1: none, poll passes over it).
    int WakeFd() const { return m_gone ? -1 : m_fd.Get(); }
    // The longest wait between two looks at the starter.
    int WaitMs(int waitMs) const {
        return m_startedBy > 0 && !m_fd.Valid() && waitMs > kFallbackCheckMs ? kFallbackCheckMs : waitMs;
    }
    // True once the starter has ended (looked at now).
    bool Gone() {
        if (m_startedBy <= 0 || m_gone)
            return m_gone;
        if (m_fd.Valid()) {
            pollfd p{m_fd.Get(), POLLIN, 0};
            m_gone = poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        }
        if (getppid() != m_startedBy)
            m_gone = true;
        return m_gone;
    }
    bool ParentGone() const { return m_gone; }

private:
    static constexpr int kFallbackCheckMs = 500;
    int m_startedBy;
    bool m_gone = false;
    FileHandle m_fd;
};

// The log's line for a loader ended from outside.
void LogStopped(int logFd, int sig, bool parentGone) {
    const std::string text =
        parentGone ? "The loader that started this one has ended: the program was ended with it (signal " +
                         std::to_string(sig) + ").\r\n"
                   : "Ended by signal " + std::to_string(sig) + ": the program was ended first.\r\n";
    platform::WriteFully(logFd, text.data(), text.size());
}

int WatchAndRestart(const LoaderConfig& config, CFileMappingLog& log, int logFd, ParentWatch& parent) {
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
        if (parent.Gone())
            StopSignals::Stop(SIGTERM);
        if (const int sig = StopSignals::Pending()) {
            DebugTrace("____---Ended by signal %d.", sig);
            LogStopped(logFd, sig, parent.ParentGone());
            return kLoaderStopped + sig;
        }
        std::vector<std::string> args = {config.programName, "-pro"};
        args.insert(args.end(), config.programSwitches.begin(), config.programSwitches.end());
        Child child;
        if (!child.Start(program, args, /*tied=*/true, environment.Get())) {
            DebugTrace("____---Cannot start %s", program.c_str());
            return kLoaderStartFailed;
        }
        RunEnd end = RunEnd::Ended;
        unsigned wakeups = 0;
        for (;;) {
            pollfd fds[5] = {{child.WakeFd(), POLLIN, 0},         {crash.read.Get(), POLLIN, 0},
                             {memory.read.Get(), POLLIN, 0},      {StopSignals::WakeFd(), POLLIN, 0},
                             {parent.WakeFd(), POLLIN, 0}};
            const int r = poll(fds, 5, parent.WaitMs(config.waitMs));
            if (r < 0 && errno != EINTR)
                break;
            log.FlushToFile(logFd);
            ++wakeups;
            child.ClearWake();
            StopSignals::ClearWake();
            if (parent.Gone())
                StopSignals::Stop(SIGTERM);
            if (StopSignals::Pending())
                break;
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
        // The program is gone (or made to go) before the loader restarts, reports or ends.
        if (StopSignals::Pending())
            child.Stop(config.stopWaitMs);
        else
            child.EndWithin(config.exitWaitMs);
        log.FlushToFile(logFd);
        AppendCrashNote(note, logFd);
        if (const int sig = StopSignals::Pending()) {
            // Ended from outside: no restart and no report, the user asked for the end.
            DebugTrace("____---Ended by signal %d.", sig);
            LogStopped(logFd, sig, parent.ParentGone());
            return kLoaderStopped + sig;
        }
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
            if (!reporter.Start(paths.programDir + config.reporterName, {config.reporterName}, /*tied=*/false,
                                environment.Get()))
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

    // The log is emptied only once it is known to be a file of this user's own: a link or a
    // foreign file at its name is left as it is, and the start is refused with why.
    const std::string logName = config.paths.LogFile();
    FileHandle logFile = platform::OpenOwnFile(logName, /*empty=*/true);
    if (!logFile.Valid()) {
        const int why = errno;
        messages.ShowMessage(1, "Cannot open the log file " + logName + ": " +
                                    (why == ELOOP || why == EPERM
                                         ? std::string("it is a symbolic link or not a file of this user. It was left "
                                                       "as it is; move it away and start again.")
                                         : std::string(std::strerror(why))));
        return kLoaderRefused;
    }
    std::vector<std::string> notes = config.logNotes;
    for (std::string& line : platform::RuntimeFolderNotes(config.paths, refused))
        notes.push_back(std::move(line));
    for (const std::string& line : notes) {
        const std::string text = line + "\r\n";
        platform::WriteFully(logFile.Get(), text.data(), text.size());
    }
    InstallChildPipe();
    StopSignals stopSignals;
    ParentWatch parent(config.startedBy);
    int result;
    {
        const std::string mapping = LogMappingName(config.paths);
        const std::string mutex = LogMutexName(config.paths);
        CFileMappingLog log(CFileMappingLog::kCreateMode, mapping.c_str(), mutex.c_str());
        DebugTrace("____---Start Brulin.");
        result = WatchAndRestart(config, log, logFile.Get(), parent);
    }
    // The section's name went with the log object; the mutex's goes too, so that no runtime
    // folder leaves a name behind. (A program still running keeps the objects it has open; a
    // later loader makes new ones.)
    platform::NamedMutex::Remove(LogMutexName(config.paths));
    return result;
}

int LoaderStopSignal(int status) {
    for (int sig : kStopSignals)
        if (status == kLoaderStopped + sig)
            return sig;
    return 0;
}
