#pragma once
// The owner-drawn button family: a picture per state (normal, hover, pressed, disabled) and,
// in most members, a caption over it. A click sends wxEVT_BUTTON with the button's id.
#include "ui/controls/ButtonLogic.h"
#include "ui/controls/UiCommon.h"

#include <wx/control.h>

#include <initializer_list>
#include <string>
#include <utility>

// Told when the pointer starts and stops hovering over a button.
class IButtonHoverListener {
public:
    virtual ~IButtonHoverListener() = default;
    virtual void OnHoverStarted(int id, const wxString& hoverText) = 0;
    virtual void OnHoverEnded(int id) = 0;
};

class CButtonPlus : public wxControl {
public:
    CButtonPlus() = default;
    // Pictures by resource id; 0 leaves a picture empty.
    CButtonPlus(int normal, int hover, int pressed, int disabled);
    // Creates the window, sized to the normal picture (widened to its caption, below).
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition);

    // Loads the four pictures; the normal id always, the others only when not 0.
    void SetButtonBitmaps(int normal, int hover, int pressed, int disabled);
    wxSize GetBitmapSize() const;
    // The size the button takes: its normal picture's, grown where the caption, measured in
    // the font the button draws it with, needs more room (the picture is then stretched
    // between its corners). Layouts place captioned buttons with this size.
    wxSize GetButtonSize() const;
    // Moves the button to x, y at GetButtonSize.
    void MoveTo(int x, int y);
    // A new font changes what the caption needs: the button keeps its place and refits.
    bool SetFont(const wxFont& font) override;

    void SetHoverListener(IButtonHoverListener* listener) { m_listener = listener; }
    void SetHoverText(const wxString& text) { m_hoverText = text; }
    bool IsHovered() const { return m_hover; }
    bool IsPressedDown() const { return m_pressed && m_pointerInside; }
    // The picture drawn now.
    ButtonPicture CurrentPicture() const;


protected:
    wxSize DoGetBestSize() const override;
    // The caption of the member classes; the base draws none.
    virtual void DrawCaption(wxDC&, ButtonPicture) {}
    // The font the caption is drawn in.
    virtual wxFont CaptionFont() const { return GetFont(); }
    // The least button size that shows the whole caption on one line (0 x 0 without one).
    virtual wxSize CaptionNeed() const { return wxSize(0, 0); }
    // The caption's extent in CaptionFont (lines split at line breaks).
    wxSize CaptionExtent(const wxString& caption) const;
    // A new caption or font: the button takes its new size where it stands.
    void Refit();

private:
    void OnPaint(wxPaintEvent&);
    void OnEnter(wxMouseEvent&);
    void OnLeave(wxMouseEvent&);
    void OnDown(wxMouseEvent&);
    void OnUp(wxMouseEvent&);
    void OnMotion(wxMouseEvent&);
    void OnCaptureLost(wxMouseCaptureLostEvent&);
    void OnKey(wxKeyEvent&);
    void Click();

    // The picture at the button's size (cached per picture and size).
    const wxBitmap& Fitted(int picture);

    wxBitmap m_bitmaps[4];
    wxBitmap m_fitted[4];
    bool m_hover = false;
    bool m_tracking = false;
    bool m_pressed = false;
    bool m_pointerInside = false;
    IButtonHoverListener* m_listener = nullptr;
    wxString m_hoverText;
};

// Caption centred in the client less 10 pixels at top and bottom, in the control's font and
// foreground colour.
class CTextCenterButtonPlus : public CButtonPlus {
public:
    CTextCenterButtonPlus() = default;
    CTextCenterButtonPlus(int normal, int hover, int pressed, int disabled, int captionId);
    void SetCaption(const wxString& caption) {
        m_caption = caption;
        Refit();
    }
    const wxString& GetCaption() const { return m_caption; }

protected:
    void DrawCaption(wxDC& dc, ButtonPicture) override;
    wxSize CaptionNeed() const override;
    // The caption's rectangle in a client of `client` (the class's margins).
    virtual wxRect CaptionRectIn(wxSize client) const;
    wxRect CaptionRect() const { return CaptionRectIn(GetClientSize()); }
    wxString m_caption;
};

