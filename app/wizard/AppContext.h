#pragma once
// What the program keeps once per run: the sheet, the ten controllers, the hint and promotion
// flags, the file-type list, the services and the folders. The program builds one at start-up;
// each test builds a fresh one. The getters below reach the current one.
#include "app/StartupOptions.h"
#include "app/wizard/DeviceSource.h"
#include "app/wizard/RecoveryModeController.h"
#include "app/wizard/SheetController.h"
#include "app/wizard/UiServices.h"
#include "app/wizard/WizardTypes.h"
#include "platform/AppPaths.h"
#include "platform/FileTypeMap.h"

#include <array>
#include <memory>

class AppContext {
public:
    AppContext(IUiServices& services, IDeviceSource& devices, platform::AppPaths paths);
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // The sheet the controllers show their pages on (the window, or a test's fake).
    void SetSheet(ISheet* sheet);
    ISheet* Sheet() const { return m_sheet; }

    IWizardPageController* Controller(int pageIndex) const;
    // Installs the controller of a page (the steps of each mode bring their own).
    void SetController(int pageIndex, std::unique_ptr<IWizardPageController> controller);

    CRecoveryModeSelectController& ModeController() { return *m_mode; }
    CWizardSheetController& SheetController() { return m_sheetController; }
    IUiServices& Services() const { return m_services; }
    IDeviceSource& Devices() const { return m_devices; }
    const platform::AppPaths& Paths() const { return m_paths; }

    // Shown once per run: the hints of the file page and the save step.
    bool showFileSelectHint = true;
    bool showSaveHint = true;
    // The promotion notice after a recovery.
    bool showPromotion = true;

    // Lost Partition Recovery: the "Full scan" hint after a quick tree.
    bool showFullScanHint = true;

    // Why the start as administrator the user asked for fell back to the user (from the
    // loader's switch); the device pages say it when they may read no disk.
    RootFallback rootFallback = RootFallback::None;

private:
    IUiServices& m_services;
    IDeviceSource& m_devices;
    platform::AppPaths m_paths;
    ISheet* m_sheet = nullptr;
    CRecoveryModeSelectController* m_mode = nullptr;  // owned by m_controllers[0]
    std::array<std::unique_ptr<IWizardPageController>, kPageCount> m_controllers;
    CWizardSheetController m_sheetController;
    AppContext* m_outer = nullptr;  // the context that was current before this one
};

// The current context (the most recently built one still alive), or null.
AppContext* CurrentAppContext();

IRecoveryModeSelectController* GetRecoveryModeSelectController();
IWizardPageController* GetWizardController(int pageIndex);
