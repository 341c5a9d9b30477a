#pragma once
// The found-partition list without windows: the rows a deep scan or a lost-partition search
// found, each with its check box (ticking it puts the partition's block into the layout
// picture), its suggestion and its option boxes; and the filling of the list from the scan's
// partition records. The window (ui/views/wx/PartitionListCtrl) shows the grid this model
// fills and forwards the user's clicks to it. Sectors are 64-bit; a row's range is inclusive.
#include "ui/controls/GridModel.h"
#include "ui/views/PartitionLayoutModel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CSearchedPartitionInfo;

struct PartitionOption {
    bool ticked = false;
    std::string text;
};

// The page's mark of a row: green, may start ticked; brown; plain.
enum FoundPartitionKind : std::uint32_t {
    kPartitionKindPlain = 0,
    kPartitionKindBest = 1,
    kPartitionKindOther = 2,
};

struct FoundPartitionRow {
    std::string name;
    std::uint32_t fileSystem = 7;
    bool hasRange = false;          // false: no size is shown and no block is drawn
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;   // inclusive: first + count - 1
    double rank = 0.0;
    std::vector<PartitionOption> options; // at most 4 are shown
    std::uint64_t filesMatch = 0;
    std::uint64_t foldersMatch = 0;
    std::uint32_t kind = kPartitionKindPlain;
    CSearchedPartitionInfo* partition = nullptr; // the scan's, not owned

    std::uint64_t SectorCount() const {
        return hasRange && lastSector >= firstSector ? lastSector - firstSector + 1 : 0;
    }
    PartitionBlockDesc Block() const;
};

// An option box the user toggled: row, cell (3, "Option"), box (0-based), new state.
struct PartitionOptionToggle {
    int row = 0;
    int cell = 0;
    int box = 0;
    int ticked = 0;
};

class CFoundPartitionListModel : public ICheckBoxNotify {
public:
    static constexpr int kColumnCount = 6;
    static const char* const kColumnTitles[kColumnCount];
    static const int kColumnWidths[kColumnCount];
    static const int kColumnAlignments[kColumnCount];
    static constexpr int kOptionCell = 3;
    static constexpr std::size_t kMaxOptions = 4;
    // Text colours of the partition cell by kind.
    static uires::Rgb KindColour(std::uint32_t kind);

    // Over a grid of its own (headless use) or over the grid of a window (`grid`, which must
    // outlive the model). The model inserts the six columns into a grid without columns.
    CFoundPartitionListModel();
    explicit CFoundPartitionListModel(CExtendGridModel& grid);
    CFoundPartitionListModel(const CFoundPartitionListModel&) = delete;
    CFoundPartitionListModel& operator=(const CFoundPartitionListModel&) = delete;

    // Where ticked partitions' blocks go (not owned; null: nowhere).
    void SetLayoutTarget(IPartitionLayoutTarget* target) { m_layout = target; }
    // Told of every option box the user toggles (the page).
    void SetOptionNotify(std::function<void(const PartitionOptionToggle&)> notify) { m_notify = std::move(notify); }
    void SetMediumThreshold(double threshold) { m_mediumThreshold = threshold; }
    double MediumThreshold() const { return m_mediumThreshold; }
    // The most rows that start ticked (default 4).
    void SetAutoCheckLimit(std::uint32_t limit) { m_autoCheckLimit = limit; }
    std::uint32_t AutoCheckLimit() const { return m_autoCheckLimit; }

    // Appends a row; a green row starts ticked while fewer than the limit are ticked, and its
    // block then goes to the layout at once. Returns the row's index.
    int AddPartition(const FoundPartitionRow& row);
    void DeleteAllPartitions();
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    const FoundPartitionRow* Record(int row) const;
    CSearchedPartitionInfo* GetPartitionAt(int row) const;
    int IsRowChecked(int row) const;
    int GetCheckedCount() const;
    // "High" above 0.99, "Medium" from the medium threshold up, else "Low".
    std::string FormatSuggestion(double rank) const;
    // The text of a row's "Size" cell ("" without a range).
    static std::string SizeText(const FoundPartitionRow& row);

