#pragma once
// The dialogs of the result views on the control kit's skinned base: the borderless rounded
// frame with its caption band, the dialog's own title in the caption's tab, a close button at
// the top right, and a body panel for the dialog's controls. A resizable one is a window of its
// own: a 30-pixel caption and a 3-pixel border painted from the skin's "mainbg.png", the window
// icon at (15, 13) with its menu, the title beside it, and the skin's minimise, maximise /
// restore and close pictures; it is resized by dragging any edge or corner of its rim (not below
// its minimum size) and maximised or restored by a double click on the caption band.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/FrameRim.h"
#include "ui/controls/SkinDialog.h"

// A 22 x 22 caption button of a resizable dialog: minimise, maximise / restore, or close. It
// shows the frame of the skin's picture strip for its state (normal, hover, pressed, disabled;
// black is transparent) over the caption's background, or a glyph drawn here when the skin
// pictures cannot be read.
class CMaximiseButton : public wxWindow {
public:
    enum Glyph { kMaximise, kMinimise, kClose };
    CMaximiseButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, Glyph glyph = kMaximise,
                    const wxBitmap* captionBackground = nullptr);
    // Shows the restore picture when the window is maximised.
    void SetRestore(bool restore);
    bool ShowsRestore() const { return m_restore; }
    // Whether the skin's picture is drawn (not the fallback glyph).
    bool ShowsSkinPicture() const { return Strip().IsOk(); }
    // The strip frame drawn now: 0 normal, 1 hover, 2 pressed, 3 disabled.
    int Frame() const;

private:
    const wxBitmap& Strip() const;
    void OnPaint(wxPaintEvent&);
    Glyph m_glyph;
    const wxBitmap* m_captionBackground;
    wxBitmap m_strip, m_restoreStrip;
    bool m_restore = false;
    bool m_hover = false;
    bool m_pressed = false;
};

class CSkinnedViewDlg : public CSearchSuperDlg {
public:
    // The kit's frame (fixed-size dialogs).
    static constexpr int kCaptionHeight = 32;
    static constexpr int kRim = 4;
    // The skinned window frame (resizable dialogs).
    static constexpr int kSkinCaptionHeight = 30;
    static constexpr int kSkinBorder = 3;
    CSkinnedViewDlg(int templateId, wxWindow* parent, const wxString& title, const wxSize& clientSize,
                    bool resizable, const wxSize& minimum = wxSize(353, 200));

    // Created by CreateDialog (the most derived constructor calls it, then fills the body).
    wxPanel* Body() const { return m_body; }
    // The kit's close button, or on a resizable dialog the skin's.
    wxWindow* CloseButton() const { return m_close ? static_cast<wxWindow*>(m_close) : m_skinClose; }
    int CaptionHeight() const { return m_resizable ? kSkinCaptionHeight : kCaptionHeight; }
    int BorderWidth() const { return m_resizable ? kSkinBorder : kRim; }
    // Where the title is drawn (resizable dialogs: from (45, 7), up to the caption buttons).
    wxRect TitleRect() const;
    // Resizable dialogs only (null otherwise).
    CMaximiseButton* MaximiseButton() const { return m_maximise; }
    CMaximiseButton* MinimiseButton() const { return m_minimise; }
    // Where the window icon is drawn (a press opens its menu); empty without one.
    wxRect IconRect() const { return m_resizable ? wxRect(15, 13, 16, 16) : wxRect(); }
    // The icon's menu at the icon (Restore, Minimize, Maximize, Close).
    void ShowSystemMenu();
    void SetCaption(const wxString& title);
    const wxString& Caption() const { return m_caption; }
    // Maximised to the display's work area, or back to the size before.
    void ToggleMaximise();
    bool IsMaximisedView() const { return m_maximised; }
    // Resizes as a drag of the rim would (never below the minimum).
    void ResizeTo(const wxSize& clientSize);

protected:
    wxSize InitialClientSize() const override { return m_initialSize; }
    void OnInitDialog() override;
    // What the close button and Escape end the dialog with.
    virtual int CloseResult() const { return kResultCancel; }
    void OnEscape() override { EndDialog(CloseResult()); }
    // The minimise button and the icon menu's Minimize.
    virtual void MinimiseWindow() { Iconize(true); }

private:
    void Place();
    void OnPaint(wxPaintEvent&);
    void PaintSkinFrame(wxDC& dc);
    void OnSize(wxSizeEvent&);
    void OnCaptionDoubleClick(wxMouseEvent&);
    void OnRimDown(wxMouseEvent&);
    void OnRimMotion(wxMouseEvent&);
    void OnRimUp(wxMouseEvent&);
    void OnSystemCommand(wxCommandEvent&);

    wxString m_caption;
    wxSize m_initialSize;
    wxSize m_minimum;
    bool m_resizable;
    wxPanel* m_body = nullptr;
    CButtonPlus* m_close = nullptr;
    CMaximiseButton* m_skinClose = nullptr;
    CMaximiseButton* m_maximise = nullptr;
    CMaximiseButton* m_minimise = nullptr;
    wxBitmap m_icon;
    wxBitmap m_background;
    wxBitmap m_stretched;  // the background at the window's size
    bool m_maximised = false;
    wxRect m_restoreRect;
    CRimResizer m_rim;
};
