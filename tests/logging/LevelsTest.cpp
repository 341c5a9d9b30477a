#include "logging/Log.h"
#include "logging/LogBuffer.h"
#include "logging/LogSink.h"
#include "platform/NamedMutex.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// The debug output goes to standard error only when enabled; the library reads the switch
// from the environment on first use, so set it before any test runs.
const int kEnableDebugOutput = ::setenv("BRULIN_DEBUG_OUTPUT", "1", 1);

std::string FileText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void InfoList(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogInfo(format, args);
    va_end(args);
}

void DebugList(const char* format, ...) {
    va_list args;
    va_start(args, format);
    DebugTrace(format, args);
    va_end(args);
}

void TraceList(const char* format, ...) {
    va_list args;
    va_start(args, format);
    ReleaseTrace(format, args);
    va_end(args);
}

} // namespace

// Minimum level 2: info, warning and error reach the file, nothing else reaches anything, and
// BRULIN_DEBUG_OUTPUT=1 alone shows nothing on standard error: neither the trace lines nor the
// library's own lines (the shared log buffer's failures).
TEST(LogLevels, InfoAndAboveGoToTheFileOnly) {
    ASSERT_EQ(kEnableDebugOutput, 0);
    InitLog("levels.log", LOGLEVEL_INFO, LOGTYPE_FILE);
    InitLog("other.log", LOGLEVEL_DEBUG, LOGTYPE_FILE); // ignored: the first call wins
    testing::internal::CaptureStderr();
    ReleaseTrace("trace %d", 1);
    TraceList("trace %d", 2);
    DebugTrace("debug %d", 3);
    DebugList("debug %d", 4);
    Log(LOGLEVEL_DEBUG, "debug level");
    Log(static_cast<LOGLEVEL>(5), "level five");
    Log(static_cast<LOGLEVEL>(-1), "negative level");
    LogInfo("abc");
    InfoList("%s-%d", "list", 7);
    LogWarning("warn %u", 2u);
    LogError("err");
    Log(LOGLEVEL_ERROR, "%c", 'x');
    const std::string longText(3000, 'L');
    LogInfo("%s", longText.c_str());
    const std::string pid = std::to_string(::getpid());
    const std::string mutex = "brulin-levels-mtx-" + pid;
    {
        CFileMappingLog missing(CFileMappingLog::kOpenMode, ("brulin-levels-nomap-" + pid).c_str(), mutex.c_str());
        EXPECT_EQ(missing.Write("x\r\n", 3), 0);
        EXPECT_EQ(missing.FlushToFile(STDOUT_FILENO), 0);
    }
    platform::NamedMutex::Remove(mutex);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(FileText("levels.log"),
              "abc\r\nlist-7\r\nwarn 2\r\nerr\r\nx\r\n" + std::string(2045, 'L') + "\r\n");
    EXPECT_EQ(FileText("other.log"), "");
}

// Minimum level 1: trace reaches the debug output and never the file.
TEST(LogLevels, TraceGoesToTheDebugOutputOnly) {
    InitLog("trace.log", LOGLEVEL_TRACE, LOGTYPE_FILE);
    testing::internal::CaptureStderr();
    ReleaseTrace("trace %d", 1);
    TraceList("trace %s", "two");
    Log(LOGLEVEL_DEBUG, "below the minimum");
    LogInfo("info");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trace 1\r\ntrace two\r\n");
    EXPECT_EQ(FileText("trace.log"), "info\r\n");
}

// A type without a sink of its own logs to the plain file on the given path.
TEST(LogLevels, UnknownTypeFallsBackToThePlainFile) {
    InitLog("unknown-type.log", LOGLEVEL_INFO, static_cast<LOGTYPE>(7));
    LogInfo("kept");
    EXPECT_EQ(FileText("unknown-type.log"), "kept\r\n");
    EXPECT_EQ(GetLogSink(static_cast<LOGTYPE>(7)), nullptr);
    EXPECT_NE(GetLogSink(LOGTYPE_FILE), nullptr);
}
