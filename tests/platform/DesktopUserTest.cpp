// Outside programs after an administrator start run as the desktop user (their uid, groups, home
// and little else of root's environment), get copies of files that user may read, and what is
// written into the user's folders becomes theirs. As root for nobody; skipped for other users.
#include "platform/DesktopUser.h"
#include "tests/support/DesktopUserKit.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <optional>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

#define SKIP_UNLESS_ADMINISTRATOR_START()                                    \
    do {                                                                     \
        const std::string why = AdministratorStartUnavailable();             \
        if (!why.empty())                                                    \
            GTEST_SKIP() << why;                                             \
    } while (0)

// Root's environment as a desktop start leaves it: a display, an authority file of root's, and
// things of root's the user's programs must not see.
struct RootEnvironment {
    std::string rootAuthority;
    std::string oldPath;
    explicit RootEnvironment(const std::string& binDir, const std::string& rootDir) {
        rootAuthority = rootDir + "/Xauthority";
        std::ofstream(rootAuthority) << "cookie";
        ::chmod(rootAuthority.c_str(), 0600);
        oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (binDir + ":" + oldPath).c_str(), 1);
        ::setenv("DISPLAY", ":77", 1);
        ::setenv("XAUTHORITY", rootAuthority.c_str(), 1);
        ::setenv("BRULIN_ROOT_ONLY", "secret", 1);
    }
    ~RootEnvironment() {
        ::setenv("PATH", oldPath.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("XAUTHORITY");
        ::unsetenv("BRULIN_ROOT_ONLY");
    }
};

} // namespace

TEST(DesktopUser, FoundOnlyAsRootFromPkexecOrSudo) {
    SKIP_UNLESS_ADMINISTRATOR_START();
    struct Case {
        const char* variable;
        const char* uid;
        bool found;
    };
    const Case cases[] = {
        {"PKEXEC_UID", "65534", true}, {"SUDO_UID", "65534", true}, {"PKEXEC_UID", "0", false},
        {"SUDO_UID", "65534x", false}, {"PKEXEC_UID", "", false},    {"PKEXEC_UID", "4294967295", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + c.uid);
        AdministratorStart start(c.variable, c.uid);
        const auto user = platform::FindDesktopUser();
        ASSERT_EQ(user.has_value(), c.found);
        if (user) {
            EXPECT_EQ(user->uid, kNobodyUid);
            EXPECT_EQ(user->name, "nobody");
        }
    }
}

// A desktop user is named but their password entry cannot be read: nothing is ever started as
// root in their place (no helper runs at all), nothing is handed over, and the reason names the
// uid; FindDesktopUser gives no user, so what is written is written as root's.
TEST(DesktopUser, AUserWhoseEntryCannotBeReadGetsNoProgramOfRoots) {
    SKIP_UNLESS_ADMINISTRATOR_START();
    OpenTempFolder bin, records(kNobodyUid, 0700), rootOnly(0, 0700);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty() || rootOnly.Path().empty());
    WriteRecorder(bin.Path(), "stand-in", records.Path(), 0);
    const std::string file = rootOnly.Path() + "/page.html";
    std::ofstream(file) << "page";
    ::chmod(rootOnly.Path().c_str(), 0755);
    ::chmod(file.c_str(), 0644);
    EXPECT_EQ(platform::DesktopUserRefusal(), "");  // no administrator start
    for (const char* variable : {"PKEXEC_UID", "SUDO_UID"}) {
        SCOPED_TRACE(variable);
        AdministratorStart start(variable);
        {
            UnreadablePasswd unreadable;
            const platform::DesktopUserStatus status = platform::FindDesktopUserStatus();
            EXPECT_EQ(status.state, platform::DesktopUserState::Unreadable);
            EXPECT_EQ(status.uid, kNobodyUid);
            EXPECT_FALSE(platform::FindDesktopUser());
            EXPECT_EQ(platform::DesktopUserRefusal(), std::string(kNobodyUnreadable) +
                                                          ", and no program is started as root for them");
            errno = 0;
            EXPECT_EQ(platform::SpawnForDesktopUser({bin.Path() + "/stand-in"}), -1);
            EXPECT_EQ(errno, EPERM);
            EXPECT_FALSE(platform::LaunchForDesktopUser({bin.Path() + "/stand-in"}));
            EXPECT_FALSE(platform::DesktopUserMayRead(file));
            EXPECT_EQ(platform::DesktopUserCopy(file).Path(), "");
            EXPECT_FALSE(ReadRun(records.Path(), "stand-in", 500).ran);
        }
        // Readable again: the user is found, and their programs run as them.
        const platform::DesktopUserStatus status = platform::FindDesktopUserStatus();
        EXPECT_EQ(status.state, platform::DesktopUserState::Found);
        EXPECT_EQ(platform::DesktopUserRefusal(), "");
        EXPECT_TRUE(platform::DesktopUserMayRead(file));
        const pid_t pid = platform::SpawnForDesktopUser({bin.Path() + "/stand-in"});
        ASSERT_GT(pid, 0);
        int st = 0;
        ASSERT_EQ(::waitpid(pid, &st, 0), pid);
        const RecordedRun run = ReadRun(records.Path(), "stand-in", 0);
        ASSERT_TRUE(run.ran);
        EXPECT_EQ(run.uid, kNobodyUid);
        ::unlink((records.Path() + "/stand-in").c_str());
    }
}

