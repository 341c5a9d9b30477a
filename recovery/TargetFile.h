#pragma once
// An open file in the target folder: a descriptor closed on destruction, with whole writes.
#include <cstddef>
#include <cstdint>
#include <string>

class CTargetFile {
public:
    CTargetFile() = default;
    ~CTargetFile() { Close(); }
    CTargetFile(const CTargetFile&) = delete;
    CTargetFile& operator=(const CTargetFile&) = delete;

    // Opens `path` for writing, creating it or cutting it to 0 bytes (an existing file only when
    // it is a regular one with a single name, of whoever writes). Returns 0 or an error code
    // (see TargetFiles.h).
    int OpenAlways(const std::string& path);
    // Creates `path` for writing; fails with kErrorFileExists when it exists.
    int CreateNew(const std::string& path);
    // Opens an existing file for reading.
    int OpenRead(const std::string& path);
    bool IsOpen() const { return m_fd >= 0; }
    // Writes all `size` bytes; false on an error or a short write.
    bool WriteAll(const void* data, std::size_t size);
    // Leaves a hole of `size` bytes: the position moves on and nothing is written, so the
    // target stays sparse where the source was. False when the position would not fit.
    bool SkipHole(std::uint64_t size);
    // Sets the file's length to the current position (a file that ends in a hole gets its
    // full length). False when the file system refuses that length.
    bool EndAtPosition();
    // Reads until `size` bytes or the end of the file; the count read, or -1 on an error.
    long long ReadFull(void* data, std::size_t size);
    // Closes the file; false when the close reported an error (a late write failure).
    bool Close();

private:
    int m_fd = -1;
};

// Sets the last-write and last-access times of `path` from 100-nanosecond ticks since
// 1601-01-01 UTC; a null time is left as it is. False when the times could not be set.
bool SetTargetFileTimes(const std::string& path, const std::uint64_t* lastWriteTicks,
                        const std::uint64_t* lastAccessTicks);
// Clears every write permission bit of `path`.
bool SetTargetReadOnly(const std::string& path);
// Bytes an unprivileged writer may still put in the file system holding `path` (a file or a
// folder), or UINT64_MAX when that cannot be told.
std::uint64_t TargetFreeBytes(const std::string& path);
// Removes `path`; false when it could not be removed.
bool DeleteTargetFile(const std::string& path);
