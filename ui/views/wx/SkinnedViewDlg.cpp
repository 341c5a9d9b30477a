#include "ui/views/wx/SkinnedViewDlg.h"

#include "ui/controls/DrawHelpers.h"
#include "ui/controls/Resources.h"

#include <wx/dcbuffer.h>
#include <wx/display.h>

CMaximiseButton::CMaximiseButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, Glyph glyph)
    : wxWindow(parent, id, pos, wxSize(22, 22), wxBORDER_NONE), m_glyph(glyph) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CMaximiseButton::OnPaint, this);
    Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent&) { m_hover = true; Refresh(); });
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) { m_hover = m_pressed = false; Refresh(); });
    Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent&) { m_pressed = true; Refresh(); });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) {
        const bool click = m_pressed;
        m_pressed = false;
        Refresh();
        if (click) {
            wxCommandEvent ev(wxEVT_BUTTON, GetId());
            ev.SetEventObject(this);
            ProcessWindowEvent(ev);
        }
    });
}

void CMaximiseButton::SetRestore(bool restore) {
    m_restore = restore;
    Refresh();
}

void CMaximiseButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxColour(214, 214, 214)));
    dc.Clear();
    const wxColour fill = m_pressed ? wxColour(60, 70, 88) : m_hover ? wxColour(104, 118, 140) : wxColour(82, 92, 110);
    dc.SetPen(wxPen(wxColour(40, 44, 52)));
    dc.SetBrush(wxBrush(fill));
    dc.DrawRoundedRectangle(1, 1, 20, 20, 4);
    dc.SetPen(wxPen(*wxWHITE, 2));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    if (m_glyph == kMinimise) {
        dc.DrawLine(6, 15, 16, 15);
    } else if (m_restore) {
        dc.DrawRectangle(9, 6, 7, 6);
        dc.DrawRectangle(6, 10, 7, 6);
    } else {
        dc.DrawRectangle(6, 6, 10, 10);
    }
}

CSkinnedViewDlg::CSkinnedViewDlg(int templateId, wxWindow* parent, const wxString& title,
                                 const wxSize& clientSize, bool resizable, const wxSize& minimum)
    : CSearchSuperDlg(templateId, parent), m_caption(title), m_initialSize(clientSize), m_minimum(minimum),
      m_resizable(resizable), m_rim(this, kRim, minimum) {
    if (resizable)
        SetResizable();
}

void CSkinnedViewDlg::OnInitDialog() {
    SetTitle(m_caption);
    ApplyShape();
    SetBackgroundColour(wxColour(241, 241, 241));
    m_body = new wxPanel(this, wxID_ANY);
    m_body->SetBackgroundColour(wxColour(241, 241, 241));
    m_close = new CButtonPlus(uires::kBmpCloseNormal, uires::kBmpCloseHover, uires::kBmpClosePressed,
                              uires::kBmpCloseDisabled);
    m_close->Create(this, uires::MapControlId(uires::kIdCloseButton), wxPoint(0, 7));
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(CloseResult()); });
    if (m_resizable) {
        m_maximise = new CMaximiseButton(this, 1031, wxPoint(0, 7));
        m_maximise->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ToggleMaximise(); });
        m_minimise = new CMaximiseButton(this, 1030, wxPoint(0, 7), CMaximiseButton::kMinimise);
        m_minimise->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { MinimiseWindow(); });
        m_icon = CaptionIcon();
        Bind(wxEVT_MENU, &CSkinnedViewDlg::OnSystemCommand, this);
    }
    // The skin is painted here: the kit's frame with this dialog's title in the tab.
    Bind(wxEVT_PAINT, &CSkinnedViewDlg::OnPaint, this);
    Bind(wxEVT_SIZE, &CSkinnedViewDlg::OnSize, this);
    if (m_resizable) {
        Bind(wxEVT_LEFT_DCLICK, &CSkinnedViewDlg::OnCaptionDoubleClick, this);
        Bind(wxEVT_LEFT_DOWN, &CSkinnedViewDlg::OnRimDown, this);
        Bind(wxEVT_MOTION, &CSkinnedViewDlg::OnRimMotion, this);
        Bind(wxEVT_LEFT_UP, &CSkinnedViewDlg::OnRimUp, this);
        Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { m_rim.OnCaptureLost(); });
    }
    Place();
    CentreOnParent();
}

