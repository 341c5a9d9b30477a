#include "app/ActivityLog.h"

#include "carving/partition/FoundPartitionInfo.h"
#include "logging/Log.h"
#include "storage/VolumeEnumeration.h"
#include "ui/controls/StringTable.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sys/utsname.h>

namespace {

std::mutex g_captureLock;
ActivityLogCapture g_capture;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

const char* const kStageTexts[kStageCount] = {
    "Performing Deleted File Recovery...",
    "Performing Complete File Recovery...",
    "Performing Partition Recovery...",
    "User abort.",
    "Found nothing.",
    "Completely search the selected device.",
    "Displaying directory tree.",
    "Restoring files...",
    "Restoring last recovery...",
    "Failed to restore last recovery.",
    "Completely restore last recovery.",
    "Did not find any possible partition. Building RAW file tree.",
    "Did not find any lost partition. Performing intelligent search.",
    "Did not find any RAWfiles",
};

std::string Unquote(std::string v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

const char* FileSystemName(std::uint32_t type) {
    static const char* const names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3"};
    return type <= 5 ? names[type] : "UNKNOWN";
}

} // namespace

ActivityLogCapture SetActivityLogCapture(ActivityLogCapture capture) {
    std::lock_guard lock(g_captureLock);
    std::swap(g_capture, capture);
    return capture;
}

void WriteActivityLine(const std::string& line) {
    {
        std::lock_guard lock(g_captureLock);
        if (g_capture) {
            g_capture(line);
            return;
        }
    }
    LogInfo("%s", line.c_str());
}

void LogRecoveryStage(int code) {
    if (code < 0 || code >= kStageCount)
        return;
    if (code <= kStagePartitionRecovery)
        WriteActivityLine(Format("\r\n%s", kStageTexts[code]));
    else
        WriteActivityLine(kStageTexts[code]);
}

SystemFacts GatherSystemFacts(const std::string& programDir, const std::string& osRelease) {
    SystemFacts f;
    f.memoryOk = platform::GetMemoryStatus(f.memory);
    std::ifstream in(osRelease);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        if (key == "NAME")
            f.osName = Unquote(line.substr(eq + 1));
        else if (key == "VERSION")
            f.osVersion = Unquote(line.substr(eq + 1));
    }
    utsname u {};
    if (uname(&u) == 0) {
        f.kernel = u.release;
        std::sscanf(u.release, "%d.%d.%d", &f.kernelMajor, &f.kernelMinor, &f.kernelPatch);
        const std::string machine = u.machine;
        if (machine == "x86_64" || machine == "aarch64" || machine == "ppc64le" || machine == "s390x" ||
            machine == "riscv64")
            f.bitness = "64-bit";
        else if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86")
            f.bitness = "32-bit";
        else if (machine.rfind("arm", 0) == 0)
            f.bitness = "32-bit";
    }
    if (f.osName.empty())
        f.osName = u.sysname[0] ? u.sysname : "Linux";
    f.systemDirectory = "/usr/bin";
    f.programDir = programDir;
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    f.month = tm.tm_mon + 1;
    f.day = tm.tm_mday;
    f.year = tm.tm_year + 1900;
    f.hour = tm.tm_hour;
    f.minute = tm.tm_min;
    f.second = tm.tm_sec;
    return f;
}

void LogMemoryStatus(const SystemFacts& f) {
    if (!f.memoryOk)
        WriteActivityLine("Failed to query memory status.");
    WriteActivityLine("Memory status:");
    WriteActivityLine(Format("Total physical memory:%4lld MB\tAvailable physical memory:%4lld MB",
                             static_cast<long long>(f.memory.totalPhysical >> 20),
                             static_cast<long long>(f.memory.availablePhysical >> 20)));
    WriteActivityLine(Format("Total   page    files:%4lld MB\tAvailable    page   files:%4lld MB",
                             static_cast<long long>(f.memory.totalPageFile >> 20),
                             static_cast<long long>(f.memory.availablePageFile >> 20)));
}

void LogMemoryStatus() {
    SystemFacts f;
    f.memoryOk = platform::GetMemoryStatus(f.memory);
    LogMemoryStatus(f);
}

void LogOsVersion(const SystemFacts& f) {
    WriteActivityLine(Format("OS - %s %s %s %s (%d %d %d %d)", f.osName.c_str(), f.osVersion.c_str(), f.bitness.c_str(),
                             f.kernel.c_str(), f.kernelMajor, f.kernelMinor, f.kernelPatch, 0));
}

