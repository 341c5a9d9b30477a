#pragma once
// Where the program finds its resources and keeps its files. Resources (skin images in info/,
// help pages in help/, custom carving scripts in CustomFileScript/) lie beside the program in the
// build folder and in ../share/brulin/ of an installed program; the log, crash dumps and
// scan-state files go to the user's state folder; lock files and FIFOs to the user's runtime
// folder. Nothing is ever written beside the program.
//
// The runtime folder is where the loader and the main program meet (the single-instance lock,
// the crash FIFOs), so it must be one that no other user can take first. It is the first of
// these that can be made private to the user and where a FIFO and a lock work:
//   - $BRULIN_RUNTIME_DIR (the folder a loader chose, handed to the program it starts; taken
//     only when $BRULIN_LOADER_PID names this process's parent);
//   - $XDG_RUNTIME_DIR/brulin/;
//   - for root /run/brulin/, for any other user /run/user/<uid>/brulin/ when that folder exists;
//   - <state folder>/run-<host>/ (under the user's home);
//   - a folder made with mkdtemp in $TMPDIR (or /tmp), remembered in the state folder so that
//     later starts meet in it.
// A folder found in the way (someone else's, a symlink, not a folder, open to other users, or in
// a folder another user may change) is passed over, never used, never changed and never a
// reason not to start. Only folders made here are given their mode.
#include <functional>
#include <string>
#include <vector>

namespace platform {

// One place the runtime folder may be made.
struct RuntimeFolderChoice {
    std::string dir;          // ending in '/'
    bool makeParents = false; // missing parent folders are made (else the parent must exist)
};

struct AppPaths {
    std::string programDir;  // folder of the running program, ending in '/'
    std::string stateDir;    // $XDG_STATE_HOME/brulin/ (or ~/.local/state/brulin/), ending in '/'
    std::string runtimeDir;  // the runtime folder (see above), ending in '/'; until CreateAppFolders
                             // has chosen, the first choice
    std::string configFile;  // $XDG_CONFIG_HOME/brulin/brulin.ini (may not exist)
    std::string resourceDir{}; // folder holding info/ and help/ (see FindResourceDir), ending in '/'
    std::vector<RuntimeFolderChoice> runtimeChoices{}; // the fixed places, in the order tried
    std::string tempBase{};  // where the last choice is made with mkdtemp ("" for none)
    std::string tempRecord{}; // the file that remembers that folder for later starts

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

// The file URL of an absolute path ("file:///a%20b/c.html" for "/a b/c.html"): letters, digits,
// "-._~" and '/' are kept, every other byte (a space, '#', '%', '?', each byte of a UTF-8
// character) is written as %XX.
std::string FileUrl(const std::string& path);
// The path a "file://" URL names, its %XX decoded; "" when `url` is no file URL.
std::string PathOfFileUrl(const std::string& url);

// Reads an environment variable; empty when unset.
using EnvLookup = std::function<std::string(const char*)>;
std::string GetEnv(const char* name);

// The environment variable through which the loader tells the program its runtime folder.
constexpr char kRuntimeDirVariable[] = "BRULIN_RUNTIME_DIR";
// Beside it, the loader's pid: the variable above counts only in a process whose parent that is.
constexpr char kLoaderPidVariable[] = "BRULIN_LOADER_PID";

// The folders of this process (program folder ProgramDir()), from the environment that
// `env` gives; no folder is created.
AppPaths ResolveAppPaths(const EnvLookup& env = GetEnv);
// Same, with an explicit program folder (tests).
AppPaths ResolveAppPaths(const std::string& programDir, const EnvLookup& env);
// Same, for the user `uid` (tests).
AppPaths ResolveAppPaths(const std::string& programDir, const EnvLookup& env, unsigned uid);

// Creates the state folder, then the runtime folder in the first of `paths.runtimeChoices` (then
// the mkdtemp folder) that can be made private and where a FIFO and a lock work, and sets
// `paths.runtimeDir` to it. Each place passed over is added to `refused` as "<folder>: <reason>".
// False (with `error`) when the state folder cannot be made or no runtime folder can.
bool CreateAppFolders(AppPaths& paths, std::string* error = nullptr, std::vector<std::string>* refused = nullptr);
// The log lines that tell which runtime folders were refused and which one is used (none when
// nothing was refused).
std::vector<std::string> RuntimeFolderNotes(const AppPaths& paths, const std::vector<std::string>& refused);
// Creates `dir` (and missing parents) as a private folder (mode 0700); false on failure, or when
// the folder is not the caller's own (someone else's, a symlink, not a folder) or was there
// already open to changes by others (it is then left as it is; one others may only read is
// used). Unlike a runtime folder, the folder above it may be writable by others (a
// group-writable ~/.local/state).
bool MakePrivateDir(const std::string& dir, std::string* error = nullptr);

// 1 when another process (the loader) holds a lock on `lockFile`, 0 otherwise (no file, a stale
// file nobody locks, or a file that cannot be opened).
int ProbeLoaderLock(const std::string& lockFile);

// The companion-viewer command from the optional configuration file (key "ViewerCommand" in
// any section, "key=value" lines); empty when the file or key is missing.
std::string ReadViewerCommand(const std::string& configFile);

} // namespace platform
