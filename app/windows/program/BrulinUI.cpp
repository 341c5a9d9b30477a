// The main program: "BrulinUI -pro" (the loader starts it so; without the switch it ends at once).
#include "app/windows/ProgramStart.h"

int main(int argc, char** argv) {
    StartupOptions options;
    platform::AppPaths paths;
    if (const int status = PrepareProgram(argc, argv, options, paths); status >= 0)
        return status;
    return RunProgramWindows(argc, argv, paths, options.rootFallback);
}
