#pragma once
// The saved results of a deep scan or a lost-partition search: two store files per scan kind
// in the user's state folder. The temporary file belongs to the running program and follows
// the wizard (its stage word says which step was reached, and a finished scan writes the whole
// wizard state into it); the last file is the previous run's result, offered again on the
// device page and restored on request.
//
// Every routine opens a store object of its own, so a store error in one save or load never
// fails the next. Store errors are logged and end in false / null; they never escape.
#include <cstdint>
#include <string>

class AppContext;
class IDIRBuildCallback;
class IRSData;
class IWizardPageController;

struct RecoveryStatePaths {
    std::string temporary; // "brulincstemp.rdf" / "brulinlpstemp.rdf"
    std::string last;      // "brulincslast.rdf" / "brulinlpslast.rdf"
};

// The files of a scan kind (1 deep scan, 2 lost-partition search) in the context's state
// folder; false for any other kind or without a state folder.
bool GetRecoveryStatePaths(const AppContext& context, int scanKind, RecoveryStatePaths& out);

// The stage word written for a controller type (0 for a type that makes the file unusable),
// and the highest controller type a file of that stage restores.
std::uint32_t StageOfControllerType(int controllerType);
std::uint32_t RestoreLimitOfStage(std::uint32_t stage);

// The controller of a stored type in the context (null for 6 and above).
IWizardPageController* ControllerOfType(const AppContext& context, std::uint32_t type);

// Sets the temporary file's stage from `controller` (the file is created when missing).
bool SaveControllerStatus(AppContext& context, IWizardPageController* controller);
// Makes the previous run's temporary file the last one when its header is valid (written to
// disk first, then renamed over the last file). True when there was nothing to do.
bool PromoteRecoveryStateFile(AppContext& context, IWizardPageController* controller);

// Writes the whole wizard state into a new temporary file: the stage, the controller chain
// from the first step to `controller`, then every controller's own sections. `progress` may
// be null. The file is written beside its final name and renamed over it once complete, so a
// failed save never leaves a half-written temporary file.
bool SaveRecoveryStatesWorker(AppContext& context, IWizardPageController* controller,
                              IDIRBuildCallback* progress);
// The same on a worker thread behind the build-progress dialog.
bool SaveRecoveryStates(AppContext& context, IWizardPageController* controller);

// Restores the last file of `controller`'s scan kind: the chain up to the file's stage, each
// controller reading its sections. On success the last file is copied over the temporary file
// and the restored current controller is returned; on any failure every controller of the
// chain that took results is reset and null is returned.
IWizardPageController* LoadRecoveryStates(AppContext& context, IWizardPageController* controller,
                                          IDIRBuildCallback* progress);
// LoadRecoveryStates behind the build-progress dialog; on success activates the restored
// controller. True on success.
bool RestoreRecoveryStates(AppContext& context, IWizardPageController* controller);

// The description of the last file of the scan kind; false when there is no usable file.
bool GetSavedResultInfo(AppContext& context, IWizardPageController* controller,
                        std::string& description);
// Sets the description of an open writer (at most 100 bytes are kept). Store errors are
// logged and ignored. 1.
int SetSavedResultInfo(IRSData* writer, const std::string& text);
// Deletes the last file of the scan kind.
bool DeleteSavedRecoveryState(AppContext& context, IWizardPageController* controller);
