#include "recovery/TargetFiles.h"

#include "logging/Log.h"
#include "platform/TargetTree.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Extensions longer than this are not worth keeping when a name has to be cut.
constexpr std::size_t kMaxKeptExtension = 32;

bool IsContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The longest prefix of `s` of at most `maxBytes` bytes that does not split a UTF-8 character.
std::string CutUtf8(const std::string& s, std::size_t maxBytes) {
    if (s.size() <= maxBytes)
        return s;
    std::size_t cut = maxBytes;
    // Step back over at most three continuation bytes to the lead byte of the split character.
    for (int i = 0; i < 3 && cut > 0 && IsContinuationByte(static_cast<unsigned char>(s[cut])); ++i)
        --cut;
    return s.substr(0, cut);
}

// Cuts `name` to `maxBytes`, keeping a short extension whole.
std::string CutName(const std::string& name, std::size_t maxBytes) {
    if (name.size() <= maxBytes)
        return name;
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxKeptExtension &&
        name.size() - dot < maxBytes) {
        const std::string ext = name.substr(dot);
        return CutUtf8(name.substr(0, dot), maxBytes - ext.size()) + ext;
    }
    return CutUtf8(name, maxBytes);
}

} // namespace

int MapCreateErrno(int err, bool folder) {
    switch (err) {
    case 0:
        return kErrorSuccess;
    case EEXIST:
        return folder ? kErrorAlreadyExists : kErrorFileExists;
    case ENOENT:
    case ENOTDIR:
        return kErrorPathNotFound;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    case EACCES:
    case EPERM:
    case EISDIR:
        return kErrorAccessDenied;
    case EROFS:
        return kErrorWriteProtect;
    case ENOSPC:
    case EDQUOT:
        return kErrorDiskFull;
    case EINVAL:
        return kErrorInvalidParameter;
    default:
        return kErrorGenFailure;
    }
}

std::string MakeSafeFileName(const char* name, std::size_t maxBytes) {
    std::string out = name ? name : "";
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7F)
            c = '_';
    }
    if (maxBytes == 0)
        maxBytes = 1;
    out = CutName(out, maxBytes);
    // Checked after the cut: cutting "..." to two bytes must not give "..".
    if (out.empty() || out == "." || out == "..")
        out.assign(out.empty() ? 1 : out.size(), '_');
    return out;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    if (folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

int CreateNewFile(const std::string& path) {
    const int fd = platform::TreeCreateFile(path, platform::TreeExisting::Refuse);
    if (fd < 0)
        return MapCreateErrno(errno, false);
    ::close(fd);
    return kErrorSuccess;
}

int CreateNewDirectory(const std::string& path) {
    if (platform::TreeMakeFolder(path) != 0)
        return MapCreateErrno(errno, true);
    return kErrorSuccess;
}

void CreateTargetFolders(const std::string& path) { platform::TreeMakeFolders(path); }

int MakeNumberedFileName(std::string& path, const std::string& folder, const std::string& name) {
    path = JoinPath(folder, name);
    const std::size_t slash = path.rfind('/');
    if (folder.empty() || slash == std::string::npos)
        return kErrorPathNotFound;
    std::string stem = path;
    std::string ext;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > slash) {
        stem = path.substr(0, dot);
        ext = path.substr(dot);
    }
    // Leave room for "_000" in the last component.
    const std::size_t stemName = stem.size() - slash - 1;
    constexpr std::size_t kNumberBytes = 4;
    if (stemName + kNumberBytes + ext.size() > kMaxNameBytes && ext.size() + kNumberBytes < kMaxNameBytes)
        stem = stem.substr(0, slash + 1) +
               CutUtf8(stem.substr(slash + 1), kMaxNameBytes - kNumberBytes - ext.size());
    for (int n = 0; n < 1000; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "_%03d", n);
        path = stem + number + ext;
        const int err = CreateNewFile(path);
        if (err != kErrorFileExists)
            return err;
    }
    return kErrorFileExists;
}

int MakeUniqueDirectory(std::string& path, int lastError) {
    const std::string base = path;
    for (int n = 0; n < 1000 && lastError == kErrorAlreadyExists; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "_%03d", n);
        const std::string candidate = base + number;
        lastError = CreateNewDirectory(candidate);
        if (lastError == kErrorSuccess) {
            path = candidate;
            return 1;
        }
    }
    return 0;
}

int CreateTargetFile(std::string& path, const std::string& outputRoot, const std::string& folder,
                     const char* name) {
    const std::string safe = MakeSafeFileName(name);
    // An empty folder would make a path relative to the working folder: never write there.
    auto inRoot = [&]() {
        if (outputRoot.empty())
            return kErrorPathNotFound;
        path = JoinPath(outputRoot, safe);
        int err = CreateNewFile(path);
        if (err == kErrorFileExists)
            err = MakeNumberedFileName(path, outputRoot, safe);
        return err;
    };
    path = JoinPath(folder, safe);
    int err = folder.empty() ? kErrorPathNotFound : CreateNewFile(path);
    if (err == kErrorPathNotFound || err == kErrorFilenameTooLong) {
        err = inRoot();
    } else if (err == kErrorFileExists) {
        err = MakeNumberedFileName(path, folder, safe);
        if (err == kErrorPathNotFound || err == kErrorFilenameTooLong)
            err = inRoot();
    }
    if (err != kErrorSuccess) {
        ReleaseTrace("Error code:%d", err);
        return 0;
    }
    return 1;
}
