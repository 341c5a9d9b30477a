#pragma once
// Reading disks needs root. Started from the desktop entry (with kAskRootSwitch) by a user who
// is not root, the loader runs itself again as root through pkexec, which asks for the
// administrator's password; the polkit action the package installs names the installed loader
// and keeps the display. When pkexec is missing, the user refuses or polkit cannot ask, the
// loader goes on as the user: disk images can still be opened.
#include <optional>
#include <string>
#include <vector>

constexpr char kAskRootSwitch[] = "--administrator";

// pkexec's own statuses: the user refused or could not authenticate (126), or it could not
// run the program at all (127).
constexpr int kPkexecRefused = 126;
constexpr int kPkexecFailed = 127;

// True when the arguments hold kAskRootSwitch.
bool AsksForRoot(const std::vector<std::string>& args);

// Runs `loaderPath` (absolute) through "pkexec" found on PATH and waits for it. Returns the
// status of the loader that ran as root, or nothing when it did not run (no pkexec, refused,
// failed, or pkexec ended by a signal) and the caller should go on as the user.
std::optional<int> RunAsRoot(const std::string& loaderPath);

// This program's absolute path ("" when it cannot be found).
std::string OwnProgramPath();
