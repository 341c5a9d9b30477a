#include "app/windows/SaveResultPage.h"

#include "ui/controls/ButtonPlus.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <algorithm>
#include <cstdint>

CSaveResultPage::CSaveResultPage(wxWindow* parent, CSaveResultController& controller)
    : CWizardPage(parent, kPageSaveResult), m_controller(controller) {
    m_result = new CFileSaveDlg;
    m_result->Create(this, wxPoint(100, 140), wxSize(340, 120));
    m_back = new CTextCenterButtonPlus(uires::kBmpCaptionNormal, uires::kBmpCaptionHover, uires::kBmpCaptionPressed,
                                       uires::kBmpCaptionDisabled, uistr::kBackToFileListCaption);
    m_back->Create(this, kIdBackToFileList);
    m_open = new CTextCenterButtonPlus(uires::kBmpCaptionNormal, uires::kBmpCaptionHover, uires::kBmpCaptionPressed,
                                       uires::kBmpCaptionDisabled, uistr::kOpenSavedPathCaption);
    m_open->Create(this, kIdOpenSavedPath);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_controller.BackToFileList(); }, kIdBackToFileList);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (m_result->FolderLink())
            m_result->FolderLink()->FollowLink();
    }, kIdOpenSavedPath);
    Bind(wxEVT_SHOW, [this](wxShowEvent& e) {
        if (e.IsShown())
            ShowSummary();
        e.Skip();
    });
}

void CSaveResultPage::ShowSummary() {
    const SaveResultSummary s = m_controller.Summary();
    m_result->filePaths = s.folders;
    m_result->ShowRecoveryResult(static_cast<std::uint64_t>(std::max(0, s.filesRecovered)),
                                 static_cast<std::uint64_t>(std::max(0, s.filesToRecover)));
    m_result->SetNote(s.cancelled ? uistr::UiString(uistr::kCancelledFileRemoved) : std::string());
    m_result->SetOutputFolders(s.folders, s.targetFolder);
    LayoutPage(GetClientSize().x, GetClientSize().y);
    Refresh();
}

int CSaveResultPage::HeadingId(int stepHeading) const {
    return m_controller.Summary().cancelled && stepHeading == uistr::kSavingCompletedHeading
               ? static_cast<int>(uistr::kSavingCancelledHeading)
               : stepHeading;
}

void CSaveResultPage::LayoutPage(int cx, int) {
    // The outcome panel is as tall as its lines; the buttons stand below it.
    m_result->SetSize(cx / 2 - 160, 140, 340, 120);
    const int height = std::max(120, m_result->ArrangeContent());
    m_result->SetSize(cx / 2 - 160, 140, 340, height);
    const int top = std::max(276, 140 + height + 16);
    m_open->MoveTo(cx / 2 - 74, top);
    m_back->MoveTo(cx / 2 - 74, top + 50);
}

void CSaveResultPage::Paint(wxDC& dc) {
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(196, 199, 204)));
    dc.DrawRoundedRectangle(43, 1, s.x - 86, s.y - 2, 10);
    dc.SetPen(wxPen(wxColour(131, 131, 135)));
    dc.DrawLine(s.x / 2 - 180, 25, s.x / 2 + 180, 25);
    dc.SetFont(ui::PixelFont(18, 700, "Arial"));
    dc.SetTextForeground(wxColour(40, 44, 52));
    const int heading = HeadingId(uistr::kSavingCompletedHeading);
    ui::DrawTextIn(dc, ui::FromUtf8(uistr::UiString(heading)), wxRect(s.x / 2 - 180, 112, 360, 26),
                   ui::kTextSingleLine | ui::kTextVCenter | ui::kTextCenter);
}
