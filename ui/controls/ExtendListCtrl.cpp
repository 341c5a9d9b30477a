#include "ui/controls/ExtendListCtrl.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>

CExtendHeaderCtrl::CExtendHeaderCtrl(wxWindow* parent, wxWindowID id) : wxHeaderCtrl(parent, id) {
    SetFont(ui::PixelFont(14));
    SetForegroundColour(wxColour(0, 0, 255));
}

void CExtendHeaderCtrl::AppendColumn(const wxHeaderColumnSimple& column) {
    m_columns.push_back(column);
    SetColumnCount(static_cast<unsigned>(m_columns.size()));
}

void CExtendHeaderCtrl::SetColumnWidth(unsigned column, int width) {
    if (column >= m_columns.size())
        return;
    m_columns[column].SetWidth(width);
    UpdateColumn(column);
}

void CExtendHeaderCtrl::SetColumnTitle(unsigned column, const wxString& title) {
    if (column >= m_columns.size())
        return;
    m_columns[column].SetTitle(title);
    UpdateColumn(column);
}

bool CExtendListCtrl::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxWindow::Create(parent, id, pos, size, wxHSCROLL | wxVSCROLL | wxCLIP_CHILDREN | wxWANTS_CHARS | wxBORDER_SIMPLE))
        return false;
    m_font = ui::PixelFont(14);
    m_header = new CExtendHeaderCtrl(this, uires::kIdListHeader);
    m_header->SetSize(0, 0, 20, 20);
    m_model.SetHeaderHeight(std::max(20, m_header->GetBestSize().y));
    Bind(wxEVT_PAINT, &CExtendListCtrl::OnPaint, this);
    Bind(wxEVT_SIZE, &CExtendListCtrl::OnSize, this);
    Bind(wxEVT_SCROLLWIN_TOP, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_BOTTOM, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_LINEUP, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_LINEDOWN, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_PAGEUP, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_PAGEDOWN, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_THUMBTRACK, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_THUMBRELEASE, &CExtendListCtrl::OnScroll, this);
    Bind(wxEVT_MOUSEWHEEL, &CExtendListCtrl::OnWheel, this);
    Bind(wxEVT_LEFT_DOWN, &CExtendListCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CExtendListCtrl::OnLeftDown, this);
    Bind(wxEVT_RIGHT_UP, &CExtendListCtrl::OnRightUp, this);
    Bind(wxEVT_KEY_DOWN, &CExtendListCtrl::OnKey, this);
    m_header->Bind(wxEVT_HEADER_END_RESIZE, &CExtendListCtrl::OnHeaderEndResize, this);
    UpdateScrollBars();
    return true;
}

void CExtendListCtrl::InsertColumn(const std::string& text, int width, int alignment) {
    m_model.InsertColumn(text, width, alignment);
    wxHeaderColumnSimple col(ui::FromUtf8(text), width,
                             alignment == kGridRight ? wxALIGN_RIGHT
                                                     : (alignment == kGridCentre ? wxALIGN_CENTER : wxALIGN_LEFT),
                             wxCOL_RESIZABLE);
    m_header->AppendColumn(col);
    UpdateScrollBars();
}

int CExtendListCtrl::SetCell(int row, const GridCellDesc& desc) {
    const int r = m_model.SetCell(row, desc);
    UpdateScrollBars();
    Refresh();
    return r;
}

void CExtendListCtrl::DeleteAllRows() {
    m_model.DeleteAllRows();
    UpdateScrollBars();
    Refresh();
}

int CExtendListCtrl::TextWidth(const std::string& text) {
    wxClientDC dc(this);
    dc.SetFont(m_font);
    return dc.GetTextExtent(ui::FromUtf8(text)).x;
}

void CExtendListCtrl::UpdateScrollBars() {
    const wxSize c = GetClientSize();
    m_model.SetClientSize(c.x, c.y);
    m_model.UpdateScrollBars();
    ApplyScrollBars();
    PlaceHeader();
}

void CExtendListCtrl::ApplyScrollBars() {
    SetScrollbar(wxHORIZONTAL, m_model.horz.pos, m_model.horz.page, m_model.horz.page ? m_model.horz.rangeMax + 1 : 0);
    SetScrollbar(wxVERTICAL, m_model.vert.pos, m_model.vert.page, m_model.vert.page ? m_model.vert.rangeMax + 1 : 0);
}

void CExtendListCtrl::PlaceHeader() {
    if (!m_header)
        return;
    const wxSize c = GetClientSize();
    m_header->SetSize(-m_model.horz.pos, 0, std::max(c.x, m_model.ContentWidth()) + m_model.horz.pos,
                      m_model.HeaderHeight());
}

wxPoint CExtendListCtrl::ContentToClient(uigeo::Point p) const {
    return wxPoint(p.x - m_model.horz.pos, p.y - m_model.vert.pos);
}

