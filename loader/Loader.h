#pragma once
// The loader's work: one instance per user, the shared log buffer drained into the log file,
// the main program started and watched, restarted after running out of memory, and the crash
// reporter started after any other crash.
#include "platform/AppPaths.h"

#include <string>
#include <vector>

// Where the loader's messages go (a message box in the program, a list in tests).
class ILoaderMessages {
public:
    // `kind` is the message box's icon kind (2: information).
    virtual void ShowMessage(int kind, const std::string& text) = 0;

protected:
    ~ILoaderMessages() = default;
};

struct LoaderConfig {
    platform::AppPaths paths;  // programDir holds the main program and the crash reporter
    std::string programName = "BrulinUI";
    std::string reporterName = "BrulinReport";
    int waitMs = 5000;         // longest wait between two copies of the log buffer
    int maxMemoryRestarts = 3; // memory crashes beyond this many restarts count as crashes
    int exitWaitMs = 10000;    // how long a crashed program may take to end before it is killed
    int stopWaitMs = 3000;     // how long the program may take to end when the loader is ended
    // Switches given to the main program after "-pro".
    std::vector<std::string> programSwitches;
    // Lines put at the top of the log file, before the program's own.
    std::vector<std::string> logNotes;
    // The pid of the loader that started this one through pkexec (0: none). When that process
    // ends, whatever user it runs as, this loader ends as on SIGTERM (its program first), and
    // logs why; when it is gone already at the start (1: the parent was init), the loader
    // starts nothing and ends so at once.
    int startedBy = 0;
};

// Exit statuses of RunLoader.
enum : int {
    kLoaderOk = 0,
    kLoaderRefused = 1,        // another loader runs, or the folders cannot be made
    kLoaderStartFailed = 2,    // the main program could not be started
    kLoaderReportFailed = 3,   // the crash reporter could not be started
    kLoaderStopped = 128,      // plus the signal: the loader was ended by SIGTERM, SIGINT or SIGHUP
};

// Runs the loader until the main program ends for good; returns the process's exit status.
// The runtime folder is the first usable one of `config.paths` (platform::CreateAppFolders); the
// programs it starts are told that folder, and the log file begins with the folders refused.
// While it runs, SIGTERM, SIGINT and SIGHUP end the main program first (within stopWaitMs,
// then it is killed) and then the loader, with kLoaderStopped + the signal; the signals'
// handling is put back as it was before the return (a SIGHUP ignored at the start stays ignored,
// and ignored in the programs started: a loader run with nohup outlives its terminal). The log
// file is used only when it is a regular file of this user (never through a link): else the
// start is refused with kLoaderRefused. A main program never outlives the
// loader: it is killed when the loader ends in any other way (even by SIGKILL).
int RunLoader(const LoaderConfig& config, ILoaderMessages& messages);

// The signal that ended the loader, from RunLoader's status (0 for any other status).
int LoaderStopSignal(int status);

constexpr char kAlreadyRunningMessage[] = "Oxtavo Data Recovery has been running!";
