#include "filesystems/ntfs/NtfsCrossLinks.h"

#include "filesystems/CrossLink.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/StorageDevice.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;
constexpr std::uint64_t kBlockSectors = 128;

// Marks the clusters the $Bitmap's data says are allocated. Its runs are clusters of the
// volume; a run that starts outside the volume is not read. True when the bitmap was read for
// every cluster of the volume.
bool MarkBitmapClusters(const CNTFSFileProperties& bitmap, IStorageDevice* device, CClusterUseBitMap& map) {
    std::unique_ptr<IDataRunList> runs(bitmap.GetDataRunList());
    if (!runs || runs->IsResident())
        return false;
    const std::uint64_t spc = map.GetSectorsPerCluster();
    const std::uint64_t clusters = map.GetClusterCount();
    // Bytes of bitmap that describe the volume; what the file holds beyond is padding.
    const std::uint64_t wanted = std::min<std::uint64_t>(bitmap.GetFileSize(), (clusters + 7) / 8);
    const std::uint64_t clusterBytes = spc * kSectorBytes;
    std::vector<std::uint8_t> block(kBlockSectors * kSectorBytes);
    bool complete = wanted == (clusters + 7) / 8;
    std::uint64_t offset = 0; // bytes of the bitmap passed so far
    for (const DataRun& run : runs->Runs()) {
        if (offset >= wanted || run.count <= 0)
            break;
        const auto count = static_cast<std::uint64_t>(run.count);
        const std::uint64_t owed = wanted - offset;
        const std::uint64_t runBytes = count > owed / clusterBytes ? owed : count * clusterBytes;
        const bool readable = run.start >= 0 && static_cast<std::uint64_t>(run.start) < clusters &&
                              count <= clusters - static_cast<std::uint64_t>(run.start);
        complete = complete && readable;
        for (std::uint64_t done = 0; readable && done < runBytes;) {
            const std::uint64_t bytes = std::min(runBytes - done, kBlockSectors * kSectorBytes);
            const std::uint64_t sectors = (bytes + kSectorBytes - 1) / kSectorBytes;
            const std::uint64_t sector =
                map.GetFirstSector() + static_cast<std::uint64_t>(run.start) * spc + done / kSectorBytes;
            if (device->ReadSectors(block.data(), sector, sectors))
                map.MarkFromBitmapBytes((offset + done) * 8, block.data(), static_cast<std::size_t>(bytes));
            else
                complete = false;
            done += bytes;
        }
        offset += runBytes;
    }
    return complete && offset == wanted;
}

} // namespace

const CNTFSFileProperties* FindNtfsBitmapEntry(const NtfsRecordList& list) {
    const auto isLiveBitmap = [](std::int64_t record, const CNTFSFileProperties* p) {
        return record == kNtfsBitmapRecord && p && !(p->GetFileState() & FILESTATE_DELETED) &&
               std::strcmp(p->GetName(), "$Bitmap") == 0;
    };
    if (isLiveBitmap(kNtfsBitmapRecord, list.bitmap.get()))
        return list.bitmap.get();
    for (const NtfsRecordEntry& e : list.entries)
        if (isLiveBitmap(e.record, e.properties))
            return e.properties;
    return nullptr;
}

std::size_t FlagNtfsCrossLinks(CFileNode* root, IStorageDevice* device, const CNTFSFileProperties* bitmap,
                               std::uint64_t clusterCount) {
    std::vector<std::uint64_t> bits;
    std::unique_ptr<CClusterUseBitMap> map = CreateCrossLinkMap(root, &bits, clusterCount);
    if (!map)
        return 0;
    // The $Bitmap holds every cluster a live file has; the live files' runs stand in for it
    // when it is missing or could not be read whole.
    if (!bitmap || !device || !MarkBitmapClusters(*bitmap, device, *map))
        MarkLiveFileClusters(root, *map);
    const std::size_t inUse = FlagCrossLinkedFiles(root, *map);
    // Of two deleted files on the same clusters, the one whose record changed later (the
    // larger $LogFile sequence number) was written there last.
    const std::uint64_t clusterBytes = map->GetSectorsPerCluster() * kSectorBytes;
    const auto runsOf = [clusterBytes](const IFileProperties& props, const ClusterRunVisit& visit) {
        VisitFileClusterRuns(props, clusterBytes, visit);
    };
    const auto lsnOf = [](const IFileProperties& props) {
        return props.GetFileSystemKind() == FILEPROPS_NTFS
                   ? static_cast<const CNTFSFileProperties&>(props).GetLogSequenceNumber()
                   : kNoWriteStamp;
    };
    return inUse + FlagOverwrittenDeletedFiles(root, clusterCount, runsOf, lsnOf);
}
