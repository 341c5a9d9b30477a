#pragma once
// The main program's crash handling. A fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT)
// on any thread tells the loader through the crash FIFO, writes the crash line and a dump file
// "Brulindump<n>.dmp", and ends the process by that signal; a thread that faults while another
// one reports waits for that report (so the dump is whole) and is not reported itself.
// Running out of memory (through platform::FatalOutOfMemory) shows a notice on the UI thread,
// tells the loader to restart the program when RAW recovery is on (memory-crash FIFO) or to
// report it otherwise (crash FIFO), logs, writes the dump and ends with
// platform::kOutOfMemoryExitStatus.
//
// Dump file format (text, one "key: value" per line, then two sections):
//   Brulin crash dump 1
//   signal: <number, 0 for out of memory>
//   code: <si_code, or e0000001 for out of memory, hexadecimal>
//   address: <fault address, hexadecimal>
//   thread: <thread id>
//   backtrace:
//   <one frame per line>
//   maps:
//   <a copy of /proc/self/maps>
#include <string>

struct CrashHandlerSetup {
    std::string dumpDir;    // folder of the dump files, ending in '/'
    std::string crashFifo;  // FIFOs of the loader; missing ones are skipped
    std::string memoryFifo;
    std::string lineFile;   // file the crash line is appended to (the log, or the crash note)
    bool (*rawRecoveryOn)() = nullptr;          // RAW recovery switched on (memory restart)
    void (*outOfMemoryNotice)(const char* text) = nullptr; // shown on the UI thread only
};

// Installs the handlers for the process; the calling thread is the UI thread. Everything the
// signal handler needs (descriptors, names, an alternate signal stack for this thread) is
// prepared here, and every thread started through platform::StartThread from then on gets an
// alternate signal stack first (platform::EnsureAltSignalStack). The programs give every other
// thread, the toolkit's included, one as it starts (brulin_interpose_threads). False when the
// signal handlers could not be installed.
bool InstallCrashHandler(const CrashHandlerSetup& setup);

// The texts of the out-of-memory notice.
extern const char kOutOfMemoryRawText[];
extern const char kOutOfMemoryText[];
