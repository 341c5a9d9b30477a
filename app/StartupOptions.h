#pragma once
// The main program's command line: "pro" (required: the program runs only when started by the
// loader) and "trace" (diagnostic lines in the log), each after '-' or '/', in any case.
#include <string>
#include <vector>

struct StartupOptions {
    bool pro = false;
    bool trace = false;
    int LogLevel() const { return trace ? 1 : 2; }
};

// argv[0] is the program name and is not looked at.
StartupOptions ParseStartupOptions(int argc, const char* const* argv);
StartupOptions ParseStartupOptions(const std::vector<std::string>& args);
