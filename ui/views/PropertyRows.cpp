#include "ui/views/PropertyRows.h"

#include <memory>

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/FileSystemSearchController.h"
#include "filesystems/fat/FatFileProperties.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"

namespace {

std::string U(std::uint64_t v) { return std::to_string(v); }
std::string YesNo(bool v) { return v ? "Yes" : "No"; }
// A 64-bit value shown signed, so that an unknown value (all ones) reads "-1".
std::string I64(std::uint64_t v) { return std::to_string(static_cast<std::int64_t>(v)); }

// FAT sector of a cluster: first sector + (cluster - 2) x sectors per cluster, in 64 bits;
// empty below cluster 2, where no data sector exists.
std::string FatSector(std::uint64_t first, std::uint32_t perCluster, std::uint32_t cluster) {
    if (cluster < 2)
        return {};
    return U(first + std::uint64_t(cluster - 2) * perCluster);
}

void StateRows(PropertyRows& rows, std::uint8_t s) {
    rows.push_back({"Deleted", YesNo(s & 0x01)});
    rows.push_back({"Lost", YesNo(s & 0x02)});
    rows.push_back({"Cross Link", YesNo(s & 0x04)});
    rows.push_back({"Temp", YesNo(s & 0x08)});
}

void LayoutRow(PropertyRows& rows, const CFileNode* node) {
    bool has = false;
    const std::string text = LayoutText(node, &has);
    if (has)
        rows.push_back({"Lay out", text});
}

} // namespace

std::string LayoutText(const CFileNode* node, bool* hasRunList) {
    *hasRunList = false;
    if (!node || !node->m_pProperties)
        return {};
    std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
    if (!runs)
        return {};
    *hasRunList = true;
    const bool fat = node->m_pProperties->GetFileSystemKind() == FILEPROPS_FAT;
    std::string out;
    for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun()) {
        if (!out.empty())
            out += " - ";
        const std::int64_t start = fat && r->start != kSparseRunStart ? r->start + 2 : r->start;
        out += std::to_string(start) + ": " + std::to_string(r->count);
    }
    return out + ".";
}

PropertyRows FilePropertyRows(const CFileNode* node) {
    PropertyRows rows;
    if (!node || !node->m_pProperties)
        return rows;
    const IFileProperties* p = node->m_pProperties;
    const std::uint16_t a = p->GetAttributes();
    const std::uint8_t s = p->GetFileState();
    const bool folder = (a & FILEATTR_DIRECTORY) != 0;
    const std::uint32_t type = node->GetFileSystemType();
    std::uint64_t first = 0;
    std::uint32_t perCluster = 0;
    node->GetFileSystemInfo(&first, &perCluster);
    const char* name = p->GetName() ? p->GetName() : "";

    if (type <= FILESYSTEM_FAT32) {
        std::uint32_t cluster = 0, parent = 0;
        if (p->GetFileSystemKind() == FILEPROPS_FAT) {
            const auto* fp = static_cast<const CFATFileProperties*>(p);
            cluster = fp->m_u32FirstCluster;
            parent = fp->m_u32ParentCluster;
        }
        rows.push_back({"Name", name});
        if (folder) {
            rows.push_back({"Sector", FatSector(first, perCluster, cluster)});
            rows.push_back({"Cluster", U(cluster)});
            rows.push_back({"Parent", U(parent)});
            StateRows(rows, s);
        } else {
            rows.push_back({"Parent", U(parent)});
            rows.push_back({"Parent Sector", FatSector(first, perCluster, parent)});
            StateRows(rows, s);
            LayoutRow(rows, node);
        }
    } else if (type == FILESYSTEM_NTFS) {
        std::uint64_t record = 0;
        if (p->GetFileSystemKind() == FILEPROPS_NTFS)
            record = static_cast<const CNTFSFileProperties*>(p)->GetRecordSector();
        rows.push_back({"Name", name});
        rows.push_back({"Record sector", U(record)});
        rows.push_back({"Compressed", YesNo(a & FILEATTR_COMPRESSED)});
        rows.push_back({"Encrypted", YesNo(a & FILEATTR_ENCRYPTED)});
        StateRows(rows, s);
        if (!folder) {
            std::unique_ptr<IDataRunList> runs(p->GetDataRunList());
            if (runs && runs->IsResident()) {
                rows.push_back({"Resident", "Yes"});
                rows.push_back({"Size", U(p->GetFileSize())});
                rows.push_back({"Offset", U(runs->GetResidentOffset())});
            } else if (runs) {
                rows.push_back({"Resident", "No"});
                LayoutRow(rows, node);
            }
        }
    } else if ((type == FILESYSTEM_EXT2 || type == FILESYSTEM_EXT3) && p->GetFileSystemKind() == FILEPROPS_EXT2) {
        // An inode's name and state: a deleted file whose blocks another file holds says so.
        rows.push_back({"Name", name});
        StateRows(rows, s);
    } else if (type == FILESYSTEM_RAW && !folder) {
        rows.push_back({"Name", name});
        rows.push_back({"DataAreaSector", U(first)});
        LayoutRow(rows, node);
    }
    if (node->IsFolder()) {
        const auto* f = static_cast<const CFileSystemNode*>(node);
        rows.insert(rows.begin(), {"Start Sector", U(f->m_u64FirstSector)});
        rows.insert(rows.begin(), {"Sector Per Cluster", U(f->m_u32SectorsPerCluster)});
    }
    return rows;
}

