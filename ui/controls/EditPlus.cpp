#include "ui/controls/EditPlus.h"

CEditPlus::CEditPlus(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos, const wxSize& size)
    : wxTextCtrl(parent, id, value, pos, size) {
    Bind(wxEVT_CHAR_HOOK, &CEditPlus::OnKey, this);
}

void CEditPlus::OnKey(wxKeyEvent& e) {
    if (e.GetModifiers() == wxMOD_CONTROL) {
        switch (e.GetKeyCode()) {
        case 'A':
            // Select all; the caret stays in view by itself.
            SetSelection(-1, -1);
            return;
        case 'C': Copy(); return;
        case 'V': Paste(); return;
        case 'X': Cut(); return;
        case 'Z': Undo(); return;
        default: break;
        }
    }
    e.Skip();
}

CCopyLimitedRichEditCtrl::CCopyLimitedRichEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                                   const wxSize& size)
    : wxTextCtrl(parent, id, wxString(), pos, size, wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2) {
    Bind(wxEVT_CHAR_HOOK, &CCopyLimitedRichEditCtrl::OnKey, this);
    Bind(wxEVT_KEY_DOWN, &CCopyLimitedRichEditCtrl::OnKey, this);
    Bind(wxEVT_KEY_UP, &CCopyLimitedRichEditCtrl::OnKey, this);
    Bind(wxEVT_LEFT_DOWN, &CCopyLimitedRichEditCtrl::OnMouse, this);
    Bind(wxEVT_LEFT_DCLICK, &CCopyLimitedRichEditCtrl::OnMouse, this);
    Bind(wxEVT_MOTION, &CCopyLimitedRichEditCtrl::OnMouse, this);
}

void CCopyLimitedRichEditCtrl::OnKey(wxKeyEvent& e) {
    // With Ctrl or Shift held no key reaches the control: nothing can be selected or copied.
    if (e.ControlDown() || e.ShiftDown() || e.RawControlDown())
        return;
    e.Skip();
}

void CCopyLimitedRichEditCtrl::OnMouse(wxMouseEvent& e) {
    // Presses (and drags) never reach the control, so the mouse cannot place a selection.
    if (e.GetEventType() == wxEVT_MOTION && !e.LeftIsDown()) {
        e.Skip();
        return;
    }
    SetFocus();
}
