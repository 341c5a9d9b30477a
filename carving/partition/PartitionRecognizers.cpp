#include "carving/partition/PartitionRecognizers.h"

#include "filesystems/ext2/Ext2SuperBlock.h"
#include "filesystems/ext2/Ext2Volume.h"
#include "filesystems/fat/FatStructures.h"
#include "filesystems/fat/FatVolumeLabel.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <algorithm>
#include <cstring>

namespace {

// Whether `count` sectors from `first` lie on the device: what a boot sector points at is not
// asked of the disk beyond its end.
bool OnDevice(IStorageDevice* device, std::uint64_t first, std::uint64_t count) {
    const std::uint64_t total = device->GetSectorCount();
    return first < total && count <= total - first;
}

} // namespace

void IPartitionFileSystemSearchController::FillRecord(FoundPartitionInfo* out, std::uint64_t first,
                                                      std::uint64_t sizeField, FileSystemType type,
                                                      const std::string& label) {
    const std::uint64_t total = m_pDevice->GetSectorCount();
    const std::uint64_t left = first < total ? total - first : 0;
    const std::uint64_t size = (sizeField == 0 || sizeField > left) ? left : sizeField;
    out->Clear();
    out->u64FirstSector = first;
    out->u64SectorCount = size;
    out->fileSystemType = type;
    out->SetLabel(label.c_str());
    out->pDevice = std::make_unique<CBasicPartitionDevice>(m_pDevice, first, size);
}

// ---------------------------------------------------------------------------------------------
// FAT

