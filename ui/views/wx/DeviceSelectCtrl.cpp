#include "ui/views/wx/DeviceSelectCtrl.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcbuffer.h>
#include <wx/headerctrl.h>

namespace {
const wxColour kSelectedFill(193, 219, 255);
constexpr int kNoteMargin = 10; // around the note under the rows
} // namespace

CDeviceSelectCtrl::CDeviceSelectCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxCLIP_CHILDREN | wxBORDER_NONE),
      m_model([this](const std::string& text) {
          wxClientDC dc(this);
          dc.SetFont(m_font);
          wxCoord w = 0, h = 0;
          dc.GetMultiLineTextExtent(ui::FromUtf8(text), &w, &h);
          return static_cast<int>(h);
      }),
      m_font(ui::PixelFont(15, 400, "Arial")) {
    m_header = new CExtendHeaderCtrl(this, kHeaderId);
    for (int i = 0; i < CDeviceViewModel::kColumnCount; ++i)
        m_header->AppendColumn(wxHeaderColumnSimple(CDeviceViewModel::kColumnTitles[i], CDeviceViewModel::kColumnWidths[i],
                                                    wxALIGN_LEFT, wxCOL_RESIZABLE));
    m_view = new CDeviceSelectView(this, kViewId);
    Bind(wxEVT_SIZE, &CDeviceSelectCtrl::OnSize, this);
    m_header->Bind(wxEVT_HEADER_END_RESIZE, &CDeviceSelectCtrl::OnHeaderEndResize, this);
    m_header->Bind(wxEVT_HEADER_RESIZING, [](wxHeaderCtrlEvent& e) { e.Skip(); });
}

void CDeviceSelectCtrl::LoadRowBitmaps(const int (&ids)[kDeviceKindCount]) {
    for (int i = 0; i < kDeviceKindCount; ++i)
        m_bitmaps[i] = LoadBitmapResource(ids[i]);
}

void CDeviceSelectCtrl::OnSize(wxSizeEvent& e) {
    const wxSize s = GetClientSize();
    m_header->SetSize(m_header->GetPosition().x, 0, std::max(s.x, m_header->GetSize().x), kHeaderHeight);
    m_view->SetSize(0, kHeaderHeight, s.x, std::max(0, s.y - kHeaderHeight));
    if (!m_note.empty())
        UpdateScrollSizes(); // the note's lines follow the width
    AlignHeader();
    e.Skip();
}

void CDeviceSelectCtrl::AlignHeader() {
    int x = 0, y = 0;
    m_view->GetViewStart(&x, &y);
    int ppuX = 1, ppuY = 1;
    m_view->GetScrollPixelsPerUnit(&ppuX, &ppuY);
    const int scrolled = x * ppuX;
    const int width = std::max(GetClientSize().x, m_model.ScrollWidth()) + scrolled;
    m_header->SetSize(-scrolled, 0, width, kHeaderHeight);
}

void CDeviceSelectCtrl::UpdateScrollSizes() {
    int width = m_model.ScrollWidth(), height = m_model.ScrollHeight();
    if (!m_note.empty()) {
        wxClientDC dc(m_view);
        dc.SetFont(m_font);
        const std::vector<wxString> lines = NoteLines(dc, NoteWidth());
        height = NoteTop() + static_cast<int>(lines.size()) * dc.GetCharHeight() + kNoteMargin;
        for (const wxString& line : lines)
            width = std::max(width, kNoteMargin * 2 + dc.GetTextExtent(line).x);
    }
    m_view->SetVirtualSize(width, height);
    m_view->Refresh();
}

void CDeviceSelectCtrl::SetNote(const std::string& text) {
    if (text == m_note)
        return;
    m_note = text;
    UpdateScrollSizes();
}

int CDeviceSelectCtrl::NoteTop() const { return m_model.ScrollHeight() + kNoteMargin; }

int CDeviceSelectCtrl::NoteWidth() const { return m_view->GetClientSize().x - 2 * kNoteMargin; }

