#include "platform/File.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

void FileHandle::Reset(int fd) {
    if (m_fd >= 0 && m_fd != fd)
        ::close(m_fd);
    m_fd = fd;
}

FileHandle OpenReadOnly(const std::string& path) {
    if (path.empty())
        return FileHandle();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

FileHandle OpenFile(const std::string& path, OpenMode mode) {
    if (path.empty())
        return FileHandle();
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::ReadExisting:
        flags |= O_RDONLY;
        break;
    case OpenMode::WriteExisting:
        flags |= O_WRONLY;
        break;
    case OpenMode::ReadWriteExisting:
        flags |= O_RDWR;
        break;
    case OpenMode::CreateAlways:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    case OpenMode::OpenAlways:
        flags |= O_RDWR | O_CREAT;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

FileHandle OpenOwnFile(const std::string& path, bool empty) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    FileHandle file(fd);
    if (!file.Valid())
        return file;
    struct stat st {};
    // One name only: a hard link planted at the name would have the emptying reach another file.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_nlink != 1) {
        file.Close();
        errno = EPERM;
        return file;
    }
    // Non-blocking only to open a FIFO planted at the name without hanging on it.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (empty && ftruncate(fd, 0) != 0)
        file.Close();
    return file;
}

std::int64_t ReadAt(int fd, void* buffer, std::size_t length, std::uint64_t offset) {
    if (fd < 0 || (!buffer && length))
        return -1;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        std::uint64_t pos = offset + done;
        if (pos < offset || pos > static_cast<std::uint64_t>(INT64_MAX))
            break;
        ssize_t n = ::pread(fd, out + done, length - done, static_cast<off_t>(pos));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (done == 0)
                return -1;
            break;
        }
        if (n == 0)
            break; // end of file
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool WriteFully(int fd, const void* data, std::size_t length) {
    if (fd < 0 || (!data && length))
        return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool IsBlockDevice(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode);
}

bool GetSize(int fd, std::uint64_t& bytes) {
    bytes = 0;
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return false;
    if (S_ISBLK(st.st_mode)) {
        std::uint64_t size = 0;
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0)
            return false;
        bytes = size;
        return true;
    }
    if (S_ISREG(st.st_mode)) {
        bytes = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    return false;
}

bool GetFreeSpace(const std::string& path, FreeSpace& out) {
    out = FreeSpace();
    struct statvfs vfs {};
    if (path.empty() || ::statvfs(path.c_str(), &vfs) != 0)
        return false;
    const std::uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    out.freeBytes = static_cast<std::uint64_t>(vfs.f_bavail) * unit;
    out.totalBytes = static_cast<std::uint64_t>(vfs.f_blocks) * unit;
    return true;
}

} // namespace platform
