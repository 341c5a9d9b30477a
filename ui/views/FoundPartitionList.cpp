#include "ui/views/FoundPartitionList.h"

#include "filesystems/FileSystemSearchController.h"
#include "filesystems/fat/FatSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "ui/controls/Formatting.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

const char* const CFoundPartitionListModel::kColumnTitles[kColumnCount] = {"Partition",   "Size",
                                                                         "Suggestion",  "Option",
                                                                         "Files Match", "Folder Match"};
const int CFoundPartitionListModel::kColumnWidths[kColumnCount] = {160, 80, 80, 150, 80, 80};
const int CFoundPartitionListModel::kColumnAlignments[kColumnCount] = {kGridLeft,  kGridRight,  kGridCentre,
                                                                     kGridLeft,  kGridCentre, kGridCentre};

PartitionBlockDesc FoundPartitionRow::Block() const {
    PartitionBlockDesc d;
    d.name = name;
    d.fileSystem = fileSystem;
    d.firstSector = firstSector;
    d.lastSector = lastSector;
    d.rank = rank;
    return d;
}

uires::Rgb CFoundPartitionListModel::KindColour(std::uint32_t kind) {
    if (kind == kPartitionKindBest)
        return uires::Rgb{0, 160, 0};
    if (kind == kPartitionKindOther)
        return uires::Rgb{160, 109, 0};
    return uires::Rgb{0, 0, 0};
}

CFoundPartitionListModel::CFoundPartitionListModel()
    : m_ownGrid(std::make_unique<CExtendGridModel>()), m_grid(m_ownGrid.get()) {
    InitColumns();
}

CFoundPartitionListModel::CFoundPartitionListModel(CExtendGridModel& grid) : m_grid(&grid) {
    InitColumns();
}

void CFoundPartitionListModel::InitColumns() {
    if (m_grid->ColumnCount() != 0)
        return;
    for (int c = 0; c < kColumnCount; ++c)
        m_grid->InsertColumn(kColumnTitles[c], kColumnWidths[c], kColumnAlignments[c]);
    m_rows.reserve(2000);
}

std::string CFoundPartitionListModel::FormatSuggestion(double rank) const {
    if (rank > 0.99)
        return "High";
    if (rank >= m_mediumThreshold)
        return "Medium";
    return "Low";
}

std::string CFoundPartitionListModel::SizeText(const FoundPartitionRow& row) {
    return row.hasRange ? uifmt::FormatSectorsSize64(row.SectorCount()) : std::string();
}

int CFoundPartitionListModel::AddPartition(const FoundPartitionRow& given) {
    // A score read back from a damaged state file may be no number: it ranks as 0, so that its
    // block can still be found again when the row is unticked.
    FoundPartitionRow record = given;
    if (!std::isfinite(record.rank))
        record.rank = 0.0;
    if (record.hasRange && record.lastSector < record.firstSector)
        record.hasRange = false;
    const bool startTicked = record.kind == kPartitionKindBest &&
                             static_cast<std::uint32_t>(GetCheckedCount()) < m_autoCheckLimit;
    m_rows.push_back(record);
    const int row = m_grid->AddRow();

    auto textCell = [&](const std::string& text) {
        GridCellDesc d;
        d.itemCount = 1;
        d.items[0].text = text;
        m_grid->SetCell(row, d);
    };

    GridCellDesc first;
    first.itemCount = 1;
    first.items[0].hasCheckBox = true;
    first.items[0].checked = startTicked;
    first.items[0].icon = 0;
    first.items[0].text = record.name;
    first.items[0].listener = this;
    first.textColour = KindColour(record.kind);
    m_grid->SetCell(row, first);

    textCell(SizeText(record));
    textCell(FormatSuggestion(record.rank));

    GridCellDesc options;
    options.itemCount = static_cast<std::uint32_t>(std::min(record.options.size(), kMaxOptions));
    for (std::uint32_t i = 0; i < options.itemCount; ++i) {
        options.items[i].hasCheckBox = true;
        options.items[i].checked = record.options[i].ticked;
        options.items[i].text = record.options[i].text;
        options.items[i].listener = this;
    }
    m_grid->SetCell(row, options);

    textCell(std::to_string(record.filesMatch));
    textCell(std::to_string(record.foldersMatch));

    if (startTicked)
        OnCheckBoxChanged(1, row, 0, 0);
    return row;
}

void CFoundPartitionListModel::DeleteAllPartitions() {
    m_grid->DeleteAllRows();
    m_rows.clear();
}

const FoundPartitionRow* CFoundPartitionListModel::Record(int row) const {
    if (row < 0 || row >= RowCount())
        return nullptr;
    return &m_rows[static_cast<std::size_t>(row)];
}