    // Toggles a box as a click on it does (keyboard, tests). False when there is no such box.
    bool ToggleBox(int row, int cell, int box);
    int GetSelectedRow() const { return m_grid->GetSelectedRow(); }
    bool SelectRow(int row) { return m_grid->Select(row); }

    CExtendGridModel& Grid() { return *m_grid; }
    const CExtendGridModel& Grid() const { return *m_grid; }

    void OnCheckBoxChanged(int checked, int row, int cell, int box) override;

private:
    void InitColumns();

    std::unique_ptr<CExtendGridModel> m_ownGrid;
    CExtendGridModel* m_grid;
    std::vector<FoundPartitionRow> m_rows;
    IPartitionLayoutTarget* m_layout = nullptr;
    std::function<void(const PartitionOptionToggle&)> m_notify;
    double m_mediumThreshold = 0.0;
    std::uint32_t m_autoCheckLimit = 4;
};

// The partition list and layout picture as a page sees them. The window container implements
// it, and so does the headless pane below.
class IFoundPartitionPane {
public:
    virtual ~IFoundPartitionPane() = default;
    virtual CFoundPartitionListModel& PartitionList() = 0;
    virtual CPartitionLayoutModel& PartitionLayout() = 0;
    // Clears the layout picture and shows the source in its caption and panel.
    virtual void ShowSource(const LayoutSource& source) = 0;
    // Redraws after the page changed the list through List() (a no-op without windows).
    virtual void RefreshPane() {}
};

// List and layout wired together, without windows.
class CModelFoundPartitionPane : public IFoundPartitionPane {
public:
    CModelFoundPartitionPane() { m_list.SetLayoutTarget(&m_layout); }
    CFoundPartitionListModel& PartitionList() override { return m_list; }
    CPartitionLayoutModel& PartitionLayout() override { return m_layout; }
    void ShowSource(const LayoutSource& source) override;

private:
    CPartitionLayoutModel m_layout;
    CFoundPartitionListModel m_list;
};

// ---- Filling the list from a scan's partition records ----

// The partition's own first sector (boot sector or superblock-derived start) and size.
std::uint64_t PartitionStartSector(const CSearchedPartitionInfo& partition);
std::uint64_t PartitionSectorCount(const CSearchedPartitionInfo& partition);

// The threshold between "Low" and "Medium": the mean of the lowest and highest score among
// partitions scored at most 0.99, or 0.5 when there is none.
double ComputeMediumThreshold(const std::vector<CSearchedPartitionInfo*>& partitions);

// With the limit 1 the best-scored partition (the first of equals; none when no score is above
// 0) gets mark 1 and every other mark 0.
void MarkBestPartition(const std::vector<CSearchedPartitionInfo*>& partitions);

// The rows of the partitions in list order: "Partition %d %s" (a running number over the FAT,
// NTFS and EXT2/EXT3 partitions), the options ("FAT1", "FAT2", "$MFT Only"), the range first ..
// first + count - 1, the match counts and the mark. At most 100 rows per family.
std::vector<FoundPartitionRow> BuildFoundPartitionRows(const std::vector<CSearchedPartitionInfo*>& partitions);

// The page's whole fill: marks (limit 1), clears the list, sets limit and threshold, adds the
// rows. Null entries of `partitions` are skipped.
void FillPartitionList(IFoundPartitionPane& pane, const std::vector<CSearchedPartitionInfo*>& partitions,
                       std::uint32_t autoCheckLimit);

// Applies an option box the user toggled to its partition's flags (FAT: use the first or the
// second FAT copy; NTFS: files from $MFT only). False when the toggle changes nothing.
bool ApplyPartitionOptionToggle(CSearchedPartitionInfo* partition, const PartitionOptionToggle& toggle);
