#include "tools/windows/SectorSelectCtrl.h"

#include <wx/dcbuffer.h>

CSectorSelectCtrl::CSectorSelectCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CSectorSelectCtrl::OnPaint, this);
    Bind(wxEVT_SIZE, &CSectorSelectCtrl::OnSize, this);
    Bind(wxEVT_LEFT_DOWN, &CSectorSelectCtrl::OnDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CSectorSelectCtrl::OnDown, this);
    Bind(wxEVT_LEFT_UP, &CSectorSelectCtrl::OnUp, this);
    Bind(wxEVT_MOTION, &CSectorSelectCtrl::OnMotion, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CSectorSelectCtrl::OnCaptureLost, this);
    Layout2();
}

void CSectorSelectCtrl::Layout2() {
    const wxSize c = GetClientSize();
    // Frame: the client less 15 pixels at top and bottom; bar: the frame less 12 at each side.
    m_barRect = wxRect(12, 15, std::max(0, c.x - 24), std::max(0, c.y - 30));
    m_bar.SetGeometry(m_barRect.x, m_barRect.width);
    Refresh();
}

void CSectorSelectCtrl::InitRange(std::uint64_t sectorCount) {
    m_bar.InitRange(sectorCount);
    Layout2();
}

void CSectorSelectCtrl::SetSelection(std::uint64_t start, std::uint64_t end) {
    if (m_bar.SetSelection(start, end)) Notify();
    Refresh();
}

void CSectorSelectCtrl::Notify() {
    wxCommandEvent event(wxEVT_BUTTON, GetId());
    event.SetEventObject(this);
    ProcessWindowEvent(event);
}

void CSectorSelectCtrl::OnSize(wxSizeEvent& e) {
    Layout2();
    e.Skip();
}

void CSectorSelectCtrl::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize c = GetClientSize();
    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(wxBrush(m_background));
    dc.DrawRectangle(0, 0, c.x, c.y);
    dc.SetBrush(wxBrush(m_barFill));
    dc.DrawRectangle(m_barRect);
    const int h = m_barRect.height;
    const int top = m_barRect.y + h / 5;
    const int bottom = m_barRect.y + 4 * h / 5;
    const int mid = (top + bottom) / 2;
    const int left = m_bar.SelectionLeft();
    const int right = m_bar.SelectionRight();
    // Handles with arrows pointing outward.
    dc.SetBrush(wxBrush(m_background));
    dc.DrawRectangle(left - 8, top, 8, bottom - top);
    dc.DrawRectangle(right, top, 8, bottom - top);
    dc.SetPen(*wxBLACK_PEN);
    for (int i = 0; i < 8; ++i) {
        dc.DrawLine(left - 8 + i, mid - i, left - 8 + i, mid + i + 1);
        dc.DrawLine(right + 7 - i, mid - i, right + 7 - i, mid + i + 1);
    }
    if (right > left) {
        wxRect sel(left, m_barRect.y, right - left, m_barRect.height);
        dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT)));
        dc.DrawLine(sel.GetLeft(), sel.GetTop(), sel.GetRight(), sel.GetTop());
        dc.DrawLine(sel.GetLeft(), sel.GetTop(), sel.GetLeft(), sel.GetBottom());
        dc.SetPen(wxPen(wxSystemSettings::GetColour(wxSYS_COLOUR_3DDKSHADOW)));
        dc.DrawLine(sel.GetRight(), sel.GetTop(), sel.GetRight(), sel.GetBottom());
        dc.DrawLine(sel.GetLeft(), sel.GetBottom(), sel.GetRight(), sel.GetBottom());
        sel.Deflate(1);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(m_selectionFill));
        if (sel.width > 0 && sel.height > 0) dc.DrawRectangle(sel);
    }
}

void CSectorSelectCtrl::OnDown(wxMouseEvent& e) {
    if (!HasCapture()) CaptureMouse();
    m_lastX = e.GetX();
    m_bar.BeginDrag(e.GetEventType() == wxEVT_LEFT_DCLICK ? imagetool::SectorRangeBar::kDragNone
                                                          : m_bar.HitTest(e.GetX()));
}

void CSectorSelectCtrl::OnUp(wxMouseEvent&) {
    m_bar.EndDrag();
    if (HasCapture()) ReleaseMouse();
}

void CSectorSelectCtrl::OnCaptureLost(wxMouseCaptureLostEvent&) { m_bar.EndDrag(); }

void CSectorSelectCtrl::OnMotion(wxMouseEvent& e) {
    const auto hit = m_bar.HitTest(e.GetX());
    SetCursor(hit == imagetool::SectorRangeBar::kDragWhole  ? wxCursor(wxCURSOR_SIZING)
              : hit == imagetool::SectorRangeBar::kDragNone ? wxCursor(wxCURSOR_ARROW)
                                                            : wxCursor(wxCURSOR_SIZEWE));
    if (!HasCapture() || m_bar.Mode() == imagetool::SectorRangeBar::kDragNone) return;
    const int dx = e.GetX() - m_lastX;
    m_lastX = e.GetX();
    m_bar.DragBy(dx);
    Refresh();
    Notify();
}
