#pragma once
// Where the program finds its resources and keeps its files. Resources (skin images in info/,
// help pages in help/) lie beside the program in the build folder and in ../share/brulin/ of an
// installed program; custom carving scripts lie beside the program; the log, crash dumps and
// scan-state files go to the user's state folder; lock files and FIFOs to the user's runtime
// folder. Nothing is ever written beside the program.
#include <functional>
#include <string>

namespace platform {

struct AppPaths {
    std::string programDir;  // folder of the running program, ending in '/'
    std::string stateDir;    // $XDG_STATE_HOME/brulin/ (or ~/.local/state/brulin/), ending in '/'
    std::string runtimeDir;  // $XDG_RUNTIME_DIR/brulin/ (or /tmp/brulin-<uid>/), ending in '/'
    std::string configFile;  // $XDG_CONFIG_HOME/brulin/brulin.ini (may not exist)
    std::string resourceDir{}; // folder holding info/ and help/ (see FindResourceDir), ending in '/'

    std::string LogFile() const { return stateDir + "BrulinLog.log"; }
    // Held by the loader for its life; named after the loader's mutex.
    std::string LoaderLockFile() const {
        return runtimeDir + "Brulin_Loader_{E1AB3D3B-FEBF-4281-BD7E-5655BE739E67}.lock";
    }
    std::string HelpFile(int topicId) const;
};

// The running program's own file, from /proc/self/exe ("" when it cannot be read): the one
// place that asks the system where the program lies.
std::string ProgramFile();
// The folder of the running program, ending in '/' ("./" when unknown).
std::string ProgramDir();

// The folder of the program's resources for a program in `programDir` (ending in '/'): the
// program folder itself when it holds "info/" (the build folder), else "<programDir>/../share/
// brulin/" (normalised) when that holds "info/" (an installed program), else the program folder.
std::string FindResourceDir(const std::string& programDir);
// The same for the running program (in ProgramDir()).
std::string ResourceDir();

// Reads an environment variable; empty when unset.
using EnvLookup = std::function<std::string(const char*)>;
std::string GetEnv(const char* name);

// The folders of this process (program folder ProgramDir()), from the environment that
// `env` gives; no folder is created.
AppPaths ResolveAppPaths(const EnvLookup& env = GetEnv);
// Same, with an explicit program folder (tests).
AppPaths ResolveAppPaths(const std::string& programDir, const EnvLookup& env);

// Creates the state and runtime folders with mode 0700 (and their parents as needed). A runtime
// folder that exists but belongs to someone else, or is not a folder, is refused. False when a
// folder cannot be made or is refused.
bool CreateAppFolders(const AppPaths& paths, std::string* error = nullptr);
// Creates `dir` (and missing parents) as a private folder; false on failure or when the
// folder is not the caller's own.
bool MakePrivateDir(const std::string& dir, std::string* error = nullptr);

// 1 when another process (the loader) holds a lock on `lockFile`, 0 otherwise (no file, a stale
// file nobody locks, or a file that cannot be opened).
int ProbeLoaderLock(const std::string& lockFile);

// The companion-viewer command from the optional configuration file (key "ViewerCommand" in
// any section, "key=value" lines); empty when the file or key is missing.
std::string ReadViewerCommand(const std::string& configFile);

} // namespace platform
