#include "app/wizard/PageController.h"

void CWizardPageControllerBase::Activate() {
    if (m_sheet)
        m_sheet->SetActivePage(m_pageIndex);
}

void CWizardPageControllerBase::Home() {
    Reset();
    if (m_previous)
        m_previous->Home();
}

void CWizardPageControllerBase::Back() {
    Reset();
    if (m_previous)
        m_previous->Activate();
}

void CWizardPageControllerBase::GetSource(RecoverySource& out) const {
    if (m_previous)
        m_previous->GetSource(out);
    else
        out = RecoverySource{};
}

void CWizardPageControllerBase::MoveTo(IWizardPageController* next) {
    if (!next)
        return;
    next->SetPrevious(this);
    next->Activate();
}
