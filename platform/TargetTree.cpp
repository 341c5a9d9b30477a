#include "platform/TargetTree.h"

#include "platform/DesktopUser.h"
#include "platform/File.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The calling thread's supplementary groups (the raw call: the library's setgroups changes every
// thread of the process).
int SetThreadGroups(std::size_t count, const gid_t* groups) {
    return static_cast<int>(::syscall(SYS_setgroups, count, groups));
}

// `path` split into its folder components and its last name ("" for "/" or an empty path).
struct SplitPath {
    bool tooLong = false;
    bool absolute = false;
    std::vector<std::string> folders;
    std::string leaf;
};

SplitPath Split(const std::string& path) {
    SplitPath out;
    // A path longer than the system takes by name is refused as a plain call would refuse it:
    // callers fall back to a shorter place then, and whatever is made stays reachable by name.
    if (path.size() >= PATH_MAX) {
        out.tooLong = true;
        return out;
    }
    out.absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            std::string part = path.substr(start, end - start);
            if (part != ".")
                parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    if (!parts.empty()) {
        out.leaf = std::move(parts.back());
        parts.pop_back();
    }
    out.folders = std::move(parts);
    return out;
}

FileHandle OpenStart(bool absolute) {
    int fd;
    do {
        fd = ::open(absolute ? "/" : ".", kFolderFlags);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

FileHandle OpenFolderAt(int at, const std::string& name) {
    int fd;
    do {
        fd = ::openat(at, name.c_str(), kFolderFlags);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

// The folder that holds `path`'s last name, reached without following a link. Invalid (errno
// set) when a folder on the way is missing, is a link or is no folder.
FileHandle ReachFolder(const SplitPath& split) {
    if (split.tooLong) {
        errno = ENAMETOOLONG;
        return FileHandle();
    }
    FileHandle folder = OpenStart(split.absolute);
    for (const std::string& name : split.folders) {
        if (!folder.Valid())
            break;
        folder = OpenFolderAt(folder.Get(), name);
    }
    return folder;
}

// The desktop user when `folder` is theirs: calls in it are then made as them.
std::optional<DesktopUser> OwnerToActFor(int folder) {
    std::optional<DesktopUser> user = FindDesktopUser();
    if (!user)
        return std::nullopt;
    struct stat st {};
    if (::fstat(folder, &st) != 0 || st.st_uid != user->uid)
        return std::nullopt;
    return user;
}

// Runs `call` in `folder` as whoever owns it (see the header). -1 with EPERM when the user's
// identity could not be taken: then nothing is done as anyone else.
template <typename Call>
int InFolder(int folder, Call call) {
    const std::optional<DesktopUser> user = OwnerToActFor(folder);
    if (!user)
        return call(::geteuid());
    DesktopUserIdentity identity(*user);
    if (!identity.Taken()) {
        errno = EPERM;
        return -1;
    }
    return call(user->uid);
}

int NeedsLeaf(const SplitPath& split) {
    if (split.tooLong) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (split.leaf.empty() || split.leaf == "..") {
        errno = EINVAL;
        return -1;
    }
    return 0;
}

// Reaches the folder that holds `path`'s last name and runs `call(folder, name, writer)` in it,
// as InFolder does.
template <typename Call>
int AtName(const std::string& path, Call call) {
    const SplitPath split = Split(path);
    if (NeedsLeaf(split) != 0)
        return -1;
    const FileHandle folder = ReachFolder(split);
    if (!folder.Valid())
        return -1;
    return InFolder(folder.Get(), [&](uid_t writer) { return call(folder.Get(), split.leaf.c_str(), writer); });
}

// An existing file fit to be written: a regular file with one name, owned by `writer`.
bool UsableExisting(int fd, uid_t writer) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != writer) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EPERM;
        return false;
    }
    return true;
}

void CloseKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// The blocking flag goes once the item is known to be a regular file (a FIFO planted at the name
// must not hang the open).
int Blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        CloseKeepingErrno(fd);
        return -1;
    }
    return fd;
}

} // namespace

DesktopUserIdentity::DesktopUserIdentity(const DesktopUser& user) {
    m_uid = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
    m_gid = static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)));
    if (user.uid == 0 || user.groups.empty()) {
        errno = EINVAL;
        return;
    }
    const int count = ::getgroups(0, nullptr);
    if (count < 0)
        return;
    m_groups.resize(static_cast<std::size_t>(count) + 1);
    const int got = ::getgroups(count, m_groups.data());
    if (got < 0)
        return;
    m_groups.resize(static_cast<std::size_t>(got));
    // Groups and group first: once the fsuid is no longer root's, they could not be changed.
    // setfsuid and setfsgid tell no error: each is read back.
    if (SetThreadGroups(user.groups.size(), user.groups.data()) != 0)
        return;
    ::setfsgid(user.gid);
    ::setfsuid(user.uid);
    if (static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == user.uid &&
        static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == user.gid) {
        m_taken = true;
        return;
    }
    const int saved = errno;
    ::setfsuid(m_uid);
    ::setfsgid(m_gid);
    SetThreadGroups(m_groups.size(), m_groups.data());
    errno = saved ? saved : EPERM;
}

