#include "app/StartupOptions.h"

#include <strings.h>

StartupOptions ParseStartupOptions(const std::vector<std::string>& args) {
    StartupOptions o;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.empty() || (a[0] != '-' && a[0] != '/'))
            continue;
        const char* rest = a.c_str() + 1;
        if (strcasecmp(rest, "pro") == 0)
            o.pro = true;
        else if (strcasecmp(rest, "trace") == 0)
            o.trace = true;
    }
    return o;
}

StartupOptions ParseStartupOptions(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return ParseStartupOptions(args);
}
