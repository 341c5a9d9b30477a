#pragma once
// The sector-range bar of the region page: the selected range is a box on a bar that can be
// dragged as a whole or resized by its two arrow handles. Every change is sent to the parent
// as a wxEVT_BUTTON command event with the control's id.
#include "tools/ImageRegion.h"

#include <wx/wx.h>

class CSectorSelectCtrl : public wxControl {
public:
    CSectorSelectCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    void InitRange(std::uint64_t sectorCount);
    void SetSelection(std::uint64_t start, std::uint64_t end);
    std::uint64_t SelectionStart() const { return m_bar.Start(); }
    std::uint64_t SelectionEnd() const { return m_bar.End(); }
    const imagetool::SectorRangeBar& Bar() const { return m_bar; }
    void SetColours(const wxColour& selection, const wxColour& bar) {
        m_selectionFill = selection;
        m_barFill = bar;
        Refresh();
    }

private:
    void Layout2();
    void Notify();
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnDown(wxMouseEvent&);
    void OnUp(wxMouseEvent&);
    void OnMotion(wxMouseEvent&);
    void OnCaptureLost(wxMouseCaptureLostEvent&);

    imagetool::SectorRangeBar m_bar;
    wxColour m_selectionFill{100, 222, 100};
    wxColour m_barFill{231, 236, 243};
    wxColour m_background{49, 104, 196};
    wxRect m_barRect;
    int m_lastX = 0;
};
