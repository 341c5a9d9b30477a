#include "update/AutoUpdateImp.h"
#include "update/VersionFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A private temporary file in $TMPDIR (or /tmp). Its name is removed at once, so nothing is
// left behind whatever happens to the download; the data lives until the descriptor closes.
int MakePrivateTempFile() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') {
        dir = "/tmp";
    }
    std::string path = std::string(dir) + "/pennat-XXXXXX";
    int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(path.c_str());
    }
    return fd;
}

void CopyField(char (&field)[CAutoUpdateImp::kFieldSize], const std::string& value) {
    std::size_t n = value.size() < sizeof(field) - 1 ? value.size() : sizeof(field) - 1;
    std::memcpy(field, value.data(), n);
    field[n] = '\0';
}

} // namespace

int CAutoUpdateImp::CheckUpdate(const char* url, IDownloadProgress* callback) {
    // A failed check must not leave the previous check's version or address behind.
    ForgetVersion();
    m_checkFailed = true;
    UniqueFd file(MakePrivateTempFile());
    if (file.get() < 0 || !pennat::DownloadToFile(url, m_limits, callback, file.get())) {
        m_status = AUTOUPDATE_STATUS_DOWNLOAD_FAILED;
        return m_status;
    }
    m_status = AUTOUPDATE_STATUS_OK;
    if (!ReadVersionFile(file.get())) {
        m_status = AUTOUPDATE_STATUS_READ_FAILED;
        return m_status;
    }
    m_checkFailed = false;
    return m_status;
}

int CAutoUpdateImp::CompareVersion(unsigned high, unsigned low) {
    if (m_checkFailed) {
        return m_status;
    }
    bool notOlder = high > m_versionHigh || (high == m_versionHigh && low >= m_versionLow);
    m_status = notOlder ? AUTOUPDATE_STATUS_NO_NEW_VERSION : AUTOUPDATE_STATUS_OK;
    return m_status;
}

int CAutoUpdateImp::GetNewVersion(char* out) {
    if (m_status != AUTOUPDATE_STATUS_OK) {
        return 1;
    }
    if (out != nullptr) {
        std::snprintf(out, kVersionTextSize, "%u.%u.%u.%u", m_versionHigh >> 16,
                      m_versionHigh & 0xFFFF, m_versionLow >> 16, m_versionLow & 0xFFFF);
    }
    return 0;
}

int CAutoUpdateImp::GetDownloadURL(char* out) {
    if (out != nullptr) {
        std::memcpy(out, m_url, std::strlen(m_url) + 1);
    }
    return 0;
}

bool CAutoUpdateImp::ReadVersionFile(int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    // One byte more than the cap tells a file that is too large from one that just fits.
    std::vector<std::uint8_t> bytes(m_limits.maxBytes + 1);
    std::size_t used = 0;
    while (used < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    pennat::VersionFileInfo info;
    if (used > m_limits.maxBytes || !pennat::ParseVersionFile(bytes.data(), used, info)) {
        return false;
    }
    m_versionHigh = info.versionHigh;
    m_versionLow = info.versionLow;
    CopyField(m_description, info.description);
    CopyField(m_url, info.url);
    return true;
}

void CAutoUpdateImp::ForgetVersion() {
    m_versionHigh = 0;
    m_versionLow = 0;
    m_description[0] = '\0';
    m_url[0] = '\0';
}

extern "C" PENNAT_API IAutoUpdate* GetAutoUpdateInstance() {
    static CAutoUpdateImp instance;
    return &instance;
}
