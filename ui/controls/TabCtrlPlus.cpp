#include "ui/controls/TabCtrlPlus.h"

#include <algorithm>

#include <wx/dcbuffer.h>

bool CTabCtrlPlus::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxWindow::Create(parent, id, pos, size, wxCLIP_CHILDREN))
        return false;
    m_font = ui::PixelFont(14);
    m_model.SetClientWidth(GetClientSize().x);
    Bind(wxEVT_PAINT, &CTabCtrlPlus::OnPaint, this);
    Bind(wxEVT_SIZE, &CTabCtrlPlus::OnSize, this);
    Bind(wxEVT_LEFT_DOWN, &CTabCtrlPlus::OnDown, this);
    Bind(wxEVT_LEFT_UP, &CTabCtrlPlus::OnUp, this);
    return true;
}

bool CTabCtrlPlus::AddPage(wxWindow* page) {
    if (!page)
        return false;
    if (page->GetParent() != this)
        page->Reparent(this);
    page->Hide();
    page->SetSize(0, 0, 0, 0);
    m_pages.push_back(page);
    m_model.SetPageCount(static_cast<int>(m_pages.size()));
    return true;
}

void CTabCtrlPlus::AddTab(const char* text, int pageIndex) {
    wxClientDC dc(this);
    dc.SetFont(m_font);
    const wxString label = wxString::FromUTF8(text ? text : "");
    m_model.SetClientWidth(GetClientSize().x);
    if (m_model.AddTab(ui::ToUtf8(label), dc.GetTextExtent(label).x, pageIndex)) {
        Refresh();
        Update();
    }
}

void CTabCtrlPlus::DeleteTab(int index) {
    if (m_model.DeleteTab(index))
        SetCurSel(0);
}

void CTabCtrlPlus::SetCurSel(int index) {
    if (!m_model.SetCurSel(index))
        return;
    LayoutPages();
    Refresh();
    Update();
}

wxWindow* CTabCtrlPlus::GetCurPage() const {
    const int page = m_model.GetCurPage();
    return page < 0 ? nullptr : m_pages[static_cast<std::size_t>(page)];
}

void CTabCtrlPlus::LayoutPages() {
    const wxSize c = GetClientSize();
    const uigeo::Rect area = CTabStripModel::PageArea(c.x, c.y);
    wxWindow* current = GetCurPage();
    for (wxWindow* p : m_pages) {
        if (p == current) {
            wxRect r = ui::ToWx(area);
            r.width = std::max(0, r.width);  // a strip squeezed to nothing (a hidden page)
            r.height = std::max(0, r.height);
            p->SetSize(r);
            p->Show();
        } else {
            p->Hide();
            p->SetSize(0, 0, 0, 0);
        }
    }
}

void CTabCtrlPlus::OnSize(wxSizeEvent& e) {
    m_model.SetClientWidth(GetClientSize().x);
    LayoutPages();
    Refresh();
    e.Skip();
}

void CTabCtrlPlus::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(ui::ColorRef(0xCCC7C4)));
    dc.Clear();
    dc.SetFont(m_font);
    for (int i = 0; i < m_model.TabCount(); ++i) {
        const TabItem& t = m_model.Tab(i);
        const wxRect r = ui::ToWx(t.rect);
        dc.SetPen(wxPen(ui::ColorRef(0xBDAA9C)));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(r);
        dc.SetTextForeground(*wxBLACK);
        const int textRight = t.closable ? t.closeBox.left : t.rect.right;
        ui::DrawTextIn(dc, ui::FromUtf8(t.text), wxRect(r.x + 18, r.y, textRight - r.x - 18, r.height),
                       ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
        if (t.closable) {
            dc.SetPen(wxPen(t.closePressed ? ui::ColorRef(0x404040) : ui::ColorRef(0xBDAA9C), 2));
            const uigeo::Rect& b = t.closeBox;
            dc.DrawLine(b.left, b.top, b.right, b.bottom);
            dc.DrawLine(b.right, b.top, b.left, b.bottom);
        }
        if (t.selected) {
            dc.SetPen(wxPen(ui::ColorRef(0xEFDBCE), 1));
            dc.DrawLine(t.rect.left + 1, t.rect.bottom - 1, t.rect.right, t.rect.bottom - 1);
            dc.SetPen(wxPen(ui::ColorRef(0xFF8600), 2));
            dc.DrawLine(t.rect.left + 1, t.rect.top + 1, t.rect.right - 1, t.rect.top + 1);
        }
    }
}

void CTabCtrlPlus::Notify() {
    wxCommandEvent event(EVT_UI_NOTIFY, uires::kMsgSelectionChanged);
    event.SetEventObject(this);
    if (GetParent())
        GetParent()->GetEventHandler()->ProcessEvent(event);
}

void CTabCtrlPlus::OnDown(wxMouseEvent& e) {
    const auto r = m_model.LeftDown(uigeo::Point{e.GetX(), e.GetY()});
    if (r.pressedClose >= 0) {
        CaptureMouse();
        Refresh();
    } else if (r.selectionChanged) {
        LayoutPages();
        Refresh();
        Notify();
    }
}

void CTabCtrlPlus::OnUp(wxMouseEvent& e) {
    if (!m_model.Captured())
        return;
    if (HasCapture())
        ReleaseMouse();
    const int deleted = m_model.LeftUp(uigeo::Point{e.GetX(), e.GetY()});
    if (deleted >= 0) {
        SetCurSel(0);
        Notify();
    }
    Refresh();
}