TEST(DesktopUser, ProgramsRunAsTheUserWithTheirHomeAndOnlyTheDisplay) {
    SKIP_UNLESS_ADMINISTRATOR_START();
    OpenTempFolder bin, records(kNobodyUid, 0700), rootOnly(0, 0700);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty() || rootOnly.Path().empty());
    WriteRecorder(bin.Path(), "stand-in-waited", records.Path(), 0);
    WriteRecorder(bin.Path(), "stand-in-launched", records.Path(), 0);
    RootEnvironment env(bin.Path(), rootOnly.Path());
    AdministratorStart start;
    // A descriptor of root's open without close-on-exec (as a library may leave one).
    const int leaked = ::open(rootOnly.Path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 57), 57);

    const pid_t pid = platform::SpawnForDesktopUser({"stand-in-waited", "file:///x y.html"});
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(platform::LaunchForDesktopUser({"stand-in-launched", "/home/folder"}));
    ::close(57);
    ::close(leaked);

    for (const char* name : {"stand-in-waited", "stand-in-launched"}) {
        SCOPED_TRACE(name);
        const RecordedRun run = ReadRun(records.Path(), name);
        ASSERT_TRUE(run.ran);
        EXPECT_EQ(run.uid, kNobodyUid);
        EXPECT_EQ(run.groups, "65534");
        EXPECT_EQ(run.env.count("HOME") ? run.env.at("HOME") : "", "/nonexistent");
        EXPECT_EQ(run.env.count("USER") ? run.env.at("USER") : "", "nobody");
        EXPECT_EQ(run.env.count("LOGNAME") ? run.env.at("LOGNAME") : "", "nobody");
        EXPECT_EQ(run.env.count("DISPLAY") ? run.env.at("DISPLAY") : "", ":77");
        EXPECT_EQ(run.env.count("PATH") ? run.env.at("PATH") : "", "/usr/local/bin:/usr/bin:/bin");
        // Root's authority file is no use to the user; nothing else of root's goes along.
        EXPECT_EQ(run.env.count("XAUTHORITY"), 0u);
        EXPECT_EQ(run.env.count("BRULIN_ROOT_ONLY"), 0u);
        EXPECT_EQ(run.env.count("XDG_RUNTIME_DIR"), 0u); // no /run/user/65534 of nobody's
        for (int fd : run.fds)
            EXPECT_NE(fd, 57);
    }
    EXPECT_EQ(ReadRun(records.Path(), "stand-in-waited").args, std::vector<std::string>{"file:///x y.html"});

    // The user's own authority file goes along.
    const std::string own = records.Path() + "/Xauthority";
    std::ofstream(own) << "cookie";
    ASSERT_EQ(::chown(own.c_str(), kNobodyUid, static_cast<gid_t>(-1)), 0);
    ::setenv("XAUTHORITY", own.c_str(), 1);
    const auto user = platform::FindDesktopUser();
    ASSERT_TRUE(user);
    const std::vector<std::string> userEnv = platform::DesktopUserEnvironment(*user);
    EXPECT_NE(std::find(userEnv.begin(), userEnv.end(), "XAUTHORITY=" + own), userEnv.end());

    // A program that is not there starts nothing.
    EXPECT_EQ(platform::SpawnForDesktopUser({"brulin-no-such-program"}), -1);
    EXPECT_FALSE(platform::LaunchForDesktopUser({"brulin-no-such-program"}));
}

namespace {

// The caller's handler writes a byte here wherever it runs.
int g_handlerRan = -1;
volatile sig_atomic_t g_raised = 0;
void CallerHandler(int) {
    const char b = 'h';
    [[maybe_unused]] ssize_t n = ::write(g_handlerRan, &b, 1);
}
void CallerCrashHandler(int, siginfo_t*, void*) { CallerHandler(0); }
void RaiseBeforeExec() { ::raise(g_raised); }

} // namespace

