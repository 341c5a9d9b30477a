#include "loader/RootStart.h"

#include "logging/Log.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

bool AsksForRoot(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a == kAskRootSwitch)
            return true;
    return false;
}

std::optional<int> RunAsRoot(const std::string& loaderPath) {
    if (loaderPath.empty() || loaderPath[0] != '/')
        return std::nullopt;
    // pkexec gives the program a clean environment of its own; the display comes through the
    // action's allow_gui. The root loader is started without the switch, so it never asks again.
    char* argv[] = {const_cast<char*>("pkexec"), const_cast<char*>(loaderPath.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "pkexec", nullptr, nullptr, argv, environ) != 0) {
        DebugTrace("____---No pkexec: running as the user.");
        return std::nullopt;
    }
    int status = 0;
    pid_t r;
    do
        r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    if (r != pid || !WIFEXITED(status)) {
        DebugTrace("____---pkexec did not end normally: running as the user.");
        return std::nullopt;
    }
    const int code = WEXITSTATUS(status);
    if (code == kPkexecRefused || code == kPkexecFailed) {
        DebugTrace("____---pkexec refused or failed (%d): running as the user.", code);
        return std::nullopt;
    }
    return code;
}

std::string OwnProgramPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
