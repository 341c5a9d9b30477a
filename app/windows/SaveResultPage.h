#pragma once
// Page 5, the result page: "Saving is completed" (or "Saving was cancelled"), the outcome and
// counts with the links to the output folders, and the buttons "Open Saved Path" and "Back To File List".
#include "app/windows/WizardPage.h"
#include "app/wizard/SaveFileController.h"

class CFileSaveDlg;
class CTextCenterButtonPlus;

class CSaveResultPage : public CWizardPage {
public:
    enum : int { kIdBackToFileList = 1017, kIdOpenSavedPath = 1018 };
    CSaveResultPage(wxWindow* parent, CSaveResultController& controller);
    void LayoutPage(int cx, int cy) override;
    void Paint(wxDC& dc) override;
    // Copies the save step's outcome into the page (the sheet calls it when the page shows).
    void ShowSummary();
    // "Saving was cancelled" over a cancelled recovery.
    int HeadingId(int stepHeading) const override;
    CFileSaveDlg* Outcome() const { return m_result; }
    CTextCenterButtonPlus* Button(int id) const { return id == kIdBackToFileList ? m_back : id == kIdOpenSavedPath ? m_open : nullptr; }

private:
    CSaveResultController& m_controller;
    CFileSaveDlg* m_result = nullptr;
    CTextCenterButtonPlus* m_back = nullptr;
    CTextCenterButtonPlus* m_open = nullptr;
};
