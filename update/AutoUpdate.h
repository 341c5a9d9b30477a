#pragma once
// The update-check library (libPennat.so). Its one export hands out the update checker: it
// downloads a small version file from an address the caller gives, compares the version in it
// with the caller's own and hands out the newer version's number and download address.
//
// Expected order: CheckUpdate, then CompareVersion with the caller's own version, then, when a
// newer version is available (status 0), GetNewVersion and GetDownloadURL.
//
// The version file is an INI text:
//   [VERSION]
//   Product Version=7.6.1.2
//   Description=...
//   URL=https://...

#if defined(PENNAT_BUILDING)
#define PENNAT_API __attribute__((visibility("default")))
#else
#define PENNAT_API
#endif

// Status codes; every operation that returns a status also keeps it.
enum AUTOUPDATE_STATUS : int {
    // After CheckUpdate: the version file was downloaded and read. After CompareVersion: a newer
    // version is available.
    AUTOUPDATE_STATUS_OK = 0,
    // The caller's version is not older than the downloaded one.
    AUTOUPDATE_STATUS_NO_NEW_VERSION = 0x40200,
    // The download failed (bad address, unreachable, HTTP error, timeout, file too large,
    // cancelled).
    AUTOUPDATE_STATUS_DOWNLOAD_FAILED = 0x40201,
    // The downloaded file is not a version file.
    AUTOUPDATE_STATUS_READ_FAILED = 0x40202,
};

// Progress of the download, called on the thread that called CheckUpdate.
class IDownloadProgress {
public:
    // `received` bytes of `total` (0 while the size is unknown). Return 0 to go on; anything
    // else cancels the download, which then fails.
    virtual int OnProgress(unsigned long long received, unsigned long long total) = 0;

protected:
    ~IDownloadProgress() = default;
};

class IAutoUpdate {
public:
    // Downloads the version file at `url` (http or https) and reads it. Returns the status:
    // 0 when the file was downloaded and read, 0x40201 when the download failed, 0x40202 when
    // the file is not a version file. `callback` may be null.
    virtual int CheckUpdate(const char* url, IDownloadProgress* callback) = 0;
    // Compares the caller's version (high: major << 16 | minor, low: build << 16 | revision)
    // with the downloaded one. Returns the status: 0 when the downloaded version is newer,
    // 0x40200 when it is not. After a failed CheckUpdate the failure status stays and is
    // returned.
    virtual int CompareVersion(unsigned high, unsigned low) = 0;
    // When the status is 0, writes the downloaded version as "major.minor.build.revision"
    // (at most 24 bytes with the terminating zero) into `out` unless it is null, and returns 0;
    // otherwise returns 1 and writes nothing.
    virtual int GetNewVersion(char* out) = 0;
    // Copies the download address of the version file (at most 260 bytes with the terminating
    // zero; empty when no version file was read) into `out` unless it is null. Returns 0.
    virtual int GetDownloadURL(char* out) = 0;

protected:
    ~IAutoUpdate() = default;
};

// The one update checker of the process, made on the first call. The caller never frees it.
extern "C" PENNAT_API IAutoUpdate* GetAutoUpdateInstance();
