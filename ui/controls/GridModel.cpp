#include "ui/controls/GridModel.h"

#include <algorithm>

void ScrollAxis::Update() {
    if (client < content) {
        page = client;
        pos = std::max(0, std::min(pos, content - client - 1));
        rangeMax = content - 1;
    } else {
        // Everything fits: nothing may stay scrolled out of view.
        page = 0;
        rangeMax = 0;
        pos = 0;
    }
}

bool ScrollAxis::MoveTo(int newPos) {
    const int limit = std::max(0, content - page);
    newPos = std::max(0, std::min(newPos, limit));
    if (newPos == pos)
        return false;
    pos = newPos;
    return true;
}

void CExtendGridModel::InsertColumn(const std::string& text, int width, int alignment) {
    m_columns.push_back(Column{text, std::max(0, width), alignment});
}

int CExtendGridModel::ColumnWidth(int c) const {
    if (c < 0 || c >= ColumnCount())
        return 0;
    return m_columns[static_cast<std::size_t>(c)].width;
}

int CExtendGridModel::AddRow() {
    auto row = std::make_unique<GridRow>();
    row->top = ContentHeight();
    row->index = RowCount();
    m_rows.push_back(std::move(row));
    return RowCount() - 1;
}

int CExtendGridModel::SetCell(int row, const GridCellDesc& desc) {
    GridRow* r = Row(row);
    if (!r || static_cast<int>(r->cells.size()) >= ColumnCount())
        return 0;
    GridCell cell;
    cell.desc = desc;
    cell.desc.itemCount = std::min<std::uint32_t>(desc.itemCount, 4);
    for (auto& item : cell.desc.items)
        if (item.text.size() > 259)
            item.text.resize(259);
    const int column = static_cast<int>(r->cells.size());
    cell.width = ColumnWidth(column);
    cell.alignment = m_columns[static_cast<std::size_t>(column)].alignment;
    r->cells.push_back(std::move(cell));
    return 1;
}

void CExtendGridModel::DeleteAllRows() { m_rows.clear(); }

GridRow* CExtendGridModel::Row(int row) {
    if (row < 0 || row >= RowCount())
        return nullptr;
    return m_rows[static_cast<std::size_t>(row)].get();
}

const GridRow* CExtendGridModel::Row(int row) const {
    if (row < 0 || row >= RowCount())
        return nullptr;
    return m_rows[static_cast<std::size_t>(row)].get();
}

int CExtendGridModel::GetSelectedRow() const {
    for (const auto& r : m_rows)
        if (r->selected)
            return r->index;
    return -1;
}

int CExtendGridModel::IsFirstBoxChecked(int row) const {
    const GridRow* r = Row(row);
    if (!r || r->cells.empty())
        return 0;
    return r->cells[0].desc.items[0].checked ? 1 : 0;
}

int CExtendGridModel::ContentWidth() const {
    int w = 0;
    for (const auto& c : m_columns)
        w += c.width;
    return w;
}

int CExtendGridModel::ContentHeight() const {
    int h = m_headerHeight;
    for (const auto& r : m_rows)
        h += r->height;
    return h;
}

std::vector<GridItemLayout> CExtendGridModel::LayoutCell(int row, int cellIndex, int cellLeft,
                                                         const TextWidthFn& textWidth) {
    std::vector<GridItemLayout> out;
    GridRow* r = Row(row);
    if (!r || cellIndex < 0 || cellIndex >= static_cast<int>(r->cells.size()))
        return out;
    GridCell& cell = r->cells[static_cast<std::size_t>(cellIndex)];
    const int right = cellLeft + cell.width;
    const int top = r->top, bottom = r->Bottom();
    const int count = static_cast<int>(cell.desc.itemCount);
    out.resize(static_cast<std::size_t>(count));
    int x = cellLeft;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        GridItem& item = cell.desc.items[i];
        GridItemLayout& lay = out[static_cast<std::size_t>(i)];
        lay.drawn = true;
        last = i;
        item.checkRect = {};
        if (item.hasCheckBox) {
            const int boxTop = top + (r->height - 14) / 2;
            lay.hasBox = true;
            lay.box = uigeo::Rect{x + 2, boxTop, x + 16, boxTop + 14};
            item.checkRect = uigeo::Rect{x + 2, boxTop, std::min(x + 16, right), boxTop + 14};
            x += 18;
        }
        if (x + 2 >= right)
            break;
        if (item.icon >= 0) {
            const int free = r->height - 20;
            const int iconTop = top + free / 2;
            lay.hasIcon = true;
            lay.icon = uigeo::Rect{x + 2, iconTop, x + 22, iconTop + ((free & 1) ? 21 : 20)};
            x += 24;
        }
        if (x + 4 >= right)
            break;
        if (!item.text.empty()) {
            lay.hasText = true;
            lay.text = uigeo::Rect{x + 2, top, right - 4, bottom};
            x += (textWidth ? textWidth(item.text) : 0) + 2;
        }
        if (x + 6 >= right)
            break;
        x += 4;
    }
    for (int i = last + 1; i < 4; ++i)
        cell.desc.items[i].checkRect = {};
    return out;
}

