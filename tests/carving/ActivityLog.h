#pragma once
// The activity log of the carving test program. The log library takes one sink per process, so
// every test here that reads the log opens it through this one path.
#include "logging/Log.h"
#include "tests/support/FixtureKit.h"

#include <string>
#include <unistd.h>

namespace carvingtest {

inline const std::string& ActivityLogPath() {
    static const std::string path = [] {
        std::string p = "carving-" + std::to_string(::getpid()) + ".log";
        InitLog(p.c_str(), LOGLEVEL_INFO, LOGTYPE_FILE);
        return p;
    }();
    return path;
}

// Opened before any test runs: the first line logged opens the default log otherwise, and a
// test that logs before one that reads the log would leave the reader without it.
[[maybe_unused]] inline const std::string& kActivityLogOpenedFirst = ActivityLogPath();

inline std::string ActivityLogText() {
    const auto bytes = testsupport::ReadFileBytes(ActivityLogPath());
    return std::string(bytes.begin(), bytes.end());
}

} // namespace carvingtest
