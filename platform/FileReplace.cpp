#include "platform/FileReplace.h"

#include "platform/File.h"
#include "platform/TargetTree.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

// Every step goes through platform/TargetTree.h: no name is followed as a link, and whatever an
// earlier run left at the temporary name (a file or a link) is removed, not written through.
namespace platform {
namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool ReplaceFileDurably(const std::string& from, const std::string& to) {
    if (TreeSync(from) != 0)
        return false;
    if (TreeRename(from, to) != 0)
        return false;
    const int saved = errno;
    TreeSync(FolderOf(to)); // best effort: the rename is done
    errno = saved;
    return true;
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    FileHandle in(TreeOpenRead(from));
    if (!in.Valid())
        return false;
    const std::string temp = to + ".new";
    FileHandle out(TreeCreateFile(temp, TreeExisting::Replace, 0600));
    if (!out.Valid())
        return false;
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!WriteFully(out.Get(), buffer.data(), static_cast<std::size_t>(n))) {
            ok = false;
            break;
        }
    }
    ok = ok && ::fsync(out.Get()) == 0;
    ok = ::close(out.Release()) == 0 && ok;
    if (ok && TreeRename(temp, to) == 0) {
        TreeSync(FolderOf(to));
        return true;
    }
    TreeRemoveFile(temp);
    return false;
}

bool RemoveFile(const std::string& path) { return TreeRemoveFile(path) == 0 || errno == ENOENT; }

} // namespace platform
