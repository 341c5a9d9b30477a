// Stands in for the main program and the crash reporter beside a loader under test. Started
// as "BrulinReport" it leaves <script>.reported and ends. Otherwise it lists the descriptors
// it inherited beyond 0, 1 and 2 in <script>.fds (one number a line), its arguments after the
// name in <script>.args (one a line), its pid in <script>.pid and the runtime folder it would
// meet the loader in (its first choice) in <script>.runtime, counts its runs in
// <script>.runs and carries out line n of the script file named by BRULIN_STUB_SCRIPT (the
// last line once the lines run out), word by word:
//   log:TEXT   a log line (through the shared buffer when a loader runs, else the log file)
//   logmany:N  N numbered log lines
//   sleep:MS   a pause
//   crash      one byte into the crash FIFO
//   memory     one byte into the memory-crash FIFO
//   note:TEXT  a line appended to the crash note (as the crash handler leaves its crash line)
//   exit:N     ends with status N (the end of the line ends with 0)
#include "app/LoaderObjects.h"
#include "logging/Log.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

void WriteByte(const std::string& fifo) {
    const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const char b = 1;
        [[maybe_unused]] ssize_t n = write(fd, &b, 1);
        close(fd);
    }
}

} // namespace

// The descriptors open at start beyond the standard three.
std::vector<int> InheritedDescriptors() {
    std::vector<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return fds;
    const int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd > 2 && fd != own)
            fds.push_back(fd);
    }
    closedir(dir);
    return fds;
}

int main(int, char** argv) {
    const std::vector<int> inherited = InheritedDescriptors();
    const char* scriptEnv = std::getenv("BRULIN_STUB_SCRIPT");
    if (!scriptEnv)
        return 64;
    const std::string script = scriptEnv;
    {
        std::ofstream fds(script + ".fds", std::ios::trunc);
        for (int fd : inherited) {
            char target[512] = {};
            const std::string link = "/proc/self/fd/" + std::to_string(fd);
            [[maybe_unused]] ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            fds << fd << " " << target << "\n";
        }
    }
    const char* slash = std::strrchr(argv[0], '/');
    const std::string name = slash ? slash + 1 : argv[0];
    if (name == "BrulinReport") {
        std::ofstream(script + ".reported") << "reported\n";
        return 0;
    }
    {
        std::ofstream args(script + ".args", std::ios::trunc);
        for (char** a = argv + 1; *a; ++a)
            args << *a << "\n";
    }
    int run = 0;
    std::ifstream(script + ".runs") >> run;
    std::ofstream(script + ".runs", std::ios::trunc) << run + 1 << "\n";
    std::ofstream(script + ".pid", std::ios::trunc) << getpid() << "\n";
    std::vector<std::string> lines;
    std::ifstream in(script);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    if (lines.empty())
        return 65;
    const std::string line = lines[std::min<std::size_t>(static_cast<std::size_t>(run), lines.size() - 1)];

    const platform::AppPaths paths = platform::ResolveAppPaths();
    std::ofstream(script + ".runtime", std::ios::trunc) << paths.runtimeDir << "\n";
    UseLogNames(paths);
    const int type = platform::ProbeLoaderLock(paths.LoaderLockFile());
    InitLog(paths.LogFile().c_str(), LOGLEVEL_INFO, static_cast<LOGTYPE>(type));

    std::istringstream words(line);
    for (std::string w; words >> w;) {
        if (w.rfind("log:", 0) == 0) {
            LogInfo("%s", w.c_str() + 4);
        } else if (w.rfind("logmany:", 0) == 0) {
            const int n = std::atoi(w.c_str() + 8);
            for (int i = 0; i < n; ++i)
                LogInfo("line %d of run %d", i, run);
        } else if (w.rfind("sleep:", 0) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(w.c_str() + 6)));
        } else if (w == "crash") {
            WriteByte(CrashFifo(paths));
        } else if (w.rfind("note:", 0) == 0) {
            std::ofstream(CrashNoteFile(paths), std::ios::app) << (w.c_str() + 5) << "\r\n";
        } else if (w == "memory") {
            WriteByte(MemoryCrashFifo(paths));
        } else if (w.rfind("exit:", 0) == 0) {
            return std::atoi(w.c_str() + 5);
        }
    }
    return 0;
}
