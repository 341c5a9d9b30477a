#pragma once
// The pages of Deep Scan Recovery: page 2 lists volumes, images and the saved result ("Option",
// "Refresh", the image menu, Ctrl+O for a raw image); page 7 lists the found partitions above
// their layout picture. CScanPartitionDeviceSelectPage is the base of the found-partition pages.
#include "app/windows/WizardPage.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/CompleteRecoveryScanPartitionController.h"

class CLostPartitionCtrlContainer;
class CTextSmallIconButtonPlus;

class CCompleteRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
public:
    enum : int {
        kIdOption = 1009,
        kIdRefresh = 1010,
        kIdDiskImage = 1011,
        kIdRecover = 1012,
        kIdCreateImage = 32771,
        kIdOpenImage = 32772,
        kIdRemoveImage = 32773,
    };
    CCompleteRecoveryPartitionDeviceSelectPage(
        wxWindow* parent, CCompleteRecoveryPartitionDeviceSelectController& controller);
    ~CCompleteRecoveryPartitionDeviceSelectPage() override;
    void LayoutPage(int cx, int cy) override;
    void OnOpenImage() override { m_controller.OpenRawImageFile(); }
    CTextSmallIconButtonPlus* Button(int id) const;
    // The items of the context menu for the current selection (command ids, in order).
    std::vector<int> ContextMenuItems();
    // A menu or button command of the page.
    void Command(int id);

private:
    void OnNotify(wxCommandEvent& e);
    void ShowImageMenu();
    CCompleteRecoveryPartitionDeviceSelectController& m_controller;
    CTextSmallIconButtonPlus* m_option = nullptr;
    CTextSmallIconButtonPlus* m_refresh = nullptr;
    CTextSmallIconButtonPlus* m_image = nullptr;
};

// The base of the found-partition pages (7 and 8): "Option" and the list over the layout.
class CScanPartitionDeviceSelectPage : public CWizardPage {
public:
    enum : int { kIdOption = 1020, kIdContainer = 1021 };
    CScanPartitionDeviceSelectPage(wxWindow* parent, int index);
    void LayoutPage(int cx, int cy) override;
    CLostPartitionCtrlContainer* Container() const { return m_container; }

private:
    CTextSmallIconButtonPlus* m_option = nullptr;
    CLostPartitionCtrlContainer* m_container = nullptr;
};

class CCompleteRecoveryScanPartitionDeviceSelectPage : public CScanPartitionDeviceSelectPage {
public:
    // Page 7, or Lost Partition Recovery's page 8 over its twin controller.
    CCompleteRecoveryScanPartitionDeviceSelectPage(wxWindow* parent, CCompleteRecoveryScanPartitionDeviceSelectController& controller,
                                                   int index = kPageCompleteRecoveryScanPartition);
    ~CCompleteRecoveryScanPartitionDeviceSelectPage() override;
    enum : int { kIdProperties = 32776 };
    // A menu command of the page: Properties shows the selected row's partition.
    void Command(int id);

private:
    void OnNotify(wxCommandEvent& e);
    CCompleteRecoveryScanPartitionDeviceSelectController& m_controller;
};

// Replaces the sheet's plain pages 2 and 7 by these when the context has the Deep Scan steps.
void CreateDeepScanPages(wxWindow* sheet, AppContext& context, CWizardPage* (&pages)[kPageCount]);