PropertyRows PartitionPropertyRows(const CSearchedPartitionInfo* partition, bool hasRange,
                                   std::uint64_t rangeFirst, std::uint64_t rangeCount) {
    PropertyRows rows;
    if (!partition) {
        if (hasRange) {
            rows.push_back({"Total Sector", U(rangeCount)});
            rows.push_back({"Start Sector", U(rangeFirst)});
        }
        return rows;
    }
    const std::uint32_t t = partition->m_fileSystemType;
    if (t <= FILESYSTEM_FAT32 && partition->GetKind() == SEARCHED_PARTITION_FAT) {
        const auto* f = static_cast<const CFATSearchedPartitionInfo*>(partition);
        const std::uint32_t e = f->m_u32EvidenceFlags;
        auto flag = [&](std::uint32_t bit) { return (e & bit) ? std::string("Yes") : std::string("-"); };
        static const char* const kNames[] = {"FAT12", "FAT16", "FAT32"};
        rows.push_back({"Rank", "100%"});
        rows.push_back({"File System", kNames[t]});
        rows.push_back({"From FAT32 DBR", flag(0x04)});
        rows.push_back({"From FAT32 Backup DBR", flag(0x08)});
        rows.push_back({"From FAT16 DBR", flag(0x02)});
        rows.push_back({"From FAT12 DBR", flag(0x01)});
        rows.push_back({"From folders analysis", flag(0x10)});
        rows.push_back({"From files analysis", flag(0x20)});
        rows.push_back({"Partition Start Sector", U(f->m_u64KeptFirstSector)});
        rows.push_back({"Reversed Sector", U(f->m_u16ReservedSectors)});
        rows.push_back({"Found FAT1", YesNo(e & 0x40)});
        rows.push_back({"Found FAT2", YesNo(e & 0x100)});
        rows.push_back({"Sectors Per FAT", U(f->m_u32SectorsPerFat)});
        rows.push_back({"Data Area Start Sector", U(f->m_u64FirstSector)});
        rows.push_back({"Sectors Per Cluster", U(f->m_sectorsPerCluster)});
        rows.push_back({"Partition Sectors Count", U(f->m_u32SectorCount)});
        return rows;
    }
    if (t == FILESYSTEM_NTFS && partition->GetKind() == SEARCHED_PARTITION_NTFS) {
        const auto* n = static_cast<const CSearchedNTFSPartitionInfo*>(partition);
        const std::uint32_t e = n->m_u32Evidence;
        auto flag = [&](std::uint32_t bit) { return (e & bit) ? std::string("Yes") : std::string("-"); };
        rows.push_back({"  From first boot record", flag(0x001)});
        rows.push_back({"  From last boot record", flag(0x002)});
        rows.push_back({"  From mft files pair", flag(0x004)});
        rows.push_back({"  From single $mft", flag(0x008)});
        rows.push_back({"  From $mftMirr", flag(0x010)});
        rows.push_back({"  From index/folder comparision", flag(0x020)});
        rows.push_back({"  From First RSTR", flag(0x040)});
        rows.push_back({"  From Second RSTR", flag(0x080)});
        rows.push_back({"  From files analysis", flag(0x100)});
        rows.push_back({"partition sectors count", U(n->GetSectorCount64())});
        rows.push_back({"data area start sector", I64(n->m_u64FirstSector)});
        rows.push_back({"sectors per cluster", U(n->m_sectorsPerCluster)});
        rows.push_back({"Total Clusters", I64(n->m_u64ClusterCount)});
        rows.push_back({"Use$MFT", YesNo(n->m_u32UseMftFile != 0)});
        rows.push_back({"ProcessFilesfrom$MFTonly", YesNo(n->m_u32MftOnly != 0)});
        rows.push_back({"Folders match", I64(n->m_u64EvidenceA)});
        rows.push_back({"Files match", I64(n->m_u64EvidenceB)});
        rows.push_back({"Sectors per $mft file record", U(n->m_u32LayoutTag)});
        rows.push_back({"$LogFileMatch", I64(n->m_u64LogFileConfirmed)});
        rows.push_back({"$AttrDefMatch", I64(n->m_u64AttrDefConfirmed)});
        rows.push_back({"$UpcaseMatch", I64(n->m_u64UpCaseConfirmed)});
        rows.push_back({"$MFTSector", I64(n->m_u64MftRecordSector)});
        rows.push_back({"$LogFileSector", I64(n->m_u64LogFileRecordSector)});
        rows.push_back({"$AttrDefSector", I64(n->m_u64AttrDefRecordSector)});
        rows.push_back({"$UpcaseSector", I64(n->m_u64UpCaseRecordSector)});
        rows.push_back({"SectorsCountfromSystemFiles", I64(n->m_u64BitmapSectors)});
        return rows;
    }
    // The size in 64 bits: partitions of 2 TiB and more keep their true count.
    rows.push_back({"partition sectors count", U(partition->GetSectorCount64())});
    rows.push_back({"data area start sector", U(partition->m_u64FirstSector)});
    rows.push_back({"sectors per cluster", U(partition->m_sectorsPerCluster)});
    return rows;
}