void CExtendGridModel::LayoutAll(const TextWidthFn& textWidth) {
    for (auto& r : m_rows) {
        int x = 0;
        for (int c = 0; c < static_cast<int>(r->cells.size()); ++c) {
            LayoutCell(r->index, c, x, textWidth);
            x += r->cells[static_cast<std::size_t>(c)].width;
        }
    }
}

int CExtendGridModel::Click(uigeo::Point p) {
    for (auto& r : m_rows) {
        int width = 0;
        for (const auto& c : r->cells)
            width += c.width;
        if (!uigeo::Rect{0, r->top, width, r->Bottom()}.Contains(p))
            continue;
        bool toggled = false;
        for (std::size_t c = 0; c < r->cells.size() && !toggled; ++c) {
            GridCell& cell = r->cells[c];
            for (std::uint32_t i = 0; i < cell.desc.itemCount && !toggled; ++i) {
                GridItem& item = cell.desc.items[i];
                if (!item.hasCheckBox || !item.checkRect.Contains(p))
                    continue;
                item.checked = !item.checked;
                toggled = true;
                if (item.listener)
                    item.listener->OnCheckBoxChanged(item.checked ? 1 : 0, r->index, static_cast<int>(c),
                                                     static_cast<int>(i));
            }
        }
        Select(r->index);
        return r->index;
    }
    return -1;
}

bool CExtendGridModel::Select(int row) {
    if (!Row(row))
        return false;
    for (auto& r : m_rows)
        r->selected = false;
    Row(row)->selected = true;
    EnsureVisible(row);
    return true;
}

bool CExtendGridModel::SelectPrevious() {
    const int sel = GetSelectedRow();
    return sel > 0 && Select(sel - 1);
}

bool CExtendGridModel::SelectNext() {
    const int sel = GetSelectedRow();
    return sel >= 0 && sel + 1 < RowCount() && Select(sel + 1);
}

void CExtendGridModel::ResizeColumn(int column, int width) {
    if (column < 0 || column >= ColumnCount())
        return;
    width = std::max(0, width);
    for (auto& r : m_rows)
        if (column < static_cast<int>(r->cells.size()))
            r->cells[static_cast<std::size_t>(column)].width = width;
    m_columns[static_cast<std::size_t>(column)].width = width;
    UpdateScrollBars();
}

void CExtendGridModel::SetClientSize(int w, int h) {
    horz.client = std::max(0, w);
    vert.client = std::max(0, h);
}

void CExtendGridModel::UpdateScrollBars() {
    horz.content = ContentWidth();
    vert.content = ContentHeight();
    horz.Update();
    vert.Update();
}

void CExtendGridModel::EnsureVisible(int row) {
    const GridRow* r = Row(row);
    if (!r || vert.page == 0)
        return;
    int pos = vert.pos;
    if (r->top - pos < m_headerHeight)
        pos = r->top - m_headerHeight;
    else if (r->Bottom() - pos > vert.client)
        pos = r->Bottom() - vert.client;
    vert.MoveTo(pos);
}

bool CExtendGridModel::Wheel(int delta) {
    if (vert.page == 0)
        return false;
    return delta > 0 ? vert.LineUp() : vert.LineDown();
}
