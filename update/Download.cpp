#include "update/Download.h"
#include "update/AutoUpdate.h"

#include <cerrno>
#include <curl/curl.h>
#include <memory>
#include <unistd.h>

namespace pennat {
namespace {

struct Transfer {
    int fd;
    std::size_t maxBytes;
    std::size_t written;
    IDownloadProgress* progress;
};

std::size_t OnData(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count; // libcurl always passes size 1
    if (n > t->maxBytes - t->written) {
        return 0; // larger than a version file can be: stops the transfer
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(t->fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 0;
        }
        done += static_cast<std::size_t>(w);
    }
    t->written += n;
    return n;
}

int OnProgress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    if (t->progress == nullptr) {
        return 0;
    }
    auto received = static_cast<unsigned long long>(dlNow < 0 ? 0 : dlNow);
    auto total = static_cast<unsigned long long>(dlTotal < 0 ? 0 : dlTotal);
    return t->progress->OnProgress(received, total) != 0 ? 1 : 0;
}

bool GlobalInit() {
    // Once per process, never undone: the library is never unloaded by its callers.
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

} // namespace

bool DownloadToFile(const char* url, const DownloadLimits& limits, IDownloadProgress* progress,
                    int fd) {
    if (url == nullptr || fd < 0 || !GlobalInit()) {
        return false;
    }
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl) {
        return false;
    }
    CURL* h = curl.get();
    Transfer transfer{fd, limits.maxBytes, 0, progress};
    bool ok = true;
    auto set = [&ok](CURLcode rc) { ok = ok && rc == CURLE_OK; };
    set(curl_easy_setopt(h, CURLOPT_URL, url));
    set(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L));
    set(curl_easy_setopt(h, CURLOPT_MAXREDIRS, limits.maxRedirects));
    set(curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L));
    set(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs));
    set(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs));
    set(curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes)));
    set(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnData));
    set(curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress));
    set(curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer));
    set(curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L));
    if (!ok || curl_easy_perform(h) != CURLE_OK) {
        return false;
    }
    long status = 0;
    return curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status >= 200 &&
           status < 300;
}

} // namespace pennat