int CPartitionFATSearchController::RecognizePartition(ByteSpan head, std::uint64_t sector,
                                                      FoundPartitionInfo* out) {
    if (!m_pDevice || !out || !head.has(0, kSectorSize))
        return 0;
    const CFATDBR dbr(head.data(), kSectorSize);
    if (!dbr.IsValid())
        return 0;
    std::uint64_t fatSector = 0;
    if (__builtin_add_overflow(sector, std::uint64_t{dbr.GetReservedSectorsRaw()}, &fatSector))
        return 0;
    std::uint8_t fat[kSectorSize];
    if (!OnDevice(m_pDevice, fatSector, 1) || !m_pDevice->ReadSectors(fat, fatSector, 1) ||
        !IsFATTableStart(fat, sizeof fat))
        return 0;
    std::string label;
    if (!ReadFatVolumeLabel(m_pDevice, sector, dbr, label))
        label.clear();
    FillRecord(out, sector, dbr.GetTotalSectors(), dbr.GetFileSystemType(), label);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// NTFS

namespace {

// The record passes the record checks and is the system file `name` (checked on a copy with
// its fix-ups applied).
bool IsSystemRecord(const std::uint8_t* bytes, std::size_t size, const char* name) {
    std::vector<std::uint8_t> rec(bytes, bytes + size);
    if (!ValidateFileRecord(rec.data(), rec.size()))
        return false;
    ApplyFixups(rec.data(), rec.size());
    return HasSystemFileName(rec.data(), rec.size(), name);
}

bool IsMftRecord(const std::uint8_t* rec, std::size_t size) {
    return IsSystemRecord(rec, size, "$MFT");
}
bool IsMftMirrRecord(const std::uint8_t* rec, std::size_t size) {
    return IsSystemRecord(rec, size, "$MFTMirr");
}
bool IsLogFileRecord(const std::uint8_t* rec, std::size_t size) {
    return IsSystemRecord(rec, size, "$LogFile");
}
bool IsVolumeRecord(const std::uint8_t* rec, std::size_t size) {
    return IsSystemRecord(rec, size, "$Volume");
}

bool MulAddSector(std::uint64_t cluster, std::uint64_t sectorsPerCluster, std::uint64_t first,
                  std::uint64_t* out) {
    std::uint64_t product = 0;
    return !__builtin_mul_overflow(cluster, sectorsPerCluster, &product) &&
           !__builtin_add_overflow(product, first, out);
}

} // namespace

bool CPartitionNTFSSearchController::IsBackupBootSector(const CNTFSDBR& dbr, std::uint64_t sector) {
    const std::uint64_t total = dbr.GetTotalSectors();
    if (total == 0 || sector < total)
        return false;
    CNTFSDBR primary;
    if (!ReadNtfsBootSector(*m_pDevice, sector - total, primary))
        return false;
    return primary.GetTotalSectors() == total &&
           primary.GetSerialNumber() == dbr.GetSerialNumber() &&
           primary.GetMftCluster() == dbr.GetMftCluster();
}

bool CPartitionNTFSSearchController::CheckMftRecords(std::uint64_t mftSector,
                                                     std::uint32_t recordSize) {
    m_records.assign(std::size_t{4} * recordSize, 0);
    if (!OnDevice(m_pDevice, mftSector, m_records.size() / kSectorSize) ||
        !m_pDevice->ReadSectors(m_records.data(), mftSector, m_records.size() / kSectorSize))
        return false;
    const std::uint8_t* r = m_records.data();
    return IsMftRecord(r, recordSize) && IsMftMirrRecord(r + recordSize, recordSize) &&
           IsLogFileRecord(r + 2 * recordSize, recordSize) &&
           IsVolumeRecord(r + 3 * recordSize, recordSize);
}

int CPartitionNTFSSearchController::RecognizePartition(ByteSpan head, std::uint64_t sector,
                                                       FoundPartitionInfo* out) {
    if (!m_pDevice || !out || !head.has(0, kSectorSize) || !IsNtfsOemId(head.data()))
        return 0;
    CNTFSDBR dbr;
    if (!dbr.SetData(head.data()) || IsBackupBootSector(dbr, sector))
        return 0;
    const std::uint32_t recordSize = dbr.GetFileRecordSize();
    if (recordSize < kMinRecordSize || recordSize > kMaxRecordSize ||
        (recordSize & (recordSize - 1)) != 0)
        return 0;
    const std::uint32_t spc = dbr.GetSectorsPerCluster();
    std::uint64_t mft = 0, mirror = 0;
    const bool mftOk =
        MulAddSector(dbr.GetMftCluster(), spc, sector, &mft) && CheckMftRecords(mft, recordSize);
    if (!mftOk && !(MulAddSector(dbr.GetMftMirrorCluster(), spc, sector, &mirror) &&
                    CheckMftRecords(mirror, recordSize)))
        return 0;
    // The label comes from the $Volume record of the copy that passed.
    char label[80] = {};
    std::vector<std::uint8_t> volume(m_records.begin() + 3 * recordSize, m_records.end());
    if (!ReadNtfsVolumeName(volume.data(), volume.size(), label))
        label[0] = 0;
    FillRecord(out, sector, dbr.GetTotalSectors(), FILESYSTEM_NTFS, label);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// EXT2/EXT3

bool ProbeExt2Partition(IStorageDevice* device, std::uint64_t first, ByteSpan head,
                        Ext2PartitionProbe& out) {
    out = Ext2PartitionProbe();
    if (!device)
        return false;
    // The cheap test on the bytes already read: a primary superblock at byte 1024. A backup
    // copy (group number above 0) at the start of a later block group is no partition.
    constexpr std::size_t kSuperBlockOffset = 1024;
    std::uint8_t own[ext2::kSuperBlockSize];
    ByteSpan superBlock;
    if (head.has(kSuperBlockOffset, ext2::kSuperBlockSize))
        superBlock = head.sub(kSuperBlockOffset, ext2::kSuperBlockSize);
    else if (first <= UINT64_MAX - 2 && OnDevice(device, first + 2, sizeof own / kSectorSize) &&
             device->ReadSectors(own, first + 2, sizeof own / kSectorSize))
        superBlock = ByteSpan(own, sizeof own);
    Ext2SuperBlockSummary summary;
    if (!CheckExt2SuperBlock(superBlock, &summary) || summary.groupNumber != 0)
        return false;
    // The full open: superblock and group-descriptor table.
    const CExt2Volume volume(device, first);
    const std::uint32_t type = volume.GetFileSystemType();
    if (type != FILESYSTEM_EXT2 && type != FILESYSTEM_EXT3)
        return false;
    char label[kVolumeLabelSize] = {};
    volume.GetVolumeLabel(label, sizeof label);
    label[sizeof label - 1] = 0;
    out.type = static_cast<FileSystemType>(type);
    out.totalSectors = volume.GetTotalSectors();
    out.label = label;
    return true;
}

int CPartitionEXT2SearchController::RecognizePartition(ByteSpan head, std::uint64_t sector,
                                                       FoundPartitionInfo* out) {
    if (!m_pDevice || !out)
        return 0;
    Ext2PartitionProbe probe;
    if (!ProbeExt2Partition(m_pDevice, sector, head, probe) ||
        (probe.type != FILESYSTEM_EXT2 && probe.type != FILESYSTEM_EXT3))
        return 0;
    FillRecord(out, sector, probe.totalSectors, probe.type, probe.label);
    return 1;
}
