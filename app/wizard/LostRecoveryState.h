#pragma once
// Lost Partition Recovery's use of the recovery-state files (the lost-partition pair).
#include <string>

class AppContext;
class IWizardPageController;

// The earlier run's temporary file becomes the last one (first activation of the mode).
bool PromoteLostRecoveryState(AppContext& context, IWizardPageController* controller);
// The temporary file's stage follows the active controller.
bool SaveLostControllerStatus(AppContext& context, IWizardPageController* controller);
// The whole chain up to `controller` into the temporary file.
bool SaveLostRecoveryStates(AppContext& context, IWizardPageController* controller);
// Restores the last file's chain and activates its current step; false when it cannot.
bool RestoreLostRecoveryStates(AppContext& context, IWizardPageController* controller);
// The description of the last file; false when there is no usable one.
bool ReadLostSavedResultInfo(AppContext& context, IWizardPageController* controller, std::string& description);
bool DeleteLostSavedResult(AppContext& context, IWizardPageController* controller);
