#pragma once
// Diagnostics channel (the debugger output of the original platform). Text reaches standard
// error only when both switches are on: the trace switch (SetDebugOutputTrace; the main program
// turns it on with -trace) and BRULIN_DEBUG_OUTPUT=1 in the environment. Either alone shows
// nothing. A capture hook, when one is installed (tests), receives every text whatever the
// switches say.
// libOmbrel.so keeps its own private copy of this channel (the logging library exports only its
// log functions): InitLog sets that copy's trace switch from its level (on at the trace level and
// below), and the program sets its own; trace lines of the log reach standard error through the
// library's copy, not through the hook of the program.
#include <functional>
#include <string>

namespace platform {

void DebugOutput(const char* text);
// The trace switch of this copy of the channel (off until set).
void SetDebugOutputTrace(bool on);
// Installs a hook that receives every text (also when standard error is off); an empty
// function removes it. Returns the previous hook.
using DebugOutputHook = std::function<void(const std::string&)>;
DebugOutputHook SetDebugOutputHook(DebugOutputHook hook);

} // namespace platform
