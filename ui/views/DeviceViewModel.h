#pragma once
// The device selection list without windows: its rows, their cells and heights, the selection,
// and what each click, key or column drag does and tells the hosting page. The window
// (ui/views/wx/DeviceSelectCtrl) draws this model and feeds it the user's input.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Row kinds (they choose the row's picture).
enum DeviceRowKind : int {
    kDeviceKindFloppy = 0,
    kDeviceKindDisk = 1,
    kDeviceKindVolume = 2,
    kDeviceKindFoundPartition = 3,
    kDeviceKindImageFile = 4,
    kDeviceKindPreviousRecovery = 5,
    kDeviceKindUsb = 6,
    kDeviceKindCount = 7,
};

// Bitmap resource ids of the seven kinds, in kind order.
extern const int kDeviceRowBitmaps[kDeviceKindCount];

// Messages from the list to the page that holds it.
enum DeviceViewMessage : int {
    kDeviceMsgNone = 0,
    kDeviceMsgScrolled = 9000,     // to the list's own header
    kDeviceMsgSelected = 9001,     // a click selected another row
    kDeviceMsgDoubleClick = 9002,  // double click with a row selected
    kDeviceMsgRightUp = 9003,      // right button released with a row selected
};

struct DeviceListEntry {
    int kind = kDeviceKindVolume;
    std::string name;
    std::uint64_t sectorCount = 0;  // 0: the capacity cell stays empty
    std::string information;        // may hold line breaks
    void* itemData = nullptr;       // the caller's, never freed here
};

struct DeviceCell {
    int bitmapKind = -1;  // row kind whose picture the cell shows; -1 none
    std::string text;
    int width = 0;
};

struct DeviceRow {
    int top = 0;
    int height = 0;
    bool selected = false;
    void* itemData = nullptr;
    std::vector<DeviceCell> cells;
    int Width() const;
};

class CDeviceViewModel {
public:
    // Height of a text in the list's font (all its lines); the window supplies the real one.
    using TextHeight = std::function<int(const std::string&)>;

    static constexpr int kBitmapWidth = 80;
    static constexpr int kBitmapHeight = 52;
    static constexpr int kColumnCount = 3;
    static const char* const kColumnTitles[kColumnCount];
    static const int kColumnWidths[kColumnCount];

    explicit CDeviceViewModel(TextHeight textHeight = {});

    // Column widths of the header (new rows take them).
    void SetColumnWidths(const std::vector<int>& widths) { m_columns = widths; }

    void AddDevice(const DeviceListEntry& entry);
    void RemoveAllDevices();
    void DeleteDevice(int index);
    int GetSelectedIndex() const;
    void ClearSelection();
    void* GetDeviceData(int index) const;
    // Selects a row without telling the page; false for an index out of range.
    bool SelectRow(int index);

    int Count() const { return static_cast<int>(m_rows.size()); }
    const DeviceRow& Row(int index) const { return m_rows[static_cast<std::size_t>(index)]; }
    // Scroll extent: the first row's width (0 without rows) and the sum of the row heights.
    int ScrollWidth() const;
    int ScrollHeight() const;

    // Input, in list coordinates (scroll position included). Each returns the message the page
    // gets (kDeviceMsgNone for none).
    DeviceViewMessage ButtonDown(int x, int y);
    DeviceViewMessage DoubleClick() const;
    DeviceViewMessage RightButtonUp() const;
    // Arrow keys: true when the selection moved (no message goes to the page).
    bool KeyUp();
    bool KeyDown();
    // The user finished dragging the divider of `column` to `width`: every row's cell of that
    // column takes it; returns the new total width of the columns.
    int ColumnResized(int column, int width);

    // The vertical scroll position that brings `index` into a view of `viewHeight` now scrolled
    // to `scrollY` (unchanged when the row is visible).
    int ScrollIntoView(int index, int scrollY, int viewHeight) const;

private:
    void Relayout();
    TextHeight m_textHeight;
    std::vector<int> m_columns;
    std::vector<DeviceRow> m_rows;
};
