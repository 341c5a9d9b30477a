#pragma once
// Tests of an administrator start: the program as root for the desktop user nobody (uid 65534),
// stand-in programs that write down who ran them, and folders nobody may reach (the build folder
// may lie in a 0700 home, so they are made under /tmp).
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

constexpr uid_t kNobodyUid = 65534;

// Why a test of an administrator start cannot run here, or empty when it can (as root, with a
// password entry for nobody).
std::string AdministratorStartUnavailable();

// While it lives: the environment of a pkexec start for nobody (PKEXEC_UID, or `variable` such as
// SUDO_UID, set to `uid`; the other one unset). The old values come back at the end.
class AdministratorStart {
public:
    explicit AdministratorStart(const std::string& variable = "PKEXEC_UID",
                                const std::string& uid = std::to_string(kNobodyUid));
    ~AdministratorStart();
    AdministratorStart(const AdministratorStart&) = delete;
    AdministratorStart& operator=(const AdministratorStart&) = delete;

private:
    std::map<std::string, std::pair<bool, std::string>> m_saved;
};

// While it lives: no password entry can be read (the lookup fails with EIO), as when the
// password database cannot be reached; the real lookup comes back at the end.
class UnreadablePasswd {
public:
    UnreadablePasswd();
    ~UnreadablePasswd();
    UnreadablePasswd(const UnreadablePasswd&) = delete;
    UnreadablePasswd& operator=(const UnreadablePasswd&) = delete;
};

// The reason an administrator start gives for starting no program when nobody's entry cannot be read.
constexpr char kNobodyUnreadable[] = "the desktop user's account (uid 65534) could not be read";

// A folder under /tmp that everyone may search (0755), owned by `owner`, removed with the object.
class OpenTempFolder {
public:
    explicit OpenTempFolder(uid_t owner = 0, mode_t mode = 0755);
    ~OpenTempFolder();
    OpenTempFolder(const OpenTempFolder&) = delete;
    OpenTempFolder& operator=(const OpenTempFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// What a stand-in program wrote down about its run.
struct RecordedRun {
    bool ran = false;
    uid_t uid = 0;
    std::string groups;                      // `id -G`
    std::map<std::string, std::string> env;  // its whole environment
    std::vector<std::string> args;
    std::vector<int> fds;                    // its open descriptors
    std::string fileOwner;                   // `stat -c '%u %a'` of the file named by the last
                                             // argument (up to a '|'), when there is one
    std::string fileContent;                 // that file's bytes as the program read them
};

// A stand-in program `name` in `binDir` (made executable for all) that writes down its run into
// `recordDir`; ReadRun reads it back, waiting up to `waitMs` for it to appear.
std::string WriteRecorder(const std::string& binDir, const std::string& name, const std::string& recordDir,
                          int exitStatus = 0);
RecordedRun ReadRun(const std::string& recordDir, const std::string& name, int waitMs = 10000);

// Owner uid of `path` (lstat), or -1.
long OwnerOf(const std::string& path);

// Runs `action` in a child process as `uid` (its own group from the password database, no other
// group): an attacker of another uid than the program's. Its result (0 to 255), or -1 when the
// child could not be made that user.
int RunAsUser(uid_t uid, const std::function<int()>& action);

// A child process as `uid` that runs `step` over and over, as fast as it can, until the object
// goes (it is killed then and waited for).
class LoopingAttacker {
public:
    LoopingAttacker(uid_t uid, std::function<void()> step);
    ~LoopingAttacker();
    LoopingAttacker(const LoopingAttacker&) = delete;
    LoopingAttacker& operator=(const LoopingAttacker&) = delete;
    bool Running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

} // namespace testsupport
