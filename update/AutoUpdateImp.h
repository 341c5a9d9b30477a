#pragma once
// The update checker behind GetAutoUpdateInstance.
#include "update/AutoUpdate.h"
#include "update/Download.h"

#include <cstdint>

class CAutoUpdateImp final : public IAutoUpdate {
public:
    // Size of the description and address fields, terminating zero included.
    static constexpr int kFieldSize = 260;
    // Size GetNewVersion needs: "65535.65535.65535.65535" and its terminating zero.
    static constexpr int kVersionTextSize = 24;

    explicit CAutoUpdateImp(const pennat::DownloadLimits& limits = {}) : m_limits(limits) {}

    int CheckUpdate(const char* url, IDownloadProgress* callback) override;
    int CompareVersion(unsigned high, unsigned low) override;
    int GetNewVersion(char* out) override;
    int GetDownloadURL(char* out) override;

    // Reads the version file held in `fd` (from its start, at most the download's size cap).
    // On success the version, description and address are taken over; otherwise nothing
    // changes. Returns whether it was a version file.
    bool ReadVersionFile(int fd);

private:
    void ForgetVersion();

    pennat::DownloadLimits m_limits;
    int m_status = AUTOUPDATE_STATUS_OK;
    bool m_checkFailed = false; // the last CheckUpdate failed; CompareVersion keeps its status
    std::uint32_t m_versionHigh = 0; // major << 16 | minor
    std::uint32_t m_versionLow = 0;  // build << 16 | revision
    char m_description[kFieldSize] = {};
    char m_url[kFieldSize] = {};
};
