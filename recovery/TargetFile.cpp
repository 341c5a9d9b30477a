#include "recovery/TargetFile.h"

#include "platform/TargetTree.h"
#include "recovery/TargetFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <ctime>
#include <unistd.h>

namespace {

// Never through a link, and an existing file only when it is a regular one with a single name
// (platform/TargetTree.h): the file written is the one named.
int Opened(int& fd, int opened) {
    if (fd >= 0)
        ::close(fd);
    fd = opened;
    return fd < 0 ? MapCreateErrno(errno, false) : kErrorSuccess;
}

} // namespace

int CTargetFile::OpenAlways(const std::string& path) {
    return Opened(m_fd, platform::TreeCreateFile(path, platform::TreeExisting::Empty));
}

int CTargetFile::CreateNew(const std::string& path) {
    return Opened(m_fd, platform::TreeCreateFile(path, platform::TreeExisting::Refuse));
}

int CTargetFile::OpenRead(const std::string& path) { return Opened(m_fd, platform::TreeOpenRead(path)); }

bool CTargetFile::WriteAll(const void* data, std::size_t size) {
    if (m_fd < 0)
        return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool CTargetFile::SkipHole(std::uint64_t size) {
    if (m_fd < 0)
        return false;
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    if (at < 0 || size > static_cast<std::uint64_t>(INT64_MAX - at))
        return false;
    return ::lseek(m_fd, at + static_cast<off_t>(size), SEEK_SET) >= 0;
}

bool CTargetFile::EndAtPosition() {
    if (m_fd < 0)
        return false;
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    struct stat st {};
    if (at < 0 || ::fstat(m_fd, &st) != 0)
        return false;
    return st.st_size == at || ::ftruncate(m_fd, at) == 0;
}

long long CTargetFile::ReadFull(void* data, std::size_t size) {
    if (m_fd < 0)
        return -1;
    auto* p = static_cast<std::uint8_t*>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(m_fd, p + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

bool CTargetFile::Close() {
    if (m_fd < 0)
        return true;
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
}

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;

timespec TicksToTimespec(std::uint64_t ticks) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference);
    ts.tv_nsec = static_cast<long>((ticks % kTicksPerSecond) * 100);
    return ts;
}

} // namespace

bool SetTargetFileTimes(const std::string& path, const std::uint64_t* lastWriteTicks,
                        const std::uint64_t* lastAccessTicks) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (lastAccessTicks)
        times[0] = TicksToTimespec(*lastAccessTicks);
    if (lastWriteTicks)
        times[1] = TicksToTimespec(*lastWriteTicks);
    return platform::TreeSetTimes(path, times) == 0;
}

bool SetTargetReadOnly(const std::string& path) { return platform::TreeClearWriteBits(path) == 0; }

bool DeleteTargetFile(const std::string& path) { return platform::TreeRemoveFile(path) == 0; }

std::uint64_t TargetFreeBytes(const std::string& path) {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0)
        return UINT64_MAX;
    std::uint64_t bytes;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(st.f_bavail), static_cast<std::uint64_t>(st.f_frsize), &bytes))
        return UINT64_MAX;
    return bytes;
}
