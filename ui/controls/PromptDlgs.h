#pragma once
// The check-box hint ("Don't show this message again.") and the recovery-result panel with the
// output folder as a link.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/SkinDialog.h"

#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <string>
#include <vector>

class CHasCheckboxPromptDlg : public CSearchSuperDlg {
public:
    explicit CHasCheckboxPromptDlg(const std::string& message);
    int dontShowAgain = 0;

    wxCheckBox* CheckBox() { return m_check; }
    CSmallButtonTextCenterButtonPlus* OkButton() { return m_ok; }
    CButtonPlus* CloseButton() { return m_close; }

protected:
    wxSize InitialClientSize() const override { return wxSize(380, 200); }
    void OnInitDialog() override;

private:
    void OnButton(wxCommandEvent&);
    std::string m_message;
    wxCheckBox* m_check = nullptr;
    CButtonPlus* m_close = nullptr;
    CSmallButtonTextCenterButtonPlus* m_ok = nullptr;
};

class CFileSaveDlg : public wxPanel {
public:
    CFileSaveDlg();
    bool Create(wxWindow* parent, const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(460, 130));
    void ShowRecoveryResult(int recovered, int requested);
    void SetOutputFolder(const std::string& path);

    std::vector<std::string> filePaths;

    wxStaticText* OutcomeText() { return m_outcome; }
    wxStaticText* SummaryLine() { return m_summary; }
    CHyperLink* FolderLink() { return m_link; }

private:
    wxStaticText* m_outcome = nullptr;
    wxStaticText* m_summary = nullptr;
    CHyperLink* m_link = nullptr;
    bool m_underlined = false;
};

// The outcome and summary texts of a recovery (recovered of requested files).
std::string RecoveryOutcomeText(int recovered, int requested);
std::string RecoverySummaryText(int recovered, int requested);
