#pragma once
// The program's message box: a skinned dialog with an icon, an optional heading, a message and
// one or two caption buttons; 445 x 250, or larger where the message needs it. Ends with 1 (OK, Yes) or 2 (Cancel, NO, close
// button, Escape).
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/SkinDialog.h"

#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <string>

class CMessageBoxDlg : public CSearchSuperDlg {
public:
    CMessageBoxDlg();
    // Stores the arguments (a null heading becomes "") and runs the box modally.
    int ShowMessage(int kind, std::uint16_t buttons, const char* heading, const char* message);

    // Set directly by callers of the second form (then DoModal).
    int kind = kMbInformation;
    std::uint16_t buttons = kMbOk;
    std::string message;
    std::string heading;

    // The controls, for the owner and for tests (valid once created).
    CTextCenterButtonPlus* OkButton() { return m_ok; }
    CTextCenterButtonPlus* CancelButton() { return m_cancel; }
    CTextCenterButtonPlus* YesButton() { return m_yes; }
    CTextCenterButtonPlus* NoButton() { return m_no; }
    CButtonPlus* CloseButton() { return m_close; }
    wxStaticBitmap* IconStatic() { return m_icon; }
    wxStaticText* HeadingStatic() { return m_heading; }
    wxStaticText* MessageStatic() { return m_message; }

protected:
    wxSize InitialClientSize() const override { return wxSize(445, 250); }
    void OnInitDialog() override;

private:
    void OnButton(wxCommandEvent& e);
    // The client size the message needs in `font`, and the message broken into its lines.
    wxSize FitMessage(const wxFont& font, wxString* wrapped);

    CTextCenterButtonPlus* m_ok = nullptr;
    CButtonPlus* m_close = nullptr;
    CTextCenterButtonPlus* m_cancel = nullptr;
    CTextCenterButtonPlus* m_yes = nullptr;
    CTextCenterButtonPlus* m_no = nullptr;
    wxStaticBitmap* m_icon = nullptr;
    wxStaticText* m_heading = nullptr;
    wxStaticText* m_message = nullptr;
    wxStaticText* m_title = nullptr;
};

// Shows a message box of the kind with OK only; returns its result.
int ShowMessageBox(int kind, const std::string& message, std::uint16_t buttons = kMbOk);
