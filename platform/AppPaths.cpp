#include "platform/AppPaths.h"

#include "platform/File.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
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

// This machine's name as a file-name part (a home folder may be shared between machines, and
// the lock must not make one machine's start wait for another's).
std::string HostPart() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !host[0])
        return "localhost";
    std::string out;
    for (const char* c = host; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        out += (std::isalnum(u) || u == '-' || u == '.' || u == '_') ? *c : '_';
    }
    return out;
}

std::string Strip(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

void SetError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

// Makes `dir` (its parents too when `makeParents`) and checks that it is a private folder of
// this user, and with `checkParent` that it lies in a folder no other user may change. Only a
// folder made here is given mode 0700: one that was there already is used as it is or refused
// (a runtime folder open to any other user, a state folder others may change), never changed.
bool MakeOwnDir(const std::string& dirIn, bool makeParents, bool checkParent, std::string* error) {
    const std::string dir = Strip(dirIn);
    if (makeParents) {
        // Parents first (mode 0700 when made here), then the folder itself.
        for (std::size_t pos = 1; (pos = dir.find('/', pos)) != std::string::npos; ++pos) {
            const std::string parent = dir.substr(0, pos);
            if (mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
                SetError(error, parent + ": " + std::strerror(errno));
                return false;
            }
        }
    }
    const bool made = mkdir(dir.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        SetError(error, dir + ": " + std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
        SetError(error, dir + ": not a folder of this user");
        return false;
    }
    // Someone who may change the folder above could swap this one for their own.
    const auto slash = dir.rfind('/');
    const std::string parent = slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
    struct stat up {};
    if (checkParent && (stat(parent.c_str(), &up) != 0 || (up.st_uid != getuid() && up.st_uid != 0) ||
                        ((up.st_mode & 022) != 0 && (up.st_mode & S_ISVTX) == 0))) {
        SetError(error, dir + ": its folder " + parent + " may be changed by another user");
        if (made)
            rmdir(dir.c_str());
        return false;
    }
    if (made) {
        // The umask may have taken the owner's own rights.
        if ((st.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) {
            SetError(error, dir + ": " + std::strerror(errno));
            rmdir(dir.c_str());
            return false;
        }
        return true;
    }
    if ((st.st_mode & (checkParent ? 077 : 022)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        SetError(error, dir + ": open to other users (mode " + mode + "); left as it is");
        return false;
    }
    return true;
}

// True when a FIFO can be made in `dir` and a file there can be locked: the loader and the
// program meet through both. The probes are made inside the folder, never beside it.
bool MeetingWorks(const std::string& dir, std::string* error) {
    const std::string probe = WithSlash(dir) + ".probe-" + std::to_string(getpid());
    unlink(probe.c_str());
    // Some file systems leave a plain file behind and fail, or even report success.
    const int made = mkfifo(probe.c_str(), 0600);
    const int fifoError = errno;
    struct stat st {};
    const bool isFifo = made == 0 && lstat(probe.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
    unlink(probe.c_str());
    if (!isFifo) {
        SetError(error, Strip(dir) + ": no FIFO can be made there (" +
                            (made != 0 ? std::strerror(fifoError) : "not a FIFO") + ")");
        return false;
    }
    const int fd = open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetError(error, Strip(dir) + ": no file can be made there (" + std::strerror(errno) + ")");
        return false;
    }
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) == 0;
    const int lockError = errno;
    close(fd);
    unlink(probe.c_str());
    if (!locked) {
        SetError(error, Strip(dir) + ": no lock can be taken there (" + std::strerror(lockError) + ")");
        return false;
    }
    return true;
}

// `dir` with or without its trailing '/'.
bool UsableRuntimeDir(const std::string& dir, bool makeParents, std::string* error) {
    return MakeOwnDir(dir, makeParents, /*checkParent=*/true, error) && MeetingWorks(dir, error);
}

std::string ReadFirstLine(const std::string& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return {};
    std::string line(buf, static_cast<std::size_t>(n));
    return line.substr(0, line.find('\n'));
}

// Writes `text` to `file` whole or not at all, through a name of this process's own.
bool WriteWhole(const std::string& file, const std::string& text) {
    const std::string part = file + ".part-" + std::to_string(getpid());
    unlink(part.c_str());
    const int fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (written && rename(part.c_str(), file.c_str()) == 0)
        return true;
    unlink(part.c_str());
    return false;
}

// Held while a start reads, makes and records the mkdtemp folder, so that starts at the same
// moment agree on one folder (a lock file beside the record, in the state folder). No lock (a
// state folder where none works) leaves each start to choose alone.
class TempChoiceLock {
public:
    explicit TempChoiceLock(const std::string& record) {
        if (record.empty())
            return;
        m_file = OpenOwnFile(record + ".lock", /*empty=*/false);
        if (!m_file.Valid())
            return;
        int r;
        do
            r = flock(m_file.Get(), LOCK_EX);
        while (r != 0 && errno == EINTR);
        if (r != 0)
            m_file.Close();
    }

private:
    FileHandle m_file;  // closing it lets the lock go
};

// The last resort: the mkdtemp folder that an earlier start made and remembered, else a new one.
bool TempRuntimeDir(AppPaths& paths, std::vector<std::string>& refused) {
    if (paths.tempBase.empty())
        return false;
    const std::string prefix = WithSlash(paths.tempBase) + "brulin-" + std::to_string(getuid()) + "-";
    const TempChoiceLock lock(paths.tempRecord);
    std::string error;
    if (!paths.tempRecord.empty()) {
        const std::string known = Strip(ReadFirstLine(paths.tempRecord));
        if (!known.empty()) {
            if (known.compare(0, prefix.size(), prefix) == 0 && known.find("/..") == std::string::npos &&
                known.find('/', prefix.size()) == std::string::npos && UsableRuntimeDir(known, false, &error)) {
                paths.runtimeDir = WithSlash(known);
                return true;
            }
            refused.push_back(error.empty() ? known + ": not a folder this program made" : error);
            error.clear();
        }
    }
    std::string pattern = prefix + "XXXXXX";
    if (!mkdtemp(pattern.data())) {
        refused.push_back(prefix + "XXXXXX: " + std::strerror(errno));
        return false;
    }
    if (!UsableRuntimeDir(pattern, false, &error)) {
        refused.push_back(error);
        rmdir(pattern.c_str());
        return false;
    }
    if (!paths.tempRecord.empty())
        WriteWhole(paths.tempRecord, pattern + "\n");
    paths.runtimeDir = WithSlash(pattern);
    return true;
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

std::string FileUrl(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '.' || c == '_' || c == '~' || c == '/';
        if (keep) {
            url += ch;
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

std::string PathOfFileUrl(const std::string& url) {
    const std::string prefix = "file://";
    if (url.compare(0, prefix.size(), prefix) != 0)
        return std::string();
    auto hexValue = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string path;
    for (std::size_t i = prefix.size(); i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size() && hexValue(url[i + 1]) >= 0 && hexValue(url[i + 2]) >= 0) {
            path += static_cast<char>(hexValue(url[i + 1]) * 16 + hexValue(url[i + 2]));
            i += 2;
        } else {
            path += url[i];
        }
    }
    return path;
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
    return ResolveAppPaths(programDir, env, getuid());
}

AppPaths ResolveAppPaths(const std::string& programDir, const EnvLookup& env, unsigned uid) {
    AppPaths p;
    p.programDir = WithSlash(programDir);
    p.resourceDir = FindResourceDir(p.programDir);
    std::string state = XdgDir(env, "XDG_STATE_HOME");
    if (state.empty())
        state = HomeDir(env) + "/.local/state";
    p.stateDir = WithSlash(state) + "brulin/";
    // The runtime folder's places, in the order tried (see AppPaths.h).
    // The folder a loader chose counts only in the program that loader started: the loader
    // names itself beside it, and this process's parent must be that loader. Left in some
    // other environment (sudo -E, su, a shell started from the program) it is ignored.
    if (const std::string chosen = XdgDir(env, kRuntimeDirVariable);
        !chosen.empty() && env(kLoaderPidVariable) == std::to_string(getppid()))
        p.runtimeChoices.push_back({WithSlash(chosen), false});
    if (const std::string runtime = XdgDir(env, "XDG_RUNTIME_DIR"); !runtime.empty())
        p.runtimeChoices.push_back({WithSlash(runtime) + "brulin/", true});
    if (uid == 0) {
        p.runtimeChoices.push_back({"/run/brulin/", false});
    } else {
        const std::string userRun = "/run/user/" + std::to_string(uid);
        struct stat st {};
        if (lstat(userRun.c_str(), &st) == 0)
            p.runtimeChoices.push_back({userRun + "/brulin/", false});
    }
    p.runtimeChoices.push_back({p.stateDir + "run-" + HostPart() + "/", true});
    p.runtimeDir = p.runtimeChoices.front().dir;
    std::string temp = XdgDir(env, "TMPDIR");
    p.tempBase = temp.empty() ? "/tmp" : Strip(temp);
    p.tempRecord = p.stateDir + "run-" + HostPart() + ".tmpdir";
    std::string config = XdgDir(env, "XDG_CONFIG_HOME");
    if (config.empty())
        config = HomeDir(env) + "/.config";
    p.configFile = WithSlash(config) + "brulin/brulin.ini";
    return p;
}

// The state folder's parents are the user's own (~/.local/state, often group-writable where
// each user has a group of their own): only the folder itself is checked.
bool MakePrivateDir(const std::string& dir, std::string* error) {
    return MakeOwnDir(dir, /*makeParents=*/true, /*checkParent=*/false, error);
}

bool CreateAppFolders(AppPaths& paths, std::string* error, std::vector<std::string>* refusedOut) {
    if (!MakePrivateDir(paths.stateDir, error))
        return false;
    std::vector<std::string> refused;
    bool made = false;
    for (const RuntimeFolderChoice& choice : paths.runtimeChoices) {
        std::string why;
        if (UsableRuntimeDir(choice.dir, choice.makeParents, &why)) {
            paths.runtimeDir = WithSlash(choice.dir);
            made = true;
            break;
        }
        refused.push_back(why);
    }
    if (!made)
        made = TempRuntimeDir(paths, refused);
    if (!made) {
        std::string text = "no runtime folder can be made";
        for (const std::string& r : refused)
            text += "; " + r;
        SetError(error, text);
    }
    if (refusedOut)
        *refusedOut = std::move(refused);
    return made;
}

std::vector<std::string> RuntimeFolderNotes(const AppPaths& paths, const std::vector<std::string>& refused) {
    std::vector<std::string> lines;
    if (refused.empty())
        return lines;
    for (const std::string& r : refused)
        lines.push_back("Runtime folder refused: " + r);
    lines.push_back("Runtime folder used: " + paths.runtimeDir);
    return lines;
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