CSearchedPartitionInfo* CFoundPartitionListModel::GetPartitionAt(int row) const {
    const FoundPartitionRow* r = Record(row);
    return r ? r->partition : nullptr;
}

int CFoundPartitionListModel::IsRowChecked(int row) const {
    if (!Record(row))
        return 0;
    return m_grid->IsFirstBoxChecked(row);
}

int CFoundPartitionListModel::GetCheckedCount() const {
    int n = 0;
    for (int r = 0; r < m_grid->RowCount(); ++r)
        n += m_grid->IsFirstBoxChecked(r) ? 1 : 0;
    return n;
}

bool CFoundPartitionListModel::ToggleBox(int row, int cell, int box) {
    GridRow* r = m_grid->Row(row);
    if (!r || cell < 0 || cell >= static_cast<int>(r->cells.size()))
        return false;
    GridCellDesc& d = r->cells[static_cast<std::size_t>(cell)].desc;
    if (box < 0 || static_cast<std::uint32_t>(box) >= d.itemCount || !d.items[box].hasCheckBox)
        return false;
    GridItem& item = d.items[box];
    item.checked = !item.checked;
    if (item.listener)
        item.listener->OnCheckBoxChanged(item.checked ? 1 : 0, row, cell, box);
    return true;
}

void CFoundPartitionListModel::OnCheckBoxChanged(int checked, int row, int cell, int box) {
    const FoundPartitionRow* r = Record(row);
    if (!r)
        return;
    if (cell == 0) {
        if (!m_layout || !r->hasRange)
            return;
        if (checked)
            m_layout->AddPartition(r->Block());
        else
            m_layout->RemovePartition(r->Block());
        return;
    }
    if (m_notify)
        m_notify(PartitionOptionToggle{row, cell, box, checked ? 1 : 0});
}

void CModelFoundPartitionPane::ShowSource(const LayoutSource& source) {
    m_layout.RemoveAllDisks();
    m_layout.LayoutDisks(0, 0);
    m_layout.SetCaption(source);
}

// ---- Filling ----

namespace {

bool IsFat(std::uint32_t t) { return t <= FILESYSTEM_FAT32; }
bool IsExt(std::uint32_t t) { return t == FILESYSTEM_EXT2 || t == FILESYSTEM_EXT3; }

const CFATSearchedPartitionInfo* AsFat(const CSearchedPartitionInfo* p) {
    return p && p->GetKind() == SEARCHED_PARTITION_FAT ? static_cast<const CFATSearchedPartitionInfo*>(p) : nullptr;
}
const CSearchedNTFSPartitionInfo* AsNtfs(const CSearchedPartitionInfo* p) {
    return p && p->GetKind() == SEARCHED_PARTITION_NTFS ? static_cast<const CSearchedNTFSPartitionInfo*>(p)
                                                        : nullptr;
}

constexpr int kRowsPerFamily = 100;

} // namespace

std::uint64_t PartitionStartSector(const CSearchedPartitionInfo& p) {
    // FAT and EXT2 records keep the data area or the superblock copy in the first sector and
    // the partition's own start in the kept first sector; NTFS records start at the first.
    if (p.GetKind() == SEARCHED_PARTITION_FAT || p.GetKind() == SEARCHED_PARTITION_EXT2)
        return p.m_u64KeptFirstSector;
    return p.m_u64FirstSector;
}

std::uint64_t PartitionSectorCount(const CSearchedPartitionInfo& p) { return p.GetSectorCount64(); }

double ComputeMediumThreshold(const std::vector<CSearchedPartitionInfo*>& partitions) {
    double lowest = 0.99;
    double highest = 0.0;
    for (const CSearchedPartitionInfo* p : partitions) {
        if (!p || !(p->m_relativeScore <= 0.99))
            continue;
        lowest = std::min(lowest, p->m_relativeScore);
        highest = std::max(highest, p->m_relativeScore);
    }
    return lowest <= highest ? (lowest + highest) / 2.0 : 0.5;
}

void MarkBestPartition(const std::vector<CSearchedPartitionInfo*>& partitions) {
    CSearchedPartitionInfo* best = nullptr;
    for (CSearchedPartitionInfo* p : partitions) {
        if (!p)
            continue;
        p->m_u32Chosen = 0;
        if (p->m_relativeScore > 0.0 && (!best || p->m_relativeScore > best->m_relativeScore))
            best = p;
    }
    if (best)
        best->m_u32Chosen = 1;
}

