#pragma once
// Reading disks needs root. Started from the desktop entry (with kAskRootSwitch) by a user who
// is not root, the loader runs itself again as root through pkexec, which asks for the
// administrator's password; the polkit action the package installs names the installed loader
// and keeps the display. pkexec runs the loader in its own process, so once it has started,
// its end is the root loader's end: the user's loader goes on as the user only when no polkit
// action names it (pkexec is then not run), pkexec is missing or reports a failure of its own
// (126, 127), and it tells the main program why.
#include "app/StartupOptions.h"
#include "loader/PolkitAction.h"

#include <string>
#include <vector>

constexpr char kAskRootSwitch[] = "--administrator";

// pkexec's own statuses: the user dismissed the password question or is not allowed (126), or
// the authentication failed or could not be asked for, or the program could not be run (127).
constexpr int kPkexecRefused = 126;
constexpr int kPkexecFailed = 127;

// True when the arguments hold kAskRootSwitch.
bool AsksForRoot(const std::vector<std::string>& args);

struct RootStartResult {
    // The loader ran as root (or pkexec ended otherwise than by its own failure): the user's
    // loader ends with `status` and starts nothing.
    bool ran = false;
    int status = 0;
    int signal = 0;  // the signal that ended it (then status is 128 + signal)
    // Why the user's loader goes on as the user (when it did not run).
    RootFallback fallback = RootFallback::None;
    // pkexec's exit status and message, one line for the log.
    std::string logLine;
};

// Runs `loaderPath` (absolute) through "pkexec" found on PATH and waits for it. pkexec's
// standard error (and with it the root loader's) is passed on to this process's standard
// error as it comes; its last part is kept to tell why pkexec failed. pkexec is run only when
// the program's polkit action in `actionsDir` names `loaderPath` (loader/PolkitAction.h):
// otherwise it would ask for the password for nothing, and the user goes on at once
// (RootFallback::NoAction, the log line saying why).
RootStartResult RunAsRoot(const std::string& loaderPath, const std::string& actionsDir = kPolkitActionsDir);

// Why pkexec failed, from its status (126 or 127) and its message.
RootFallback ClassifyPkexecFailure(int status, const std::string& message);

// A program's message as one line for the log: control characters dropped, line ends as
// " / ", at most `limit` bytes (the end kept).
std::string OneLogLine(const std::string& message, std::size_t limit = 600);

// This program's absolute path ("" when it cannot be found).
std::string OwnProgramPath();
