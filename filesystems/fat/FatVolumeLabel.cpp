#include "filesystems/fat/FatVolumeLabel.h"

#include "storage/ByteSpan.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

enum class ScanResult { kFound, kNotHere, kEnd };

ScanResult ScanForLabel(const std::uint8_t* block, std::size_t size, std::string& label,
                        const FatEntryChecks& checks) {
    FatDirEntry e;
    for (std::size_t off = 0; off + fat::kDirEntrySize <= size; off += fat::kDirEntrySize) {
        e.Set(block + off);
        if (!e.IsValid(false, checks))
            return ScanResult::kEnd;
        if (e.IsDeleted() || !e.IsVolumeLabel())
            continue;
        if (e.FirstByte() != 0) {
            label = e.GetShortName(true);
            return ScanResult::kFound;
        }
    }
    return ScanResult::kNotHere;
}

} // namespace

bool ReadFatVolumeLabel(IStorageDevice* device, std::uint64_t partitionFirst, const CFATDBR& dbr,
                        std::string& label, const FatEntryChecks& checks) {
    if (!device || !dbr.IsValid())
        return false;
    const std::uint32_t spc = dbr.GetSectorsPerCluster();
    const std::uint64_t fatStart = partitionFirst + dbr.GetReservedSectors();
    const std::uint64_t spf = dbr.GetSectorsPerFAT();
    const std::uint64_t afterFats = fatStart + dbr.GetFATCount() * spf;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(spc) * kSectorSize);

    if (dbr.GetFileSystemType() != FILESYSTEM_FAT32) {
        const std::uint32_t rootSectors = dbr.GetRootDirSectors();
        for (std::uint32_t done = 0; done < rootSectors; done += spc) {
            if (!device->ReadSectors(block.data(), afterFats + done, spc))
                return false;
            std::size_t bytes = static_cast<std::size_t>(std::min(spc, rootSectors - done)) *
                                kSectorSize;
            switch (ScanForLabel(block.data(), bytes, label, checks)) {
            case ScanResult::kFound:
                return true;
            case ScanResult::kEnd:
                return false;
            case ScanResult::kNotHere:
                break;
            }
        }
        return false;
    }

    // FAT32: follow the root chain through the first FAT, one cluster-sized block of the FAT
    // at a time. The chain carries a visited set and cannot be longer than the volume.
    const std::uint64_t entriesPerBlock = static_cast<std::uint64_t>(spc) * 128;
    const std::uint64_t maxSteps = dbr.GetTotalSectors() / spc + 2;
    std::vector<std::uint8_t> fatBlock(block.size());
    std::uint64_t loadedIndex = UINT64_MAX;
    std::unordered_set<std::uint32_t> visited;
    std::uint32_t cluster = dbr.GetRootCluster();
    for (std::uint64_t step = 0; IsValidClusterNumber(cluster) && step < maxSteps; ++step) {
        if (!visited.insert(cluster).second)
            return false;
        if (!device->ReadSectors(block.data(),
                                 afterFats + static_cast<std::uint64_t>(cluster - 2) * spc, spc))
            return false;
        switch (ScanForLabel(block.data(), block.size(), label, checks)) {
        case ScanResult::kFound:
            return true;
        case ScanResult::kEnd:
            return false;
        case ScanResult::kNotHere:
            break;
        }
        std::uint64_t index = cluster / entriesPerBlock;
        if (static_cast<std::uint64_t>(cluster) * 4 / kSectorSize >= spf)
            return false;
        if (index != loadedIndex) {
            if (!device->ReadSectors(fatBlock.data(), fatStart + index * spc, spc))
                return false;
            loadedIndex = index;
        }
        cluster = ByteSpan(fatBlock.data(), fatBlock.size()).u32((cluster % entriesPerBlock) * 4) & 0x0FFFFFFF;
    }
    return false;
}
