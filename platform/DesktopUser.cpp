#include "platform/DesktopUser.h"

#include "platform/File.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <mutex>
#include <pthread.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

constexpr const char* kUserPath = "/usr/local/bin:/usr/bin:/bin";

std::atomic<PasswdLookup> g_passwdLookup{nullptr};

// The user looked up last, kept per value of the variable: recovery asks for every file it writes.
std::mutex g_cacheLock;
std::string g_cachedText;
std::optional<DesktopUser> g_cached;
bool g_lookedUp = false;

// A uid written as a plain decimal number, or nothing.
std::optional<uid_t> ParseUid(const char* text) {
    if (!text || !*text)
        return std::nullopt;
    unsigned long long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value >= static_cast<unsigned long long>(static_cast<uid_t>(-1)))
            return std::nullopt;
    }
    return static_cast<uid_t>(value);
}

std::optional<DesktopUser> LookUp(uid_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int rc;
    const PasswdLookup lookup = g_passwdLookup.load();
    while ((rc = lookup ? lookup(uid, &entry, buffer.data(), buffer.size(), &found)
                        : ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !found)
        return std::nullopt;
    DesktopUser user;
    user.uid = entry.pw_uid;
    user.gid = entry.pw_gid;
    user.name = entry.pw_name ? entry.pw_name : "";
    user.home = entry.pw_dir && *entry.pw_dir ? entry.pw_dir : "/";
    int count = 32;
    for (int attempt = 0; attempt < 8; ++attempt) {
        user.groups.assign(static_cast<std::size_t>(count), 0);
        int n = count;
        if (::getgrouplist(user.name.c_str(), user.gid, user.groups.data(), &n) >= 0) {
            user.groups.resize(static_cast<std::size_t>(n));
            return user;
        }
        count = n > count ? n : count * 2;
    }
    // The group list could not be read: the primary group alone, never root's groups.
    user.groups.assign(1, user.gid);
    return user;
}

// argv[0] as the path to run: a name with a folder as it is, a bare name from the caller's PATH
// (the first regular file with an execute bit).
std::string ResolveProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    const char* env = std::getenv("PATH");
    const std::string path = env && *env ? env : kUserPath;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos)
            end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111))
            return candidate;
        start = end + 1;
    }
    return {};
}

// Everything the child needs, made before the fork: between fork and exec only calls that are
// safe in a child of a program with threads are made.
struct ChildPlan {
    std::string program;
    std::vector<std::string> argvStore, envStore;
    std::vector<char*> argv, envp;
    std::optional<DesktopUser> user;
    int maxFd = 1024;
};

std::atomic<BeforeExecHook> g_beforeExecHook{nullptr};

// Signals stay blocked from before the fork until every handler of the caller's is gone from the
// child: after the change of user the user may signal it, and no handler of root's (the crash
// handler, the loader's stop handlers) may run there. Ignored signals stay ignored, as the exec
// would keep them; SIGPIPE is put back to its default.
void ResetSignalHandlers() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig == SIGKILL || sig == SIGSTOP)
            continue;
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0)
            continue;
        if (sig == SIGPIPE || (old.sa_flags & SA_SIGINFO) || (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN))
            ::sigaction(sig, &dfl, nullptr);
    }
}

