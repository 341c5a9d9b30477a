#include "app/wizard/RecoveryModeController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"

void CRecoveryModeSelectController::Activate() {
    if (m_sheet)
        m_sheet->SetActivePage(kPageRecoveryMode);
}

void CRecoveryModeSelectController::Next() {
    int first = -1;
    switch (m_mode) {
    case kModeDeletedFile: first = kPageDeleteRecoveryPartition; break;
    case kModeDeepScan: first = kPageCompleteRecoveryPartition; break;
    case kModeLostPartition: first = kPageLostRecoveryDisk; break;
    default: return;
    }
    LogRecoveryStage(m_mode);  // stage codes 0 to 2 are the three modes
    if (IWizardPageController* next = m_context.Controller(first)) {
        next->SetPrevious(this);
        next->Activate();
    }
}

void CRecoveryModeSelectController::ChooseMode(int mode) {
    SetMode(mode);
    Next();
}
