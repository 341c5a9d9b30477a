#include "app/LoaderObjects.h"
#include "loader/Loader.h"
#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <filesystem>
#include <fstream>
#include <future>
#include <grp.h>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string kStub = std::string(BRULIN_BINARY_DIR) + "/tests/loader_stub";

// The descriptors of this process that a program it starts inherits (not close-on-exec).
std::set<int> DescriptorsPassedOn() {
    std::set<int> out;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::atoi(e.path().filename().c_str());
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            out.insert(fd);
    }
    return out;
}

class RecordedMessages : public ILoaderMessages {
public:
    void ShowMessage(int kind, const std::string& text) override { shown.push_back({kind, text}); }
    std::vector<std::pair<int, std::string>> shown;
};

// A scratch installation: bin/ with the stub as main program and crash reporter, the XDG
// folders inside the scratch folder, and the stub's script.
class LoaderTest : public ::testing::Test {
protected:
    void Install(const std::vector<std::string>& scriptLines, bool withProgram = true, bool withReporter = true) {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root = ScratchDir("loader_" + name);
        fs::remove_all(root);
        fs::create_directories(root + "/bin");
        if (withProgram)
            fs::copy_file(kStub, root + "/bin/BrulinUI");
        if (withReporter)
            fs::copy_file(kStub, root + "/bin/BrulinReport");
        script = root + "/script.txt";
        std::ofstream out(script);
        for (const auto& l : scriptLines)
            out << l << "\n";
        out.close();
        setenv("XDG_STATE_HOME", (root + "/state").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
        setenv("BRULIN_STUB_SCRIPT", script.c_str(), 1);
        config.paths = platform::ResolveAppPaths(root + "/bin", platform::GetEnv);
    }

    std::string LogText() const {
        const auto bytes = ReadFileBytes(config.paths.LogFile());
        return std::string(bytes.begin(), bytes.end());
    }
    int Runs() const {
        int n = 0;
        std::ifstream(script + ".runs") >> n;
        return n;
    }
    // The reporter runs on its own once started: give it a moment to leave its mark.
    bool Reported() const {
        for (int i = 0; i < 300 && !fs::exists(script + ".reported"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fs::exists(script + ".reported");
    }

    std::string root, script;
    LoaderConfig config;
    RecordedMessages messages;
};

} // namespace

TEST_F(LoaderTest, EveryLineOfANormalRunReachesTheLogFile) {
    // Lines before a pause longer than one wait, and a burst just before the end.
    Install({"log:first sleep:5500 logmany:200 log:last exit:0"});
    const std::set<int> passedOn = DescriptorsPassedOn();
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    const std::string log = LogText();
    EXPECT_EQ(log.find("first\r\n"), 0u) << log;
    EXPECT_NE(log.find("line 0 of run 0\r\nline 1 of run 0\r\n"), std::string::npos);
    EXPECT_NE(log.find("line 199 of run 0\r\nlast\r\n"), std::string::npos);
    EXPECT_EQ(Runs(), 1);
    EXPECT_FALSE(fs::exists(script + ".reported"));
    EXPECT_TRUE(messages.shown.empty());
    // The FIFOs and the names of the shared log buffer are gone with the loader.
    EXPECT_FALSE(fs::exists(CrashFifo(config.paths)));
    EXPECT_FALSE(platform::SharedMemory::Exists(LogMappingName(config.paths)));
    EXPECT_FALSE(platform::NamedMutex::Exists(LogMutexName(config.paths)));
    // The program inherits none of the loader's descriptors (log file, locks, FIFOs, shared
    // buffer, pidfd); only what the test process itself passes on to every program it starts.
    std::ifstream fds(script + ".fds");
    ASSERT_TRUE(fds.good());
    for (std::string line; std::getline(fds, line);)
        EXPECT_TRUE(passedOn.count(std::atoi(line.c_str()))) << line;
}

TEST_F(LoaderTest, TheLogFileIsWrittenWhileTheProgramRuns) {
    // With a wait of 300 ms, lines logged before a long pause are in the file during the
    // pause, not only once the program has ended.
    Install({"log:early sleep:4000 log:late"});
    config.waitMs = 300;
    auto loader = std::async(std::launch::async, [&] { return RunLoader(config, messages); });
    bool seenDuringRun = false;
    for (int i = 0; i < 300 && !seenDuringRun; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        seenDuringRun = LogText() == "early\r\n" &&
                        loader.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
    }
    EXPECT_TRUE(seenDuringRun) << LogText();
    EXPECT_EQ(loader.get(), kLoaderOk);
    EXPECT_EQ(LogText(), "early\r\nlate\r\n");
}

TEST_F(LoaderTest, ALogFileOfAnEarlierRunIsTruncated) {
    Install({"log:new"});
    fs::create_directories(root + "/state/brulin");
    std::ofstream(config.paths.LogFile()) << "old text\r\n";
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_EQ(LogText(), "new\r\n");
}

TEST_F(LoaderTest, ASecondLoaderIsRefusedAndTheFirstGoesOn) {
    Install({"log:begin sleep:1500 log:end"});
    RecordedMessages firstMessages;
    auto first = std::async(std::launch::async, [&] { return RunLoader(config, firstMessages); });
    // Wait until the first loader holds its lock and its program runs.
    for (int i = 0; i < 200 && Runs() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Runs(), 1);
    // The running loader holds its lock, which tells the program to log through the buffer.
    EXPECT_EQ(platform::ProbeLoaderLock(config.paths.LoaderLockFile()), 1);
    EXPECT_EQ(RunLoader(config, messages), kLoaderRefused);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].first, 2);
    EXPECT_EQ(messages.shown[0].second, "Oxtavo Data Recovery has been running!");
    EXPECT_EQ(first.get(), kLoaderOk);
    EXPECT_EQ(LogText(), "begin\r\nend\r\n");
    EXPECT_TRUE(firstMessages.shown.empty());
}

