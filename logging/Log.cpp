#include "logging/Log.h"
#include "logging/LogBuffer.h"
#include "logging/LogSink.h"
#include "platform/DebugOutput.h"
#include "platform/File.h"

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

ILogSink* g_sink = nullptr;
int g_minLevel = 0;
char g_logFolder[4096] = {};
constexpr size_t kMessageBuffer = 2048;

} // namespace

CDirectLog::~CDirectLog() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

int CDirectLog::Open(const char* name) {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!name || !*name)
        return 0;
    // Emptied only once known to be a file of this user (never through a link).
    m_fd = platform::OpenOwnFile(name, /*empty=*/true).Release();
    return m_fd >= 0 ? 1 : 0;
}

int CDirectLog::Write(const void* data, int length) {
    if (m_fd < 0 || !data || length < 0)
        return 0;
    const char* p = static_cast<const char*>(data);
    size_t left = static_cast<size_t>(length);
    while (left > 0) {
        ssize_t n = ::write(m_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 1;
}

void DebugTrace(const char*, va_list) {}
void DebugTrace(const char*, ...) {}

void InitLog(const char* path, LOGLEVEL minLevel, LOGTYPE type) {
    if (g_sink)
        return;
    g_sink = GetLogSink(type);
    if (!g_sink) // no sink of that type: the plain file on the given path
        g_sink = GetLogSink(LOGTYPE_FILE);
    if (g_sink)
        g_sink->Open(path);
    g_minLevel = minLevel;
    // Standard error gets the debug output only where trace lines are let through.
    platform::SetDebugOutputTrace(minLevel <= LOGLEVEL_TRACE);
    const char* slash = path ? std::strrchr(path, '/') : nullptr;
    const size_t length = slash ? static_cast<size_t>(slash - path) + 1 : 0;
    if (length < sizeof(g_logFolder)) {
        if (length)
            std::memcpy(g_logFolder, path, length);
        g_logFolder[length] = '\0';
    }
}

unsigned GetLogFolder(char* buffer, unsigned size) {
    const size_t length = std::strlen(g_logFolder);
    if (buffer && size > 0) {
        const size_t n = std::min(length, static_cast<size_t>(size) - 1);
        std::memcpy(buffer, g_logFolder, n);
        buffer[n] = '\0';
    }
    return static_cast<unsigned>(length);
}

void Log(LOGLEVEL level, const char* format, va_list args) {
    if (!g_sink) {
        g_sink = GetLogSink(LOGTYPE_FILE);
        if (g_sink)
            g_sink->Open("DefaultLog.txt");
        g_minLevel = 0;
    }
    if (static_cast<int>(level) < g_minLevel || !g_sink || !format)
        return;
    // The text, CR LF and the terminator always fit: a longer message is cut.
    char text[kMessageBuffer];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(text, kMessageBuffer - 2, format, copy);
    va_end(copy);
    size_t len = n < 0 ? 0 : std::min(static_cast<size_t>(n), kMessageBuffer - 3);
    text[len++] = '\r';
    text[len++] = '\n';
    text[len] = '\0';
    switch (level) {
    case LOGLEVEL_DEBUG:
    case LOGLEVEL_TRACE:
        platform::DebugOutput(text);
        break;
    case LOGLEVEL_INFO:
    case LOGLEVEL_WARNING:
    case LOGLEVEL_ERROR:
        g_sink->Write(text, static_cast<int>(len));
        break;
    default:
        break;
    }
}

#define BRULIN_LOG_FORWARD(name, level)                                                            \
    void name(const char* format, va_list args) { Log(level, format, args); }                     \
    void name(const char* format, ...) {                                                           \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        Log(level, format, args);                                                                  \
        va_end(args);                                                                              \
    }

void Log(LOGLEVEL level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    Log(level, format, args);
    va_end(args);
}
BRULIN_LOG_FORWARD(LogError, LOGLEVEL_ERROR)
BRULIN_LOG_FORWARD(LogInfo, LOGLEVEL_INFO)
BRULIN_LOG_FORWARD(LogWarning, LOGLEVEL_WARNING)
BRULIN_LOG_FORWARD(ReleaseTrace, LOGLEVEL_TRACE)

ILogSink* GetLogSink(LOGTYPE type) {
    if (type == LOGTYPE_FILE) {
        static CDirectLog direct;
        return &direct;
    }
    if (type == LOGTYPE_FILEMAPPING) {
        static CFileMappingLog shared(CFileMappingLog::kOpenMode);
        return &shared;
    }
    return nullptr;
}
