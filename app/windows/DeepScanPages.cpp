#include "app/windows/DeepScanPages.h"
#include "ui/controls/ScrollWnd.h"

#include "app/windows/AppBitmaps.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "filesystems/FileProperties.h"
#include "tools/windows/CreateImageWizard.h"
#include "tools/windows/OpenImageWizard.h"
#include "tools/windows/SettingsDialog.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/DeviceViewModel.h"
#include "ui/views/wx/PartitionListCtrl.h"
#include "ui/views/wx/PropertiesDlg.h"
#include "ui/controls/Resources.h"

#include <wx/menu.h>

namespace {

std::string MenuText(int id) {
    switch (id) {
    case CCompleteRecoveryPartitionDeviceSelectPage::kIdCreateImage:
        return "Disk Image";
    case CCompleteRecoveryPartitionDeviceSelectPage::kIdOpenImage:
        return "Open Disk Image";
    case CCompleteRecoveryPartitionDeviceSelectPage::kIdRemoveImage:
        return "Remove";
    default:
        return "";
    }
}

} // namespace

CCompleteRecoveryPartitionDeviceSelectPage::CCompleteRecoveryPartitionDeviceSelectPage(
    wxWindow* parent, CCompleteRecoveryPartitionDeviceSelectController& controller)
    : CDeviceSelectPage(parent, kPageCompleteRecoveryPartition), m_controller(controller) {
    m_option = CreateToolButton(this, kIdOption, appres::kBmpOption, uistr::kOptionCaption);
    m_refresh = CreateToolButton(this, kIdRefresh, appres::kBmpRefresh, uistr::kRefreshCaption);
    m_image = CreateToolButton(this, kIdDiskImage, appres::kBmpDiskImage, uistr::kDiskImageCaption);
    m_image->Hide();
    m_image->Disable();
    List()->Header()->SetColumnTitle(0, " Partition");
    controller.SetListView(List());
    Bind(wxEVT_BUTTON, [this](wxCommandEvent& e) { Command(e.GetId()); });
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) { Command(e.GetId()); });
    Bind(EVT_UI_NOTIFY, &CCompleteRecoveryPartitionDeviceSelectPage::OnNotify, this);
}

CCompleteRecoveryPartitionDeviceSelectPage::~CCompleteRecoveryPartitionDeviceSelectPage() {
    m_controller.SetListView(nullptr);
}

CTextSmallIconButtonPlus* CCompleteRecoveryPartitionDeviceSelectPage::Button(int id) const {
    return id == kIdOption      ? m_option
           : id == kIdRefresh   ? m_refresh
           : id == kIdDiskImage ? m_image
                                : nullptr;
}

void CCompleteRecoveryPartitionDeviceSelectPage::LayoutPage(int cx, int cy) {
    CDeviceSelectPage::LayoutPage(cx, cy);
    PlaceButtonRow({{m_option, 48}, {m_refresh, 143}, {m_image, 242}}, 5);
}

std::vector<int> CCompleteRecoveryPartitionDeviceSelectPage::ContextMenuItems() {
    const int selected = List()->GetSelectedIndex();
    const bool savedRow = selected >= 0 && !List()->GetDeviceData(selected);
    std::vector<int> items{kIdRecover};
    if (m_controller.IsSelectedImage() || savedRow)
        items.push_back(kIdRemoveImage);
    return items;
}

void CCompleteRecoveryPartitionDeviceSelectPage::OnNotify(wxCommandEvent& e) {
    if (e.GetId() == kDeviceMsgDoubleClick) {
        m_controller.Next();
    } else if (e.GetId() == kDeviceMsgRightUp) {
        const int selected = List()->GetSelectedIndex();
        const bool savedRow = selected >= 0 && !List()->GetDeviceData(selected);
        CXPMenu menu;
        for (int id : ContextMenuItems())
            menu.Append(id, id == kIdRecover ? (savedRow ? "Continue" : "Recover") : MenuText(id));
        menu.PopupAtPointer(this);
    } else {
        e.Skip();
    }
}

void CCompleteRecoveryPartitionDeviceSelectPage::ShowImageMenu() {
    CXPMenu menu;
    for (int id : {kIdCreateImage, kIdOpenImage, kIdRemoveImage})
        menu.Append(id, MenuText(id));
    const bool item = m_controller.SelectCurrentRow();
    const bool image = item && m_controller.IsSelectedImage();
    menu.Enable(kIdCreateImage, item && !image);
    menu.Enable(kIdRemoveImage, image);
    menu.PopupAtPointer(this);
}

