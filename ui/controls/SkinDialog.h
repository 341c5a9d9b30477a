#pragma once
// The base of the program's dialogs: a borderless, rounded window whose frame (rim, caption
// band, title tab) is painted by the program, movable by its caption band, ending with the
// program's results (1 OK, 2 Cancel).
#include "ui/controls/UiCommon.h"

#include <wx/dialog.h>

enum DialogResult : int { kResultOk = 1, kResultCancel = 2 };

class CSearchSuperDlg : public wxDialog {
public:
    // Template 105, no parent.
    CSearchSuperDlg();
    CSearchSuperDlg(int templateId, wxWindow* parent);
    ~CSearchSuperDlg() override;

    // Creates the window (if not yet created), runs the initialisation and shows it modally.
    // Returns the program's result (1 or 2, or what the dialog ended with).
    int DoModal();
    // Creates the window and runs the initialisation without showing it (modeless use).
    bool CreateDialog();

    // Ends a modal run, or hides a modeless dialog, with a result.
    void EndDialog(int result);

protected:
    // The client size the dialog is created with.
    virtual wxSize InitialClientSize() const { return wxSize(400, 200); }
    // Creates the controls and places them (the window exists).
    virtual void OnInitDialog() {}
    // Escape: ends with 2 unless a dialog overrides it.
    virtual void OnEscape() { EndDialog(kResultCancel); }

    // Paints the skin frame with the tab inset; with a title rectangle, the product name too.
    void EnableSkin(int tabInset, const wxRect& titleRect = wxRect());
    // Rounded shape of the current client size.
    void ApplyShape();
    void SetBackgroundColourOfSkin(const wxColour& c) { m_background = c; }
    // Before the window is created: the program resizes it below its first size (the toolkit
    // otherwise keeps a window that is not resizable at least as large as it was made).
    void SetResizable() { m_resizable = true; }

private:
    void OnPaint(wxPaintEvent&);
    void OnCharHook(wxKeyEvent&);
    void OnClose(wxCloseEvent&);

    wxWindow* m_parent;
    wxColour m_background{236, 233, 216};
    int m_tabInset = -1;
    wxRect m_titleRect;
    bool m_initialised = false;
    bool m_resizable = false;
};
