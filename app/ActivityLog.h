#pragma once
// The activity log's lines written by the program itself: the start-up banner, the stage of a
// recovery, and the device being scanned. Every line goes through LogInfo (the log library adds
// the line end), or to a capture installed by a test.
#include "platform/SystemInfo.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct VolumeRecord;

enum RecoveryStageCode : int {
    kStageDeletedFileRecovery = 0,
    kStageCompleteFileRecovery = 1,
    kStagePartitionRecovery = 2,
    kStageUserAbort = 3,
    kStageFoundNothing = 4,
    kStageSearchCompleted = 5,
    kStageDisplayingTree = 6,
    kStageRestoringFiles = 7,
    kStageRestoringLast = 8,
    kStageRestoreLastFailed = 9,
    kStageRestoreLastDone = 10,
    kStageNoPartitionRawTree = 11,
    kStageNoLostPartition = 12,
    kStageNoRawFiles = 13,
    kStageCount = 14,
};

// Where the lines go: LogInfo unless a capture is installed (tests); returns the previous one.
using ActivityLogCapture = std::function<void(const std::string&)>;
ActivityLogCapture SetActivityLogCapture(ActivityLogCapture capture);
void WriteActivityLine(const std::string& line);

void LogRecoveryStage(int code);

// What the banner says about the machine; filled from the platform by GatherSystemFacts.
struct SystemFacts {
    bool memoryOk = true;
    platform::MemoryStatus memory;
    std::string osName;        // NAME of /etc/os-release ("Debian GNU/Linux")
    std::string osVersion;     // VERSION of /etc/os-release ("12 (bookworm)")
    std::string bitness;       // "64-bit", "32-bit" or ""
    std::string kernel;        // uname release ("6.1.0-18-amd64")
    int kernelMajor = 0, kernelMinor = 0, kernelPatch = 0;
    std::string systemDirectory;  // where the system's programs lie
    std::string programDir;       // ending in '/'
    int month = 1, day = 1, year = 1970, hour = 0, minute = 0, second = 0;  // local time
};
// `osRelease` is the path of the os-release file (tests pass their own).
SystemFacts GatherSystemFacts(const std::string& programDir, const std::string& osRelease = "/etc/os-release");

void LogMemoryStatus(const SystemFacts& facts);
void LogMemoryStatus();  // from the platform now (also used by the crash path)
void LogOsVersion(const SystemFacts& facts);
void LogOsDirectory(const SystemFacts& facts);
void LogModuleDirectory(const SystemFacts& facts);
// The whole banner: product line, date, memory, system, folders.
void LogBanner(const SystemFacts& facts);

// The device line of a scan: a volume, an opened image used as a volume, and a whole disk or
// opened image.
void LogScanDevice(const VolumeRecord& record, bool quick);
void LogScanImageDevice(const std::string& displayName, const std::string& imagePath, bool quick);
struct DiskLogInfo {
    bool isImage = false;
    bool isUsb = false;
    std::string name;       // disk name, or the image's display name
    std::string imagePath;  // image only
};
void LogScanDisk(const DiskLogInfo& disk, bool quick);

// One row of the deep scan's partition table (the caller maps its found-partition records).
struct SearchedPartitionRow {
    std::uint32_t fileSystemType = 7;
    double score = 0;
    std::uint64_t filesFound = 0;
    std::uint64_t foldersFound = 0;
    std::uint64_t firstSector = 0;
    std::uint64_t dataAreaSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t totalSectors = 0;
};
void LogSearchedPartitionList(const std::vector<SearchedPartitionRow>& rows);

struct FoundPartitionInfo;
// The lost-partition search's table.
void LogLostPartitionList(const std::vector<const FoundPartitionInfo*>& partitions);

// The file-system name padded to 7 characters for the partition tables ("  FAT12" ... "UNKNOWN").
const char* PaddedFileSystemName(std::uint32_t type);
