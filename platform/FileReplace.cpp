#include "platform/FileReplace.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

bool SyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool ReplaceFileDurably(const std::string& from, const std::string& to) {
    if (!SyncPath(from, O_RDONLY))
        return false;
    if (::rename(from.c_str(), to.c_str()) != 0)
        return false;
    SyncPath(FolderOf(to), O_RDONLY | O_DIRECTORY); // best effort: the rename is done
    return true;
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const std::string temp = to + ".new";
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < n;) {
            const ssize_t w =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            ok = w > 0;
            done += w > 0 ? w : 0;
        }
        if (!ok)
            break;
    }
    ok = ok && ::fsync(out) == 0;
    ::close(out);
    ::close(in);
    if (ok && ::rename(temp.c_str(), to.c_str()) == 0) {
        SyncPath(FolderOf(to), O_RDONLY | O_DIRECTORY);
        return true;
    }
    ::unlink(temp.c_str());
    return false;
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

} // namespace platform
