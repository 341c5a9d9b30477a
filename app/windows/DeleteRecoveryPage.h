#pragma once
// Page 1 of Deleted File Recovery: the volume list with the "Refresh" button (the "Option" and
// "Disk Image" buttons exist hidden and disabled). A double click or the popup's "Recover"
// goes Next.
#include "app/windows/WizardPage.h"
#include "app/wizard/DeleteRecoveryController.h"

class CTextSmallIconButtonPlus;

class CDeleteRecoveryPartitionDeviceSelectPage : public CDeviceSelectPage {
public:
    enum : int {
        kIdOption = 1006, kIdRefresh = 1007, kIdDiskImage = 1008, kIdRecover = 1009,
        kIdCreateImage = 32771, kIdOpenImage = 32772, kIdRemoveImage = 32773,
    };
    CDeleteRecoveryPartitionDeviceSelectPage(wxWindow* parent, CDeleteRecoveryPartitionDeviceSelectController& controller);
    ~CDeleteRecoveryPartitionDeviceSelectPage() override;
    void LayoutPage(int cx, int cy) override;
    CTextSmallIconButtonPlus* Button(int id) const;

private:
    void OnNotify(wxCommandEvent& e);
    // The hidden "Disk Image" button's menu: create, open, remove.
    void ImageMenu();
    CDeleteRecoveryPartitionDeviceSelectController& m_controller;
    CTextSmallIconButtonPlus* m_option = nullptr;
    CTextSmallIconButtonPlus* m_refresh = nullptr;
    CTextSmallIconButtonPlus* m_image = nullptr;
};
