#pragma once
// Files and folders in a place the user chose: the recovery target, a disk image and its slices,
// a slice list, the state files. Someone else may control such a tree while the program writes
// into it (the desktop user behind an administrator start, or any user whose folder root writes
// into), so nothing here works through a plain path:
//   - every call reaches its item from "/" (or the working folder, for a relative path) one folder
//     at a time, each opened without following a link, and then works relative to the folder it
//     holds: a link planted on the way, or a folder swapped for one after the walk, cannot send
//     the call anywhere else;
//   - where the folder that holds the item belongs to the desktop user (platform/DesktopUser.h),
//     the call itself is made with that user's file-system identity (fsuid, fsgid and groups, on
//     this thread only), so the kernel checks it exactly as it would check the user, and what it
//     makes is theirs from the start. Anywhere else it is made as the program runs;
//   - an existing file is used only when it is a regular file with one name that belongs to
//     whoever the call is made as, and it is emptied through its descriptor after those checks.
// Data read from a disk goes through descriptors opened before, so reading stays the program's own.
// Results follow the system calls: a descriptor or 0, else -1 with errno set.
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct DesktopUser;

// While it lives, the calling thread's file-system calls are checked as `user`'s (fsuid, fsgid,
// supplementary groups); the program's own identity comes back when it goes. The other threads
// and the process's real and effective ids are not touched. Taken() is false (errno set) when the
// change was refused: nothing was changed then.
class DesktopUserIdentity {
public:
    explicit DesktopUserIdentity(const DesktopUser& user);
    ~DesktopUserIdentity();
    DesktopUserIdentity(const DesktopUserIdentity&) = delete;
    DesktopUserIdentity& operator=(const DesktopUserIdentity&) = delete;
    bool Taken() const { return m_taken; }

private:
    bool m_taken = false;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    std::vector<gid_t> m_groups; // the thread's own, put back
};

// How TreeCreateFile treats a file that is already there.
enum class TreeExisting {
    Refuse, // EEXIST: only a new file is made
    Keep,   // used as it is
    Empty,  // used and cut to 0 bytes
    Replace, // whatever file or link has the name is removed (never what a link names), and a
             // new file made: for temporary names that an earlier run may have left
};

// Opens `path` for reading and writing, creating it with `mode` when missing. Returns the
// descriptor (the caller closes it) or -1.
int TreeCreateFile(const std::string& path, TreeExisting existing, mode_t mode = 0666);
// Opens the regular file `path` for reading. Returns the descriptor or -1.
int TreeOpenRead(const std::string& path);
// Makes the folder `path` (EEXIST when taken).
int TreeMakeFolder(const std::string& path, mode_t mode = 0777);
// Makes every missing folder of `path`; 0 when the whole path is then there as folders.
int TreeMakeFolders(const std::string& path, mode_t mode = 0777);
// Removes the file (never a folder) `path`; a link there is removed itself.
int TreeRemoveFile(const std::string& path);
// Renames `from` over `to` (each name's link itself, never what it points to).
int TreeRename(const std::string& from, const std::string& to);
// Sets the access and modification times of `path` (utimensat's times: UTIME_OMIT keeps one).
int TreeSetTimes(const std::string& path, const timespec times[2]);
// Clears every write bit of the regular file `path`.
int TreeClearWriteBits(const std::string& path);
// Flushes the file or folder `path` to disk.
int TreeSync(const std::string& path);

} // namespace platform
