#pragma once
// Diagnostics channel (the debugger output of the original platform). Text goes to standard
// error when enabled (BRULIN_DEBUG_OUTPUT=1 in the environment), and to a capture hook when one
// is installed (tests). libOmbrel.so keeps its own private copy of this channel (the logging
// library exports only its log functions), so trace lines of the log reach standard error
// through the environment switch, not through the hook of the program.
#include <functional>
#include <string>

namespace platform {

void DebugOutput(const char* text);
// Installs a hook that receives every text (also when standard error is off); an empty
// function removes it. Returns the previous hook.
using DebugOutputHook = std::function<void(const std::string&)>;
DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

} // namespace platform