[[noreturn]] void RunChild(const ChildPlan& plan, int reportFd) {
    int err = 0;
    ResetSignalHandlers();
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (plan.user) {
        const DesktopUser& u = *plan.user;
        // Groups first, then the group, then the user: once the uid is given up neither of the
        // others could be changed.
        if (::setgroups(u.groups.size(), u.groups.data()) != 0 || ::setgid(u.gid) != 0 || ::setuid(u.uid) != 0)
            err = errno ? errno : EPERM;
        else if (::getuid() != u.uid || ::geteuid() != u.uid || ::getgid() != u.gid || ::getegid() != u.gid)
            err = EPERM;
        else if (u.uid != 0 && ::setuid(0) == 0)
            err = EPERM; // root could be taken back: never run like that
        if (err == 0 && ::chdir(u.home.c_str()) != 0 && ::chdir("/") != 0)
            err = errno;
    }
    if (err == 0) {
        // None of the caller's descriptors (a disk open for reading, the log) reach the program.
        if (::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) != 0)
            for (int fd = 3; fd < plan.maxFd; ++fd)
                if (fd != reportFd)
                    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        if (const BeforeExecHook hook = g_beforeExecHook.load())
            hook();
        ::execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
        err = errno;
    }
    ssize_t ignored = ::write(reportFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

bool MakePlan(ChildPlan& plan, const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) {
        errno = EINVAL;
        return false;
    }
    plan.program = ResolveProgram(argv[0]);
    if (plan.program.empty()) {
        errno = ENOENT;
        return false;
    }
    plan.argvStore = argv;
    for (std::string& a : plan.argvStore)
        plan.argv.push_back(a.data());
    plan.argv.push_back(nullptr);
    DesktopUserStatus status = FindDesktopUserStatus();
    if (status.state == DesktopUserState::Unreadable) {
        // Never root in the place of a user who is named but cannot be looked up.
        errno = EPERM;
        return false;
    }
    plan.user = std::move(status.user);
    if (plan.user) {
        plan.envStore = DesktopUserEnvironment(*plan.user);
        for (std::string& e : plan.envStore)
            plan.envp.push_back(e.data());
        plan.envp.push_back(nullptr);
    } else {
        for (char** e = environ; e && *e; ++e)
            plan.envp.push_back(*e);
        plan.envp.push_back(nullptr);
    }
    const long open = ::sysconf(_SC_OPEN_MAX);
    plan.maxFd = open > 0 && open < 65536 ? static_cast<int>(open) : 65536;
    return true;
}

// The errno the child reported before it gave up, or 0 once the program started.
// Once the child has become the user, the user may stop it before its exec: the caller then
// waits no longer than this for its report, and takes the start as failed (ETIMEDOUT).
constexpr int kReportWaitMs = 5000;

int ReadReport(int fd) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReportWaitMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        break;
    }
    int err = 0;
    ssize_t n;
    do {
        n = ::read(fd, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof err) ? (err ? err : EPERM) : 0;
}

void Reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

pid_t Start(const std::vector<std::string>& argv, bool detached) {
    ChildPlan plan;
    if (!MakePlan(plan, argv))
        return -1;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    // No handler of the caller's may run in the child before it has put them all back.
    sigset_t all, old;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid = ::fork();
    if (pid != 0) {
        const int forkErr = errno;
        ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
        errno = forkErr;
    }
    if (pid < 0) {
        const int err = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = err;
        return -1;
    }
    if (pid == 0) {
        ::close(report[0]);
        if (detached) {
            const pid_t grandchild = ::fork();
            if (grandchild < 0) {
                int err = errno;
                ssize_t ignored = ::write(report[1], &err, sizeof err);
                (void)ignored;
                ::_exit(127);
            }
            if (grandchild > 0)
                ::_exit(0);
        }
        RunChild(plan, report[1]);
    }
    ::close(report[1]);
    const int err = ReadReport(report[0]);
    ::close(report[0]);
    if (detached)
        Reap(pid);
    if (err != 0) {
        if (!detached) {
            if (err == ETIMEDOUT)
                ::kill(pid, SIGKILL); // stopped by the user before its exec: it runs nothing now
            Reap(pid);
        }
        errno = err;
        return -1;
    }
    return pid;
}

} // namespace

DesktopUserStatus FindDesktopUserStatus() {
    DesktopUserStatus status;
    if (::geteuid() != 0)
        return status;
    const char* pkexec = std::getenv("PKEXEC_UID");
    const char* sudo = std::getenv("SUDO_UID");
    const char* text = pkexec && *pkexec ? pkexec : sudo;
    const std::optional<uid_t> uid = ParseUid(text);
    if (!uid || *uid == 0)
        return status;
    status.uid = *uid;
    {
        // Looked up once per value, found or not: recovery asks for every file it writes, and a
        // password database that does not answer must not be asked again for each of them.
        std::lock_guard<std::mutex> guard(g_cacheLock);
        if (!g_lookedUp || g_cachedText != text) {
            g_cached = LookUp(*uid);
            g_cachedText = text;
            g_lookedUp = true;
        }
        status.user = g_cached;
    }
    status.state = status.user ? DesktopUserState::Found : DesktopUserState::Unreadable;
    return status;
}

std::optional<DesktopUser> FindDesktopUser() { return FindDesktopUserStatus().user; }

std::string DesktopUserRefusal() {
    const DesktopUserStatus status = FindDesktopUserStatus();
    if (status.state != DesktopUserState::Unreadable)
        return {};
    return "the desktop user's account (uid " + std::to_string(status.uid) +
           ") could not be read, and no program is started as root for them";
}

