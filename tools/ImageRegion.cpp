#include "tools/ImageRegion.h"

#include <algorithm>

namespace imagetool {

bool ParseSectorNumber(const std::string& text, std::uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

RegionError ParseRegion(const std::string& firstText, const std::string& lastText,
                        std::uint64_t sectorCount, SectorRegion* region) {
    if (sectorCount == 0) return RegionError::EmptySource;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (!ParseSectorNumber(firstText, &first)) return RegionError::BadFirst;
    if (!ParseSectorNumber(lastText, &last)) return RegionError::BadLast;
    if (last >= sectorCount) return RegionError::LastBeyondEnd;
    if (first > last) return RegionError::FirstAfterLast;
    region->first = first;
    region->last = last;
    return RegionError::None;
}

void SectorRangeBar::InitRange(std::uint64_t sectorCount) {
    m_count = sectorCount == 0 ? 1 : sectorCount;
    m_last = m_count - 1;
    m_start = 0;
    m_end = m_last;
    SetGeometry(m_barLeft, m_barWidth);
}

void SectorRangeBar::SetGeometry(int barLeft, int barWidth) {
    m_barLeft = barLeft;
    m_barWidth = std::max(0, barWidth);
    m_scale = (m_barWidth > 0 && m_last > 0) ? static_cast<double>(m_last) / m_barWidth : 0.0;
    UpdatePixels();
}

bool SectorRangeBar::SetSelection(std::uint64_t start, std::uint64_t end) {
    bool reset = false;
    if (start > end || start > m_last || end > m_last) {
        start = 0;
        end = m_last;
        reset = true;
    }
    m_start = start;
    m_end = end;
    UpdatePixels();
    return reset;
}

int SectorRangeBar::PixelOfSector(std::uint64_t sector) const {
    if (m_scale <= 0.0) return sector == 0 ? m_barLeft : BarRight();
    if (sector >= m_last) return BarRight();
    const double px = static_cast<double>(sector) / m_scale;
    const int offset = static_cast<int>(std::min<double>(px, m_barWidth));
    return m_barLeft + offset;
}

std::uint64_t SectorRangeBar::SectorOfPixel(int x) const {
    if (x <= m_barLeft) return 0;
    if (x >= BarRight() || m_scale <= 0.0) return m_last;
    const double s = static_cast<double>(x - m_barLeft) * m_scale;
    if (s >= static_cast<double>(m_last)) return m_last;
    return static_cast<std::uint64_t>(s);
}

void SectorRangeBar::UpdatePixels() {
    m_selLeft = PixelOfSector(m_start);
    m_selRight = m_last == 0 ? BarRight() : PixelOfSector(m_end);
    if (m_selRight < m_selLeft) m_selRight = m_selLeft;
}

SectorRangeBar::DragMode SectorRangeBar::HitTest(int x) const {
    if (x > m_selLeft && x < m_selRight) return kDragWhole;
    if (x >= m_selLeft - kHandleWidth && x <= m_selLeft) return kDragLeft;
    if (x >= m_selRight && x <= m_selRight + kHandleWidth) return kDragRight;
    return kDragNone;
}

void SectorRangeBar::DragBy(int dx) {
    switch (m_mode) {
    case kDragWhole: {
        const std::uint64_t length = m_end - m_start;
        const int width = m_selRight - m_selLeft;
        if (width > m_barWidth) return;
        const int left = std::clamp(m_selLeft + dx, m_barLeft, BarRight() - width);
        std::uint64_t start = dx == 0 ? m_start : SectorOfPixel(left);
        // Pushed against an end of the bar, the selection reaches that end of the source.
        if (dx > 0 && left + width >= BarRight()) start = m_last - length;
        if (start > m_last - length) start = m_last - length;
        m_start = start;
        m_end = start + length;
        break;
    }
    case kDragLeft: {
        const int left = std::clamp(m_selLeft + dx, m_barLeft, m_selRight);
        m_start = std::min(SectorOfPixel(left), m_end);
        break;
    }
    case kDragRight: {
        const int right = std::clamp(m_selRight + dx, m_selLeft, BarRight());
        m_end = std::max(SectorOfPixel(right), m_start);
        break;
    }
    default:
        return;
    }
    UpdatePixels();
}

}  // namespace imagetool
