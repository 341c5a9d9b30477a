#pragma once
// Files and raw block devices: an owning descriptor, positioned reads that survive signals and
// short transfers, sizes and free space.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Owns one file descriptor (-1 = none). Closing is idempotent.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : m_fd(fd) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : m_fd(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    bool Valid() const { return m_fd >= 0; }
    int Get() const { return m_fd; }
    int Release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset(int fd = -1);
    void Close() { Reset(-1); }

private:
    int m_fd = -1;
};

// Opens a file or a block device for reading only (never for writing).
FileHandle OpenReadOnly(const std::string& path);

// How a file is opened for the writing helpers.
enum class OpenMode {
    ReadExisting,      // read, must exist
    WriteExisting,     // write, must exist
    ReadWriteExisting, // read and write, must exist
    CreateAlways,      // read and write, created or emptied
    OpenAlways,        // read and write, created when missing, kept otherwise
};
FileHandle OpenFile(const std::string& path, OpenMode mode);

// Opens a file of the program's own folders (the log, a state file, a record) for reading and
// writing without following a symbolic link: it is created (mode 0600) when missing, and used
// only when it is a regular file of this user with a single name; with `empty` it is emptied after
// that check, so a link, a second name of another file or someone else's file planted at the name
// is never cut. Invalid (errno ELOOP for a link,
// EPERM for a file that is not a regular one of this user) otherwise.
FileHandle OpenOwnFile(const std::string& path, bool empty);

// Reads up to `length` bytes at `offset`, retrying after signals and short transfers until
// the length is reached, the end of the file is met or an error occurs. Returns the bytes
// read (possibly fewer at the end of the file), or -1 when an error stopped the read before
// any byte arrived.
std::int64_t ReadAt(int fd, void* buffer, std::size_t length, std::uint64_t offset);

// Writes every byte (retrying signals and short writes). True only when all were written.
bool WriteFully(int fd, const void* data, std::size_t length);

// Size in bytes of an open block device (BLKGETSIZE64) or regular file. False when neither
// applies or the query fails.
bool GetSize(int fd, std::uint64_t& bytes);

// True when the descriptor refers to a block device.
bool IsBlockDevice(int fd);

// Free and total bytes of the file system holding `path` (for the caller; statvfs).
struct FreeSpace {
    std::uint64_t freeBytes = 0;      // available to an unprivileged writer
    std::uint64_t totalBytes = 0;
};
bool GetFreeSpace(const std::string& path, FreeSpace& out);

} // namespace platform
