#include "app/LoaderObjects.h"

#include "logging/LogBuffer.h"

#include <unistd.h>

std::string SingleInstanceLockFile(const platform::AppPaths& paths) {
    return paths.runtimeDir + kSingleInstanceName + ".lock";
}

std::string CrashFifo(const platform::AppPaths& paths) { return paths.runtimeDir + kCrashEventName; }

std::string MemoryCrashFifo(const platform::AppPaths& paths) { return paths.runtimeDir + kMemoryCrashEventName; }

std::string CrashNoteFile(const platform::AppPaths& paths) { return paths.runtimeDir + "crash-note.txt"; }

std::string UserLogMappingName() { return std::string(kLogMappingName) + "_" + std::to_string(getuid()); }

std::string UserLogMutexName() { return std::string(kLogMutexName) + "_" + std::to_string(getuid()); }

void UseUserLogNames() {
    const std::string mapping = UserLogMappingName();
    const std::string mutex = UserLogMutexName();
    CFileMappingLog::SetDefaultNames(mapping.c_str(), mutex.c_str());
}
