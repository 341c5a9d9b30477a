#include "platform/AppPaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string HomeDir(const EnvLookup& env) {
    std::string home = env("HOME");
    if (!home.empty())
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

// XDG base folders must be absolute; a relative value is ignored.
std::string XdgDir(const EnvLookup& env, const char* name) {
    std::string v = env(name);
    return (!v.empty() && v[0] == '/') ? v : std::string();
}

} // namespace

std::string ProgramFile() {
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

std::string ProgramDir() {
    const std::string path = ProgramFile();
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string GetEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string AppPaths::HelpFile(int topicId) const {
    return resourceDir + "help/" + std::to_string(topicId) + ".html";
}

std::string FindResourceDir(const std::string& programDirIn) {
    const std::string programDir = WithSlash(programDirIn);
    auto hasInfo = [](const std::string& dir) {
        struct stat st {};
        return stat((dir + "info").c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    if (hasInfo(programDir))
        return programDir;
    const std::string shared =
        WithSlash(std::filesystem::path(programDir + "../share/brulin/").lexically_normal().string());
    return hasInfo(shared) ? shared : programDir;
}

std::string ResourceDir() { return FindResourceDir(ProgramDir()); }

AppPaths ResolveAppPaths(const EnvLookup& env) { return ResolveAppPaths(ProgramDir(), env); }

AppPaths ResolveAppPaths(const std::string& programDir, const EnvLookup& env) {
    AppPaths p;
    p.programDir = WithSlash(programDir);
    p.resourceDir = FindResourceDir(p.programDir);
    std::string state = XdgDir(env, "XDG_STATE_HOME");
    if (state.empty())
        state = HomeDir(env) + "/.local/state";
    p.stateDir = WithSlash(state) + "brulin/";
    std::string runtime = XdgDir(env, "XDG_RUNTIME_DIR");
    p.runtimeDir = runtime.empty() ? "/tmp/brulin-" + std::to_string(getuid()) + "/" : WithSlash(runtime) + "brulin/";
    std::string config = XdgDir(env, "XDG_CONFIG_HOME");
    if (config.empty())
        config = HomeDir(env) + "/.config";
    p.configFile = WithSlash(config) + "brulin/brulin.ini";
    return p;
}

bool MakePrivateDir(const std::string& dirIn, std::string* error) {
    std::string dir = dirIn;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    // Parents first (ordinary mode), then the folder itself as 0700.
    for (std::size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos) {
        const std::string parent = dir.substr(0, pos);
        if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error)
                *error = parent + ": " + std::strerror(errno);
            return false;
        }
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error)
            *error = dir + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        if (error)
            *error = dir + ": not a folder of this user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) {
        if (error)
            *error = dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool CreateAppFolders(const AppPaths& paths, std::string* error) {
    return MakePrivateDir(paths.stateDir, error) && MakePrivateDir(paths.runtimeDir, error);
}

int ProbeLoaderLock(const std::string& lockFile) {
    const int fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    int result = 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        result = (errno == EWOULDBLOCK) ? 1 : 0;
    else
        flock(fd, LOCK_UN);
    close(fd);
    return result;
}

std::string ReadViewerCommand(const std::string& configFile) {
    std::ifstream in(configFile);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const auto eq = line.find('=');
        if (eq == std::string::npos || line[0] == '#' || line[0] == ';' || line[0] == '[')
            continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
            key.pop_back();
        if (key != "ViewerCommand")
            continue;
        std::string value = line.substr(eq + 1);
        const auto first = value.find_first_not_of(" \t");
        return first == std::string::npos ? std::string() : value.substr(first);
    }
    return {};
}

} // namespace platform
