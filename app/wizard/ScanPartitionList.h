#pragma once
// The found-partition page of Deep Scan and Lost Partition Recovery without windows: the rows
// the page builds from a scan's partitions (name, suggestion, option boxes, range), the list they
// go into (the window's found-partition list, or a plain model in tests), and what an option box
// changes on the partition.
#include <cstdint>
#include <string>
#include <vector>

class CSearchedPartitionInfo;

struct ScanPartitionOption {
    bool ticked = false;
    std::string text;
};

// One row of the list, as the page fills it.
struct ScanPartitionRow {
    std::string name;               // "Partition %d %s"
    std::uint32_t fileSystem = 7;
    bool hasRange = false;          // false for a file system the list cannot place
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;   // inclusive: first + count - 1
    double rank = 0;
    std::vector<ScanPartitionOption> options;
    std::uint64_t filesMatch = 0;
    std::uint64_t foldersMatch = 0;
    std::uint32_t kind = 0;         // 1 suggested (may start ticked), 2 second colour, 0 plain
    CSearchedPartitionInfo* partition = nullptr;  // the scan's, not owned

    std::uint64_t SectorCount() const { return hasRange ? lastSector - firstSector + 1 : 0; }
};

// The list as the page sees it.
class IScanPartitionListView {
public:
    virtual ~IScanPartitionListView() = default;
    virtual void DeleteAllPartitions() = 0;
    virtual void SetAutoCheckLimit(std::uint32_t limit) = 0;
    virtual void SetMediumThreshold(double threshold) = 0;
    // Appends a row; its first box starts ticked when kind is 1 and fewer rows than the limit
    // are ticked.
    virtual void AddPartition(const ScanPartitionRow& row) = 0;
    virtual int RowCount() const = 0;
    virtual const ScanPartitionRow* RowAt(int row) const = 0;
    virtual bool IsRowChecked(int row) const = 0;
    virtual int GetCheckedCount() const = 0;
    // The source shown above the layout picture: block type 0 disk, 1 USB disk, 2 image,
    // 3 volume; its caption and size.
    virtual void ShowSource(int blockType, const std::string& caption, std::uint64_t sectors) = 0;
};

// "High" above 0.99, "Medium" from the threshold up, else "Low".
const char* FormatSuggestion(double rank, double mediumThreshold);
// The midpoint of the lowest and highest rank at most 0.99, or 0.5 when there is none.
double MediumThreshold(const std::vector<CSearchedPartitionInfo*>& partitions);

// The list without a window: rows, ticks and the source.
class CScanPartitionListModel : public IScanPartitionListView {
public:
    void DeleteAllPartitions() override;
    void SetAutoCheckLimit(std::uint32_t limit) override { m_limit = limit; }
    void SetMediumThreshold(double threshold) override { m_threshold = threshold; }
    void AddPartition(const ScanPartitionRow& row) override;
    int RowCount() const override { return static_cast<int>(m_rows.size()); }
    const ScanPartitionRow* RowAt(int row) const override;
    bool IsRowChecked(int row) const override;
    int GetCheckedCount() const override;
    void ShowSource(int blockType, const std::string& caption, std::uint64_t sectors) override;

    // The user ticks or clears a row's first box; false for a row out of range.
    bool SetRowChecked(int row, bool ticked);
    double Threshold() const { return m_threshold; }
    std::uint32_t AutoCheckLimit() const { return m_limit; }
    std::string Suggestion(int row) const;
    int sourceType = -1;
    std::string sourceCaption;
    std::uint64_t sourceSectors = 0;

private:
    std::vector<ScanPartitionRow> m_rows;
    std::vector<bool> m_checked;
    std::uint32_t m_limit = 4;
    double m_threshold = 0.0;
};

// Fills `list` with one row per partition, in list order (FAT, NTFS and EXT2/EXT3 rows at most
// 100 per family; the running number counts the skipped ones too). With the auto-check limit 1
// the best-scored partition alone is marked 1 first.
void FillPartitionList(IScanPartitionListView& list, const std::vector<CSearchedPartitionInfo*>& partitions,
                       std::uint32_t autoCheckLimit);

// An option box of a row was toggled (cell 3, box 0 or 1): the FAT copy or "$MFT Only" choice
// of the row's partition follows it. False when nothing changed.
bool OnPartitionOptionToggled(IScanPartitionListView& list, int row, int cell, int box, bool ticked);
