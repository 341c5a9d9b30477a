#include "ui/views/PreviewTempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
std::mutex& HolderLock() {
    static std::mutex lock;
    return lock;
}
} // namespace

CPreviewTempFiles& CPreviewTempFiles::GetInstance() {
    static CPreviewTempFiles holder;
    return holder;
}

CPreviewTempFiles::~CPreviewTempFiles() {
    if (m_folder.empty())
        return;
    // Only the folder's own files: everything in it was made by this process.
    if (DIR* d = ::opendir(m_folder.c_str())) {
        std::vector<std::string> names;
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        ::closedir(d);
        for (const std::string& n : names)
            ::unlink((m_folder + "/" + n).c_str());
    }
    ::rmdir(m_folder.c_str());
}

std::string CPreviewTempFiles::FolderLocked() {
    if (!m_folder.empty())
        return m_folder;
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base && *base) ? base : "/tmp";
    while (pattern.size() > 1 && pattern.back() == '/')
        pattern.pop_back();
    pattern += "/brulin-preview-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()))
        m_folder = buf.data();
    return m_folder;
}

std::string CPreviewTempFiles::Folder() {
    std::lock_guard<std::mutex> hold(HolderLock());
    return FolderLocked();
}

std::string CPreviewTempFiles::MakeTempPreviewPath() {
    std::lock_guard<std::mutex> hold(HolderLock());
    const std::string folder = FolderLocked();
    if (folder.empty())
        return {};
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "/~@!%lx.doc", ++m_next);
        const std::string path = folder + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST)
            return {};
    }
    return {};
}

void DeleteTempPreviewFile(const std::string& path) {
    if (path.empty())
        return;
    ::unlink(path.c_str());
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos)
        ::unlink((path.substr(0, dot) + ".xls").c_str());
}
