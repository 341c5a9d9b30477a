#include "ui/controls/ButtonPlus.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/StringTable.h"

#include <wx/dcbuffer.h>

CButtonPlus::CButtonPlus(int normal, int hover, int pressed, int disabled) {
    SetButtonBitmaps(normal, hover, pressed, disabled);
}

bool CButtonPlus::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const wxSize size = m_bitmaps[0].IsOk() ? m_bitmaps[0].GetSize() : wxSize(20, 20);
    if (!wxControl::Create(parent, id, pos, size, wxBORDER_NONE | wxCLIP_CHILDREN))
        return false;
    SetInitialSize(size);
    Bind(wxEVT_PAINT, &CButtonPlus::OnPaint, this);
    Bind(wxEVT_ENTER_WINDOW, &CButtonPlus::OnEnter, this);
    Bind(wxEVT_LEAVE_WINDOW, &CButtonPlus::OnLeave, this);
    Bind(wxEVT_LEFT_DOWN, &CButtonPlus::OnDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CButtonPlus::OnDown, this);
    Bind(wxEVT_LEFT_UP, &CButtonPlus::OnUp, this);
    Bind(wxEVT_MOTION, &CButtonPlus::OnMotion, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CButtonPlus::OnCaptureLost, this);
    Bind(wxEVT_KEY_DOWN, &CButtonPlus::OnKey, this);
    return true;
}

void CButtonPlus::SetButtonBitmaps(int normal, int hover, int pressed, int disabled) {
    m_bitmaps[0] = LoadBitmapResource(normal);
    if (hover)
        m_bitmaps[1] = LoadBitmapResource(hover);
    if (pressed)
        m_bitmaps[2] = LoadBitmapResource(pressed);
    if (disabled)
        m_bitmaps[3] = LoadBitmapResource(disabled);
    if (GetHandle() && m_bitmaps[0].IsOk()) {
        SetSize(m_bitmaps[0].GetSize());
        Refresh();
    }
}

wxSize CButtonPlus::GetBitmapSize() const {
    return m_bitmaps[0].IsOk() ? m_bitmaps[0].GetSize() : wxSize(0, 0);
}

void CButtonPlus::MoveTo(int x, int y) { SetSize(x, y, GetBitmapSize().x, GetBitmapSize().y); }

wxSize CButtonPlus::DoGetBestSize() const {
    return m_bitmaps[0].IsOk() ? m_bitmaps[0].GetSize() : wxSize(20, 20);
}

ButtonPicture CButtonPlus::CurrentPicture() const {
    return ChooseButtonPicture(IsPressedDown(), !IsEnabled(), m_hover, m_bitmaps[2].IsOk(), m_bitmaps[3].IsOk(),
                               m_bitmaps[1].IsOk());
}

void CButtonPlus::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    // What lies behind the button: the parent's background colour.
    dc.SetBackground(wxBrush(GetParent() ? GetParent()->GetBackgroundColour() : GetBackgroundColour()));
    dc.Clear();
    const ButtonPicture p = CurrentPicture();
    if (!IsEnabled() && !m_bitmaps[3].IsOk()) {
        // A disabled button without a disabled picture draws nothing.
        return;
    }
    DrawBitmap(m_bitmaps[static_cast<int>(p)].IsOk() ? m_bitmaps[static_cast<int>(p)] : m_bitmaps[0], dc);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetFont(GetFont());
    dc.SetTextForeground(IsEnabled() ? GetForegroundColour() : wxColour(177, 180, 179));
    DrawCaption(dc, p);
}

void CButtonPlus::OnEnter(wxMouseEvent& e) {
    m_tracking = true;
    m_pointerInside = true;
    if (!m_hover) {
        if (m_listener)
            m_listener->OnHoverStarted(GetId(), m_hoverText);
        m_hover = true;
        Refresh();
    }
    e.Skip();
}

void CButtonPlus::OnLeave(wxMouseEvent& e) {
    m_pointerInside = false;
    if (HasCapture()) {
        Refresh();   // pressed and dragged off: shown released until the pointer returns
        e.Skip();
        return;
    }
    if (m_listener)
        m_listener->OnHoverEnded(GetId());
    m_tracking = false;
    m_hover = false;
    Refresh();
    e.Skip();
}

void CButtonPlus::OnMotion(wxMouseEvent& e) {
    const bool inside = wxRect(GetClientSize()).Contains(e.GetPosition());
    if (inside != m_pointerInside) {
        m_pointerInside = inside;
        Refresh();
    }
    if (inside && !m_hover) {
        wxMouseEvent enter(e);
        OnEnter(enter);
    }
    e.Skip();
}

void CButtonPlus::OnDown(wxMouseEvent&) {
    m_pressed = true;
    m_pointerInside = true;
    if (!HasCapture())
        CaptureMouse();
    Refresh();
}

void CButtonPlus::OnUp(wxMouseEvent& e) {
    const bool wasPressed = m_pressed;
    m_pressed = false;
    if (HasCapture())
        ReleaseMouse();
    Refresh();
    const bool inside = wxRect(GetClientSize()).Contains(e.GetPosition());
    if (!inside && m_hover) {
        if (m_listener)
            m_listener->OnHoverEnded(GetId());
        m_hover = false;
        m_tracking = false;
    }
    if (wasPressed && inside)
        Click();
}

void CButtonPlus::OnCaptureLost(wxMouseCaptureLostEvent&) {
    m_pressed = false;
    Refresh();
}