std::vector<wxString> CDeviceSelectCtrl::ShownNoteLines() const {
    wxClientDC dc(m_view);
    dc.SetFont(m_font);
    return NoteLines(dc, NoteWidth());
}

std::vector<wxString> CDeviceSelectCtrl::NoteLines(wxDC& dc, int width) const {
    std::vector<wxString> lines;
    wxString line;
    for (const wxString& word : wxSplit(ui::FromUtf8(m_note), ' ', '\0')) {
        const wxString longer = line.empty() ? word : line + ' ' + word;
        if (!line.empty() && dc.GetTextExtent(longer).x > width) {
            lines.push_back(line);
            line = word;
        } else {
            line = longer;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

void CDeviceSelectCtrl::RemoveAllDevices() {
    m_model.RemoveAllDevices();
    UpdateScrollSizes();
}

void CDeviceSelectCtrl::AddDevice(const DeviceListEntry& entry) {
    std::vector<int> widths;
    for (int i = 0; i < CDeviceViewModel::kColumnCount; ++i)
        widths.push_back(m_header->ColumnWidth(static_cast<unsigned>(i)));
    m_model.SetColumnWidths(widths);
    m_model.AddDevice(entry);
    UpdateScrollSizes();
}

void CDeviceSelectCtrl::DeleteDevice(int index) {
    m_model.DeleteDevice(index);
    UpdateScrollSizes();
}

void CDeviceSelectCtrl::ClearSelection() {
    m_model.ClearSelection();
    m_view->Refresh();
}

void CDeviceSelectCtrl::SelectRow(int index) {
    if (!m_model.SelectRow(index))
        return;
    m_view->ScrollRowIntoView(index);
    m_view->Refresh();
}

void CDeviceSelectCtrl::OnColumnDragged(int column, int width) {
    m_header->SetColumnWidth(static_cast<unsigned>(column), width);
    m_model.ColumnResized(column, width);
    UpdateScrollSizes();
    AlignHeader();
}

void CDeviceSelectCtrl::OnHeaderEndResize(wxHeaderCtrlEvent& e) {
    OnColumnDragged(e.GetColumn(), e.GetWidth());
}

void CDeviceSelectCtrl::Notify(int message) {
    if (message == kDeviceMsgNone || !GetParent())
        return;
    wxCommandEvent ev(EVT_UI_NOTIFY, message);
    ev.SetEventObject(this);
    GetParent()->GetEventHandler()->ProcessEvent(ev);
}

CDeviceSelectView::CDeviceSelectView(CDeviceSelectCtrl* owner, wxWindowID id)
    : wxScrolled<wxWindow>(owner, id, wxPoint(0, CDeviceSelectCtrl::kHeaderHeight), wxDefaultSize,
                           wxHSCROLL | wxVSCROLL | wxWANTS_CHARS | wxBORDER_NONE),
      m_owner(owner) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetScrollRate(1, 1);
    Bind(wxEVT_PAINT, &CDeviceSelectView::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CDeviceSelectView::OnButtonDown, this);
    Bind(wxEVT_RIGHT_DOWN, &CDeviceSelectView::OnButtonDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CDeviceSelectView::OnDoubleClick, this);
    Bind(wxEVT_RIGHT_UP, &CDeviceSelectView::OnRightUp, this);
    Bind(wxEVT_KEY_DOWN, &CDeviceSelectView::OnKey, this);
    for (auto type : {wxEVT_SCROLLWIN_TOP, wxEVT_SCROLLWIN_BOTTOM, wxEVT_SCROLLWIN_LINEUP, wxEVT_SCROLLWIN_LINEDOWN,
                      wxEVT_SCROLLWIN_PAGEUP, wxEVT_SCROLLWIN_PAGEDOWN, wxEVT_SCROLLWIN_THUMBTRACK,
                      wxEVT_SCROLLWIN_THUMBRELEASE})
        Bind(type, &CDeviceSelectView::OnScroll, this);
}

void CDeviceSelectView::ScrollRowIntoView(int index) {
    int x = 0, y = 0;
    GetViewStart(&x, &y);
    const int ny = m_owner->m_model.ScrollIntoView(index, y, GetClientSize().y);
    if (ny != y)
        Scroll(x, ny);
}

void CDeviceSelectView::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    DoPrepareDC(dc);
    const wxPoint origin = CalcUnscrolledPosition(wxPoint(0, 0));
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(wxRect(origin, GetClientSize()));
    dc.SetFont(m_owner->m_font);
    dc.SetTextForeground(*wxBLACK);
    const CDeviceViewModel& m = m_owner->m_model;
    for (int i = 0; i < m.Count(); ++i) {
        const DeviceRow& row = m.Row(i);
        int x = 0;
        for (const DeviceCell& cell : row.cells) {
            const wxRect rc(x, row.top, cell.width, row.height);
            x += cell.width;
            dc.SetBrush(wxBrush(row.selected ? kSelectedFill : *wxWHITE));
            dc.DrawRectangle(rc);
            int textLeft = rc.x + 4;
            if (cell.bitmapKind >= 0 && m_owner->m_bitmaps[cell.bitmapKind].IsOk()) {
                const wxBitmap& bmp = m_owner->m_bitmaps[cell.bitmapKind];
                dc.DrawBitmap(bmp, rc.x + 2, rc.y + (row.height - bmp.GetHeight()) / 2, true);
                textLeft += bmp.GetWidth();
            }
            const wxRect textRect(textLeft, rc.y, rc.GetRight() + 1 - textLeft, rc.height);
            if (textRect.width <= 0)
                continue;
            const wxString text = ui::FromUtf8(cell.text);
            dc.SetClippingRegion(textRect);
            if (text.Find('\n') == wxNOT_FOUND)
                ui::DrawTextIn(dc, text, textRect, ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
            else {
                wxString plain = text;
                plain.Replace("\r", "");
                wxCoord w = 0, h = 0;
                dc.GetMultiLineTextExtent(plain, &w, &h);
                dc.DrawText(plain, textRect.x, textRect.y + (textRect.height - h) / 2);
            }
            dc.DestroyClippingRegion();
        }
    }
    if (!m_owner->m_note.empty()) {
        int y = m_owner->NoteTop();
        for (const wxString& line : m_owner->NoteLines(dc, m_owner->NoteWidth())) {
            dc.DrawText(line, kNoteMargin, y);
            y += dc.GetCharHeight();
        }
    }
}

void CDeviceSelectView::OnButtonDown(wxMouseEvent& e) {
    SetFocus();
    const wxPoint p = CalcUnscrolledPosition(e.GetPosition());
    const DeviceViewMessage msg = m_owner->m_model.ButtonDown(p.x, p.y);
    if (msg != kDeviceMsgNone) {
        ScrollRowIntoView(m_owner->m_model.GetSelectedIndex());
        Refresh();
        m_owner->Notify(msg);
    }
    e.Skip();
}

void CDeviceSelectView::OnDoubleClick(wxMouseEvent& e) {
    m_owner->Notify(m_owner->m_model.DoubleClick());
    e.Skip();
}

void CDeviceSelectView::OnRightUp(wxMouseEvent& e) {
    m_owner->Notify(m_owner->m_model.RightButtonUp());
    e.Skip();
}

void CDeviceSelectView::OnKey(wxKeyEvent& e) {
    bool moved = false;
    if (e.GetKeyCode() == WXK_UP)
        moved = m_owner->m_model.KeyUp();
    else if (e.GetKeyCode() == WXK_DOWN)
        moved = m_owner->m_model.KeyDown();
    else {
        e.Skip();
        return;
    }
    if (moved) {
        ScrollRowIntoView(m_owner->m_model.GetSelectedIndex());
        Refresh();
    }
}

void CDeviceSelectView::OnScroll(wxScrollWinEvent& e) {
    e.Skip();
    CallAfter([this] { m_owner->AlignHeader(); });
}
