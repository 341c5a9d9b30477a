#include "ui/views/DeviceViewModel.h"

#include "ui/controls/Formatting.h"

#include <algorithm>
#include <numeric>

const int kDeviceRowBitmaps[kDeviceKindCount] = {213, 211, 212, 354, 353, 352, 358};
const char* const CDeviceViewModel::kColumnTitles[kColumnCount] = {" Device", " Capacity", " Information"};
const int CDeviceViewModel::kColumnWidths[kColumnCount] = {250, 150, 240};

int DeviceRow::Width() const {
    int w = 0;
    for (const DeviceCell& c : cells)
        w += c.width;
    return w;
}

namespace {
// Without a measuring window: 17 pixels per line.
int DefaultTextHeight(const std::string& text) {
    return 17 * static_cast<int>(1 + std::count(text.begin(), text.end(), '\n'));
}
} // namespace

CDeviceViewModel::CDeviceViewModel(TextHeight textHeight)
    : m_textHeight(textHeight ? std::move(textHeight) : TextHeight(DefaultTextHeight)),
      m_columns(std::begin(kColumnWidths), std::end(kColumnWidths)) {}

void CDeviceViewModel::AddDevice(const DeviceListEntry& entry) {
    DeviceRow row;
    auto width = [this](std::size_t i) { return i < m_columns.size() ? m_columns[i] : 0; };
    const bool knownKind = entry.kind >= 0 && entry.kind < kDeviceKindCount;
    row.cells.push_back({knownKind ? entry.kind : -1, entry.name, width(0)});
    row.cells.push_back({-1, entry.sectorCount ? uifmt::FormatSectorsSize64(entry.sectorCount) : std::string(), width(1)});
    row.cells.push_back({-1, entry.information, width(2)});
    row.top = ScrollHeight();
    row.itemData = entry.itemData;
    int h = 0;
    for (const DeviceCell& c : row.cells) {
        if (c.bitmapKind >= 0)
            h = std::max(h, kBitmapHeight + 10);
        h = std::max(h, m_textHeight(c.text));
    }
    row.height = h;
    m_rows.push_back(std::move(row));
}

void CDeviceViewModel::RemoveAllDevices() { m_rows.clear(); }

void CDeviceViewModel::DeleteDevice(int index) {
    if (index < 0 || index >= Count())
        return;
    m_rows.erase(m_rows.begin() + index);
    Relayout();
}

void CDeviceViewModel::Relayout() {
    int top = 0;
    for (DeviceRow& r : m_rows) {
        r.top = top;
        top += r.height;
    }
}

int CDeviceViewModel::GetSelectedIndex() const {
    for (int i = 0; i < Count(); ++i)
        if (m_rows[static_cast<std::size_t>(i)].selected)
            return i;
    return -1;
}

void CDeviceViewModel::ClearSelection() {
    const int i = GetSelectedIndex();
    if (i >= 0)
        m_rows[static_cast<std::size_t>(i)].selected = false;
}

void* CDeviceViewModel::GetDeviceData(int index) const {
    return index < 0 || index >= Count() ? nullptr : m_rows[static_cast<std::size_t>(index)].itemData;
}

bool CDeviceViewModel::SelectRow(int index) {
    if (index < 0 || index >= Count())
        return false;
    for (DeviceRow& r : m_rows)
        r.selected = false;
    m_rows[static_cast<std::size_t>(index)].selected = true;
    return true;
}

int CDeviceViewModel::ScrollWidth() const { return m_rows.empty() ? 0 : m_rows.front().Width(); }

int CDeviceViewModel::ScrollHeight() const {
    return std::accumulate(m_rows.begin(), m_rows.end(), 0, [](int s, const DeviceRow& r) { return s + r.height; });
}

DeviceViewMessage CDeviceViewModel::ButtonDown(int x, int y) {
    int hit = -1;
    for (int i = 0; i < Count(); ++i) {
        const DeviceRow& r = m_rows[static_cast<std::size_t>(i)];
        if (x >= 0 && x < r.Width() && y >= r.top && y < r.top + r.height) {
            hit = i;
            break;
        }
    }
    // A click on empty space keeps the selection; a click on the selected row changes nothing.
    if (hit < 0 || m_rows[static_cast<std::size_t>(hit)].selected)
        return kDeviceMsgNone;
    SelectRow(hit);
    return kDeviceMsgSelected;
}

DeviceViewMessage CDeviceViewModel::DoubleClick() const {
    return GetSelectedIndex() >= 0 ? kDeviceMsgDoubleClick : kDeviceMsgNone;
}

DeviceViewMessage CDeviceViewModel::RightButtonUp() const {
    return GetSelectedIndex() >= 0 ? kDeviceMsgRightUp : kDeviceMsgNone;
}

bool CDeviceViewModel::KeyUp() {
    const int i = GetSelectedIndex();
    return i > 0 && SelectRow(i - 1);
}

bool CDeviceViewModel::KeyDown() {
    const int i = GetSelectedIndex();
    return i >= 0 && i < Count() - 1 && SelectRow(i + 1);
}

int CDeviceViewModel::ColumnResized(int column, int width) {
    if (column < 0 || column >= static_cast<int>(m_columns.size()))
        return std::accumulate(m_columns.begin(), m_columns.end(), 0);
    m_columns[static_cast<std::size_t>(column)] = std::max(0, width);
    for (DeviceRow& r : m_rows)
        if (column < static_cast<int>(r.cells.size()))
            r.cells[static_cast<std::size_t>(column)].width = m_columns[static_cast<std::size_t>(column)];
    return std::accumulate(m_columns.begin(), m_columns.end(), 0);
}

int CDeviceViewModel::ScrollIntoView(int index, int scrollY, int viewHeight) const {
    if (index < 0 || index >= Count())
        return scrollY;
    const DeviceRow& r = m_rows[static_cast<std::size_t>(index)];
    if (r.top < scrollY)
        return r.top;
    if (r.top + r.height > scrollY + viewHeight)
        return r.top + r.height - viewHeight;
    return scrollY;
}
