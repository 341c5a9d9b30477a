#include "app/wizard/SheetController.h"

#include "app/wizard/AppContext.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

IWizardPageController* CWizardSheetController::Current() const {
    ISheet* sheet = m_context.Sheet();
    return sheet ? m_context.Controller(sheet->GetActivePage()) : nullptr;
}

void CWizardSheetController::Home() {
    if (IWizardPageController* c = Current())
        c->Home();
}

void CWizardSheetController::Back() {
    if (IWizardPageController* c = Current())
        c->Back();
}

void CWizardSheetController::Next() {
    if (IWizardPageController* c = Current())
        c->Next();
}

void CWizardSheetController::ShowHelp() {
    if (ISheet* sheet = m_context.Sheet())
        m_context.Services().ShowHelpTopic(PageHelpContextId(sheet->GetActivePage()));
}

void CWizardSheetController::OnHomeButton() {
    if (m_context.Services().MessageBox(uistr::kGoHomeQuestion, kMbQuestion, kMbYes | kMbNo) == kAnswerYes)
        Home();
}
