#pragma once
// What the main program does before its first window: the switches, its folders, the log
// and the banner. Returns the process's exit status when it must end now, -1 to go on.
#include "app/StartupOptions.h"
#include "platform/AppPaths.h"

int PrepareProgram(int argc, const char* const* argv, StartupOptions& options, platform::AppPaths& paths);

// Runs the program's windows (after PrepareProgram); returns the exit status.
int RunProgramWindows(int argc, char** argv, const platform::AppPaths& paths,
                      RootFallback rootFallback = RootFallback::None);
