#pragma once
// The dialogs of the result views on the control kit's skinned base: the borderless rounded
// frame with its caption band, the dialog's own title in the caption's tab, a close button at
// the top right, and a body panel for the dialog's controls. A resizable one also has the
// minimise and maximise buttons and the window icon with its menu; it is resized by dragging any
// edge or corner of its rim (not below its minimum size) and maximised or restored by a double
// click on the caption band.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/FrameRim.h"
#include "ui/controls/SkinDialog.h"

// A caption button drawn here (22 x 22, left of the close button): minimise, or maximise /
// restore.
class CMaximiseButton : public wxWindow {
public:
    enum Glyph { kMaximise, kMinimise };
    CMaximiseButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, Glyph glyph = kMaximise);
    // Shows the restore picture when the window is maximised.
    void SetRestore(bool restore);
    bool ShowsRestore() const { return m_restore; }

private:
    void OnPaint(wxPaintEvent&);
    Glyph m_glyph;
    bool m_restore = false;
    bool m_hover = false;
    bool m_pressed = false;
};

class CSkinnedViewDlg : public CSearchSuperDlg {
public:
    static constexpr int kCaptionHeight = 32;
    static constexpr int kRim = 4;
    CSkinnedViewDlg(int templateId, wxWindow* parent, const wxString& title, const wxSize& clientSize,
                    bool resizable, const wxSize& minimum = wxSize(353, 200));

    // Created by CreateDialog (the most derived constructor calls it, then fills the body).
    wxPanel* Body() const { return m_body; }
    CButtonPlus* CloseButton() const { return m_close; }
    // Resizable dialogs only (null otherwise).
    CMaximiseButton* MaximiseButton() const { return m_maximise; }
    CMaximiseButton* MinimiseButton() const { return m_minimise; }
    // Where the window icon is drawn (a press opens its menu); empty without one.
    wxRect IconRect() const { return m_resizable ? wxRect(8, 7, 16, 16) : wxRect(); }
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
    CMaximiseButton* m_maximise = nullptr;
    CMaximiseButton* m_minimise = nullptr;
    wxBitmap m_icon;
    bool m_maximised = false;
    wxRect m_restoreRect;
    CRimResizer m_rim;
};
