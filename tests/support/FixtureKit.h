#pragma once
// Test-time fixtures: real images made by the real tools into the build folder, cached per
// build tree so that parallel test processes make each image once.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// <build>/test-work/fixtures: where cached images live (created on demand).
std::string FixtureDir();
// A fresh empty folder for one test, <build>/test-work/scratch/<name>-<pid>-<n>.
std::string ScratchDir(const std::string& name);
// The read-only fixtures kept in the checkout (tests/fixtures).
std::string CheckedInFixtureDir();

// PATH with the folders Debian keeps its system tools in (/usr/local/sbin, /usr/sbin, /sbin)
// added where missing, as a regular user's login PATH leaves them out.
std::string ToolSearchPath();
// The full path of the executable `tool` in ToolSearchPath(), or "" when there is none.
std::string FindTool(const std::string& tool);
// Runs `command` through /bin/sh with ToolSearchPath() as PATH. Returns the exit status (-1 when it could not run); the
// combined standard output and error go to *output when given.
int Run(const std::string& command, std::string* output = nullptr);
// Like Run, but records a test failure (with the command's output) when the status is not 0.
bool MustRun(const std::string& command, std::string* output = nullptr);
// Records a test failure, naming the folders searched, when FindTool(tool) finds nothing (a
// missing tool fails, it never skips).
bool RequireTool(const std::string& tool);

// Returns the path of fixture `name` under FixtureDir(), calling make(tmpPath) to build it when
// it does not exist yet. make() writes tmpPath (a file or a folder); on success it is renamed
// into place. A lock file serialises makers across processes. Returns "" when make() failed.
std::string CachedFixture(const std::string& name,
                          const std::function<bool(const std::string& tmpPath)>& make);

// Deterministic pseudo-random bytes (same seed, same bytes).
std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed);
bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFileBytes(const std::string& path);
// Single-quotes `s` for /bin/sh.
std::string ShellQuote(const std::string& s);

} // namespace testsupport