TEST_F(LoaderTest, LoadersWithDifferentRuntimeFoldersEachKeepTheirOwnLog) {
    // The instance lock and the shared log buffer both belong to the runtime folder: a second
    // loader with a folder of its own runs beside the first, and neither log holds a line of
    // the other program.
    Install({"log:first-begin sleep:1500 log:first-end"});
    const LoaderConfig firstConfig = config;
    RecordedMessages firstMessages;
    auto first = std::async(std::launch::async, [&] { return RunLoader(firstConfig, firstMessages); });
    for (int i = 0; i < 200 && Runs() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(Runs(), 1);
    Install({"log:second-begin sleep:300 log:second-end"});
    EXPECT_NE(LogMappingName(firstConfig.paths), LogMappingName(config.paths));
    EXPECT_NE(LogMutexName(firstConfig.paths), LogMutexName(config.paths));
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(LogText(), "second-begin\r\nsecond-end\r\n");
    EXPECT_EQ(first.get(), kLoaderOk);
    EXPECT_TRUE(firstMessages.shown.empty());
    const auto bytes = ReadFileBytes(firstConfig.paths.LogFile());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first-begin\r\nfirst-end\r\n");
}

// A first runtime folder in the way is passed over: the loader uses the next one, says so at
// the top of the log, and the program it starts (which on its own would look in the first
// place) meets it there: its crash byte reaches the loader.
TEST_F(LoaderTest, AFolderInTheWayIsPassedOverAndTheProgramMeetsTheLoaderInTheNextOne) {
    Install({"log:started crash exit:0"});
    const std::string blocked = root + "/run/brulin";
    fs::create_directories(root + "/run");
    std::ofstream(blocked) << "x";
    config.paths.runtimeChoices.insert(config.paths.runtimeChoices.begin() + 1, {root + "/next/brulin/", true});
    ASSERT_EQ(config.paths.runtimeChoices.front().dir, blocked + "/");
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(Reported());
    EXPECT_EQ(LogText(), "Runtime folder refused: " + blocked + ": not a folder of this user\r\n"
                         "Runtime folder used: " + root + "/next/brulin/\r\nstarted\r\n");
    std::ifstream kept(blocked);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "x");
    EXPECT_EQ(std::getenv(platform::kRuntimeDirVariable), nullptr);  // told the program only
}

