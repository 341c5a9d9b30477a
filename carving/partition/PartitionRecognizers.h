#pragma once
// File-system recognisers of the lost-partition search: each looks at the first sectors of a
// candidate partition start and, when they begin a partition of its file system, fills the
// found-partition record (start, size, type, label, a window over the partition).
#include "carving/partition/FoundPartitionInfo.h"
#include "storage/ByteSpan.h"
#include "storage/FileSystemType.h"
#include "storage/StorageDevice.h"

#include <cstdint>
#include <string>
#include <vector>

class CNTFSDBR;

class IPartitionFileSystemSearchController {
public:
    virtual ~IPartitionFileSystemSearchController() = default;
    // The searched disk (not owned).
    virtual void SetDevice(IStorageDevice* device) { m_pDevice = device; }
    virtual void BeginSearch() {}
    virtual void EndSearch() {}
    // `head` holds the bytes read at `sector`: its 512 bytes and, when the disk had them, the
    // sectors after it (the searcher reads kPartitionProbeSectors at once). Returns 1 after
    // filling `out` when `sector` starts a partition of this file system, else 0 (and `out` is
    // left as it was).
    virtual int RecognizePartition(ByteSpan head, std::uint64_t sector,
                                   FoundPartitionInfo* out) = 0;

protected:
    // Fills `out` for a partition of `type` at `first` whose own size field says `sizeField`
    // sectors: 0 or a size past the disk's end becomes the sectors left after `first`; the
    // partition window gets the same size.
    void FillRecord(FoundPartitionInfo* out, std::uint64_t first, std::uint64_t sizeField,
                    FileSystemType type, const std::string& label);

    IStorageDevice* m_pDevice = nullptr;
};

// How many sectors the searcher reads at a candidate: the boot sector and what follows it up
// to the EXT2/EXT3 superblock (bytes 1024 to 2047).
constexpr std::uint64_t kPartitionProbeSectors = 4;

// FAT12/16/32: a FAT boot sector whose first FAT (at the reserved-sector count) starts like a
// FAT.
class CPartitionFATSearchController : public IPartitionFileSystemSearchController {
public:
    int RecognizePartition(ByteSpan head, std::uint64_t sector, FoundPartitionInfo* out) override;
};

// NTFS: a full NTFS boot sector that is not the backup boot sector at the end of a volume, whose
// first four MFT records ($MFT, $MFTMirr, $LogFile, $Volume) are sound at the $MFT or the
// $MFTMirr position. Records of 512 to 4096 bytes are handled.
class CPartitionNTFSSearchController : public IPartitionFileSystemSearchController {
public:
    int RecognizePartition(ByteSpan head, std::uint64_t sector, FoundPartitionInfo* out) override;

    static constexpr std::uint32_t kMinRecordSize = 512;
    static constexpr std::uint32_t kMaxRecordSize = 4096;

private:
    bool IsBackupBootSector(const CNTFSDBR& dbr, std::uint64_t sector);
    // Reads the first four records at `mftSector`; true when they are the four system files,
    // with their bytes (fix-ups not applied) left in m_records.
    bool CheckMftRecords(std::uint64_t mftSector, std::uint32_t recordSize);

    std::vector<std::uint8_t> m_records;
};

// What an EXT2/EXT3 probe tells about a partition.
struct Ext2PartitionProbe {
    FileSystemType type = FILESYSTEM_UNKNOWN; // FILESYSTEM_EXT2 or FILESYSTEM_EXT3 when found
    std::uint64_t totalSectors = 0;
    std::string label;
};

// Whether an EXT2/EXT3 file system starts at sector `first` of `device`: the superblock in
// `head` (the bytes at `first`; when they reach byte 2048) passes the byte-level check and is
// the primary copy, and the volume opens with its group-descriptor table.
bool ProbeExt2Partition(IStorageDevice* device, std::uint64_t first, ByteSpan head,
                        Ext2PartitionProbe& out);

// EXT2/EXT3: a file system that the EXT2/EXT3 probe accepts.
class CPartitionEXT2SearchController : public IPartitionFileSystemSearchController {
public:
    int RecognizePartition(ByteSpan head, std::uint64_t sector, FoundPartitionInfo* out) override;
};