void CButtonPlus::OnKey(wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_SPACE || e.GetKeyCode() == WXK_RETURN)
        Click();
    else
        e.Skip();
}

void CButtonPlus::Click() {
    wxCommandEvent event(wxEVT_BUTTON, GetId());
    event.SetEventObject(this);
    ProcessWindowEvent(event);
}

CTextCenterButtonPlus::CTextCenterButtonPlus(int normal, int hover, int pressed, int disabled, int captionId)
    : CButtonPlus(normal, hover, pressed, disabled), m_caption(ui::FromUtf8(uistr::UiString(captionId))) {}

wxRect CTextCenterButtonPlus::CaptionRect() const {
    wxRect r(GetClientSize());
    r.y += 10;
    r.height -= 20;
    return r;
}

void CTextCenterButtonPlus::DrawCaption(wxDC& dc, ButtonPicture) {
    ui::DrawTextIn(dc, m_caption, CaptionRect(), ui::kTextCenter | ui::kTextVCenter | ui::kTextWordBreak);
}

CSmallButtonTextCenterButtonPlus::CSmallButtonTextCenterButtonPlus()
    : CTextCenterButtonPlus(uires::kBmpSmallOkNormal, uires::kBmpSmallOkNormal, uires::kBmpSmallOkPressed,
                            uires::kBmpSmallOkPressed, uistr::kOk) {}

wxRect CSmallButtonTextCenterButtonPlus::CaptionRect() const {
    wxRect r(GetClientSize());
    r.y += 5;
    r.height -= 10;
    return r;
}

CTextCenterSimpleButtonPlus::CTextCenterSimpleButtonPlus(int captionId, int topMargin, int rightMargin)
    : CTextCenterButtonPlus(uires::kBmpSimpleNormal, uires::kBmpSimpleHover, uires::kBmpSimplePressed,
                            uires::kBmpSimpleDisabled, captionId),
      m_left(1), m_right(rightMargin), m_top(topMargin), m_bottom(1) {}

void CTextCenterSimpleButtonPlus::SetBitmaps(int normal, int hover, int pressed, int disabled) {
    SetButtonBitmaps(normal, hover, pressed, disabled);
}

void CTextCenterSimpleButtonPlus::SetMargins(int left, int right, int top, int bottom) {
    m_left = left;
    m_right = right;
    m_top = top;
    m_bottom = bottom;
    Refresh();
}

wxRect CTextCenterSimpleButtonPlus::CaptionRect() const {
    const wxSize s = GetClientSize();
    return wxRect(m_left, m_top, s.x - m_left - m_right, s.y - m_top - m_bottom);
}

CTextIconButtonPlus::CTextIconButtonPlus(int normal, int hover, int pressed, int disabled, int captionId)
    : CButtonPlus(normal, hover, pressed, disabled), m_caption(ui::FromUtf8(uistr::UiString(captionId))) {}

wxColour CTextIconButtonPlus::StateColour(ButtonPicture p) {
    switch (p) {
    case ButtonPicture::Hover: return wxColour(127, 152, 173);
    case ButtonPicture::Pressed: return wxColour(150, 167, 181);
    case ButtonPicture::Disabled: return wxColour(177, 180, 179);
    default: return wxColour(46, 88, 120);
    }
}

void CTextIconButtonPlus::DrawCaption(wxDC& dc, ButtonPicture p) {
    const wxSize s = GetClientSize();
    dc.SetFont(ui::PointFont(13, 400, "Arial"));
    dc.SetTextForeground(StateColour(IsEnabled() ? p : ButtonPicture::Disabled));
    ui::DrawTextIn(dc, m_caption, wxRect(34, 13, s.x - 34, s.y - 23), ui::kTextCenter | ui::kTextVCenter | ui::kTextWordBreak);
}

void CTextSmallIconButtonPlus::DrawCaption(wxDC& dc, ButtonPicture p) {
    const wxSize s = GetClientSize();
    dc.SetTextForeground(StateColour(IsEnabled() ? p : ButtonPicture::Disabled));
    ui::DrawTextIn(dc, m_caption, wxRect(38, 13, s.x - 38, s.y - 21), ui::kTextVCenter | ui::kTextWordBreak);
}

CRecoveryModeButtonPlus::CRecoveryModeButtonPlus(int normal, int hover, int pressed, int disabled, int firstTextId,
                                                 int secondTextId)
    : CButtonPlus(normal, hover, pressed, disabled), m_first(ui::FromUtf8(uistr::UiString(firstTextId))),
      m_second(ui::FromUtf8(uistr::UiString(secondTextId))) {}

wxColour CRecoveryModeButtonPlus::StateColour(ButtonPicture p) {
    switch (p) {
    case ButtonPicture::Hover: return wxColour(118, 119, 123);
    case ButtonPicture::Pressed: return wxColour(71, 75, 83);
    case ButtonPicture::Disabled: return wxColour(177, 180, 179);
    default: return wxColour(85, 89, 99);
    }
}

void CRecoveryModeButtonPlus::DrawCaption(wxDC& dc, ButtonPicture p) {
    const wxSize s = GetClientSize();
    dc.SetTextForeground(StateColour(IsEnabled() ? p : ButtonPicture::Disabled));
    ui::DrawTextIn(dc, m_second, wxRect(10, 215, s.x - 20, s.y - 215), ui::kTextCenter | ui::kTextWordBreak);
    dc.SetTextForeground(wxColour(238, 237, 237));
    ui::DrawTextIn(dc, m_first, wxRect(0, 315, s.x, s.y - 315), ui::kTextCenter);
}
