#pragma once
// Two thin edits: one that keeps the usual Ctrl shortcuts (select all, copy, paste, cut, undo)
// inside dialog pages, and a read-only document view that cannot be selected (so not copied).
#include <wx/textctrl.h>

class CEditPlus : public wxTextCtrl {
public:
    CEditPlus(wxWindow* parent, wxWindowID id, const wxString& value = wxString(), const wxPoint& pos = wxDefaultPosition,
              const wxSize& size = wxDefaultSize);

private:
    void OnKey(wxKeyEvent&);
};

class CCopyLimitedRichEditCtrl : public wxTextCtrl {
public:
    CCopyLimitedRichEditCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                             const wxSize& size = wxDefaultSize);

private:
    void OnKey(wxKeyEvent&);
    void OnMouse(wxMouseEvent&);
};
