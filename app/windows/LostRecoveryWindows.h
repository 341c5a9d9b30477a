#pragma once
// Lost Partition Recovery's windows: the lost-partition search dialog, the disk page (3) and the
// found-partition page (4). They show what the controllers hold and forward the user's clicks.
#include "app/wizard/LostPartitionSearchModel.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "app/wizard/UiServices.h"
#include "app/windows/WizardPage.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/checkbox.h>
#include <wx/timer.h>
#include <wx/wx.h>

class AppContext;

// Dialog 222: the bar, the elapsed and remaining times and Cancel, refreshed from the model
// every 300 ms.
class CLostPartitionSearchingDialog : public CSearchSuperDlg {
public:
    enum : int { kTemplateId = 222, kIdBar = 1008, kIdElapsed = 1177, kIdRemaining = 1178 };
    CLostPartitionSearchingDialog(wxWindow* parent, CLostPartitionSearchModel& model, IUiServices& ui);
    ~CLostPartitionSearchingDialog() override;

    // Creates the modeless dialog, centred and shown.
    bool CreateModeless();
    // One timer tick (the timer calls it; tests may too).
    void Tick();
    void OnCancelButton();
    // The search is over: the timer stops and the model is no longer read (the window itself
    // is destroyed later by the toolkit).
    void Release();

    CProgressBar* Bar() const { return m_bar; }
    wxStaticText* Elapsed() const { return m_elapsed; }
    wxStaticText* Remaining() const { return m_remaining; }
    CButtonPlus* CancelButton() const { return m_cancel; }

protected:
    wxSize InitialClientSize() const override { return wxSize(512, 210); }
    void OnInitDialog() override;
    void OnEscape() override { OnCancelButton(); }

private:
    void OnTimer(wxTimerEvent&);
    void ShowState(const CLostPartitionSearchModel::Bar& bar);

    CLostPartitionSearchModel* m_model;
    IUiServices& m_ui;
    CProgressBar* m_bar = nullptr;
    wxStaticText* m_elapsed = nullptr;
    wxStaticText* m_remaining = nullptr;
    CButtonPlus* m_cancel = nullptr;
    wxTimer m_timer;
};

// The dialog while the search runs, with `main` disabled; gone with the object.
std::unique_ptr<IWaitingNotice> ShowLostPartitionSearchDialog(wxWindow* main, IUiServices& ui,
                                                              CLostPartitionSearchModel& model);
// The open-disk-image wizard; the ".edi" chosen, "" when cancelled.
std::string RunOpenDiskImageWizard(wxWindow* main);

// Page 3: the disks, the opened images and the saved result.
class CLostRecoveryDiskDeviceSelectPage : public CDeviceSelectPage {
public:
    enum : int {
        kIdOption = 1012, kIdRefresh = 1013, kIdDiskImage = 1014, kIdRecover = 1015,
        kIdCreateImage = 32771, kIdOpenImage = 32772, kIdRemove = 32773,
    };
    CLostRecoveryDiskDeviceSelectPage(wxWindow* parent, AppContext& context);
    ~CLostRecoveryDiskDeviceSelectPage() override;
    void LayoutPage(int cx, int cy) override;
    // Carries out one of the page's commands.
    void Command(int id);
    // The image menu's and the context menu's items: {command, enabled}.
    std::vector<std::pair<int, bool>> ImageMenuItems();
    std::vector<int> ContextMenuItems();
    CLostRecoveryDiskDeviceSelectController& Controller() const { return m_controller; }
    CButtonPlus* Button(int id) const;

private:
    void OnNotify(wxCommandEvent& e);
    void OnButton(wxCommandEvent& e);
    void PopUp(const std::vector<std::pair<int, bool>>& items);

    CLostRecoveryDiskDeviceSelectController& m_controller;
    CTextSmallIconButtonPlus* m_option = nullptr;
    CTextSmallIconButtonPlus* m_refresh = nullptr;
    CTextSmallIconButtonPlus* m_diskImage = nullptr;
};

// Page 4: the lost partitions found, with the "Deep Scan Recovery" button that starts the full
// scan.
class CLostRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
public:
    enum : int { kIdOption = 1015, kIdFullScanBox = 1016, kIdRecover = 1017, kIdDeepScan = 1018, kIdProperties = 32776 };
    CLostRecoveryPartitionDeviceSelectPage(wxWindow* parent, AppContext& context);
    ~CLostRecoveryPartitionDeviceSelectPage() override;
    void LayoutPage(int cx, int cy) override;
    void Command(int id);
    CLostRecoveryPartitionDeviceSelectController& Controller() const { return m_controller; }
    CTextSmallIconButtonPlus* DeepScanButton() const { return m_deepScan; }
    wxCheckBox* FullScanBox() const { return m_fullScanBox; }

private:
    void OnNotify(wxCommandEvent& e);
    void OnButton(wxCommandEvent& e);

    AppContext& m_context;
    CLostRecoveryPartitionDeviceSelectController& m_controller;
    CTextSmallIconButtonPlus* m_option = nullptr;
    CTextSmallIconButtonPlus* m_deepScan = nullptr;
    wxCheckBox* m_fullScanBox = nullptr;
};

// The sheet's page of `index` when it is one of Lost Partition Recovery's, else null.
CWizardPage* CreateLostRecoveryPage(wxWindow* sheet, AppContext& context, int index);
