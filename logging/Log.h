#pragma once
// The activity-log library (libOmbrel.so). Messages are formatted printf-style, ended with
// "\r\n" and sent by level either to the debug output (debug, trace) or to the one
// process-wide sink (info, warning, error): a plain file or the shared log buffer. Levels below
// InitLog's are dropped. The debug output (platform/DebugOutput.h) reaches standard error only
// after InitLog at the trace level or below (the main program's -trace) and with
// BRULIN_DEBUG_OUTPUT=1 in the environment; either alone shows nothing, and this holds for the
// library's own lines (the shared log buffer's failures) too.
#include <cstdarg>

#if defined(OMBREL_BUILDING)
#define OMBREL_API __attribute__((visibility("default")))
#else
#define OMBREL_API
#endif

#define OMBREL_PRINTF(fmt, first) __attribute__((format(printf, fmt, first)))

enum LOGLEVEL : int {
    LOGLEVEL_DEBUG = 0,
    LOGLEVEL_TRACE = 1,
    LOGLEVEL_INFO = 2,
    LOGLEVEL_WARNING = 3,
    LOGLEVEL_ERROR = 4,
};

enum LOGTYPE : unsigned {
    LOGTYPE_FILE = 0,
    LOGTYPE_FILEMAPPING = 1,
};

// Prints nothing anywhere (the loader's trace calls); ReleaseTrace is the trace level that reaches
// the debug output.
OMBREL_API void DebugTrace(const char* format, va_list args);
OMBREL_API void DebugTrace(const char* format, ...) OMBREL_PRINTF(1, 2);
OMBREL_API void InitLog(const char* path, LOGLEVEL minLevel, LOGTYPE type);
OMBREL_API void Log(LOGLEVEL level, const char* format, va_list args);
OMBREL_API void Log(LOGLEVEL level, const char* format, ...) OMBREL_PRINTF(2, 3);
OMBREL_API void LogError(const char* format, va_list args);
OMBREL_API void LogError(const char* format, ...) OMBREL_PRINTF(1, 2);
OMBREL_API void LogInfo(const char* format, va_list args);
OMBREL_API void LogInfo(const char* format, ...) OMBREL_PRINTF(1, 2);
OMBREL_API void LogWarning(const char* format, va_list args);
OMBREL_API void LogWarning(const char* format, ...) OMBREL_PRINTF(1, 2);
OMBREL_API void ReleaseTrace(const char* format, va_list args);
OMBREL_API void ReleaseTrace(const char* format, ...) OMBREL_PRINTF(1, 2);
// The folder of the log file given to InitLog, with its trailing '/', or "" when the log went
// to the working folder (no folder in the path, or no InitLog yet). Other log files of the
// program (such as the EXT2 reader's error log) are written beside it. Copies at most
// size - 1 bytes and terminates; returns the folder's full length.
OMBREL_API unsigned GetLogFolder(char* buffer, unsigned size);
