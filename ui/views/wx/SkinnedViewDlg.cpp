#include "ui/views/wx/SkinnedViewDlg.h"

#include "ui/controls/DrawHelpers.h"
#include "ui/controls/DUIButton.h"
#include "ui/controls/Resources.h"

#include <wx/dcbuffer.h>
#include <wx/display.h>

namespace {
// A skin strip with black as its transparent colour (the strips have no alpha).
wxBitmap SkinStrip(const char* name) {
    wxBitmap strip = LoadSkinBitmap(name);
    if (!strip.IsOk())
        return strip;
    wxImage image = strip.ConvertToImage();
    if (!image.HasAlpha())
        image.SetMaskColour(0, 0, 0);
    return wxBitmap(image);
}
} // namespace

CMaximiseButton::CMaximiseButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, Glyph glyph,
                                 const wxBitmap* captionBackground)
    : wxWindow(parent, id, pos, wxSize(22, 22), wxBORDER_NONE), m_glyph(glyph),
      m_captionBackground(captionBackground) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    switch (glyph) {
    case kMinimise: m_strip = SkinStrip("min-button.bmp"); break;
    case kMaximise:
        m_strip = SkinStrip("max-button.bmp");
        m_restoreStrip = SkinStrip("restore-button.bmp");
        break;
    case kClose: m_strip = SkinStrip("close-button.bmp"); break;
    }
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

const wxBitmap& CMaximiseButton::Strip() const {
    return m_glyph == kMaximise && m_restore ? m_restoreStrip : m_strip;
}

int CMaximiseButton::Frame() const { return !IsEnabled() ? 3 : m_pressed ? 2 : m_hover ? 1 : 0; }

void CMaximiseButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    // The caption under the button: the background picture's rows at this height (a plain fill
    // when the picture has none there).
    const wxBitmap caption =
        m_captionBackground && m_captionBackground->IsOk()
            ? SubBitmapInside(*m_captionBackground,
                              wxRect(m_captionBackground->GetWidth() / 2 - 11, GetPosition().y, 22, 22))
            : wxBitmap();
    if (caption.IsOk()) {
        dc.DrawBitmap(caption, 0, 0);
    } else {
        dc.SetBackground(wxBrush(wxColour(62, 98, 146)));
        dc.Clear();
    }
    const wxBitmap& strip = Strip();
    if (strip.IsOk() && strip.GetWidth() >= 4 * 22 && strip.GetHeight() >= 22) {
        const int frameWidth = strip.GetWidth() / 4;
        const wxBitmap frame = SubBitmapInside(strip, wxRect(Frame() * frameWidth, 0, frameWidth, strip.GetHeight()));
        if (frame.IsOk()) {
            dc.DrawBitmap(frame, 0, 0, true);
            return;
        }
    }
    const wxColour fill = m_pressed ? wxColour(60, 70, 88) : m_hover ? wxColour(104, 118, 140) : wxColour(82, 92, 110);
    dc.SetPen(wxPen(wxColour(40, 44, 52)));
    dc.SetBrush(wxBrush(m_glyph == kClose ? wxColour(200, 84, 72) : fill));
    dc.DrawRoundedRectangle(1, 1, 20, 20, 4);
    dc.SetPen(wxPen(*wxWHITE, 2));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    if (m_glyph == kMinimise) {
        dc.DrawLine(6, 15, 16, 15);
    } else if (m_glyph == kClose) {
        dc.DrawLine(7, 7, 15, 15);
        dc.DrawLine(15, 7, 7, 15);
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
    if (m_resizable) {
        m_background = LoadSkinBitmap("mainbg.png");
        m_skinClose = new CMaximiseButton(this, 1032, wxPoint(0, 7), CMaximiseButton::kClose, &m_background);
        m_skinClose->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(CloseResult()); });
        m_maximise = new CMaximiseButton(this, 1031, wxPoint(0, 7), CMaximiseButton::kMaximise, &m_background);
        m_maximise->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ToggleMaximise(); });
        m_minimise = new CMaximiseButton(this, 1030, wxPoint(0, 7), CMaximiseButton::kMinimise, &m_background);
        m_minimise->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { MinimiseWindow(); });
        m_icon = CaptionIcon();
        Bind(wxEVT_MENU, &CSkinnedViewDlg::OnSystemCommand, this);
    } else {
        m_close = new CButtonPlus(uires::kBmpCloseNormal, uires::kBmpCloseHover, uires::kBmpClosePressed,
                                  uires::kBmpCloseDisabled);
        m_close->Create(this, uires::MapControlId(uires::kIdCloseButton), wxPoint(0, 7));
        m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(CloseResult()); });
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
    const int caption = CaptionHeight(), border = BorderWidth();
    m_body->SetSize(border, caption, std::max(0, c.x - 2 * border), std::max(0, c.y - caption - border));
    if (m_close)
        m_close->MoveTo(c.x - 25, 7);
    if (m_skinClose)
        m_skinClose->Move(c.x - 25, 7);
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