void CSkinnedViewDlg::SetCaption(const wxString& title) {
    m_caption = title;
    SetTitle(title);
    Refresh();
}

void CSkinnedViewDlg::Place() {
    if (!m_body)
        return;
    const wxSize c = GetClientSize();
    m_body->SetSize(kRim, kCaptionHeight, std::max(0, c.x - 2 * kRim), std::max(0, c.y - kCaptionHeight - kRim));
    m_close->MoveTo(c.x - 25, 7);
    if (m_maximise)
        m_maximise->Move(c.x - 47, 7);
    if (m_minimise)
        m_minimise->Move(c.x - 69, 7);
    ApplyShape();
    Refresh();
}

void CSkinnedViewDlg::OnSize(wxSizeEvent& e) {
    Place();
    e.Skip();
}

void CSkinnedViewDlg::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    dc.SetFont(ui::PixelFont(14, 700));
    const int textWidth = dc.GetTextExtent(m_caption).x;
    const int inset = std::max(40, (s.x - textWidth - 60) / 2);
    DrawSkinFrame(dc, s.x, s.y, inset);
    if (m_icon.IsOk())
        dc.DrawBitmap(m_icon, IconRect().GetPosition(), true);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(wxColour(238, 237, 237));
    ui::DrawTextIn(dc, m_caption, wxRect(inset + 4, 2, std::max(0, s.x - 2 * inset - 8), 18),
                   ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
}

void CSkinnedViewDlg::ToggleMaximise() {
    if (m_maximised) {
        m_maximised = false;
        SetSize(m_restoreRect);
        if (m_maximise)
            m_maximise->SetRestore(false);
        m_rim.Enable(true);
    } else {
        m_restoreRect = GetRect();
        m_maximised = true;
        const int display = wxDisplay::GetFromWindow(this);
        const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
        SetSize(area);
        if (m_maximise)
            m_maximise->SetRestore(true);
        m_rim.Enable(false);
    }
    Place();
}

void CSkinnedViewDlg::ResizeTo(const wxSize& clientSize) {
    SetClientSize(wxSize(std::max(clientSize.x, m_minimum.x), std::max(clientSize.y, m_minimum.y)));
    Place();
}

void CSkinnedViewDlg::OnCaptionDoubleClick(wxMouseEvent& e) {
    if (e.GetPosition().y < 30)
        ToggleMaximise();
    else
        e.Skip();
}

void CSkinnedViewDlg::OnRimDown(wxMouseEvent& e) {
    if (m_rim.OnDown(e))
        return;
    if (IconRect().Contains(e.GetPosition())) {
        ShowSystemMenu();
        return;
    }
    e.Skip();
}

void CSkinnedViewDlg::OnRimMotion(wxMouseEvent& e) {
    if (!m_rim.OnMotion(e))
        e.Skip();
}

void CSkinnedViewDlg::OnRimUp(wxMouseEvent& e) {
    if (!m_rim.OnUp(e))
        e.Skip();
}

void CSkinnedViewDlg::ShowSystemMenu() {
    MakeSystemMenu(m_maximised).Popup(this, ClientToScreen(IconRect().GetBottomLeft() + wxPoint(0, 1)));
}

void CSkinnedViewDlg::OnSystemCommand(wxCommandEvent& e) {
    if (e.GetEventObject() != this ||
        !RunSystemCommand(e.GetId(), m_maximised,
                          {[this] { ToggleMaximise(); }, [this] { MinimiseWindow(); }, [this] { EndDialog(CloseResult()); }}))
        e.Skip();
}
