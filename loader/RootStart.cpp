#include "loader/RootStart.h"

#include "platform/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How much of pkexec's standard error is kept to tell why it failed.
constexpr std::size_t kKeptMessage = 4096;

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// Reads what is waiting on `fd` (non-blocking), passes it on to standard error and keeps the
// last kKeptMessage bytes in `kept`. False once the write ends are all closed.
bool PassOn(int fd, std::string& kept) {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            platform::WriteFully(STDERR_FILENO, buf, static_cast<std::size_t>(n));
            kept.append(buf, static_cast<std::size_t>(n));
            if (kept.size() > kKeptMessage)
                kept.erase(0, kept.size() - kKeptMessage);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n != 0;
    }
}

} // namespace

bool AsksForRoot(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a == kAskRootSwitch)
            return true;
    return false;
}

RootFallback ClassifyPkexecFailure(int status, const std::string& message) {
    // Without an agent pkexec says so (its own text agent fails first when there is no
    // terminal); a refusal is a dismissed question or "Not authorized", with either status.
    if (Contains(message, "No authentication agent found") || Contains(message, "textual authentication agent"))
        return RootFallback::NoAgent;
    if (status == kPkexecRefused || Contains(message, "Not authorized") || Contains(message, "Request dismissed"))
        return RootFallback::Refused;
    return RootFallback::Failed;
}

std::string OneLogLine(const std::string& message, std::size_t limit) {
    std::string out;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(message[i]);
        if (c == '\n') {
            if (!out.empty() && out.compare(out.size() < 3 ? 0 : out.size() - 3, 3, " / ") != 0)
                out += " / ";
        } else if (c >= 0x20 && c != 0x7f) {
            out += static_cast<char>(c);
        }
    }
    while (out.size() >= 3 && out.compare(out.size() - 3, 3, " / ") == 0)
        out.erase(out.size() - 3);
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    if (out.size() > limit)
        out.erase(0, out.size() - limit);
    return out;
}

RootStartResult RunAsRoot(const std::string& loaderPath, const std::string& actionsDir) {
    RootStartResult result;
    if (loaderPath.empty() || loaderPath[0] != '/') {
        result.fallback = RootFallback::Failed;
        result.logLine = "Start as administrator: the loader cannot find its own path; going on as the user.";
        return result;
    }
    // Without an action naming this loader pkexec would ask for the password and then run the
    // loader under its generic action, without the display: nothing the user could use.
    if (const std::string mismatch = PolkitActionMismatch(loaderPath, actionsDir); !mismatch.empty()) {
        result.fallback = RootFallback::NoAction;
        result.logLine = "Start as administrator: " + mismatch + "; pkexec was not run (no password asked), going on as the user.";
        return result;
    }
    int pipeFds[2] = {-1, -1};
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        result.fallback = RootFallback::Failed;
        result.logLine = std::string("Start as administrator: no pipe for pkexec's messages (") + std::strerror(errno) +
                         "); going on as the user.";
        return result;
    }
    platform::FileHandle readEnd(pipeFds[0]);
    platform::FileHandle writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDERR_FILENO);
    // pkexec gives the program a clean environment of its own; the display comes through the
    // action's allow_gui. The root loader is started without the switch, so it never asks again.
    char* argv[] = {const_cast<char*>("pkexec"), const_cast<char*>(loaderPath.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, "pkexec", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Close();
    if (spawned != 0) {
        result.fallback = spawned == ENOENT ? RootFallback::NoPkexec : RootFallback::Failed;
        result.logLine = std::string("Start as administrator: pkexec cannot be run (") + std::strerror(spawned) +
                         "); going on as the user.";
        return result;
    }
    // Pass pkexec's messages on while it runs. Its end is told by waitpid, not by the pipe:
    // a program the root loader leaves behind (the crash reporter) may hold the pipe longer.
    std::string kept;
    bool open = true;
    int status = 0;
    for (;;) {
        pollfd p{readEnd.Get(), POLLIN, 0};
        if (open && poll(&p, 1, 200) > 0)
            open = PassOn(readEnd.Get(), kept);
        else if (!open)
            poll(nullptr, 0, 200);
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            break;
        if (r < 0 && errno != EINTR) {
            status = -1;
            break;
        }
    }
    if (open)
        PassOn(readEnd.Get(), kept);
    const std::string message = OneLogLine(kept);
    if (status == -1 || WIFSIGNALED(status)) {
        // The loader had started as root (pkexec itself ends with a status): it was ended.
        result.ran = true;
        result.signal = status == -1 ? 0 : WTERMSIG(status);
        result.status = status == -1 ? kPkexecFailed : 128 + result.signal;
        result.logLine = status == -1 ? std::string("Start as administrator: pkexec was lost.")
                                      : "Start as administrator: the loader running as administrator was ended by "
                                        "signal " + std::to_string(result.signal) + ".";
        return result;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : kPkexecFailed;
    if (code != kPkexecRefused && code != kPkexecFailed) {
        result.ran = true;
        result.status = code;
        result.logLine = "Start as administrator: the loader ran as administrator and ended with " +
                         std::to_string(code) + ".";
        return result;
    }
    result.fallback = ClassifyPkexecFailure(code, message);
    result.logLine = "Start as administrator: pkexec ended with " + std::to_string(code) + " (" +
                     RootFallbackName(result.fallback) + "): " + (message.empty() ? "no message" : message) +
                     "; going on as the user.";
    return result;
}

std::string OwnProgramPath() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}
