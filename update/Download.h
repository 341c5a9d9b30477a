#pragma once
// Downloading the version file with libcurl into a file descriptor.
#include <cstddef>

class IDownloadProgress;

namespace pennat {

struct DownloadLimits {
    long connectTimeoutMs = 10000;
    long totalTimeoutMs = 30000;
    long maxRedirects = 5;
    // A version file is a few hundred bytes; anything larger than this is not one.
    std::size_t maxBytes = 64 * 1024;
};

// Downloads `url` into `fd` (written from its current position). Only http and https are
// followed, redirects included, at most limits.maxRedirects of them. Succeeds only when the
// transfer completes within the time limits with a 2xx final status and at most
// limits.maxBytes of body. `progress` may be null; when it returns non-zero the download stops
// and fails.
bool DownloadToFile(const char* url, const DownloadLimits& limits, IDownloadProgress* progress,
                    int fd);

} // namespace pennat