std::vector<FoundPartitionRow> BuildFoundPartitionRows(const std::vector<CSearchedPartitionInfo*>& partitions) {
    std::vector<FoundPartitionRow> rows;
    int number = 0;
    int fatRows = 0, ntfsRows = 0, extRows = 0;
    for (CSearchedPartitionInfo* p : partitions) {
        if (!p)
            continue;
        const std::uint32_t t = p->m_fileSystemType;
        const bool counted = IsFat(t) || t == FILESYSTEM_NTFS || IsExt(t);
        if (counted)
            ++number;
        FoundPartitionRow row;
        char name[64];
        std::snprintf(name, sizeof name, "Partition %d ", number);
        row.name = std::string(name) + uifmt::GetFileSystemDisplayName(t);
        row.fileSystem = t;
        row.rank = p->m_relativeScore;
        row.filesMatch = p->m_u64EvidenceB;
        row.foldersMatch = p->m_u64EvidenceA;
        row.kind = (p->m_u32Chosen == 1 || p->m_u32Chosen == 2) ? p->m_u32Chosen : kPartitionKindPlain;
        row.partition = p;

        const std::uint64_t count = PartitionSectorCount(*p);
        const std::uint64_t first = PartitionStartSector(*p);
        auto setRange = [&] {
            if (count == 0)
                return;
            row.hasRange = true;
            row.firstSector = first;
            row.lastSector = count - 1 > std::numeric_limits<std::uint64_t>::max() - first
                                 ? std::numeric_limits<std::uint64_t>::max()
                                 : first + count - 1;
        };
        if (IsFat(t)) {
            if (fatRows++ >= kRowsPerFamily)
                continue;
            if (const CFATSearchedPartitionInfo* f = AsFat(p)) {
                const std::uint32_t e = f->m_u32EvidenceFlags;
                if (e & FATEVIDENCE_FIRST_FAT_SEEN)
                    row.options.push_back({(e & FATEVIDENCE_USE_FIRST_FAT) != 0, "FAT1"});
                if (e & FATEVIDENCE_SECOND_FAT_SEEN)
                    row.options.push_back({(e & FATEVIDENCE_USE_SECOND_FAT) != 0, "FAT2"});
            }
            setRange();
        } else if (t == FILESYSTEM_NTFS) {
            if (ntfsRows++ >= kRowsPerFamily)
                continue;
            if (const CSearchedNTFSPartitionInfo* n = AsNtfs(p); n && n->m_u64MftRecordSector != kNtfsUnknown)
                row.options.push_back({n->m_u32MftOnly != 0, "$MFT Only"});
            setRange();
        } else if (IsExt(t)) {
            if (extRows++ >= kRowsPerFamily)
                continue;
            setRange();
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void FillPartitionList(IFoundPartitionPane& pane, const std::vector<CSearchedPartitionInfo*>& partitions,
                       std::uint32_t autoCheckLimit) {
    if (autoCheckLimit == 1)
        MarkBestPartition(partitions);
    CFoundPartitionListModel& list = pane.PartitionList();
    list.DeleteAllPartitions();
    list.SetAutoCheckLimit(autoCheckLimit);
    list.SetMediumThreshold(ComputeMediumThreshold(partitions));
    for (const FoundPartitionRow& row : BuildFoundPartitionRows(partitions))
        list.AddPartition(row);
    pane.RefreshPane();
}

bool ApplyPartitionOptionToggle(CSearchedPartitionInfo* partition, const PartitionOptionToggle& toggle) {
    if (!partition || toggle.cell != CFoundPartitionListModel::kOptionCell || toggle.box < 0 || toggle.box > 1)
        return false;
    if (partition->GetKind() == SEARCHED_PARTITION_FAT && IsFat(partition->m_fileSystemType)) {
        auto* f = static_cast<CFATSearchedPartitionInfo*>(partition);
        std::uint32_t& e = f->m_u32EvidenceFlags;
        auto set = [&](std::uint32_t bit) {
            if (toggle.ticked)
                e |= bit;
            else
                e &= ~bit;
            return true;
        };
        if (toggle.box == 0 && (e & FATEVIDENCE_FIRST_FAT_SEEN))
            return set(FATEVIDENCE_USE_FIRST_FAT);
        if (e & FATEVIDENCE_SECOND_FAT_SEEN)
            return set(FATEVIDENCE_USE_SECOND_FAT);
        return false;
    }
    if (partition->GetKind() == SEARCHED_PARTITION_NTFS && toggle.box == 0) {
        auto* n = static_cast<CSearchedNTFSPartitionInfo*>(partition);
        if (n->m_u64MftRecordSector == kNtfsUnknown)
            return false;
        n->m_u32MftOnly = toggle.ticked ? 1 : 0;
        return true;
    }
    return false;
}
