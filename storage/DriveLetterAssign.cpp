#include "platform/DriveLetterAssignment.h"
#include "platform/SystemRoots.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"
#include "storage/PartitionTable.h"

#include <charconv>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

void AssignDriveLetters(IStorageDevice* disk, PartitionList& list) {
    auto* physical = dynamic_cast<CDiskDevice*>(disk);
    if (!physical || !physical->IsOpen() || physical->GetKernelName().empty())
        return;
    AssignDriveLettersForDisk(physical->GetKernelName(), list);
}

void AssignDriveLettersForDisk(const std::string& kernelName, PartitionList& list) {
    if (kernelName.empty() || kernelName.find('/') != std::string::npos || list.empty())
        return;
    platform::RefreshDriveLetters();

    // The kernel's partitions of the disk by first sector (sysfs counts in 512-byte units).
    const fs::path diskDir = platform::GetSystemRoots().DiskDir(kernelName);
    std::map<std::uint64_t, std::string> partitionAt;
    std::error_code ec;
    for (fs::directory_iterator it(diskDir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path dir = it->path();
        std::error_code ec2;
        if (!fs::exists(dir / "partition", ec2))
            continue;
        const std::string start = platform::ReadSysValue((dir / "start").string());
        std::uint64_t sector = 0;
        auto [p, err] = std::from_chars(start.data(), start.data() + start.size(), sector);
        if (err != std::errc() || p != start.data() + start.size() || start.empty())
            continue;
        partitionAt.emplace(sector, dir.filename().string());
    }

    for (auto& entry : list) {
        auto it = partitionAt.find(entry->u64FirstSector);
        std::string name;
        if (it != partitionAt.end())
            name = it->second;
        else if (entry->u64FirstSector == 0)
            name = kernelName; // a file system written straight onto the disk
        else
            continue;
        entry->cDriveLetter = platform::GetDriveLetterOfDevice(name);
    }
}

char GetDynamicVolumeDriveLetter(const char*, const char*) { return 0; }

char GetVolumeGuidDriveLetter(const std::uint8_t*) { return 0; }