void CExtendListCtrl::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
    dc.Clear();
    dc.SetFont(m_font);
    dc.SetDeviceOrigin(-m_model.horz.pos, -m_model.vert.pos);
    const int visibleBottom = m_model.vert.pos + GetClientSize().y;
    auto widthFn = [this](const std::string& t) { return TextWidth(t); };
    for (int r = 0; r < m_model.RowCount(); ++r) {
        GridRow* row = m_model.Row(r);
        if (row->Bottom() < m_model.vert.pos)
            continue;
        int x = 0;
        for (int c = 0; c < static_cast<int>(row->cells.size()); ++c) {
            GridCell& cell = row->cells[static_cast<std::size_t>(c)];
            const wxRect cellRect(x, row->top, cell.width, row->height);
            dc.SetPen(*wxTRANSPARENT_PEN);
            dc.SetBrush(wxBrush(row->selected ? wxColour(193, 221, 255) : *wxWHITE));
            dc.DrawRectangle(cellRect);
            dc.SetTextForeground(row->selected ? *wxBLACK : ui::ToWx(cell.desc.textColour));
            const auto layout = m_model.LayoutCell(r, c, x, widthFn);
            wxDCClipper clip(dc, cellRect);
            for (std::size_t i = 0; i < layout.size(); ++i) {
                const GridItemLayout& l = layout[i];
                const GridItem& item = cell.desc.items[i];
                if (l.hasBox)
                    wxRendererNative::Get().DrawCheckBox(this, dc, ui::ToWx(l.box), item.checked ? int{wxCONTROL_CHECKED} : 0);
                if (l.hasIcon && item.icon >= 0 && item.icon < static_cast<int>(m_icons.size()))
                    dc.DrawBitmap(m_icons[static_cast<std::size_t>(item.icon)], l.icon.left, l.icon.top, true);
                if (l.hasText) {
                    unsigned flags = ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis;
                    if (cell.alignment == kGridRight)
                        flags |= ui::kTextRight;
                    else if (cell.alignment == kGridCentre)
                        flags |= ui::kTextCenter;
                    ui::DrawTextIn(dc, ui::FromUtf8(item.text), ui::ToWx(l.text), flags);
                }
            }
            x += cell.width;
        }
        if (m_model.vert.page && row->top > visibleBottom)
            break;
    }
}

void CExtendListCtrl::OnSize(wxSizeEvent& e) {
    m_model.horz.pos = 0;
    m_model.vert.pos = 0;
    UpdateScrollBars();
    Refresh();
    e.Skip();
}

void CExtendListCtrl::OnScroll(wxScrollWinEvent& e) {
    ScrollAxis& axis = e.GetOrientation() == wxHORIZONTAL ? m_model.horz : m_model.vert;
    const wxEventType t = e.GetEventType();
    bool changed = false;
    if (t == wxEVT_SCROLLWIN_LINEUP)
        changed = axis.LineUp();
    else if (t == wxEVT_SCROLLWIN_LINEDOWN)
        changed = axis.LineDown();
    else if (t == wxEVT_SCROLLWIN_PAGEUP)
        changed = axis.PageUp();
    else if (t == wxEVT_SCROLLWIN_PAGEDOWN)
        changed = axis.PageDown();
    else if (t == wxEVT_SCROLLWIN_THUMBTRACK || t == wxEVT_SCROLLWIN_THUMBRELEASE)
        changed = axis.MoveTo(e.GetPosition());
    if (changed) {
        ApplyScrollBars();
        PlaceHeader();
        Refresh();
    }
}

void CExtendListCtrl::OnWheel(wxMouseEvent& e) {
    if (m_model.Wheel(e.GetWheelRotation())) {
        ApplyScrollBars();
        Refresh();
    }
}

void CExtendListCtrl::OnLeftDown(wxMouseEvent& e) {
    const wxPoint p = e.GetPosition();
    m_model.LayoutAll([this](const std::string& t) { return TextWidth(t); });
    m_model.Click(uigeo::Point{p.x + m_model.horz.pos, p.y + m_model.vert.pos});
    ApplyScrollBars();
    Refresh();
    SetFocus();
    e.Skip();
}

void CExtendListCtrl::OnRightUp(wxMouseEvent& e) {
    OnLeftDown(e);
    if (m_notify) {
        wxCommandEvent event(EVT_UI_NOTIFY, uires::kMsgGridRightButton);
        event.SetEventObject(this);
        m_notify->GetEventHandler()->ProcessEvent(event);
    }
}

void CExtendListCtrl::OnKey(wxKeyEvent& e) {
    bool moved = false;
    if (e.GetKeyCode() == WXK_UP)
        moved = m_model.SelectPrevious();
    else if (e.GetKeyCode() == WXK_DOWN)
        moved = m_model.SelectNext();
    else
        e.Skip();
    if (moved) {
        ApplyScrollBars();
        Refresh();
    }
}

void CExtendListCtrl::OnColumnResized(int column, int width) {
    m_model.ResizeColumn(column, width);
    if (column >= 0)
        m_header->SetColumnWidth(static_cast<unsigned>(column), width);
    UpdateScrollBars();
    Refresh();
}

void CExtendListCtrl::OnHeaderEndResize(wxHeaderCtrlEvent& e) {
    OnColumnResized(e.GetColumn(), e.GetWidth());
    e.Skip();
}
