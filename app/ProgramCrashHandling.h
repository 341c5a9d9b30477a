#pragma once
// The main program's crash handling for its folders: dumps in the state folder, the loader's
// FIFOs in the runtime folder, the crash line in the log file (plain log) or in the crash note
// that the loader copies into its log (shared log buffer), and the restart decision by
// ScanOptions.RecoverRawFiles.
#include "platform/AppPaths.h"

// `logType` is the log type given to InitLog; `notice` shows the out-of-memory text (it is
// called on the UI thread only).
bool InstallProgramCrashHandler(const platform::AppPaths& paths, int logType, void (*notice)(const char* text));
