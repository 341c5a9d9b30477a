#include "app/wizard/LostRecoveryState.h"

bool PromoteLostRecoveryState(AppContext&, IWizardPageController*) { return true; }
bool SaveLostControllerStatus(AppContext&, IWizardPageController*) { return false; }
bool SaveLostRecoveryStates(AppContext&, IWizardPageController*) { return false; }
bool RestoreLostRecoveryStates(AppContext&, IWizardPageController*) { return false; }
bool ReadLostSavedResultInfo(AppContext&, IWizardPageController*, std::string&) { return false; }
bool DeleteLostSavedResult(AppContext&, IWizardPageController*) { return false; }
