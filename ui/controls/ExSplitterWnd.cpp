#include "ui/controls/ExSplitterWnd.h"

#include <wx/dcbuffer.h>

bool CExSplitterWnd::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxWindow::Create(parent, id, pos, size, wxCLIP_CHILDREN))
        return false;
    Bind(wxEVT_PAINT, &CExSplitterWnd::OnPaint, this);
    Bind(wxEVT_SIZE, &CExSplitterWnd::OnSize, this);
    Bind(wxEVT_LEFT_DOWN, &CExSplitterWnd::OnDown, this);
    Bind(wxEVT_MOTION, &CExSplitterWnd::OnMotion, this);
    Bind(wxEVT_LEFT_UP, &CExSplitterWnd::OnUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CExSplitterWnd::OnLost, this);
    return true;
}

int CExSplitterWnd::Extent() const {
    const wxSize c = GetClientSize();
    return layout.orientation == 2 ? c.x : c.y;
}

int CExSplitterWnd::SecondPaneSize() const { return std::max(0, Extent() - kBarSize - m_first); }

wxRect CExSplitterWnd::BarRect() const {
    const wxSize c = GetClientSize();
    return layout.orientation == 2 ? wxRect(m_first, 0, kBarSize, c.y) : wxRect(0, m_first, c.x, kBarSize);
}

void CExSplitterWnd::SetPanes(wxWindow* first, wxWindow* second) {
    m_panes[0] = first;
    m_panes[1] = second;
    const int extent = Extent();
    m_first = layout.Initial(extent, extent - kBarSize);
    if (layout.orientation == 0)
        m_first = (extent - kBarSize) / 2;
    m_initialised = true;
    Apply();
}

void CExSplitterWnd::Apply() {
    const wxSize c = GetClientSize();
    // A splitter squeezed to nothing (a hidden page) keeps its panes' sizes for later.
    if (Extent() <= kBarSize)
        return;
    m_first = std::max(0, std::min(m_first, Extent() - kBarSize));
    if (layout.orientation == 2) {
        if (m_panes[0])
            m_panes[0]->SetSize(0, 0, m_first, c.y);
        if (m_panes[1])
            m_panes[1]->SetSize(m_first + kBarSize, 0, std::max(0, SecondPaneSize()), c.y);
    } else {
        if (m_panes[0])
            m_panes[0]->SetSize(0, 0, c.x, m_first);
        if (m_panes[1])
            m_panes[1]->SetSize(0, m_first + kBarSize, c.x, std::max(0, SecondPaneSize()));
    }
    Refresh();
}

void CExSplitterWnd::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(barColour));
    dc.Clear();
}

void CExSplitterWnd::OnSize(wxSizeEvent& e) {
    if (m_initialised) {
        m_first = layout.Resized(Extent(), m_first);
        Apply();
    }
    e.Skip();
}

void CExSplitterWnd::OnDown(wxMouseEvent& e) {
    if (!BarRect().Contains(e.GetPosition()))
        return;
    m_dragging = true;
    m_dragOffset = (layout.orientation == 2 ? e.GetX() : e.GetY()) - m_first;
    CaptureMouse();
}

void CExSplitterWnd::OnMotion(wxMouseEvent& e) {
    SetCursor(wxCursor(layout.orientation == 2 ? wxCURSOR_SIZEWE : wxCURSOR_SIZENS));
    if (!m_dragging)
        return;
    m_first = (layout.orientation == 2 ? e.GetX() : e.GetY()) - m_dragOffset;
    Apply();
}

void CExSplitterWnd::OnUp(wxMouseEvent& e) {
    if (!m_dragging)
        return;
    m_dragging = false;
    if (HasCapture())
        ReleaseMouse();
    m_first = layout.Dragged(Extent(), (layout.orientation == 2 ? e.GetX() : e.GetY()) - m_dragOffset);
    Apply();
}

void CExSplitterWnd::OnLost(wxMouseCaptureLostEvent&) { m_dragging = false; }
