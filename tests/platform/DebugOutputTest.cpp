#include "platform/DebugOutput.h"
#include "tests/support/FixtureKit.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

struct SwitchCase {
    const char* env; // BRULIN_DEBUG_OUTPUT, nullptr for unset
    bool trace;
    bool shown;
};

// Runs one case in a child of its own (the environment is read once per process): its standard
// error goes to `path`. The child ends with 0 when the hook got the text, whatever was shown.
int RunCase(const SwitchCase& c, const std::string& path) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0)
        ::_exit(2);
    if (c.env)
        ::setenv("BRULIN_DEBUG_OUTPUT", c.env, 1);
    else
        ::unsetenv("BRULIN_DEBUG_OUTPUT");
    bool hooked = false;
    platform::SetDebugOutputHook([&](const std::string& text) { hooked = text == "line\n"; });
    platform::SetDebugOutputTrace(c.trace);
    platform::DebugOutput("line\n");
    std::fflush(stderr);
    ::_exit(hooked ? 0 : 3);
}

} // namespace

// Standard error gets the debug output only with the trace switch and BRULIN_DEBUG_OUTPUT=1
// both; the capture hook gets it always.
TEST(DebugOutput, StandardErrorNeedsTraceAndTheEnvironmentSwitch) {
    const SwitchCase cases[] = {
        {"1", false, false}, // the environment alone
        {nullptr, true, false}, // the trace switch alone
        {"0", true, false},
        {"1", true, true},
    };
    const std::string dir = ScratchDir("debug-output");
    int n = 0;
    for (const SwitchCase& c : cases) {
        const std::string path = dir + "/stderr-" + std::to_string(n++) + ".txt";
        const pid_t pid = RunCase(c, path);
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        SCOPED_TRACE(std::string("BRULIN_DEBUG_OUTPUT=") + (c.env ? c.env : "(unset)") +
                     (c.trace ? " with trace" : " without trace"));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the hook did not get the text";
        const std::vector<std::uint8_t> got = ReadFileBytes(path);
        EXPECT_EQ(std::string(got.begin(), got.end()), c.shown ? "line\n" : "");
    }
}