void LogOsDirectory(const SystemFacts& f) { WriteActivityLine(Format("OS Directory - %s", f.systemDirectory.c_str())); }

void LogModuleDirectory(const SystemFacts& f) { WriteActivityLine(Format("Module Directory - %s", f.programDir.c_str())); }

void LogBanner(const SystemFacts& f) {
    WriteActivityLine(uistr::LoadUiString(uistr::kProductName));
    WriteActivityLine(Format("Date Generated: %02d/%02d/%d %02d:%02d:%02d\r\n", f.month, f.day, f.year, f.hour, f.minute,
                             f.second));
    LogMemoryStatus(f);
    LogOsVersion(f);
    LogOsDirectory(f);
    LogModuleDirectory(f);
}

void LogScanDevice(const VolumeRecord& record, bool quick) {
    const char* prefix = quick ? "Quick searching" : "Intelligent searching";
    const char letter = (record.cDriveLetter >= 'A' && record.cDriveLetter <= 'Z') ? record.cDriveLetter : '*';
    WriteActivityLine(Format("%s partition device - %c:%s(%s)", prefix, letter, record.szVolumeLabel,
                             FileSystemName(record.fileSystemType)));
}

void LogScanImageDevice(const std::string& displayName, const std::string& imagePath, bool quick) {
    WriteActivityLine(Format("%s image file device - %s at %s", quick ? "Quick searching" : "Intelligent searching",
                             displayName.c_str(), imagePath.c_str()));
}

void LogScanDisk(const DiskLogInfo& disk, bool quick) {
    const char* prefix = quick ? "Quick searching" : "Intelligent searching";
    if (disk.isImage)
        WriteActivityLine(Format("%s image file - %s at %s", prefix, disk.name.c_str(), disk.imagePath.c_str()));
    else if (disk.isUsb)
        WriteActivityLine(Format("%s usb disk device - %s", prefix, disk.name.c_str()));
    else
        WriteActivityLine(Format("%s disk device - %s", prefix, disk.name.c_str()));
}

const char* PaddedFileSystemName(std::uint32_t type) {
    static const char* const names[] = {"  FAT12", "  FAT16", "  FAT32", "   NTFS", "   EXT2", "   EXT3", "    RAW"};
    return type <= 6 ? names[type] : "UNKNOWN";
}

void LogSearchedPartitionList(const std::vector<SearchedPartitionRow>& rows) {
    if (rows.empty()) {
        WriteActivityLine("Did not find any possible partition.");
        return;
    }
    const std::string rule(96, '-');
    WriteActivityLine("Searched partition list:");
    WriteActivityLine(rule);
    WriteActivityLine(" NO.       FS  Suggestion  MFiles  MFolders     StartSect    DtAreaSect  ClstSize     TotalSect");
    int number = 0;
    for (const SearchedPartitionRow& r : rows) {
        char score[20];
        std::snprintf(score, sizeof score, "%10.2f", r.score);
        // Sector counts stay 64-bit: the table's last column is widened, never cut.
        WriteActivityLine(Format("%4d  %s  %s  %6llu  %8llu  %12llu  %12llu  %8u  %12llu", number++,
                                 PaddedFileSystemName(r.fileSystemType), score,
                                 static_cast<unsigned long long>(r.filesFound), static_cast<unsigned long long>(r.foldersFound),
                                 static_cast<unsigned long long>(r.firstSector), static_cast<unsigned long long>(r.dataAreaSector),
                                 r.sectorsPerCluster, static_cast<unsigned long long>(r.totalSectors)));
    }
    WriteActivityLine(rule);
}

void LogLostPartitionList(const std::vector<const FoundPartitionInfo*>& partitions) {
    if (partitions.empty()) {
        WriteActivityLine("Did not find any lost partition.");
        return;
    }
    const std::string rule(45, '-');
    WriteActivityLine("Lost partition list:");
    WriteActivityLine(rule);
    WriteActivityLine(" NO.       FS     StartSect     TotalSect");
    int number = 0;
    for (const FoundPartitionInfo* p : partitions) {
        if (!p)
            continue;
        WriteActivityLine(Format("%4d  %s  %12llu  %12llu", number++, PaddedFileSystemName(static_cast<std::uint32_t>(p->fileSystemType)),
                                 static_cast<unsigned long long>(p->u64FirstSector),
                                 static_cast<unsigned long long>(p->u64SectorCount)));
    }
    WriteActivityLine(rule);
}
