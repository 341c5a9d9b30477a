#pragma once
// The data and layout of the owner-drawn grid: columns, rows of cells with up to four items
// (check box, icon, text), where each item's check box lies, what a click toggles and selects,
// and the scroll positions. No window code: the grid control draws what this computes.
#include "ui/controls/Geometry.h"
#include "ui/controls/Resources.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Told of every check box the user toggles.
class ICheckBoxNotify {
public:
    virtual ~ICheckBoxNotify() = default;
    virtual void OnCheckBoxChanged(int checked, int row, int cell, int item) = 0;
};

struct GridItem {
    bool hasCheckBox = false;
    bool checked = false;
    int icon = -1;                       // index into the grid's icon list, -1 none
    std::string text;                    // at most 259 bytes are kept
    ICheckBoxNotify* listener = nullptr;
    uigeo::Rect checkRect;               // filled by the layout
};

struct GridCellDesc {
    std::uint32_t itemCount = 0;         // at most 4
    GridItem items[4];
    uires::Rgb textColour{0, 0, 0};
};

enum GridAlignment : int { kGridLeft = 0, kGridRight = 1, kGridCentre = 2 };

struct GridCell {
    GridCellDesc desc;
    int width = 0;
    int alignment = kGridLeft;
};

struct GridRow {
    int top = 0;
    int height = 20;
    int index = 0;
    bool selected = false;
    std::vector<GridCell> cells;
    int Bottom() const { return top + height; }
};

// One axis of a scrolled view.
struct ScrollAxis {
    int content = 0;
    int client = 0;
    int pos = 0;
    int page = 0;       // 0 when everything fits
    int rangeMax = 0;   // scroll bar range is 0..rangeMax

    // Recomputes page and range for the current content and client sizes.
    void Update();
    // Moves to `pos` limited to 0..content-page; true when the position changed.
    bool MoveTo(int newPos);
    // The scroll bar codes of the grid: line -10/+10, page -page/+page.
    bool LineUp() { return MoveTo(pos - 10); }
    bool LineDown() { return MoveTo(pos + 10); }
    bool PageUp() { return MoveTo(pos - page); }
    bool PageDown() { return MoveTo(pos + page); }
};

// What to draw for one item of a cell.
struct GridItemLayout {
    bool drawn = false;
    bool hasBox = false;
    uigeo::Rect box;      // the whole 14-pixel box (unclipped, for drawing)
    bool hasIcon = false;
    uigeo::Rect icon;
    bool hasText = false;
    uigeo::Rect text;
};

class CExtendGridModel {
public:
    using TextWidthFn = std::function<int(const std::string&)>;

    void SetHeaderHeight(int h) { m_headerHeight = h; }
    int HeaderHeight() const { return m_headerHeight; }

    void InsertColumn(const std::string& text, int width, int alignment);
    int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    int ColumnWidth(int c) const;

    int AddRow();
    // 0 when the row does not exist or already has a cell for every column.
    int SetCell(int row, const GridCellDesc& desc);
    void DeleteAllRows();
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    GridRow* Row(int row);
    const GridRow* Row(int row) const;
    int GetSelectedRow() const;
    int IsFirstBoxChecked(int row) const;

    int ContentWidth() const;
    int ContentHeight() const;

    // Lays out one cell at x = cellLeft in its row and stores its items' check-box rectangles
    // (clipped at the cell's right edge; cleared for items that did not fit).
    std::vector<GridItemLayout> LayoutCell(int row, int cell, int cellLeft, const TextWidthFn& textWidth);
    // Lays out every cell of every row (the painter does this for the rows it draws).
    void LayoutAll(const TextWidthFn& textWidth);

    // A left click at a point in content coordinates: toggles at most one box (notifying its
    // listener) and selects the row. Returns the clicked row, -1 when no row was hit.
    int Click(uigeo::Point content);
    // Selects `row` (clearing the others). False when the row does not exist.
    bool Select(int row);
    // Arrow keys: moves the selection; false at either end or without a selection.
    bool SelectPrevious();
    bool SelectNext();
    // The header's column was resized: every row's cell `column` gets the width.
    void ResizeColumn(int column, int width);

    // Scrolling; the owner sets the client size and calls UpdateScrollBars.
    ScrollAxis horz, vert;
    void SetClientSize(int w, int h);
    void UpdateScrollBars();
    // Scrolls so that `row` is fully visible below the header.
    void EnsureVisible(int row);
    // Wheel: one line up for a positive delta, down otherwise; only when a vertical page exists.
    bool Wheel(int delta);

private:
    struct Column {
        std::string text;
        int width = 0;
        int alignment = kGridLeft;
    };
    std::vector<Column> m_columns;
    std::vector<std::unique_ptr<GridRow>> m_rows;
    int m_headerHeight = 20;
};