wxRect CSkinnedViewDlg::TitleRect() const {
    if (!m_resizable)
        return wxRect();
    // From (45, 7) to a few pixels short of the minimise button.
    return wxRect(45, 7, std::max(0, GetClientSize().x - 69 - 4 - 45), kSkinCaptionHeight - 7);
}

void CSkinnedViewDlg::PaintSkinFrame(wxDC& dc) {
    const wxSize s = GetClientSize();
    const int bw = m_background.IsOk() ? m_background.GetWidth() : 0;
    const int bh = m_background.IsOk() ? m_background.GetHeight() : 0;
    if (bw > 100 && bh > kSkinCaptionHeight) {
        // In pieces: the picture's caption rows stretched along the caption (its 50-pixel ends
        // kept at the window's ends), the rows below stretched over the borders.
        if (!m_stretched.IsOk() || m_stretched.GetSize() != s) {
            const wxImage whole = m_background.ConvertToImage();
            wxBitmap frame(std::max(1, s.x), std::max(1, s.y));
            {
                wxMemoryDC mdc(frame);
                const int ch = kSkinCaptionHeight;
                mdc.DrawBitmap(wxBitmap(whole.GetSubImage(wxRect(0, 0, bw, ch)).Scale(std::max(1, s.x), ch)), 0, 0);
                if (s.y > ch)
                    mdc.DrawBitmap(wxBitmap(whole.GetSubImage(wxRect(0, ch, bw, bh - ch)).Scale(std::max(1, s.x), s.y - ch)),
                                   0, ch);
                if (s.x > 100) {
                    mdc.DrawBitmap(wxBitmap(whole.GetSubImage(wxRect(0, 0, 50, ch))), 0, 0);
                    mdc.DrawBitmap(wxBitmap(whole.GetSubImage(wxRect(bw - 50, 0, 50, ch))), s.x - 50, 0);
                }
            }
            m_stretched = frame;
        }
        dc.DrawBitmap(m_stretched, 0, 0);
    } else {
        dc.GradientFillLinear(wxRect(0, 0, s.x, kSkinCaptionHeight), wxColour(78, 122, 178), wxColour(40, 72, 118),
                              wxSOUTH);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(wxColour(96, 104, 116)));
        dc.DrawRectangle(0, kSkinCaptionHeight, s.x, std::max(0, s.y - kSkinCaptionHeight));
    }
    if (m_icon.IsOk())
        dc.DrawBitmap(m_icon, IconRect().GetPosition(), true);
    dc.SetFont(ui::PixelFont(16, 700, "Arial"));
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(*wxWHITE);
    const wxRect title = TitleRect();
    ui::DrawTextIn(dc, m_caption, title, ui::kTextSingleLine | ui::kTextEllipsis);
}

void CSkinnedViewDlg::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    if (m_resizable) {
        PaintSkinFrame(dc);
        return;
    }
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
    if (e.GetPosition().y < CaptionHeight())
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
