#pragma once
// The desktop user behind an administrator start. Started as root through pkexec (PKEXEC_UID) or
// sudo (SUDO_UID), the program still works for someone: the outside programs it starts for them
// (the browser for help, the file manager, the document viewer) run as that user, never as root,
// and what it writes into their folders it writes with their rights (platform/TargetTree.h).
#include <cstddef>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct DesktopUser {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    std::vector<gid_t> groups; // every group of the user (getgrouplist), the primary one too
};

// The user the program runs as root for: only with an effective uid of 0, from PKEXEC_UID, else
// SUDO_UID; the uid must be a number other than 0 with an entry in the password database.
// Nothing otherwise, and nothing when the entry cannot be read (what is written then is written
// as root's; see FindDesktopUserStatus for telling that case apart).
std::optional<DesktopUser> FindDesktopUser();

// What an administrator start says of its desktop user.
enum class DesktopUserState {
    None,       // no administrator start: not root, or no PKEXEC_UID/SUDO_UID naming a user but root
    Found,      // the user FindDesktopUser gives
    Unreadable, // a user is named, but their password entry cannot be read
};
struct DesktopUserStatus {
    DesktopUserState state = DesktopUserState::None;
    uid_t uid = 0;                   // the uid named (Found, Unreadable)
    std::optional<DesktopUser> user; // Found only
};
DesktopUserStatus FindDesktopUserStatus();

// Why no outside program is started for the user, for a message ("the desktop user's account
// (uid 1000) could not be read, and no program is started as root for them"); empty when
// programs may start (no administrator start, or the user was found). A named user whose entry
// cannot be read never gets a program of root's in their place: the helpers below refuse then.
std::string DesktopUserRefusal();

// The environment of a program started for `user`: HOME, USER and LOGNAME from the password
// entry, a plain PATH, and of the caller's own environment only what reaches the display
// (DISPLAY, WAYLAND_DISPLAY, and XAUTHORITY when that file is the user's own; without it the
// display's libraries read ~/.Xauthority). XDG_RUNTIME_DIR is /run/user/<uid> when that folder
// exists and belongs to the user.
std::vector<std::string> DesktopUserEnvironment(const DesktopUser& user);

// Starts `argv` (argv[0] looked up in PATH when it names no folder) with none of the caller's
// descriptors beyond 0-2. With a desktop user it runs as that user (groups, gid, uid dropped in
// the child before the program starts, each checked) in DesktopUserEnvironment; without one, as
// the caller in the caller's environment. Returns the child's process id for the caller to wait
// for, or -1 when the program could not be started (not found, not executable, the change of
// user refused, or EPERM: a desktop user is named whose entry cannot be read; nothing ran then).
pid_t SpawnForDesktopUser(const std::vector<std::string>& argv);

// The same for a program nobody waits for (a browser, a file manager): it is started from a
// short-lived child that is waited for here, so it leaves no zombie. True when it started.
bool LaunchForDesktopUser(const std::vector<std::string>& argv);

// True when the desktop user may read the file `path` (every folder on the way searchable by
// them, the file readable), judged by the permission bits; true without a desktop user, false
// for one whose entry cannot be read.
bool DesktopUserMayRead(const std::string& path);

// A private copy of a file for the desktop user (a temp file of root's is no file they may read):
// in a folder of their own under the temp folder (0700) as a file of theirs (0600). Without a
// desktop user the original is used as it is; for one whose entry cannot be read nothing is
// handed over (an empty path). The copy and its folder go with the object.
class DesktopUserCopy {
public:
    explicit DesktopUserCopy(const std::string& path);
    ~DesktopUserCopy();
    DesktopUserCopy(const DesktopUserCopy&) = delete;
    DesktopUserCopy& operator=(const DesktopUserCopy&) = delete;
    // The path to hand over; empty when a copy was needed and could not be made.
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_folder; // the private folder made, or empty
};

// For tests: the password-database lookup (getpwuid_r by default), to stand in for an entry
// that cannot be read. Empty restores the default; either way the looked-up user is forgotten.
using PasswdLookup = int (*)(uid_t uid, ::passwd* entry, char* buffer, std::size_t size, ::passwd** found);
void SetPasswdLookupForTests(PasswdLookup lookup);

// For tests: called in the child of SpawnForDesktopUser/LaunchForDesktopUser just before its
// exec, after the change of user (async-signal-safe calls only), to stand in for what may reach
// the child there, such as a signal. Empty for none.
using BeforeExecHook = void (*)();
void SetBeforeExecHookForTests(BeforeExecHook hook);

} // namespace platform