void CCompleteRecoveryPartitionDeviceSelectPage::Command(int id) {
    switch (id) {
    case kIdOption:
        ShowAdvancedSettings(this, GetScanOptions(), true, true);
        break;
    case kIdRefresh:
        m_controller.RefreshDeviceList();
        break;
    case kIdDiskImage:
        ShowImageMenu();
        break;
    case kIdRecover:
        m_controller.Next();
        break;
    case kIdCreateImage: {
        if (!m_controller.SelectCurrentRow() || m_controller.IsSelectedImage())
            break;
        const auto* record =
            static_cast<const VolumeRecord*>(List()->GetDeviceData(List()->GetSelectedIndex()));
        if (!record || !record->pStorageDevice)
            break;
        const CreateImageResult made = CreateImageOfDevice(
            this, record->pStorageDevice,
            CDeleteRecoveryPartitionDeviceSelectController::VolumeRowName(*record), 255);
        if (made.openInDeviceList && !made.imagePath.empty())
            m_controller.AddImage(made.imagePath);
        break;
    }
    case kIdOpenImage: {
        const OpenDiskImageResult opened = OpenDiskImage(this);
        if (opened.opened && !opened.imagePath.empty())
            m_controller.AddImage(opened.imagePath);
        break;
    }
    case kIdRemoveImage: {
        const int selected = List()->GetSelectedIndex();
        if (selected >= 0 && !List()->GetDeviceData(selected))
            m_controller.RemoveSavedStateRow();
        else
            m_controller.RemoveSelectedImage();
        break;
    }
    default:
        break;
    }
}

CScanPartitionDeviceSelectPage::CScanPartitionDeviceSelectPage(wxWindow* parent, int index)
    : CWizardPage(parent, index) {
    m_option = CreateToolButton(this, kIdOption, appres::kBmpOption, uistr::kOptionCaption);
    m_container = new CLostPartitionCtrlContainer(this, kIdContainer);
    Bind(
        wxEVT_BUTTON,
        [](wxCommandEvent&) { ShowAdvancedSettings(nullptr, GetScanOptions(), false, false); },
        kIdOption);
}

void CScanPartitionDeviceSelectPage::LayoutPage(int cx, int cy) {
    m_option->MoveTo(45, 5);
    m_container->SetSize(49, 52, std::max(10, cx - 98), std::max(10, cy - 58));
}

CCompleteRecoveryScanPartitionDeviceSelectPage::CCompleteRecoveryScanPartitionDeviceSelectPage(
    wxWindow* parent, CCompleteRecoveryScanPartitionDeviceSelectController& controller, int index)
    : CScanPartitionDeviceSelectPage(parent, index), m_controller(controller) {
    controller.SetPane(Container());
    Container()->SetNotifyWindow(this);
    Bind(EVT_UI_NOTIFY, &CCompleteRecoveryScanPartitionDeviceSelectPage::OnNotify, this);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { Command(kIdProperties); }, kIdProperties);
}

void CCompleteRecoveryScanPartitionDeviceSelectPage::Command(int id) {
    if (id != kIdProperties)
        return;
    if (const CSearchedPartitionInfo* p = Container()->GetSelectedPartition()) {
        CScanPartitionPropertiesDlg dlg(this, p);
        dlg.DoModal();
    }
}

void CCompleteRecoveryScanPartitionDeviceSelectPage::OnNotify(wxCommandEvent& e) {
    if (e.GetId() != uires::kMsgGridRightButton) {
        e.Skip();
        return;
    }
    if (!Container()->GetSelectedPartition())
        return;
    CXPMenu menu;
    menu.Append(kIdProperties, "Properties");
    menu.PopupAtPointer(this);
}

CCompleteRecoveryScanPartitionDeviceSelectPage::~CCompleteRecoveryScanPartitionDeviceSelectPage() {
    m_controller.SetPane(nullptr);
}

void CreateDeepScanPages(wxWindow* sheet, AppContext& context, CWizardPage* (&pages)[kPageCount]) {
    auto replace = [&](int index, CWizardPage* page) {
        pages[index]->Destroy();
        pages[index] = page;
        page->Hide();
    };
    if (auto* c = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectController*>(
            context.Controller(kPageCompleteRecoveryPartition)))
        replace(kPageCompleteRecoveryPartition,
                new CCompleteRecoveryPartitionDeviceSelectPage(sheet, *c));
    if (auto* c = dynamic_cast<CCompleteRecoveryScanPartitionDeviceSelectController*>(
            context.Controller(kPageCompleteRecoveryScanPartition)))
        replace(kPageCompleteRecoveryScanPartition,
                new CCompleteRecoveryScanPartitionDeviceSelectPage(sheet, *c));
}
