#pragma once
// The space chart of the target page: a tilted three-dimensional pie of free, required and used
// space with a legend, inside a group-box frame titled "Selected Partition Information".
#include "ui/controls/PieGeometry.h"
#include "ui/controls/UiCommon.h"

class CPieCtrl : public wxWindow {
public:
    CPieCtrl() = default;
    // The window is at least 180 x 130 pixels.
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    // Sets the amounts and repaints.
    void SetAmounts(std::uint64_t freeBytes, std::uint64_t requiredBytes, std::uint64_t usedBytes);
    void SetBackground(const wxColour& c);

    std::uint64_t freeSpace = 0, requiredSpace = 0, usedSpace = 0;
    wxColour background{241, 241, 241};
    const PieGeometry& Geometry() const { return m_geometry; }
    // The picture as painted last (for checks and screenshots).
    wxImage Render(int w, int h);

private:
    void OnPaint(wxPaintEvent&);
    PieGeometry m_geometry;
};
