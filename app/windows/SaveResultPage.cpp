#include "app/windows/SaveResultPage.h"

#include "ui/controls/ButtonPlus.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

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
    // The captions are longer than the sheet's: a smaller font keeps each on one line.
    for (CTextCenterButtonPlus* b : {m_back, m_open})
        b->SetFont(ui::PixelFont(11, 400));
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
    m_result->SetOutputFolder(s.folders.empty() ? s.targetFolder : s.folders.front());
    m_result->ShowRecoveryResult(s.filesRecovered, s.filesToRecover);
    Refresh();
}

void CSaveResultPage::LayoutPage(int cx, int) {
    m_result->SetSize(cx / 2 - 160, 140, 340, 120);
    m_open->MoveTo(cx / 2 - 74, 276);
    m_back->MoveTo(cx / 2 - 74, 326);
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
    ui::DrawTextIn(dc, ui::FromUtf8(uistr::UiString(uistr::kSavingCompletedHeading)), wxRect(s.x / 2 - 72, 118, 300, 20),
                   ui::kTextSingleLine | ui::kTextVCenter);
}