TEST_F(LoaderTest, CrashStartsTheReporterAndEndsTheLoader) {
    Install({"log:before crash sleep:300 log:after exit:0", "log:never"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_TRUE(Reported());
    EXPECT_EQ(Runs(), 1);
    EXPECT_NE(LogText().find("before\r\n"), std::string::npos);
}

TEST_F(LoaderTest, ACrashByteJustBeforeTheEndStillCounts) {
    Install({"log:x crash exit:0"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_TRUE(Reported());
    EXPECT_EQ(Runs(), 1);
}

TEST_F(LoaderTest, MemoryCrashesRestartUpToTheCapThenReport) {
    Install({"log:run0 memory exit:3", "log:run1 memory exit:3", "log:run2 memory exit:3", "log:run3 memory exit:3",
             "log:run4"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_EQ(Runs(), 4);  // three restarts, then the fourth memory crash is reported
    EXPECT_TRUE(Reported());
    EXPECT_EQ(LogText(), "run0\r\nrun1\r\nrun2\r\nrun3\r\n");
}

TEST_F(LoaderTest, AfterAMemoryRestartTheFirstCrashByteIsIgnoredOnce) {
    // The restarted program signals a crash at once (ignored), then again later (reported).
    Install({"memory exit:3", "log:restarted crash sleep:700 crash sleep:300 log:late", "log:never"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_EQ(Runs(), 2);
    EXPECT_TRUE(Reported());
    EXPECT_NE(LogText().find("restarted\r\n"), std::string::npos);
}

TEST_F(LoaderTest, AProgramThatEndsAfterAMemoryRestartEndsTheLoader) {
    Install({"memory exit:3", "log:fine"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_EQ(Runs(), 2);
    EXPECT_FALSE(fs::exists(script + ".reported"));
    EXPECT_EQ(LogText(), "fine\r\n");
}

TEST_F(LoaderTest, TheCrashNoteOfEachRunIsMovedIntoTheLog) {
    // A program that logs through the shared buffer leaves its crash line in the crash note;
    // the loader appends it after that run's lines, before a restart or the report.
    // (The first crash byte after a memory restart is ignored once, so run 1 sends two.)
    Install({"log:run0 note:first-crash-line memory exit:3",
             "log:run1 note:second-crash-line crash sleep:500 crash exit:0"});
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    EXPECT_EQ(Runs(), 2);
    EXPECT_TRUE(Reported());
    EXPECT_EQ(LogText(), "run0\r\nfirst-crash-line\r\nrun1\r\nsecond-crash-line\r\n");
    EXPECT_FALSE(fs::exists(CrashNoteFile(config.paths)));
}

TEST_F(LoaderTest, FailuresToStartGiveANonZeroStatus) {
    Install({"log:x"}, /*withProgram=*/false);
    EXPECT_EQ(RunLoader(config, messages), kLoaderStartFailed);
    Install({"crash exit:0"}, true, /*withReporter=*/false);
    EXPECT_EQ(RunLoader(config, messages), kLoaderReportFailed);
}

namespace {

// The pid the stub recorded (0 before it ran).
pid_t StubPid(const std::string& script) {
    pid_t pid = 0;
    std::ifstream(script + ".pid") >> pid;
    return pid;
}

// True once `pid` has ended (gone, or a zombie nobody reaped yet).
bool Ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const std::size_t close = text.rfind(')');
    return close == std::string::npos || text.compare(close + 1, 3, " Z ") == 0 || text.compare(close + 1, 3, " X ") == 0;
}

bool EndsWithin(pid_t pid, int ms) {
    for (int waited = 0; waited < ms; waited += 20) {
        if (Ended(pid))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return Ended(pid);
}

} // namespace

TEST_F(LoaderTest, EndingSignalsEndTheProgramFirstAndNothingIsRestarted) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        Install({"log:up sleep:30000 log:never", "log:restarted"});
        struct sigaction before {};
        sigaction(sig, nullptr, &before);
        auto loader = std::async(std::launch::async, [&] { return RunLoader(config, messages); });
        pid_t stub = 0;
        for (int i = 0; i < 500 && (stub = StubPid(script)) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_NE(stub, 0);
        kill(getpid(), sig);
        ASSERT_EQ(loader.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const int status = loader.get();
        EXPECT_EQ(status, kLoaderStopped + sig);
        EXPECT_EQ(LoaderStopSignal(status), sig);
        // The program ended before the loader returned, and none was started after it.
        EXPECT_TRUE(Ended(stub));
        EXPECT_EQ(Runs(), 1);
        EXPECT_FALSE(fs::exists(script + ".reported"));
        EXPECT_EQ(LogText().find("never"), std::string::npos);
        // The signal is handled as before the loader ran.
        struct sigaction after {};
        sigaction(sig, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler);
    }
    for (const int status : {kLoaderOk, kLoaderRefused, kLoaderStartFailed, kLoaderReportFailed, kLoaderStopped})
        EXPECT_EQ(LoaderStopSignal(status), 0) << status;
}

TEST_F(LoaderTest, TheProgramGetsTheSwitchesAndTheLogBeginsWithTheNotes) {
    Install({"log:up"});
    config.programSwitches = {"-rootfallback=no-agent"};
    config.logNotes = {"Start as administrator: pkexec ended with 127 (no-agent): no agent; going on as the user."};
    EXPECT_EQ(RunLoader(config, messages), kLoaderOk);
    const auto args = ReadFileBytes(script + ".args");
    EXPECT_EQ(std::string(args.begin(), args.end()), "-pro\n-rootfallback=no-agent\n");
    EXPECT_EQ(LogText(), config.logNotes[0] + "\r\nup\r\n");
}

// The loader program itself, with the stub as its main program: ended by a signal it ends its
// program and then ends by the same signal; killed outright, its program goes with it.
TEST_F(LoaderTest, TheProgramNeverOutlivesTheLoaderProgram) {
    for (const int sig : {SIGTERM, SIGHUP, SIGKILL}) {
        SCOPED_TRACE(sig);
        Install({"log:up sleep:30000"});
        const std::string loader = root + "/bin/Brulin";
        fs::copy_file(std::string(BRULIN_BINARY_DIR) + "/Brulin", loader);
        fs::permissions(loader, fs::perms::owner_all);
        // No display: the loader never opens a window here.
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            execl(loader.c_str(), "Brulin", static_cast<char*>(nullptr));
            _exit(120);
        }
        pid_t stub = 0;
        for (int i = 0; i < 1000 && (stub = StubPid(script)) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_NE(stub, 0);
        kill(pid, sig);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), sig);
        if (sig != SIGKILL) {
            EXPECT_TRUE(Ended(stub));  // ended before the loader
        }
        EXPECT_TRUE(EndsWithin(stub, 5000));
        EXPECT_EQ(Runs(), 1);
        EXPECT_FALSE(fs::exists(script + ".reported"));
    }
}

// A link at the log's name is never followed: whatever it names is left whole (a file) or never
// made (a dangling link), and the start is refused with a message that says why.
TEST_F(LoaderTest, ALinkAtTheLogIsNeitherFollowedNorCut) {
    struct Case {
        const char* what;
        bool targetExists;
    };
    for (const Case c : {Case{"a link to a file", true}, Case{"a link to nothing", false}}) {
        SCOPED_TRACE(c.what);
        Install({"log:up"});
        messages.shown.clear();
        fs::create_directories(root + "/state/brulin");
        fs::permissions(root + "/state/brulin", fs::perms::owner_all);
        const std::string target = root + "/precious.txt";
        if (c.targetExists)
            std::ofstream(target) << "keep me\n";
        fs::create_symlink(target, config.paths.LogFile());
        EXPECT_EQ(RunLoader(config, messages), kLoaderRefused);
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_EQ(messages.shown[0].second.rfind("Cannot open the log file " + config.paths.LogFile() +
                                                     ": it is a symbolic link",
                                                 0),
                  0u)
            << messages.shown[0].second;
        EXPECT_EQ(Runs(), 0);
        EXPECT_TRUE(fs::is_symlink(config.paths.LogFile()));
        if (c.targetExists) {
            const auto bytes = ReadFileBytes(target);
            EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep me\n");
        } else {
            EXPECT_FALSE(fs::exists(fs::symlink_status(target)));
        }
    }
}

namespace {

// Starts the loader program copied into `root`/bin with `env` added to (or, for "NAME=" with no
// value, taken from) this process's environment; `hangUpIgnored` as under nohup, in a process
// group of its own. Without a display: the loader never opens a window here.
pid_t StartLoaderProgram(const std::string& root, const std::vector<std::string>& env, bool hangUpIgnored = false,
                         const std::vector<std::string>& args = {}) {
    const std::string loader = root + "/bin/Brulin";
    if (!fs::exists(loader)) {
        fs::copy_file(std::string(BRULIN_BINARY_DIR) + "/Brulin", loader);
        fs::permissions(loader, fs::perms::owner_all);
    }
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0;
        for (const std::string& add : env)
            replaced = replaced || entry.rfind(add.substr(0, add.find('=') + 1), 0) == 0;
        if (!replaced)
            entries.push_back(entry);
    }
    for (const std::string& add : env)
        if (add.back() != '=')
            entries.push_back(add);
    std::vector<char*> envp, argv{const_cast<char*>("Brulin")};
    for (std::string& e : entries)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (hangUpIgnored)
            signal(SIGHUP, SIG_IGN);
        execve(loader.c_str(), argv.data(), envp.data());
        _exit(120);
    }
    return pid;
}

pid_t WaitForStub(const std::string& script) {
    pid_t stub = 0;
    for (int i = 0; i < 1000 && (stub = StubPid(script)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return stub;
}

} // namespace

// The runtime folder a loader hands down is for its own program: a loader that finds one in its
// environment (sudo -E, su) ignores it, and never changes that folder.
TEST_F(LoaderTest, TheLoaderTakesNoRuntimeFolderFromItsEnvironment) {
    // A folder that would do as it is, and one open to others that must not be changed.
    for (const mode_t mode : {0700u, 0755u}) {
        SCOPED_TRACE(mode);
        Install({"log:up"});
        const std::string inherited = root + "/inherited";
        fs::create_directories(inherited);
        chmod(inherited.c_str(), mode);
        const pid_t pid = StartLoaderProgram(root, {"BRULIN_RUNTIME_DIR=" + inherited,
                                                    "BRULIN_LOADER_PID=" + std::to_string(getpid())});
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(Runs(), 1);
        // The program met the loader in the folder the loader chose for itself.
        std::ifstream met(script + ".runtime");
        std::string folder;
        std::getline(met, folder);
        EXPECT_EQ(folder, root + "/run/brulin/");
        struct stat st {};
        ASSERT_EQ(stat(inherited.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode);
        EXPECT_TRUE(fs::is_empty(inherited));
    }
}

// Started with SIGHUP ignored (nohup Brulin &), the loader and its program outlive a hang-up
// sent to their process group, as when the terminal closes; SIGTERM still ends both.
TEST_F(LoaderTest, ALoaderStartedWithNohupOutlivesAHangUp) {
    Install({"log:up sleep:30000"});
    const pid_t pid = StartLoaderProgram(root, {}, /*hangUpIgnored=*/true);
    ASSERT_GT(pid, 0);
    const pid_t stub = WaitForStub(script);
    ASSERT_NE(stub, 0);
    kill(-pid, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the loader ended: " << status;
    EXPECT_FALSE(Ended(stub));
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(EndsWithin(stub, 5000));
    kill(stub, SIGKILL);
}

// A loader started through pkexec is the child of the user's loader, and the user may signal
// only that one: when it ends, the loader it started ends its program and itself, and says why
// in the log. The starter is either a process that only starts it (as pkexec's parent) or, for
// a user who is not root, the user's own loader with a stand-in pkexec that runs the loader in
// its own process, as pkexec does. Under root the starter also gives up root once the loader
// runs, as the user's loader is another user than the loader pkexec makes root: no signal of the
// starter's may reach that loader then, and it still ends with it.
TEST_F(LoaderTest, ALoaderStartedThroughPkexecEndsWithTheLoaderThatStartedIt) {
    struct Case {
        const char* what;
        bool usersLoader;
        int sig;
        bool otherUser;  // root only: the starter runs as nobody once the loader has started
    };
    const std::vector<Case> cases = {{"a starter ended by SIGTERM", false, SIGTERM, false},
                                     {"a starter ended by SIGKILL", false, SIGKILL, false},
                                     {"a starter of another user ended by SIGTERM", false, SIGTERM, true},
                                     {"a starter of another user ended by SIGKILL", false, SIGKILL, true},
                                     {"the user's loader ended by SIGTERM", true, SIGTERM, false},
                                     {"the user's loader ended by SIGHUP", true, SIGHUP, false}};
    for (const Case& c : cases) {
        if (c.usersLoader && geteuid() == 0)
            continue;  // root's loader never asks pkexec
        if (c.otherUser && geteuid() != 0)
            continue;  // only root starts a loader that another user's process is the parent of
        SCOPED_TRACE(c.what);
        Install({"log:up sleep:30000"});
        // A root loader started by pkexec without a display hands back to the user's loader; a
        // display is named here so that it goes on (nothing opens it).
        const uid_t user = c.otherUser ? 65534 : getuid();
        const std::vector<std::string> env = {"PKEXEC_UID=" + std::to_string(user), "DISPLAY=:4242"};
        pid_t starter;
        pid_t loader = 0;
        if (c.usersLoader) {
            const std::string fake = root + "/fakebin";
            fs::create_directories(fake);
            std::ofstream(fake + "/pkexec") << "#!/bin/sh\nPKEXEC_UID=$(id -u) DISPLAY=:4242 exec \"$@\"\n";
            fs::permissions(fake + "/pkexec", fs::perms::owner_all);
            const std::string path = fake + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
            // pkexec is run only through the program's polkit action naming this loader.
            const std::string loaderPath = root + "/bin/Brulin";
            fs::copy_file(std::string(BRULIN_BINARY_DIR) + "/Brulin", loaderPath);
            fs::permissions(loaderPath, fs::perms::owner_all);
            const std::string actions = root + "/actions";
            fs::create_directories(actions);
            std::ifstream in(std::string(BRULIN_SOURCE_DIR) + "/packaging/brulin.policy.in");
            std::string policy((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const std::string mark = "@BRULIN_INSTALLED_LOADER@";
            policy.replace(policy.find(mark), mark.size(), fs::canonical(loaderPath).string());
            std::ofstream(actions + "/org.brulin.pkexec.brulin.policy") << policy;
            starter = StartLoaderProgram(root, {"PATH=" + path, "DISPLAY=", "PKEXEC_UID=", "BRULIN_POLKIT_ACTIONS_DIR=" + actions},
                                         false, {"--administrator"});
        } else {
            int told[2];
            ASSERT_EQ(pipe(told), 0);
            starter = fork();
            if (starter == 0) {
                close(told[0]);
                const pid_t child = StartLoaderProgram(root, env);
                const gid_t nobody = 65534;
                if (c.otherUser && (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                                    setresuid(user, user, user) != 0))
                    _exit(121);
                [[maybe_unused]] ssize_t n = write(told[1], &child, sizeof child);
                for (;;)
                    pause();
            }
            close(told[1]);
            ASSERT_EQ(read(told[0], &loader, sizeof loader), static_cast<ssize_t>(sizeof loader));
            close(told[0]);
        }
        ASSERT_GT(starter, 0);
        const pid_t stub = WaitForStub(script);
        ASSERT_NE(stub, 0);
        if (c.usersLoader) {
            std::ifstream children("/proc/" + std::to_string(starter) + "/task/" + std::to_string(starter) + "/children");
            children >> loader;
        }
        ASSERT_GT(loader, 0);
        if (c.otherUser) {
            // The starter could not end the loader itself.
            struct stat st {};
            ASSERT_EQ(stat(("/proc/" + std::to_string(starter)).c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, user);
        }
        kill(starter, c.sig);
        int status = 0;
        ASSERT_EQ(waitpid(starter, &status, 0), starter);
        EXPECT_TRUE(EndsWithin(stub, 5000));
        EXPECT_TRUE(EndsWithin(loader, 5000));
        EXPECT_NE(LogText().find("The loader that started this one has ended: the program was ended with it (signal 15).\r\n"),
                  std::string::npos)
            << LogText();
        EXPECT_EQ(Runs(), 1);
        EXPECT_FALSE(fs::exists(script + ".reported"));
        if (!Ended(stub) || !Ended(loader)) {
            kill(loader, SIGKILL);
            kill(stub, SIGKILL);
        }
    }
}

// A loader whose starter is gone before it starts (pkexec's caller ended while the password was
// asked for) starts no program: it ends at once, and says why.
TEST_F(LoaderTest, ALoaderWhoseStarterIsAlreadyGoneStartsNothing) {
    Install({"log:up sleep:30000"});
    const std::string loaderPath = root + "/bin/Brulin";
    fs::copy_file(std::string(BRULIN_BINARY_DIR) + "/Brulin", loaderPath);
    fs::permissions(loaderPath, fs::perms::owner_all);
    int told[2];
    ASSERT_EQ(pipe(told), 0);
    const pid_t starter = fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        close(told[0]);
        const pid_t me = getpid();
        if (fork() == 0) {
            // The loader-to-be waits until its starter has gone, then says who its parent is.
            while (getppid() == me)
                usleep(1000);
            const pid_t report[2] = {getpid(), getppid()};
            [[maybe_unused]] ssize_t n = write(told[1], report, sizeof report);
            close(told[1]);
            setenv("PKEXEC_UID", std::to_string(getuid()).c_str(), 1);
            setenv("DISPLAY", ":4242", 1);
            unsetenv("WAYLAND_DISPLAY");
            execl(loaderPath.c_str(), "Brulin", static_cast<char*>(nullptr));
            _exit(120);
        }
        _exit(0);
    }
    close(told[1]);
    int status = 0;
    ASSERT_EQ(waitpid(starter, &status, 0), starter);
    pid_t report[2] = {0, 0};
    ASSERT_EQ(read(told[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
    close(told[0]);
    if (report[1] != 1) {
        // A subreaper took the loader in: it stands where the starter stood, and nothing here
        // tells the two apart.
        kill(report[0], SIGKILL);
        GTEST_SKIP() << "orphans here go to process " << report[1] << ", not to init";
    }
    EXPECT_TRUE(EndsWithin(report[0], 5000));
    EXPECT_EQ(Runs(), 0);
    EXPECT_NE(LogText().find("The loader that started this one has ended: the program was ended with it (signal 15).\r\n"),
              std::string::npos)
        << LogText();
    if (!Ended(report[0]))
        kill(report[0], SIGKILL);
}