// A signal that reaches the helper's child before its exec (once it runs as the user, the user
// may send one) meets none of the caller's handlers there (the crash handler, the loader's stop
// handlers): the child ends by it as by a default action, and the caller's handler never runs.
TEST(DesktopUser, NoHandlerOfTheCallersRunsInTheChildBeforeItsExec) {
    const bool asUser = AdministratorStartUnavailable().empty();
    OpenTempFolder bin(::getuid()), records(asUser ? kNobodyUid : ::getuid(), 0700);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty());
    WriteRecorder(bin.Path(), "stand-in", records.Path(), 0);
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    g_handlerRan = fds[1];
    rlimit noCore{0, 0}, oldCore{};
    ::getrlimit(RLIMIT_CORE, &oldCore);
    ::setrlimit(RLIMIT_CORE, &noCore);
    for (const bool administrator : {false, true}) {
        if (administrator && !asUser)
            continue;
        std::optional<AdministratorStart> start;
        if (administrator)
            start.emplace();
        for (const int sig : {SIGTERM, SIGUSR1, SIGSEGV}) {
            SCOPED_TRACE(std::string(administrator ? "as nobody, " : "as the caller, ") + strsignal(sig));
            struct sigaction mine {}, old {};
            sigemptyset(&mine.sa_mask);
            if (sig == SIGSEGV) {
                mine.sa_sigaction = CallerCrashHandler;
                mine.sa_flags = SA_SIGINFO;
            } else {
                mine.sa_handler = CallerHandler;
            }
            ASSERT_EQ(::sigaction(sig, &mine, &old), 0);
            g_raised = sig;
            platform::SetBeforeExecHookForTests(RaiseBeforeExec);
            const pid_t pid = platform::SpawnForDesktopUser({bin.Path() + "/stand-in"});
            platform::SetBeforeExecHookForTests(nullptr);
            int status = 0;
            EXPECT_GT(pid, 0);
            if (pid > 0) {
                ASSERT_EQ(::waitpid(pid, &status, 0), pid);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
            }
            ::sigaction(sig, &old, nullptr);
            char b = 0;
            EXPECT_EQ(::read(fds[0], &b, 1), -1) << "the caller's handler ran in the child";
            EXPECT_FALSE(ReadRun(records.Path(), "stand-in", 0).ran);
        }
    }
    ::setrlimit(RLIMIT_CORE, &oldCore);
    ::close(fds[0]);
    ::close(fds[1]);
}

// Once it is the user's, the user may stop the child before its exec: the caller waits a bounded
// time for it, takes the start as failed, and leaves no child of its own behind.
TEST(DesktopUser, AChildStoppedBeforeItsExecDoesNotHoldTheCallerForever) {
    const bool administrator = AdministratorStartUnavailable().empty();
    OpenTempFolder bin(::getuid()), records(administrator ? kNobodyUid : ::getuid(), 0700);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty());
    WriteRecorder(bin.Path(), "stand-in", records.Path(), 0);
    std::optional<AdministratorStart> start;
    if (administrator)
        start.emplace();
    g_raised = SIGSTOP;
    platform::SetBeforeExecHookForTests(RaiseBeforeExec);
    const auto began = std::chrono::steady_clock::now();
    errno = 0;
    const pid_t pid = platform::SpawnForDesktopUser({bin.Path() + "/stand-in"});
    const int err = errno;
    platform::SetBeforeExecHookForTests(nullptr);
    EXPECT_EQ(pid, -1);
    EXPECT_EQ(err, ETIMEDOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1); // the stopped child was ended and reaped
    EXPECT_FALSE(ReadRun(records.Path(), "stand-in", 0).ran);
}

TEST(DesktopUser, CopiesForTheUserAreTheirsAndGoAway) {
    SKIP_UNLESS_ADMINISTRATOR_START();
    OpenTempFolder rootOnly(0, 0700);
    const std::string original = rootOnly.Path() + "/~@!carved.doc";
    std::ofstream(original) << "carved bytes";
    ::chmod(original.c_str(), 0600);
    AdministratorStart start;
    std::string copyPath, folder;
    {
        const platform::DesktopUserCopy copy(original);
        copyPath = copy.Path();
        ASSERT_FALSE(copyPath.empty());
        ASSERT_NE(copyPath, original);
        folder = copyPath.substr(0, copyPath.find_last_of('/'));
        struct stat st {};
        ASSERT_EQ(::lstat(copyPath.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobodyUid);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_uid, kNobodyUid);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        std::ifstream in(copyPath);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "carved bytes");
    }
    EXPECT_NE(::access(copyPath.c_str(), F_OK), 0);
    EXPECT_NE(::access(folder.c_str(), F_OK), 0);
    EXPECT_EQ(::access(original.c_str(), F_OK), 0);
}

TEST(DesktopUser, HelpPagesAreHandedOverOnlyWhenTheUserMayReadThem) {
    SKIP_UNLESS_ADMINISTRATOR_START();
    OpenTempFolder open, rootOnly(0, 0700);
    for (const std::string& dir : {open.Path(), rootOnly.Path()})
        std::ofstream(dir + "/index.html") << "<html></html>";
    ::chmod((open.Path() + "/index.html").c_str(), 0644);
    ::chmod((rootOnly.Path() + "/index.html").c_str(), 0644);
    const std::string unreadable = open.Path() + "/private.html";
    std::ofstream(unreadable) << "<html></html>";
    ::chmod(unreadable.c_str(), 0600);
    AdministratorStart start;
    EXPECT_TRUE(platform::DesktopUserMayRead(open.Path() + "/index.html"));
    EXPECT_FALSE(platform::DesktopUserMayRead(rootOnly.Path() + "/index.html"));
    EXPECT_FALSE(platform::DesktopUserMayRead(unreadable));
    EXPECT_FALSE(platform::DesktopUserMayRead(open.Path() + "/missing.html"));
}
