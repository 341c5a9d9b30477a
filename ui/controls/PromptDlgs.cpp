#include "ui/controls/PromptDlgs.h"

#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <wx/artprov.h>

using namespace uires;

CHasCheckboxPromptDlg::CHasCheckboxPromptDlg(const std::string& message)
    : CSearchSuperDlg(kDlgCheckboxPrompt, nullptr), m_message(message) {
    SetBackgroundColourOfSkin(wxColour(241, 241, 241));
}

void CHasCheckboxPromptDlg::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(91, wxRect(3, 2, c.x - 3, 28));
    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, MapControlId(kIdCancel), wxPoint(c.x - 25, 7));
    new wxStaticBitmap(this, kIdPromptIcon, wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX),
                       wxPoint(20, 50));
    auto* text = new wxStaticText(this, kIdPromptText, ui::FromUtf8(m_message), wxPoint(70, 50),
                                  wxSize(c.x - 90, 60), wxST_NO_AUTORESIZE);
    text->Wrap(c.x - 90);
    m_check = new wxCheckBox(this, kIdDontShowAgain, ui::FromUtf8(uistr::UiString(uistr::kDontShowAgain)),
                             wxPoint(20, 118));
    m_ok = new CSmallButtonTextCenterButtonPlus();
    m_ok->Create(this, MapControlId(kIdOk));
    m_ok->MoveTo((c.x - m_ok->GetBitmapSize().x) / 2, c.y - m_ok->GetBitmapSize().y - 10);
    Bind(wxEVT_BUTTON, &CHasCheckboxPromptDlg::OnButton, this);
    Centre();
}

void CHasCheckboxPromptDlg::OnButton(wxCommandEvent& e) {
    if (e.GetId() == MapControlId(kIdOk)) {
        dontShowAgain = m_check->GetValue() ? 1 : 0;
        EndDialog(kResultOk);
    } else if (e.GetId() == MapControlId(kIdCancel)) {
        EndDialog(kResultCancel);
    } else {
        e.Skip();
    }
}

std::string RecoveryOutcomeText(int recovered, int requested) {
    if (recovered == 0)
        return uistr::UiString(uistr::kFilesFailedToRecover);
    if (recovered == requested)
        return uistr::UiString(uistr::kAllFilesRecovered);
    return uistr::UiString(uistr::kSomeFilesRecovered);
}

std::string RecoverySummaryText(int recovered, int requested) {
    return uistr::UiString(uistr::kFilesNeedToRecover) + std::to_string(requested) +
           uistr::UiString(uistr::kTotalRecoveredFiles) + std::to_string(recovered) +
           uistr::UiString(uistr::kSentenceEnd);
}

CFileSaveDlg::CFileSaveDlg() = default;

bool CFileSaveDlg::Create(wxWindow* parent, const wxPoint& pos, const wxSize& size) {
    if (!wxPanel::Create(parent, wxID_ANY, pos, size, wxBORDER_NONE))
        return false;
    SetBackgroundColour(wxColour(196, 199, 204));
    m_outcome = new wxStaticText(this, kIdOutcomeText, wxString(), wxPoint(10, 10), wxSize(size.x - 20, 20),
                                 wxST_NO_AUTORESIZE);
    m_outcome->SetFont(ui::PixelFont(14, 700));
    m_summary = new wxStaticText(this, kIdSummaryLine, wxString(), wxPoint(10, 40), wxSize(size.x - 20, 20),
                                 wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kFilesAreSavedIn)), wxPoint(10, 70));
    m_link = new CHyperLink(CHyperLink::kFolderMode);
    m_link->SetURL(" ");
    m_link->Create(this, kIdFolderLink, " ", wxPoint(10, 92));
    m_link->Hide();
    return true;
}

void CFileSaveDlg::ShowRecoveryResult(int recovered, int requested) {
    m_outcome->SetLabelText(ui::FromUtf8(RecoveryOutcomeText(recovered, requested)));
    m_summary->SetLabelText(ui::FromUtf8(RecoverySummaryText(recovered, requested)));
}

void CFileSaveDlg::SetOutputFolder(const std::string& path) {
    m_link->SetPathList(filePaths);
    m_link->SetLinkText(ui::FromUtf8(uifmt::ShortenForLink(uifmt::DisplayName(path))));
    m_link->Show();
    if (!m_underlined) {
        m_link->SetUnderline(1);
        m_underlined = true;
    }
    m_link->SetURL(path);
}
