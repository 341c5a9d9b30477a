#include "platform/SystemInfo.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kProbe = std::string(BRULIN_BINARY_DIR) + "/tests/crash_probe";

struct Outcome {
    int status = 0;
    int crashBytes = 0;
    int memoryBytes = 0;
    std::string log;
    std::string err; // the probe's standard error (where its notice goes)
    std::vector<std::string> dumps;
};

int CountBytes(int fd) {
    int total = 0;
    char buf[16];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        total += static_cast<int>(n);
    return total;
}

std::string ReadText(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs the probe in a fresh folder with the loader's two FIFOs open for reading.
Outcome RunProbe(const std::string& mode) {
    const std::string dir = ScratchDir("crash_" + mode);
    fs::remove_all(dir);
    fs::create_directories(dir);
    Outcome out;
    for (const char* name : {"crash", "memory"})
        EXPECT_EQ(mkfifo((dir + "/" + name).c_str(), 0600), 0);
    const int crashFd = open((dir + "/crash").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int memoryFd = open((dir + "/memory").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::vector<std::string> args = {kProbe, mode, dir};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, (dir + "/stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, kProbe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    waitpid(pid, &out.status, 0);
    out.err = ReadText(dir + "/stderr.txt");
    out.crashBytes = CountBytes(crashFd);
    out.memoryBytes = CountBytes(memoryFd);
    close(crashFd);
    close(memoryFd);
    if (fs::exists(dir + "/log.txt"))
        out.log = ReadText(dir + "/log.txt");
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("Brulindump", 0) == 0)
            out.dumps.push_back(ReadText(e.path().string()));
    return out;
}

} // namespace

TEST(CrashHandler, FatalSignalsSignalTheLoaderLeaveADumpAndEndByTheSignal) {
    const struct {
        const char* mode;
        int signal;
    } cases[] = {{"segv", SIGSEGV},
                 {"segv-worker", SIGSEGV},
                 // The second thread waits for the first one's report instead of ending the
                 // process in the middle of it.
                 {"segv-two", SIGSEGV},
                 {"overflow", SIGSEGV},
                 // Only an alternate signal stack, which the worker got when it started, lets
                 // the handler run after the worker's own stack is used up.
                 {"overflow-worker", SIGSEGV},
                 // A thread the toolkit's libraries start gets one from the program's own
                 // pthread_create, before any of its code runs.
                 {"overflow-toolkit", SIGSEGV},
                 {"abort", SIGABRT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Outcome out = RunProbe(c.mode);
        ASSERT_TRUE(WIFSIGNALED(out.status)) << out.status;
        EXPECT_EQ(WTERMSIG(out.status), c.signal);
        EXPECT_EQ(out.crashBytes, 1);
        EXPECT_EQ(out.memoryBytes, 0);
        char line[64];
        std::snprintf(line, sizeof line, "Caught an excetpion! Exception Code:%08x Address:", c.signal);
        EXPECT_NE(out.log.find(line), std::string::npos) << out.log;
        ASSERT_EQ(out.dumps.size(), 1u);
        const std::string& dump = out.dumps[0];
        EXPECT_EQ(dump.rfind("Brulin crash dump 1\nsignal: " + std::to_string(c.signal) + "\n", 0), 0u) << dump;
        const auto bt = dump.find("backtrace:\n");
        const auto maps = dump.find("maps:\n");
        ASSERT_NE(bt, std::string::npos);
        ASSERT_NE(maps, std::string::npos);
        EXPECT_NE(dump.substr(bt, maps - bt).find("crash_probe"), std::string::npos) << dump.substr(bt, maps - bt);
        EXPECT_NE(dump.find("[stack]", maps), std::string::npos);
    }
}

TEST(CrashHandler, OutOfMemoryPicksTheFifoByRawRecoveryAndExitsWithoutAbort) {
    const struct {
        const char* mode;
        int crash, memory;
        bool notice; // only the UI thread shows the notice
    } cases[] = {{"oom-raw", 0, 1, true}, {"oom-plain", 1, 0, true}, {"oom-worker", 1, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        const Outcome out = RunProbe(c.mode);
        ASSERT_TRUE(WIFEXITED(out.status)) << out.status;
        EXPECT_EQ(WEXITSTATUS(out.status), platform::kOutOfMemoryExitStatus);
        EXPECT_EQ(out.crashBytes, c.crash);
        EXPECT_EQ(out.memoryBytes, c.memory);
        EXPECT_NE(out.log.find("Failed to alloc 0x01000000 bytes\r\n"), std::string::npos) << out.log;
        EXPECT_NE(out.log.find("Caught an excetpion! Exception Code:e0000001 Address:00000000\r\n"), std::string::npos)
            << out.log;
        EXPECT_EQ(out.err.find("notice: "), c.notice ? 0u : std::string::npos) << out.err;
        if (c.notice) {
            EXPECT_NE(out.err.find(c.memory ? "untick \"Recover RAW file\"" : "enlarge your virtual memory"),
                      std::string::npos)
                << out.err;
        }
        ASSERT_EQ(out.dumps.size(), 1u);
        EXPECT_EQ(out.dumps[0].rfind("Brulin crash dump 1\nsignal: 0\ncode: e0000001\n", 0), 0u);
    }
}

TEST(CrashHandler, RunningOutOfMemoryAgainInsideTheHandlerEndsAtOnce) {
    // The notice cannot be shown for want of memory: the second failure writes the loader's
    // byte and ends the process, without a second report, a crash line or a dump.
    const Outcome out = RunProbe("oom-twice");
    ASSERT_TRUE(WIFEXITED(out.status)) << out.status;
    EXPECT_EQ(WEXITSTATUS(out.status), platform::kOutOfMemoryExitStatus);
    EXPECT_EQ(out.crashBytes, 1);
    EXPECT_EQ(out.memoryBytes, 0);
    EXPECT_NE(out.log.find("Failed to alloc 0x01000000 bytes\r\n"), std::string::npos) << out.log;
    EXPECT_EQ(out.log.find("Failed to alloc 0x40000000"), std::string::npos) << out.log;
    EXPECT_EQ(out.log.find("Caught an excetpion!"), std::string::npos) << out.log;
    EXPECT_TRUE(out.dumps.empty());
}
