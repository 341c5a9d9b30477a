#pragma once
// The main program's command line: "pro" (required: the program runs only when started by the
// loader) and "trace" (lets the trace level through to the debug output, never to the log; the
// debug output, the program's other debug lines included, reaches standard error only with
// "trace" and BRULIN_DEBUG_OUTPUT=1 both: either alone shows nothing), each after '-' or '/', in
// any case. The loader adds "rootfallback=<why>" when the user asked for the start as
// administrator and it did not happen, so that the device pages can say why they list no disk.
#include <string>
#include <vector>

// Why a start as administrator fell back to the user.
enum class RootFallback {
    None,      // not asked for, or it happened
    Refused,   // the password question was dismissed, or the user is not allowed
    NoAgent,   // no password prompt could be shown (no polkit authentication agent)
    NoPkexec,  // pkexec is not installed
    Failed,    // pkexec failed otherwise (its message is in the log)
    NoAction,  // no polkit action names the loader where polkit reads actions: pkexec was not run
};

// The switch's value for each reason ("" for None), and back (None for anything else).
const char* RootFallbackName(RootFallback why);
RootFallback RootFallbackFromName(const std::string& name);
// The whole switch the loader passes ("-rootfallback=no-agent"); "" for None.
std::string RootFallbackSwitch(RootFallback why);

struct StartupOptions {
    bool pro = false;
    bool trace = false;
    RootFallback rootFallback = RootFallback::None;
    int LogLevel() const { return trace ? 1 : 2; }
};

// argv[0] is the program name and is not looked at.
StartupOptions ParseStartupOptions(int argc, const char* const* argv);
StartupOptions ParseStartupOptions(const std::vector<std::string>& args);
