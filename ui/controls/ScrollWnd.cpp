#include "ui/controls/ScrollWnd.h"

#include <wx/dcbuffer.h>

bool CScrollWnd::Create(const wxRect& rect, wxWindow* parent) {
    m_parent = parent;
    if (!wxWindow::Create(parent, wxID_ANY, rect.GetPosition(), rect.GetSize(), wxHSCROLL | wxVSCROLL | wxALWAYS_SHOW_SB))
        return false;
    Bind(wxEVT_SCROLLWIN_TOP, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_BOTTOM, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_LINEUP, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_LINEDOWN, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_PAGEUP, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_PAGEDOWN, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_THUMBTRACK, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SCROLLWIN_THUMBRELEASE, &CScrollWnd::OnScroll, this);
    Bind(wxEVT_SIZE, &CScrollWnd::OnSize, this);
    Bind(wxEVT_MOUSEWHEEL, &CScrollWnd::OnWheel, this);
    ShowScrollBars();
    return true;
}

void CScrollWnd::SetContentSize(int width, int height) {
    m_contentW = width;
    m_contentH = height;
}

void CScrollWnd::SetHorzRange(int max) {
    m_horz.max = std::max(0, max);
    Apply(wxHORIZONTAL);
}

void CScrollWnd::SetVertRange(int max) {
    m_vert.max = std::max(0, max);
    Apply(wxVERTICAL);
}

void CScrollWnd::SetHorzPage(int page) {
    m_horz.page = page;
    Apply(wxHORIZONTAL);
}

void CScrollWnd::SetVertPage(int page) {
    m_vert.page = page;
    Apply(wxVERTICAL);
}

void CScrollWnd::Apply(int orientation) {
    const ScrollBarState& s = orientation == wxHORIZONTAL ? m_horz : m_vert;
    const bool shown = orientation == wxHORIZONTAL ? m_horzShown : m_vertShown;
    SetScrollbar(orientation, s.pos, shown ? s.page : 0, shown ? s.max + 1 : 0);
}

void CScrollWnd::ShowScrollBars() {
    const wxSize c = GetClientSize();
    m_horzShown = ScrollBarShown(m_contentW, c.x);
    m_vertShown = ScrollBarShown(m_contentH, c.y);
    Apply(wxHORIZONTAL);
    Apply(wxVERTICAL);
}

void CScrollWnd::Scroll(int orientation, ScrollCode code, int track) {
    ScrollBarState& s = orientation == wxHORIZONTAL ? m_horz : m_vert;
    if (code == ScrollCode::ThumbPosition)
        return;
    s.pos = s.Apply(code, track);
    Apply(orientation);
    if (orientation == wxHORIZONTAL)
        OnHorzOffset(s.pos);
    else
        OnVertOffset(s.pos);
}

void CScrollWnd::OnScroll(wxScrollWinEvent& e) {
    const wxEventType t = e.GetEventType();
    ScrollCode code = ScrollCode::ThumbPosition;
    if (t == wxEVT_SCROLLWIN_LINEUP)
        code = ScrollCode::LineUp;
    else if (t == wxEVT_SCROLLWIN_LINEDOWN)
        code = ScrollCode::LineDown;
    else if (t == wxEVT_SCROLLWIN_PAGEUP)
        code = ScrollCode::PageUp;
    else if (t == wxEVT_SCROLLWIN_PAGEDOWN)
        code = ScrollCode::PageDown;
    else if (t == wxEVT_SCROLLWIN_THUMBTRACK)
        code = ScrollCode::ThumbTrack;
    else if (t == wxEVT_SCROLLWIN_TOP)
        code = ScrollCode::Top;
    else if (t == wxEVT_SCROLLWIN_BOTTOM)
        code = ScrollCode::Bottom;
    Scroll(e.GetOrientation(), code, e.GetPosition());
}

void CScrollWnd::ScrollByWheel(int delta) {
    const int pos = m_vert.Wheel(delta);
    if (pos < 0)
        return;
    m_vert.pos = pos;
    Apply(wxVERTICAL);
    OnVertOffset(pos);
}

void CScrollWnd::OnWheel(wxMouseEvent& e) { ScrollByWheel(e.GetWheelRotation()); }

