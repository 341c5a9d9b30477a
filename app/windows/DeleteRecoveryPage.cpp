#include "app/windows/DeleteRecoveryPage.h"
#include "ui/controls/ScrollWnd.h"

#include "app/windows/AppBitmaps.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/DeviceViewModel.h"

#include <wx/menu.h>

CDeleteRecoveryPartitionDeviceSelectPage::CDeleteRecoveryPartitionDeviceSelectPage(
    wxWindow* parent, CDeleteRecoveryPartitionDeviceSelectController& controller)
    : CDeviceSelectPage(parent, kPageDeleteRecoveryPartition), m_controller(controller) {
    m_option = CreateToolButton(this, kIdOption, appres::kBmpOption, uistr::kOptionCaption);
    m_refresh = CreateToolButton(this, kIdRefresh, appres::kBmpRefresh, uistr::kRefreshCaption);
    m_image = CreateToolButton(this, kIdDiskImage, appres::kBmpDiskImage, uistr::kDiskImageCaption);
    for (CTextSmallIconButtonPlus* b : {m_option, m_image}) {
        b->Hide();
        b->Disable();
    }
    List()->Header()->SetColumnTitle(0, " Partition");
    controller.SetListView(List());
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_controller.InitVolumeDeviceSelectCtrl(); }, kIdRefresh);
    Bind(EVT_UI_NOTIFY, &CDeleteRecoveryPartitionDeviceSelectPage::OnNotify, this);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { m_controller.Next(); }, kIdRecover);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_controller.ShowOptions(); }, kIdOption);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ImageMenu(); }, kIdDiskImage);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { m_controller.CreateImageOfSelection(); }, kIdCreateImage);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { m_controller.OpenDiskImage(); }, kIdOpenImage);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { m_controller.DeleteImage(); }, kIdRemoveImage);
}

void CDeleteRecoveryPartitionDeviceSelectPage::ImageMenu() {
    const bool row = m_controller.SelectCurrent();
    const bool image = row && m_controller.IsImageSelected();
    CXPMenu menu;
    menu.Append(kIdCreateImage, "Disk Image", row && !image);
    menu.Append(kIdOpenImage, "Open Disk Image");
    menu.Append(kIdRemoveImage, "Remove", image);
    menu.PopupAtPointer(this);
}

CDeleteRecoveryPartitionDeviceSelectPage::~CDeleteRecoveryPartitionDeviceSelectPage() { m_controller.SetListView(nullptr); }

CTextSmallIconButtonPlus* CDeleteRecoveryPartitionDeviceSelectPage::Button(int id) const {
    return id == kIdOption ? m_option : id == kIdRefresh ? m_refresh : id == kIdDiskImage ? m_image : nullptr;
}

void CDeleteRecoveryPartitionDeviceSelectPage::LayoutPage(int cx, int cy) {
    CDeviceSelectPage::LayoutPage(cx, cy);
    // "Option" shares the place of "Refresh" and "Disk Image" stands after them, both hidden.
    PlaceButtonRow({{m_refresh, 48}, {m_image, 242}}, 5);
    m_option->MoveTo(48, 5);
}

void CDeleteRecoveryPartitionDeviceSelectPage::OnNotify(wxCommandEvent& e) {
    if (e.GetId() == kDeviceMsgDoubleClick) {
        m_controller.Next();
    } else if (e.GetId() == kDeviceMsgRightUp) {
        CXPMenu menu;
        menu.Append(kIdRecover, uistr::UiString(uistr::kRecoverCaption));
        menu.PopupAtPointer(this);
    } else {
        e.Skip();
    }
}