std::vector<std::string> DesktopUserEnvironment(const DesktopUser& user) {
    std::vector<std::string> env = {"HOME=" + user.home, "USER=" + user.name, "LOGNAME=" + user.name,
                                    std::string("PATH=") + kUserPath};
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            env.push_back(std::string(name) + "=" + value);
    }
    // An authority file of root's (pkexec may name one) is of no use to the user: left out, the
    // display's libraries read the user's own ~/.Xauthority.
    const char* xauth = std::getenv("XAUTHORITY");
    struct stat st {};
    if (xauth && *xauth && ::stat(xauth, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == user.uid)
        env.push_back(std::string("XAUTHORITY=") + xauth);
    const std::string runtime = "/run/user/" + std::to_string(user.uid);
    if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == user.uid)
        env.push_back("XDG_RUNTIME_DIR=" + runtime);
    return env;
}

pid_t SpawnForDesktopUser(const std::vector<std::string>& argv) { return Start(argv, false); }

bool LaunchForDesktopUser(const std::vector<std::string>& argv) { return Start(argv, true) > 0; }

bool DesktopUserMayRead(const std::string& path) {
    const DesktopUserStatus status = FindDesktopUserStatus();
    if (status.state == DesktopUserState::Unreadable)
        return false;
    const std::optional<DesktopUser>& user = status.user;
    if (!user)
        return true;
    auto allowed = [&](const struct stat& st, mode_t ownerBit) {
        const mode_t group = ownerBit >> 3, other = ownerBit >> 6;
        if (st.st_uid == user->uid)
            return (st.st_mode & ownerBit) != 0;
        for (gid_t g : user->groups)
            if (st.st_gid == g)
                return (st.st_mode & group) != 0;
        return (st.st_mode & other) != 0;
    };
    if (path.empty() || path[0] != '/')
        return false;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        struct stat st {};
        if (::stat(path.substr(0, slash).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !allowed(st, S_IXUSR))
            return false;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && allowed(st, S_IRUSR);
}

DesktopUserCopy::DesktopUserCopy(const std::string& path) {
    const DesktopUserStatus status = FindDesktopUserStatus();
    if (status.state == DesktopUserState::Unreadable)
        return; // nothing is handed to a program started for a user nobody could look up
    const std::optional<DesktopUser>& user = status.user;
    if (!user) {
        m_path = path;
        return;
    }
    const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char folder[] = "/tmp/brulin-view-XXXXXX";
    if (!::mkdtemp(folder)) {
        ::close(in);
        return;
    }
    m_folder = folder;
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string copy = m_folder + "/" + (name.empty() ? "file" : name);
    bool ok = false;
    const int dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (dir >= 0 && out >= 0) {
        ok = true;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                ok = false;
                break;
            }
            if (n == 0)
                break;
            if (!WriteFully(out, buffer, static_cast<std::size_t>(n))) {
                ok = false;
                break;
            }
        }
        // The file first, then its folder: until then the user can put nothing into the folder.
        ok = ok && ::fchmod(out, 0600) == 0 && ::fchown(out, user->uid, user->gid) == 0 &&
             ::fchown(dir, user->uid, user->gid) == 0;
    }
    if (out >= 0)
        ::close(out);
    if (dir >= 0)
        ::close(dir);
    ::close(in);
    if (ok) {
        m_path = copy;
    } else {
        ::unlink(copy.c_str());
        ::rmdir(m_folder.c_str());
        m_folder.clear();
    }
}

DesktopUserCopy::~DesktopUserCopy() {
    if (m_folder.empty())
        return;
    // The folder is the user's now: its entries are removed through it, never by a path that
    // could lead elsewhere.
    const int dir = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir >= 0) {
        const std::size_t slash = m_path.find_last_of('/');
        if (!m_path.empty())
            ::unlinkat(dir, m_path.substr(slash + 1).c_str(), 0);
        ::close(dir);
    }
    ::rmdir(m_folder.c_str());
}

void SetBeforeExecHookForTests(BeforeExecHook hook) { g_beforeExecHook.store(hook); }

void SetPasswdLookupForTests(PasswdLookup lookup) {
    std::lock_guard<std::mutex> guard(g_cacheLock);
    g_passwdLookup.store(lookup);
    g_cached.reset();
    g_cachedText.clear();
    g_lookedUp = false;
}

} // namespace platform
