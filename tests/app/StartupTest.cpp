#include "app/ActivityLog.h"
#include "app/StartupOptions.h"
#include "carving/partition/FoundPartitionInfo.h"
#include "storage/VolumeEnumeration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

struct Capture {
    std::vector<std::string> lines;
    ActivityLogCapture previous;
    Capture() { previous = SetActivityLogCapture([this](const std::string& l) { lines.push_back(l); }); }
    ~Capture() { SetActivityLogCapture(previous); }
};

} // namespace

TEST(StartupOptions, SwitchTable) {
    struct Case {
        std::vector<std::string> args;
        bool pro, trace;
    } cases[] = {
        {{"BrulinUI", "-PRO"}, true, false},
        {{"BrulinUI", "/Pro"}, true, false},
        {{"BrulinUI", "-pro"}, true, false},
        {{"BrulinUI", "pro"}, false, false},
        {{"BrulinUI", "-trace"}, false, true},
        {{"BrulinUI", "/TRACE", "-pro"}, true, true},
        {{"BrulinUI", "--pro"}, false, false},
        {{"BrulinUI", "-prox"}, false, false},
        {{"-pro"}, false, false},  // the program name is not a switch
        {{"BrulinUI", ""}, false, false},
    };
    for (const Case& c : cases) {
        const StartupOptions o = ParseStartupOptions(c.args);
        EXPECT_EQ(o.pro, c.pro) << c.args.back();
        EXPECT_EQ(o.trace, c.trace) << c.args.back();
        EXPECT_EQ(o.LogLevel(), c.trace ? 1 : 2);
    }
}

TEST(ActivityLog, StageLinesMatchTheGoldenLog) {
    Capture cap;
    for (int code = -1; code <= kStageCount; ++code)
        LogRecoveryStage(code);
    const std::vector<std::string> golden = {
        "\r\nPerforming Deleted File Recovery...",
        "\r\nPerforming Complete File Recovery...",
        "\r\nPerforming Partition Recovery...",
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
    EXPECT_EQ(cap.lines, golden);
}

TEST(ActivityLog, BannerFromFacts) {
    const std::string osRelease = "os-release-test";
    std::ofstream(osRelease) << "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION=\"12 (bookworm)\"\n";
    SystemFacts f = GatherSystemFacts("/opt/brulin/", osRelease);
    EXPECT_EQ(f.osName, "Debian GNU/Linux");
    EXPECT_EQ(f.osVersion, "12 (bookworm)");
    EXPECT_GT(f.memory.totalPhysical, 0u);
    f.memory = {8ull << 30, 3ull << 30, 10ull << 30, 5ull << 30};
    f.bitness = "64-bit";
    f.kernel = "6.1.0";
    f.kernelMajor = 6, f.kernelMinor = 1, f.kernelPatch = 0;
    f.month = 3, f.day = 7, f.year = 2026, f.hour = 9, f.minute = 5, f.second = 1;
    Capture cap;
    LogBanner(f);
    const std::vector<std::string> golden = {
        "Oxtavo Data Recovery",
        "Date Generated: 03/07/2026 09:05:01\r\n",
        "Memory status:",
        "Total physical memory:8192 MB\tAvailable physical memory:3072 MB",
        "Total   page    files:10240 MB\tAvailable    page   files:5120 MB",
        "OS - Debian GNU/Linux 12 (bookworm) 64-bit 6.1.0 (6 1 0 0)",
        "OS Directory - /usr/bin",
        "Module Directory - /opt/brulin/",
    };
    EXPECT_EQ(cap.lines, golden);
    for (const std::string& l : cap.lines)
        EXPECT_EQ(l.find("Unsupported"), std::string::npos);
}

TEST(ActivityLog, DeviceLines) {
    Capture cap;
    VolumeRecord v;
    v.cDriveLetter = 0;
    std::strcpy(v.szVolumeLabel, "DATA");
    v.fileSystemType = 3;
    LogScanDevice(v, true);
    v.cDriveLetter = 'D';
    v.fileSystemType = 9;
    LogScanDevice(v, false);
    LogScanImageDevice("disk.edi", "/tmp/disk.edi", true);
    LogScanDisk({false, true, "SanDisk", ""}, false);
    LogScanDisk({false, false, "ATA disk", ""}, true);
    LogScanDisk({true, false, "image", "/x/y.edi"}, false);
    const std::vector<std::string> golden = {
        "Quick searching partition device - *:DATA(NTFS)",
        "Intelligent searching partition device - D:DATA(UNKNOWN)",
        "Quick searching image file device - disk.edi at /tmp/disk.edi",
        "Intelligent searching usb disk device - SanDisk",
        "Quick searching disk device - ATA disk",
        "Intelligent searching image file - image at /x/y.edi",
    };
    EXPECT_EQ(cap.lines, golden);
    EXPECT_STREQ(PaddedFileSystemName(6), "    RAW");
    EXPECT_STREQ(PaddedFileSystemName(7), "UNKNOWN");
}

TEST(ActivityLog, PartitionTables) {
    Capture cap;
    LogSearchedPartitionList({});
    LogLostPartitionList({});
    SearchedPartitionRow row;
    row.fileSystemType = 3;
    row.score = 1;
    row.filesFound = 12;
    row.foldersFound = 3;
    row.firstSector = 2048;
    row.dataAreaSector = 2048;
    row.sectorsPerCluster = 8;
    row.totalSectors = 5000000000ull;  // past 32 bits: shown whole
    LogSearchedPartitionList({row});
    FoundPartitionInfo lost;
    lost.u64FirstSector = 63;
    lost.u64SectorCount = 80262;
    lost.fileSystemType = FILESYSTEM_FAT32;
    LogLostPartitionList({&lost});
    const std::vector<std::string> golden = {
        "Did not find any possible partition.",
        "Did not find any lost partition.",
        "Searched partition list:",
        std::string(96, '-'),
        " NO.       FS  Suggestion  MFiles  MFolders     StartSect    DtAreaSect  ClstSize     TotalSect",
        "   0     NTFS        1.00      12         3          2048          2048         8    5000000000",
        std::string(96, '-'),
        "Lost partition list:",
        std::string(45, '-'),
        " NO.       FS     StartSect     TotalSect",
        "   0    FAT32            63         80262",
        std::string(45, '-'),
    };
    EXPECT_EQ(cap.lines, golden);
}
