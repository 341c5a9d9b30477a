#pragma once
// The objects the loader and the main program meet through, all private to the user and all
// belonging to one runtime folder: lock files and FIFOs in it, and the shared log buffer under
// names made from the user id and the folder (shared-memory names are global to the machine).
// Loaders with different runtime folders never meet: each has its own lock and its own buffer.
#include "platform/AppPaths.h"

#include <string>

constexpr char kSingleInstanceName[] = "My_Mutex_610044_cd_NEW45634562";
constexpr char kCrashEventName[] = "Brulin_Crash_{FC1A0E29-3523-4152-B110-3340363E5DB7}";
constexpr char kMemoryCrashEventName[] = "Brulin_Memory_Crash_{c3d61a40-a3e6-402b-b373-fd90d30893c8}";

// The single-instance lock file, held with flock for the loader's life.
std::string SingleInstanceLockFile(const platform::AppPaths& paths);
// The two crash FIFOs: one byte in the first asks for the crash reporter, one byte in the
// second for a restart after running out of memory.
std::string CrashFifo(const platform::AppPaths& paths);
std::string MemoryCrashFifo(const platform::AppPaths& paths);
// Where a crashing program that logs through the shared buffer leaves its crash line; the
// loader appends it to the log file and removes it.
std::string CrashNoteFile(const platform::AppPaths& paths);

// The shared log buffer's section and mutex names for this user and runtime folder.
std::string LogMappingName(const platform::AppPaths& paths);
std::string LogMutexName(const platform::AppPaths& paths);
// Makes the shared-buffer sink of the log library use the names above.
void UseLogNames(const platform::AppPaths& paths);