DesktopUserIdentity::~DesktopUserIdentity() {
    const int saved = errno;
    if (m_taken) {
        // Back to the program's own fsuid first: with it come back the rights to restore the rest.
        ::setfsuid(m_uid);
        ::setfsgid(m_gid);
        SetThreadGroups(m_groups.size(), m_groups.data());
    }
    errno = saved;
}

int TreeCreateFile(const std::string& path, TreeExisting existing, mode_t mode) {
    return AtName(path, [&](int folder, const char* name, uid_t writer) {
        if (existing == TreeExisting::Replace) {
            if (::unlinkat(folder, name, 0) != 0 && errno != ENOENT)
                return -1;
            existing = TreeExisting::Refuse;
        }
        for (int attempt = 0; attempt < 8; ++attempt) {
            int fd = ::openat(folder, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
            if (fd >= 0)
                return fd;
            if (errno == EINTR)
                continue;
            if (errno != EEXIST || existing == TreeExisting::Refuse)
                return -1;
            fd = ::openat(folder, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                if (errno == ENOENT || errno == EINTR)
                    continue; // removed in between: make it anew
                return -1;
            }
            if (!UsableExisting(fd, writer)) {
                CloseKeepingErrno(fd);
                return -1;
            }
            if (existing == TreeExisting::Empty && ::ftruncate(fd, 0) != 0) {
                CloseKeepingErrno(fd);
                return -1;
            }
            return Blocking(fd);
        }
        errno = EAGAIN;
        return -1;
    });
}

int TreeOpenRead(const std::string& path) {
    return AtName(path, [](int folder, const char* name, uid_t) {
        int fd;
        do {
            fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -1;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EPERM;
            CloseKeepingErrno(fd);
            return -1;
        }
        return Blocking(fd);
    });
}

int TreeMakeFolder(const std::string& path, mode_t mode) {
    return AtName(path, [&](int folder, const char* name, uid_t) { return ::mkdirat(folder, name, mode); });
}

int TreeMakeFolders(const std::string& path, mode_t mode) {
    SplitPath split = Split(path);
    if (split.tooLong) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (!split.leaf.empty())
        split.folders.push_back(split.leaf);
    FileHandle folder = OpenStart(split.absolute);
    for (const std::string& name : split.folders) {
        if (!folder.Valid())
            return -1;
        FileHandle next = OpenFolderAt(folder.Get(), name);
        if (!next.Valid() && errno == ENOENT && name != "..") {
            if (InFolder(folder.Get(), [&](uid_t) { return ::mkdirat(folder.Get(), name.c_str(), mode); }) != 0 &&
                errno != EEXIST)
                return -1;
            next = OpenFolderAt(folder.Get(), name);
        }
        folder = std::move(next);
    }
    return folder.Valid() ? 0 : -1;
}

int TreeRemoveFile(const std::string& path) {
    return AtName(path, [](int folder, const char* name, uid_t) { return ::unlinkat(folder, name, 0); });
}

int TreeRename(const std::string& from, const std::string& to) {
    const SplitPath source = Split(from);
    const SplitPath target = Split(to);
    if (NeedsLeaf(source) != 0 || NeedsLeaf(target) != 0)
        return -1;
    const FileHandle sourceFolder = ReachFolder(source);
    if (!sourceFolder.Valid())
        return -1;
    const FileHandle targetFolder = ReachFolder(target);
    if (!targetFolder.Valid())
        return -1;
    // As the owner of the folder the name goes to; the kernel checks the other folder as them too.
    return InFolder(targetFolder.Get(), [&](uid_t) {
        return ::renameat(sourceFolder.Get(), source.leaf.c_str(), targetFolder.Get(), target.leaf.c_str());
    });
}

int TreeSetTimes(const std::string& path, const timespec times[2]) {
    return AtName(path, [&](int folder, const char* name, uid_t) {
        return ::utimensat(folder, name, times, AT_SYMLINK_NOFOLLOW);
    });
}

int TreeClearWriteBits(const std::string& path) {
    const int fd = TreeOpenRead(path);
    if (fd < 0)
        return -1;
    struct stat st {};
    int rc = ::fstat(fd, &st);
    if (rc == 0)
        rc = ::fchmod(fd, st.st_mode & 07777 & ~static_cast<mode_t>(0222));
    CloseKeepingErrno(fd);
    return rc;
}

int TreeSync(const std::string& path) {
    const SplitPath split = Split(path);
    FileHandle folder = ReachFolder(split);
    if (!folder.Valid())
        return -1;
    return InFolder(folder.Get(), [&](uid_t) {
        int fd;
        do {
            fd = split.leaf.empty() ? ::open(split.absolute ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                                    : ::openat(folder.Get(), split.leaf.c_str(),
                                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return -1;
        const int rc = ::fsync(fd);
        CloseKeepingErrno(fd);
        return rc;
    });
}

} // namespace platform