void CScrollWnd::OnSize(wxSizeEvent& e) {
    ShowScrollBars();
    e.Skip();
}

namespace {
wxWeakRef<wxPopupTransientWindow> g_shownMenu;

class XPMenuWindow : public wxPopupTransientWindow {
public:
    XPMenuWindow(std::vector<CXPMenu::Item> items, wxWindow* owner, const wxColour& bg)
        : wxPopupTransientWindow(owner, wxBORDER_SIMPLE), m_items(std::move(items)), m_owner(owner), m_bg(bg) {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        SetClientSize(CXPMenu::ItemSize().x, CXPMenu::ItemSize().y * static_cast<int>(m_items.size()));
        Bind(wxEVT_PAINT, &XPMenuWindow::OnPaint, this);
        Bind(wxEVT_MOTION, &XPMenuWindow::OnMotion, this);
        Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) { SetHot(-1); });
        Bind(wxEVT_LEFT_UP, &XPMenuWindow::OnUp, this);
    }

private:
    // A dismissed menu is gone: the next popup makes a new window.
    void OnDismiss() override {
        CallAfter([this] { Destroy(); });
    }
    bool Choosable(int index) const {
        return index >= 0 && index < static_cast<int>(m_items.size()) &&
               !m_items[static_cast<std::size_t>(index)].text.empty() && m_items[static_cast<std::size_t>(index)].enabled;
    }
    void SetHot(int hot) {
        if (hot != m_hot) {
            m_hot = hot;
            Refresh();
        }
    }
    void OnPaint(wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(this);
        dc.SetBackground(wxBrush(m_bg));
        dc.Clear();
        dc.SetFont(ui::PixelFont(14));
        const wxSize item = CXPMenu::ItemSize();
        for (std::size_t i = 0; i < m_items.size(); ++i) {
            const auto& it = m_items[i];
            if (it.text.empty())
                continue;
            const wxRect r(0, static_cast<int>(i) * item.y, item.x, item.y);
            if (static_cast<int>(i) == m_hot && it.enabled) {
                dc.SetPen(*wxBLACK_PEN);
                dc.SetBrush(*wxTRANSPARENT_BRUSH);
                dc.DrawRectangle(r);
                dc.SetPen(*wxTRANSPARENT_PEN);
                dc.SetBrush(wxBrush(ui::ColorRef(0xBDBDBD)));
                dc.DrawRectangle(wxRect(r).Deflate(1));
            }
            dc.SetTextForeground(it.enabled ? *wxBLACK : wxColour(150, 150, 150));
            ui::DrawTextIn(dc, ui::FromUtf8(it.text), wxRect(r.x + 8, r.y, r.width - 8, r.height),
                           ui::kTextVCenter | ui::kTextSingleLine);
        }
    }
    void OnMotion(wxMouseEvent& e) { SetHot(e.GetY() / CXPMenu::ItemSize().y); }
    void OnUp(wxMouseEvent& e) {
        const int index = e.GetY() / CXPMenu::ItemSize().y;
        if (!Choosable(index))
            return;
        wxCommandEvent event(wxEVT_MENU, m_items[static_cast<std::size_t>(index)].id);
        event.SetEventObject(m_owner);
        wxPostEvent(m_owner, event);
        Dismiss();
    }
    std::vector<CXPMenu::Item> m_items;
    wxWindow* m_owner;
    wxColour m_bg;
    int m_hot = -1;
};
} // namespace

void CXPMenu::Append(int id, const std::string& text, bool enabled) { m_items.push_back({id, text, enabled}); }

void CXPMenu::Enable(int id, bool enabled) {
    for (Item& it : m_items)
        if (it.id == id && !it.text.empty())
            it.enabled = enabled;
}

void CXPMenu::Popup(wxWindow* owner, const wxPoint& screenPos) {
    if (g_shownMenu)
        g_shownMenu->Dismiss();
    auto* w = new XPMenuWindow(m_items, owner, m_background);
    m_window = w;
    g_shownMenu = w;
    w->Position(screenPos, wxSize(0, 0));
    w->Popup();
}

void CXPMenu::PopupAtPointer(wxWindow* owner) { Popup(owner, wxGetMousePosition()); }

wxPopupTransientWindow* CXPMenu::Shown() { return g_shownMenu.get(); }
