#include "app/StartupOptions.h"

#include <strings.h>

namespace {

constexpr char kRootFallbackKey[] = "rootfallback=";

const struct {
    RootFallback why;
    const char* name;
} kFallbackNames[] = {
    {RootFallback::Refused, "refused"},
    {RootFallback::NoAgent, "no-agent"},
    {RootFallback::NoPkexec, "no-pkexec"},
    {RootFallback::Failed, "failed"},
    {RootFallback::NoAction, "no-action"},
};

} // namespace

const char* RootFallbackName(RootFallback why) {
    for (const auto& n : kFallbackNames)
        if (n.why == why)
            return n.name;
    return "";
}

RootFallback RootFallbackFromName(const std::string& name) {
    for (const auto& n : kFallbackNames)
        if (strcasecmp(name.c_str(), n.name) == 0)
            return n.why;
    return RootFallback::None;
}

std::string RootFallbackSwitch(RootFallback why) {
    return why == RootFallback::None ? std::string() : std::string("-") + kRootFallbackKey + RootFallbackName(why);
}

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
        else if (strncasecmp(rest, kRootFallbackKey, sizeof kRootFallbackKey - 1) == 0)
            o.rootFallback = RootFallbackFromName(rest + sizeof kRootFallbackKey - 1);
    }
    return o;
}

StartupOptions ParseStartupOptions(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    return ParseStartupOptions(args);
}
