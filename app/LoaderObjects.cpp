#include "app/LoaderObjects.h"

#include "logging/LogBuffer.h"

#include <cstdint>
#include <cstdio>
#include <unistd.h>

std::string SingleInstanceLockFile(const platform::AppPaths& paths) {
    return paths.runtimeDir + kSingleInstanceName + ".lock";
}

std::string CrashFifo(const platform::AppPaths& paths) { return paths.runtimeDir + kCrashEventName; }

std::string MemoryCrashFifo(const platform::AppPaths& paths) { return paths.runtimeDir + kMemoryCrashEventName; }

std::string CrashNoteFile(const platform::AppPaths& paths) { return paths.runtimeDir + "crash-note.txt"; }

namespace {

// "_<uid>_<16 hex digits of the runtime folder's FNV-1a hash>".
std::string RuntimeSuffix(const platform::AppPaths& paths) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : paths.runtimeDir) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return "_" + std::to_string(getuid()) + "_" + hex;
}

} // namespace

std::string LogMappingName(const platform::AppPaths& paths) { return kLogMappingName + RuntimeSuffix(paths); }

std::string LogMutexName(const platform::AppPaths& paths) { return kLogMutexName + RuntimeSuffix(paths); }

void UseLogNames(const platform::AppPaths& paths) {
    const std::string mapping = LogMappingName(paths);
    const std::string mutex = LogMutexName(paths);
    CFileMappingLog::SetDefaultNames(mapping.c_str(), mutex.c_str());
}
