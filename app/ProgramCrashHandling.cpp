#include "app/ProgramCrashHandling.h"

#include "app/CrashHandler.h"
#include "app/LoaderObjects.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"

bool InstallProgramCrashHandler(const platform::AppPaths& paths, int logType, void (*notice)(const char* text)) {
    CrashHandlerSetup setup;
    setup.dumpDir = paths.stateDir;
    setup.crashFifo = CrashFifo(paths);
    setup.memoryFifo = MemoryCrashFifo(paths);
    setup.lineFile = logType == LOGTYPE_FILEMAPPING ? CrashNoteFile(paths) : paths.LogFile();
    setup.rawRecoveryOn = [] { return GetScanOptions().RecoverRawFiles != 0; };
    setup.outOfMemoryNotice = notice;
    return InstallCrashHandler(setup);
}
