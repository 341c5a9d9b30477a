#include "ui/controls/ButtonPlus.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/StringTable.h"

#include <wx/dcbuffer.h>
#include <wx/dcscreen.h>

#include <algorithm>

namespace {

// Maps a target coordinate of a picture stretched from `from` to `to` pixels to the source:
// the first `head` and last `tail` pixels keep their places, the middle is stretched.
int StretchedSource(int t, int from, int to, int head, int tail) {
    if (t < head)
        return t;
    if (t >= to - tail)
        return from - (to - t);
    const int middleFrom = std::max(1, from - head - tail);
    const int middleTo = std::max(1, to - head - tail);
    return std::min(from - 1, head + static_cast<int>(static_cast<long long>(t - head) * middleFrom / middleTo));
}

// The picture grown to `size`: its corners (and the icon at its left) unchanged, the bands
// between them stretched.
wxBitmap StretchPicture(const wxBitmap& bitmap, wxSize size) {
    wxImage src = bitmap.ConvertToImage();
    const int w = src.GetWidth(), h = src.GetHeight();
    if (w <= 0 || h <= 0 || size.x <= 0 || size.y <= 0)
        return bitmap;
    const bool alpha = src.HasAlpha();
    wxImage out(size.x, size.y);
    if (alpha)
        out.InitAlpha();
    const int left = std::min(40, w / 2), right = std::min(12, w / 4);
    const int top = std::min(12, h / 3), bottom = std::min(12, h / 3);
    for (int y = 0; y < size.y; ++y) {
        const int sy = StretchedSource(y, h, size.y, top, bottom);
        for (int x = 0; x < size.x; ++x) {
            const int sx = StretchedSource(x, w, size.x, left, right);
            out.SetRGB(x, y, src.GetRed(sx, sy), src.GetGreen(sx, sy), src.GetBlue(sx, sy));
            if (alpha)
                out.SetAlpha(x, y, src.GetAlpha(sx, sy));
        }
    }
    if (src.HasMask())
        out.SetMaskColour(src.GetMaskRed(), src.GetMaskGreen(), src.GetMaskBlue());
    return wxBitmap(out);
}

} // namespace

wxRect FitCaptionHeight(wxRect rect, int textHeight, int clientHeight) {
    if (rect.height >= textHeight)
        return rect;
    const int centre = rect.y + rect.height / 2;
    rect.height = std::min(textHeight, clientHeight);
    rect.y = std::clamp(centre - rect.height / 2, 0, std::max(0, clientHeight - rect.height));
    return rect;
}

void PlaceButtonRow(std::initializer_list<std::pair<CButtonPlus*, int>> buttonsAndX, int y, int gap) {
    int right = 0;
    bool any = false;
    for (const auto& [button, x] : buttonsAndX) {
        if (!button)
            continue;
        const int at = any ? std::max(x, right + gap) : x;
        button->MoveTo(at, y);
        if (button->IsShown()) {
            right = at + button->GetButtonSize().x;
            any = true;
        }
    }
}

CButtonPlus::CButtonPlus(int normal, int hover, int pressed, int disabled) {
    SetButtonBitmaps(normal, hover, pressed, disabled);
}

bool CButtonPlus::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const wxSize picture = m_bitmaps[0].IsOk() ? m_bitmaps[0].GetSize() : wxSize(20, 20);
    if (!wxControl::Create(parent, id, pos, picture, wxBORDER_NONE | wxCLIP_CHILDREN))
        return false;
    const wxSize size = GetButtonSize();
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
    for (wxBitmap& f : m_fitted)
        f = wxBitmap();
    if (GetHandle() && m_bitmaps[0].IsOk()) {
        SetSize(GetButtonSize());
        Refresh();
    }
}

wxSize CButtonPlus::GetBitmapSize() const {
    return m_bitmaps[0].IsOk() ? m_bitmaps[0].GetSize() : wxSize(0, 0);
}

wxSize CButtonPlus::GetButtonSize() const {
    const wxSize picture = GetBitmapSize();
    if (!GetHandle())
        return picture;
    const wxSize need = CaptionNeed();
    return wxSize(std::max(picture.x, need.x), std::max(picture.y, need.y));
}

void CButtonPlus::MoveTo(int x, int y) {
    const wxSize size = GetButtonSize();
    SetSize(x, y, size.x, size.y);
}

bool CButtonPlus::SetFont(const wxFont& font) {
    const bool changed = wxControl::SetFont(font);
    Refit();
    return changed;
}

void CButtonPlus::Refit() {
    if (!GetHandle())
        return;
    if (m_bitmaps[0].IsOk()) {
        const wxSize size = GetButtonSize();
        if (size != GetSize())
            SetSize(size);
    }
    Refresh();
}

wxSize CButtonPlus::CaptionExtent(const wxString& caption) const {
    if (caption.empty())
        return wxSize(0, 0);
    wxScreenDC dc;
    dc.SetFont(CaptionFont());
    return dc.GetMultiLineTextExtent(caption);
}

