// A stand-in for pkexec that a test installs set-user-ID root, in a folder of its own private
// mount namespace: run by another user, it runs its one argument as root in its own process, as
// pkexec does, with a fresh environment: PKEXEC_UID (the caller's uid), the caller's display
// (DISPLAY, XAUTHORITY), a plain PATH and root's folders for the test. It runs nothing but the
// program named in the root-owned file "setuid_pkexec.conf" beside it (first line), and takes
// root's home from that file too (second line): HOME, and XDG_STATE_HOME, XDG_RUNTIME_DIR and
// XDG_CONFIG_HOME under it. Plain C library calls only: no sanitizer runs set-user-ID.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2)
        return 127;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return 127;
    self[n] = 0;
    std::string conf(self);
    conf = conf.substr(0, conf.find_last_of('/') + 1) + "setuid_pkexec.conf";
    struct stat st {};
    FILE* in = std::fopen(conf.c_str(), "re");
    if (!in || fstat(fileno(in), &st) != 0 || st.st_uid != 0 || (st.st_mode & 022))
        return 127;
    char program[4096] = {0}, home[4096] = {0};
    const bool read = std::fgets(program, sizeof program, in) && std::fgets(home, sizeof home, in);
    std::fclose(in);
    if (!read)
        return 127;
    program[std::strcspn(program, "\n")] = 0;
    home[std::strcspn(home, "\n")] = 0;
    if (std::strcmp(argv[1], program) != 0) {
        std::fprintf(stderr, "setuid_pkexec: runs only %s\n", program);
        return 127;
    }
    const uid_t caller = getuid();
    std::vector<std::string> env = {"PKEXEC_UID=" + std::to_string(caller),
                                    "PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                                    std::string("HOME=") + home,
                                    std::string("XDG_STATE_HOME=") + home + "/state",
                                    std::string("XDG_RUNTIME_DIR=") + home + "/run",
                                    std::string("XDG_CONFIG_HOME=") + home + "/config",
                                    "USER=root",
                                    "LOGNAME=root"};
    for (const char* name :
         {"DISPLAY", "XAUTHORITY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
          "BRULIN_DESKTOP_START_MARK", "NO_AT_BRIDGE", "GTK_A11Y"})
        if (const char* value = std::getenv(name))
            env.push_back(std::string(name) + "=" + value);
    if (setgroups(0, nullptr) != 0 || setresgid(0, 0, 0) != 0 || setresuid(0, 0, 0) != 0)
        return 127;
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char* args[] = {program, nullptr};
    execve(program, args, envp.data());
    return 127;
}
