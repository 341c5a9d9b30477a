#include "tests/support/DesktopUserKit.h"

#include "platform/DesktopUser.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <csignal>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

std::string AdministratorStartUnavailable() {
    if (::geteuid() != 0)
        return "needs root: runs programs as the user nobody and gives files to nobody";
    if (!::getpwuid(kNobodyUid))
        return "no password entry for uid 65534 (nobody)";
    return {};
}

AdministratorStart::AdministratorStart(const std::string& variable, const std::string& uid) {
    for (const char* name : {"PKEXEC_UID", "SUDO_UID"}) {
        const char* old = std::getenv(name);
        m_saved[name] = {old != nullptr, old ? old : ""};
        ::unsetenv(name);
    }
    ::setenv(variable.c_str(), uid.c_str(), 1);
}

AdministratorStart::~AdministratorStart() {
    for (const auto& [name, value] : m_saved) {
        if (value.first)
            ::setenv(name.c_str(), value.second.c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

namespace {
int FailingLookup(uid_t, struct passwd*, char*, std::size_t, struct passwd** found) {
    *found = nullptr;
    return EIO;
}
} // namespace

UnreadablePasswd::UnreadablePasswd() { platform::SetPasswdLookupForTests(FailingLookup); }
UnreadablePasswd::~UnreadablePasswd() { platform::SetPasswdLookupForTests(nullptr); }

OpenTempFolder::OpenTempFolder(uid_t owner, mode_t mode) {
    char dir[] = "/tmp/brulin-test-XXXXXX";
    if (!::mkdtemp(dir))
        return;
    m_path = dir;
    if (::chmod(dir, mode) != 0 || ::chown(dir, owner, static_cast<gid_t>(-1)) != 0)
        m_path.clear();
}

OpenTempFolder::~OpenTempFolder() {
    if (m_path.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string WriteRecorder(const std::string& binDir, const std::string& name, const std::string& recordDir,
                          int exitStatus) {
    const std::string script = binDir + "/" + name;
    const std::string out = recordDir + "/" + name;
    std::ofstream(script) << "#!/bin/sh\n"
                             "out='" << out << "'\n"
                             "last=''\n"
                             "{ echo \"uid=$(id -u)\"; echo \"groups=$(id -G)\";\n"
                             "  echo \"fds=$(ls /proc/$$/fd | tr '\\n' ' ')\";\n"
                             "  for a in \"$@\"; do echo \"arg=$a\"; last=\"$a\"; done\n"
                             "  f=\"${last%%|*}\"\n"
                             "  if [ -n \"$f\" ] && [ -e \"$f\" ]; then echo \"file=$(stat -c '%u %a' \"$f\")\"; fi\n"
                             "} > \"$out.tmp\" 2>/dev/null\n"
                             "if [ -n \"$f\" ] && [ -e \"$f\" ]; then cat \"$f\" > \"$out.content\" 2>/dev/null; fi\n"
                             "env > \"$out.env\"\n"
                             "mv \"$out.tmp\" \"$out\"\n"
                             "exit " << exitStatus << "\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

RecordedRun ReadRun(const std::string& recordDir, const std::string& name, int waitMs) {
    RecordedRun run;
    const std::string out = recordDir + "/" + name;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!std::filesystem::exists(out) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream in(out);
    if (!in)
        return run;
    run.ran = true;
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "uid")
            run.uid = static_cast<uid_t>(std::stoul(value));
        else if (key == "groups")
            run.groups = value;
        else if (key == "arg")
            run.args.push_back(value);
        else if (key == "file")
            run.fileOwner = value;
        else if (key == "fds") {
            std::istringstream words(value);
            int fd;
            while (words >> fd)
                run.fds.push_back(fd);
        }
    }
    std::ifstream env(out + ".env");
    while (std::getline(env, line)) {
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos)
            run.env[line.substr(0, eq)] = line.substr(eq + 1);
    }
    std::ifstream content(out + ".content", std::ios::binary);
    run.fileContent.assign(std::istreambuf_iterator<char>(content), {});
    return run;
}

long OwnerOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_uid) : -1;
}

namespace {

// In a forked child: becomes `uid` for good, or ends.
void BecomeUser(uid_t uid) {
    const passwd* entry = ::getpwuid(uid);
    const gid_t gid = entry ? entry->pw_gid : static_cast<gid_t>(uid);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 || ::geteuid() != uid)
        ::_exit(255);
}

} // namespace

int RunAsUser(uid_t uid, const std::function<int()>& action) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        BecomeUser(uid);
        ::_exit(action() & 0xFF);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

LoopingAttacker::LoopingAttacker(uid_t uid, std::function<void()> step) {
    m_pid = ::fork();
    if (m_pid == 0) {
        BecomeUser(uid);
        for (;;)
            step();
    }
}

LoopingAttacker::~LoopingAttacker() {
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace testsupport
