#pragma once
// The wizard's building blocks without windows: page indices, the page-controller and
// sheet-controller interfaces, and what a controller sees of the sheet (ISheet).
#include <cstdint>

class IRSData;
class IStorageDevice;

enum WizardPageIndex : int {
    kPageRecoveryMode = 0,
    kPageDeleteRecoveryPartition = 1,
    kPageCompleteRecoveryPartition = 2,
    kPageLostRecoveryDisk = 3,
    kPageLostRecoveryPartition = 4,
    kPageSaveResult = 5,
    kPageSaveFile = 6,
    kPageCompleteRecoveryScanPartition = 7,
    kPageLostRecoveryScanPartition = 8,
    kPageFileSelect = 9,
    kPageCount = 10,
};

enum RecoveryMode : int { kModeDeletedFile = 0, kModeDeepScan = 1, kModeLostPartition = 2 };

// The controller types (WizardControllerType; recovery/ScanStateSections.h has the store's
// enum of that name with the same values).
enum : int {
    kControllerCompleteRecoveryPartition = 0,
    kControllerCompleteRecoveryScanPartition = 1,
    kControllerLostRecoveryDisk = 2,
    kControllerLostRecoveryPartition = 3,
    kControllerLostRecoveryScanPartition = 4,
    kControllerFileSelect = 5,
    kControllerNotPersisted = 6,
};

enum ScanKind : int { kScanDeletedFile = 0, kScanDeep = 1, kScanLostPartition = 2, kScanNone = 3 };

// What a controller works on: kind 1 the selected device or volume record, 2 the selected
// found partition; kind 0 nothing.
struct RecoverySource {
    std::int32_t kind = 0;
    void* pointer = nullptr;
    // The device the found files are read through (the file page and the save step use it).
    IStorageDevice* device = nullptr;
};

class IWizardPageController {
public:
    virtual ~IWizardPageController() = default;
    // Prepares the page and shows it.
    virtual void Activate() = 0;
    // Releases this step's results and walks Home along the chain.
    virtual void Home() = 0;
    virtual void Back() = 0;
    // Does the step's work and, when it moves on, activates the next controller.
    virtual void Next() = 0;
    virtual void SetPrevious(IWizardPageController* previous) = 0;
    virtual IWizardPageController* GetPrevious() const = 0;
    virtual int RestoreState(IRSData*) { return 0; }
    virtual int SaveState(IRSData*) { return 0; }
    virtual int GetControllerType() const { return kControllerNotPersisted; }
    virtual int GetScanKind() const { return kScanNone; }
    virtual void GetSource(RecoverySource& out) const { out = RecoverySource{}; }
    virtual void Reset() {}
};

class IWizardSheetController {
public:
    virtual ~IWizardSheetController() = default;
    virtual void Home() = 0;
    virtual void Back() = 0;
    virtual void Next() = 0;
    virtual void ShowHelp() = 0;
};

// What a controller sees of the sheet.
class ISheet {
public:
    virtual ~ISheet() = default;
    // Shows the page, sets its heading and the footer buttons.
    virtual void SetActivePage(int index) = 0;
    virtual int GetActivePage() const = 0;
};

// The help topic of each page.
int PageHelpContextId(int index);