const wxBitmap& CButtonPlus::Fitted(int picture) {
    const wxBitmap& bitmap = m_bitmaps[picture].IsOk() ? m_bitmaps[picture] : m_bitmaps[0];
    const wxSize size = GetClientSize();
    if (!bitmap.IsOk() || bitmap.GetSize() == size || size.x <= 0 || size.y <= 0)
        return bitmap;
    if (!m_fitted[picture].IsOk() || m_fitted[picture].GetSize() != size)
        m_fitted[picture] = StretchPicture(bitmap, size);
    return m_fitted[picture];
}

wxSize CButtonPlus::DoGetBestSize() const {
    return m_bitmaps[0].IsOk() ? GetButtonSize() : wxSize(20, 20);
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
    DrawBitmap(Fitted(static_cast<int>(p)), dc);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetFont(CaptionFont());
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

wxRect CTextCenterButtonPlus::CaptionRectIn(wxSize client) const {
    wxRect r(client);
    r.y += 10;
    r.height -= 20;
    return r;
}

// Room for the caption on one line, with a few pixels either side of it inside the margins.
wxSize CTextCenterButtonPlus::CaptionNeed() const {
    const wxSize text = CaptionExtent(m_caption);
    if (text.x == 0)
        return wxSize(0, 0);
    const wxSize picture = GetBitmapSize();
    const wxRect r = CaptionRectIn(picture);
    return wxSize(text.x + (picture.x - r.width) + 12, text.y + 4);
}

void CTextCenterButtonPlus::DrawCaption(wxDC& dc, ButtonPicture) {
    const wxSize client = GetClientSize();
    const wxRect r = FitCaptionHeight(CaptionRect(), dc.GetMultiLineTextExtent(m_caption).y, client.y);
    ui::DrawTextIn(dc, m_caption, r, ui::kTextCenter | ui::kTextVCenter | ui::kTextWordBreak);
}

CSmallButtonTextCenterButtonPlus::CSmallButtonTextCenterButtonPlus()
    : CTextCenterButtonPlus(uires::kBmpSmallOkNormal, uires::kBmpSmallOkNormal, uires::kBmpSmallOkPressed,
                            uires::kBmpSmallOkPressed, uistr::kOk) {}

wxRect CSmallButtonTextCenterButtonPlus::CaptionRectIn(wxSize client) const {
    wxRect r(client);
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

wxRect CTextCenterSimpleButtonPlus::CaptionRectIn(wxSize s) const {
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

wxFont CTextIconButtonPlus::CaptionFont() const { return ui::PointFont(13, 400, "Arial"); }

// Room for the caption on one line right of the icon, with a few pixels after it.
wxSize CTextIconButtonPlus::CaptionNeed() const {
    const wxSize text = CaptionExtent(m_caption);
    if (text.x == 0)
        return wxSize(0, 0);
    return wxSize(CaptionLeft() + text.x + 8, text.y + 4);
}

void CTextIconButtonPlus::DrawCaption(wxDC& dc, ButtonPicture p) {
    const wxSize s = GetClientSize();
    dc.SetTextForeground(StateColour(IsEnabled() ? p : ButtonPicture::Disabled));
    const wxRect r(CaptionLeft(), CaptionTop(), s.x - CaptionLeft(), s.y - CaptionTop() - CaptionBottom());
    ui::DrawTextIn(dc, m_caption, FitCaptionHeight(r, dc.GetMultiLineTextExtent(m_caption).y, s.y),
                   ui::kTextCenter | ui::kTextVCenter | ui::kTextWordBreak);
}

void CTextSmallIconButtonPlus::DrawCaption(wxDC& dc, ButtonPicture p) {
    const wxSize s = GetClientSize();
    dc.SetTextForeground(StateColour(IsEnabled() ? p : ButtonPicture::Disabled));
    const wxRect r(CaptionLeft(), CaptionTop(), s.x - CaptionLeft(), s.y - CaptionTop() - CaptionBottom());
    ui::DrawTextIn(dc, m_caption, FitCaptionHeight(r, dc.GetMultiLineTextExtent(m_caption).y, s.y),
                   ui::kTextVCenter | ui::kTextWordBreak);
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
    // The second text stands from top + 215, or higher (not above the picture) where its lines
    // would otherwise run into the band of the first text at top + 300.
    const int lines = dc.GetMultiLineTextExtent(ui::WrapText(dc, m_second, s.x - 20)).y;
    const int top = std::clamp(300 - 4 - lines, 152, 215);
    ui::DrawTextIn(dc, m_second, wxRect(10, top, s.x - 20, s.y - top), ui::kTextCenter | ui::kTextWordBreak);
    dc.SetTextForeground(wxColour(238, 237, 237));
    ui::DrawTextIn(dc, m_first, wxRect(0, 315, s.x, s.y - 315), ui::kTextCenter);
}
