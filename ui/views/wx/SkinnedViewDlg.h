#pragma once
// The dialogs of the result views on the control kit's skinned base: the borderless rounded
// frame with its caption band, the dialog's own title in the caption's tab, a close button at
// the top right, and a body panel for the dialog's controls. A resizable one is resized by
// dragging its rim (not below its minimum size) and maximised or restored by a double click on
// the caption band.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

// The maximise / restore caption button (22 x 22, beside the close button), drawn here.
class CMaximiseButton : public wxWindow {
public:
    CMaximiseButton(wxWindow* parent, wxWindowID id, const wxPoint& pos);
    // Shows the restore picture when the window is maximised.
    void SetRestore(bool restore);
    bool ShowsRestore() const { return m_restore; }

private:
    void OnPaint(wxPaintEvent&);
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

private:
    void Place();
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnCaptionDoubleClick(wxMouseEvent&);
    void OnRimDown(wxMouseEvent&);
    void OnRimMotion(wxMouseEvent&);
    void OnRimUp(wxMouseEvent&);

    wxString m_caption;
    wxSize m_initialSize;
    wxSize m_minimum;
    bool m_resizable;
    wxPanel* m_body = nullptr;
    CButtonPlus* m_close = nullptr;
    CMaximiseButton* m_maximise = nullptr;
    bool m_maximised = false;
    wxRect m_restoreRect;
    int m_dragEdges = 0; // 1 right, 2 bottom
    wxPoint m_dragStart;
    wxSize m_dragSize;
};