// The small OK button: pictures 509 (normal and hover) and 510 (pressed and disabled), caption
// "OK" centred less 5 pixels at top and bottom.
class CSmallButtonTextCenterButtonPlus : public CTextCenterButtonPlus {
public:
    CSmallButtonTextCenterButtonPlus();

protected:
    wxRect CaptionRectIn(wxSize client) const override;
};

// Caption centred in the client less four margins.
class CTextCenterSimpleButtonPlus : public CTextCenterButtonPlus {
public:
    CTextCenterSimpleButtonPlus() = default;
    // Pictures 383/382/381/380, left and bottom margins 1.
    CTextCenterSimpleButtonPlus(int captionId, int topMargin, int rightMargin);
    void SetBitmaps(int normal, int hover, int pressed, int disabled);

protected:
    wxRect CaptionRectIn(wxSize client) const override;

private:
    int m_left = 0, m_right = 0, m_top = 0, m_bottom = 0;
};

// Caption in "Arial" 13 points, centred in (left + 34, top + 13, right, bottom - 10), coloured
// by state.
class CTextIconButtonPlus : public CButtonPlus {
public:
    CTextIconButtonPlus(int normal, int hover, int pressed, int disabled, int captionId);
    static wxColour StateColour(ButtonPicture p);
    const wxString& GetCaption() const { return m_caption; }
    void SetCaptionText(const wxString& caption) {
        m_caption = caption;
        Refit();
    }

protected:
    void DrawCaption(wxDC& dc, ButtonPicture p) override;
    wxFont CaptionFont() const override;
    wxSize CaptionNeed() const override;
    // Left edge of the caption (right of the picture's icon) and its margins above and below.
    virtual int CaptionLeft() const { return 34; }
    virtual int CaptionTop() const { return 13; }
    virtual int CaptionBottom() const { return 10; }
    wxString m_caption;
};

// Caption left-aligned with word wrap in (left + 38, top + 13, right, bottom - 8), in the
// control's own font.
class CTextSmallIconButtonPlus : public CTextIconButtonPlus {
public:
    using CTextIconButtonPlus::CTextIconButtonPlus;

protected:
    void DrawCaption(wxDC& dc, ButtonPicture p) override;
    wxFont CaptionFont() const override { return GetFont(); }
    int CaptionLeft() const override { return 38; }
    int CaptionBottom() const override { return 8; }
};

// The large recovery-mode buttons: a second text (state colour, wrapped) at top + 215 (higher
// when its lines would reach the band below) and the first text (light) at top + 315.
class CRecoveryModeButtonPlus : public CButtonPlus {
public:
    CRecoveryModeButtonPlus(int normal, int hover, int pressed, int disabled, int firstTextId, int secondTextId);
    static wxColour StateColour(ButtonPicture p);

protected:
    void DrawCaption(wxDC& dc, ButtonPicture p) override;

private:
    wxString m_first, m_second;
};

// Places a row of buttons at y: each at its own x, or further right when the button before it
// (grown to its caption) would otherwise be overlapped, `gap` pixels after it. Hidden buttons
// are placed but push nothing.
void PlaceButtonRow(std::initializer_list<std::pair<CButtonPlus*, int>> buttonsAndX, int y, int gap = 4);

// A caption rectangle that is too low for text of `textHeight` grows about its centre, within
// the client height `clientHeight`.
wxRect FitCaptionHeight(wxRect rect, int textHeight, int clientHeight);

// Loads a family button's four pictures (the normal id always, the others when not 0).
inline void SetButtonBitmaps(CButtonPlus& button, int normal, int hover, int pressed, int disabled) {
    button.SetButtonBitmaps(normal, hover, pressed, disabled);
}
