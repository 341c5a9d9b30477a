#include "app/wizard/LostRecoveryFullScan.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

void RunLostFullScan(AppContext& context, IWizardPageController*, IStorageDevice*) {
    LogRecoveryStage(kStageNoRawFiles);
    context.Services().MessageBox(uistr::kNoFilesOnDevice, kMbInformation, kMbOk);
}
