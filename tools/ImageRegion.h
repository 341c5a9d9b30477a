#pragma once
// The imaged region of a source: texts of the region page, the region check and the
// sector-range bar's arithmetic between pixels and sectors (all in 64 bits).
#include <cstdint>
#include <string>

namespace imagetool {

// Digits only (no sign, no blanks), at least one, value within 64 bits.
bool ParseSectorNumber(const std::string& text, std::uint64_t* value);

enum class RegionError { None, BadFirst, BadLast, FirstAfterLast, LastBeyondEnd, EmptySource };

struct SectorRegion {
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive
    std::uint64_t Size() const { return last - first + 1; }
};

// Accepts the region only when first <= last < sectorCount.
RegionError ParseRegion(const std::string& firstText, const std::string& lastText,
                        std::uint64_t sectorCount, SectorRegion* region);

// The bar of the region page: the selection is kept in sectors (inclusive) and shown in pixels
// on a bar [barLeft, barLeft + barWidth]. A source of one sector or a bar of no width shows the
// whole bar selected.
class SectorRangeBar {
public:
    enum DragMode { kDragNone = 0, kDragLeft = 1, kDragRight = 2, kDragWhole = 4 };

    // The source's size; the selection becomes the whole source.
    void InitRange(std::uint64_t sectorCount);
    // The bar's pixel extent; the selection keeps its sectors.
    void SetGeometry(int barLeft, int barWidth);

    // Stores the selection; an invalid one (start > end or beyond the last sector) becomes the
    // whole source and true is returned (the parent is then told of the change).
    bool SetSelection(std::uint64_t start, std::uint64_t end);
    std::uint64_t Start() const { return m_start; }
    std::uint64_t End() const { return m_end; }
    std::uint64_t LastSector() const { return m_last; }

    int BarRight() const { return m_barLeft + m_barWidth; }
    int SelectionLeft() const { return m_selLeft; }
    int SelectionRight() const { return m_selRight; }
    double Scale() const { return m_scale; }

    int PixelOfSector(std::uint64_t sector) const;
    std::uint64_t SectorOfPixel(int x) const;

    // Mouse: press picks the drag mode from where x lies (handles are 8 pixels outside the
    // selection's edges); each move drags by dx and updates the selection in sectors.
    DragMode HitTest(int x) const;
    void BeginDrag(DragMode mode) { m_mode = mode; }
    void DragBy(int dx);
    void EndDrag() { m_mode = kDragNone; }
    DragMode Mode() const { return m_mode; }

    static constexpr int kHandleWidth = 8;

private:
    void UpdatePixels();

    std::uint64_t m_count = 1;
    std::uint64_t m_last = 0;
    std::uint64_t m_start = 0;
    std::uint64_t m_end = 0;
    int m_barLeft = 0;
    int m_barWidth = 0;
    int m_selLeft = 0;
    int m_selRight = 0;
    double m_scale = 0.0;
    DragMode m_mode = kDragNone;
};

}  // namespace imagetool
