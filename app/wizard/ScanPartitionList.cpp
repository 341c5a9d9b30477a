#include "app/wizard/ScanPartitionList.h"

#include "filesystems/FileSystemSearchController.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "storage/FileSystemType.h"
#include "ui/controls/Formatting.h"

#include <cstdio>

namespace {

constexpr int kRowsPerFamily = 100;

enum Family { kFamilyFat, kFamilyNtfs, kFamilyExt, kFamilyOther };

Family FamilyOf(std::uint32_t type) {
    switch (type) {
    case FILESYSTEM_FAT12:
    case FILESYSTEM_FAT16:
    case FILESYSTEM_FAT32: return kFamilyFat;
    case FILESYSTEM_NTFS: return kFamilyNtfs;
    case FILESYSTEM_EXT2:
    case FILESYSTEM_EXT3: return kFamilyExt;
    default: return kFamilyOther;
    }
}

bool MftOnlyFixed(const CSearchedNTFSPartitionInfo& ntfs) {
    return ntfs.m_u32UseMftFile == 0xFFFFFFFFu && ntfs.m_u32MftOnly == 0xFFFFFFFFu;
}

} // namespace

const char* FormatSuggestion(double rank, double mediumThreshold) {
    if (rank > 0.99)
        return "High";
    return rank >= mediumThreshold ? "Medium" : "Low";
}

double MediumThreshold(const std::vector<CSearchedPartitionInfo*>& partitions) {
    double lowest = 0.99, highest = 0.0;
    for (const CSearchedPartitionInfo* p : partitions) {
        if (!p || p->m_relativeScore > 0.99)
            continue;
        lowest = std::min(lowest, p->m_relativeScore);
        highest = std::max(highest, p->m_relativeScore);
    }
    return lowest <= highest ? (lowest + highest) / 2 : 0.5;
}

void CScanPartitionListModel::DeleteAllPartitions() {
    m_rows.clear();
    m_checked.clear();
}

void CScanPartitionListModel::AddPartition(const ScanPartitionRow& row) {
    const bool tick = row.kind == 1 && static_cast<std::uint32_t>(GetCheckedCount()) < m_limit;
    m_rows.push_back(row);
    m_checked.push_back(tick);
}

const ScanPartitionRow* CScanPartitionListModel::RowAt(int row) const {
    return row >= 0 && row < RowCount() ? &m_rows[static_cast<std::size_t>(row)] : nullptr;
}

bool CScanPartitionListModel::IsRowChecked(int row) const {
    return row >= 0 && row < RowCount() && m_checked[static_cast<std::size_t>(row)];
}

int CScanPartitionListModel::GetCheckedCount() const {
    int n = 0;
    for (bool c : m_checked)
        n += c ? 1 : 0;
    return n;
}

bool CScanPartitionListModel::SetRowChecked(int row, bool ticked) {
    if (row < 0 || row >= RowCount())
        return false;
    m_checked[static_cast<std::size_t>(row)] = ticked;
    return true;
}

std::string CScanPartitionListModel::Suggestion(int row) const {
    const ScanPartitionRow* r = RowAt(row);
    return r ? FormatSuggestion(r->rank, m_threshold) : "";
}

void CScanPartitionListModel::ShowSource(int blockType, const std::string& caption, std::uint64_t sectors) {
    sourceType = blockType;
    sourceCaption = caption;
    sourceSectors = sectors;
}

void FillPartitionList(IScanPartitionListView& list, const std::vector<CSearchedPartitionInfo*>& partitions,
                       std::uint32_t autoCheckLimit) {
    if (autoCheckLimit == 1) {
        CSearchedPartitionInfo* best = nullptr;
        for (CSearchedPartitionInfo* p : partitions) {
            if (!p)
                continue;
            p->m_u32Chosen = 0;
            if (p->m_relativeScore > 0 && (!best || p->m_relativeScore > best->m_relativeScore))
                best = p;
        }
        if (best)
            best->m_u32Chosen = 1;
    }
    list.DeleteAllPartitions();
    list.SetAutoCheckLimit(autoCheckLimit);
    list.SetMediumThreshold(MediumThreshold(partitions));

    int number = 0;
    int perFamily[3] = {0, 0, 0};
    for (CSearchedPartitionInfo* p : partitions) {
        if (!p)
            continue;
        const Family family = FamilyOf(p->m_fileSystemType);
        if (family != kFamilyOther) {
            ++number;
            if (perFamily[family]++ >= kRowsPerFamily)
                continue;
        }
        ScanPartitionRow row;
        char name[64];
        std::snprintf(name, sizeof name, "Partition %d %s", number, uifmt::GetFileSystemDisplayName(p->m_fileSystemType));
        row.name = name;
        row.fileSystem = p->m_fileSystemType;
        row.rank = p->m_relativeScore;
        row.foldersMatch = p->m_u64EvidenceA;
        row.filesMatch = p->m_u64EvidenceB;
        row.kind = p->m_u32Chosen == 1 || p->m_u32Chosen == 2 ? p->m_u32Chosen : 0;
        row.partition = p;
        if (family != kFamilyOther) {
            const std::uint64_t count = p->GetSectorCount64();
            row.firstSector = p->m_u64KeptFirstSector;
            row.hasRange = count > 0 && row.firstSector + (count - 1) >= row.firstSector;
            row.lastSector = row.hasRange ? row.firstSector + count - 1 : row.firstSector;
        }
        if (family == kFamilyFat) {
            if (auto* fat = dynamic_cast<CFATSearchedPartitionInfo*>(p)) {
                const std::uint32_t flags = fat->m_u32EvidenceFlags;
                if (flags & FATEVIDENCE_FIRST_FAT_SEEN)
                    row.options.push_back({(flags & FATEVIDENCE_USE_FIRST_FAT) != 0, "FAT1"});
                if (flags & FATEVIDENCE_SECOND_FAT_SEEN)
                    row.options.push_back({(flags & FATEVIDENCE_USE_SECOND_FAT) != 0, "FAT2"});
            }
        } else if (family == kFamilyNtfs) {
            if (auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(p); ntfs && !MftOnlyFixed(*ntfs))
                row.options.push_back({ntfs->m_u32MftOnly != 0, "$MFT Only"});
        }
        list.AddPartition(row);
    }
}

bool OnPartitionOptionToggled(IScanPartitionListView& list, int row, int cell, int box, bool ticked) {
    if (cell != 3 || (box != 0 && box != 1))
        return false;
    const ScanPartitionRow* r = list.RowAt(row);
    if (!r || !r->partition)
        return false;
    CSearchedPartitionInfo* p = r->partition;
    if (auto* fat = dynamic_cast<CFATSearchedPartitionInfo*>(p)) {
        std::uint32_t& flags = fat->m_u32EvidenceFlags;
        const bool firstCopy = box == 0 && (flags & FATEVIDENCE_FIRST_FAT_SEEN);
        if (firstCopy) {
            flags = ticked ? flags | FATEVIDENCE_USE_FIRST_FAT : flags & ~FATEVIDENCE_USE_FIRST_FAT;
            return true;
        }
        if (!(flags & FATEVIDENCE_SECOND_FAT_SEEN))
            return false;
        flags = ticked ? flags | FATEVIDENCE_USE_SECOND_FAT : flags & ~FATEVIDENCE_USE_SECOND_FAT;
        return true;
    }
    if (auto* ntfs = dynamic_cast<CSearchedNTFSPartitionInfo*>(p)) {
        if (box != 0 || MftOnlyFixed(*ntfs))
            return false;
        ntfs->m_u32MftOnly = ticked ? 1 : 0;
        return true;
    }
    return false;
}
