#include "app/windows/LostRecoveryWindows.h"
#include "ui/controls/ScrollWnd.h"

#include "app/wizard/AppContext.h"
#include "app/windows/AppBitmaps.h"
#include "app/windows/DeepScanPages.h"
#include "filesystems/FileProperties.h"
#include "tools/windows/CreateImageWizard.h"
#include "ui/views/wx/PropertiesDlg.h"
#include "tools/windows/OpenImageWizard.h"
#include "tools/windows/SettingsDialog.h"
#include "tools/windows/ToolDialogs.h"
#include "ui/controls/Bitmaps.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"


#include <memory>

namespace {

// The device list header's first column: " Disk" or " Partition".
void SetFirstColumn(CDeviceSelectCtrl* list, const char* title) {
    if (list && list->Header())
        list->Header()->SetColumnTitle(0, title);
}

class CSearchDialogNotice : public IWaitingNotice {
public:
    CSearchDialogNotice(wxWindow* main, IUiServices& ui, CLostPartitionSearchModel& model)
        : m_main(main), m_dlg(new CLostPartitionSearchingDialog(main, model, ui)) {
        if (m_main)
            m_main->Disable();
        m_dlg->CreateModeless();
    }
    ~CSearchDialogNotice() override {
        m_dlg->Release();
        m_dlg->Destroy();
        if (m_main)
            m_main->Enable();
    }

private:
    wxWindow* m_main;
    CLostPartitionSearchingDialog* m_dlg;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The search dialog.

CLostPartitionSearchingDialog::CLostPartitionSearchingDialog(wxWindow* parent, CLostPartitionSearchModel& model,
                                                             IUiServices& ui)
    : CSearchSuperDlg(kTemplateId, parent), m_model(&model), m_ui(ui) {}

CLostPartitionSearchingDialog::~CLostPartitionSearchingDialog() { m_timer.Stop(); }

bool CLostPartitionSearchingDialog::CreateModeless() {
    if (!CreateDialog())
        return false;
    wxDialog::Show();
    Update();
    return true;
}

void CLostPartitionSearchingDialog::OnInitDialog() {
    const wxSize c = GetClientSize();
    SetBackgroundColourOfSkin(wxColour(241, 241, 241));
    ApplyShape();
    EnableSkin(141, wxRect(8, 2, c.x - 8, 28));
    m_bar = new CProgressBar(this, kIdBar, wxPoint(24, 56), wxSize(c.x - 48, 20));
    m_bar->SetColours(wxColour(97, 185, 228), wxColour(242, 247, 250));
    new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kElapsedTimeLabel)), wxPoint(24, 92));
    m_elapsed = new wxStaticText(this, kIdElapsed, "00:00:00", wxPoint(140, 92), wxSize(100, 20), wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kRemainingTimeLabel)), wxPoint(270, 92));
    m_remaining = new wxStaticText(this, kIdRemaining, "00:00:00", wxPoint(390, 92), wxSize(100, 20), wxST_NO_AUTORESIZE);
    m_cancel = new CButtonPlus(uires::kBmpCancelNormal, uires::kBmpCancelHover, uires::kBmpCancelPressed,
                               uires::kBmpCancelDisabled);
    m_cancel->Create(this, uires::MapControlId(uires::kIdCancel));
    m_cancel->MoveTo((c.x - m_cancel->GetButtonSize().x) / 2, c.y - m_cancel->GetButtonSize().y - 12);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelButton(); }, uires::MapControlId(uires::kIdCancel));
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, &CLostPartitionSearchingDialog::OnTimer, this);
    if (!m_timer.Start(static_cast<int>(CLostPartitionSearchModel::kTimerPeriodMs))) {
        // The search still runs and reports to the model; only the window goes.
        m_ui.MessageBox(uistr::kFailedToSetTimer, kMbInformation, kMbOk);
        Hide();
    }
    Centre();
}

void CLostPartitionSearchingDialog::Release() {
    m_timer.Stop();
    m_model = nullptr;
}

void CLostPartitionSearchingDialog::ShowState(const CLostPartitionSearchModel::Bar& bar) {
    if (!m_bar || !m_model)
        return;
    m_bar->SetRange(std::max(1, bar.high - bar.low));
    m_bar->SetPos(std::max(0, bar.position - bar.low));
    m_elapsed->SetLabelText(ui::FromUtf8(m_model->ElapsedText()));
    m_remaining->SetLabelText(ui::FromUtf8(m_model->RemainingText()));
}

void CLostPartitionSearchingDialog::Tick() {
    if (!m_model)
        return;
    m_model->OnTimer();
    ShowState(m_model->GetBar());
}

void CLostPartitionSearchingDialog::OnTimer(wxTimerEvent&) { Tick(); }

void CLostPartitionSearchingDialog::OnCancelButton() {
    if (!m_model || m_model->Cancelled())
        return;
    if (m_model->OnCancel(m_ui)) {
        m_cancel->Disable();
        SetTitle(ui::FromUtf8(uistr::UiString(uistr::kCancelling)));
        Refresh();
    }
}

std::unique_ptr<IWaitingNotice> ShowLostPartitionSearchDialog(wxWindow* main, IUiServices& ui,
                                                              CLostPartitionSearchModel& model) {
    return std::make_unique<CSearchDialogNotice>(main, ui, model);
}

std::string RunOpenDiskImageWizard(wxWindow* main) {
    const OpenDiskImageResult opened = OpenDiskImage(main);
    return opened.opened ? opened.imagePath : std::string();
}

// ---------------------------------------------------------------------------------------------
// Page 3.

CLostRecoveryDiskDeviceSelectPage::CLostRecoveryDiskDeviceSelectPage(wxWindow* parent, AppContext& context)
    : CDeviceSelectPage(parent, kPageLostRecoveryDisk),
      m_controller(*dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(context.Controller(kPageLostRecoveryDisk))) {
    m_option = CreateToolButton(this, kIdOption, appres::kBmpOption, uistr::kOptionCaption);
    m_refresh = CreateToolButton(this, kIdRefresh, appres::kBmpRefresh, uistr::kRefreshCaption);
    m_diskImage = CreateToolButton(this, kIdDiskImage, appres::kBmpDiskImage, uistr::kDiskImageCaption);
    SetFirstColumn(List(), " Disk");
    m_controller.SetListView(List());
    Bind(EVT_UI_NOTIFY, &CLostRecoveryDiskDeviceSelectPage::OnNotify, this);
    Bind(wxEVT_BUTTON, &CLostRecoveryDiskDeviceSelectPage::OnButton, this);
    for (int id : {kIdCreateImage, kIdOpenImage, kIdRemove, kIdRecover})
        Bind(wxEVT_MENU, [this](wxCommandEvent& e) { Command(e.GetId()); }, id);
}

CLostRecoveryDiskDeviceSelectPage::~CLostRecoveryDiskDeviceSelectPage() {
    // The controller outlives its page: it goes back to its own list.
    m_controller.SetListView(nullptr);
}

CButtonPlus* CLostRecoveryDiskDeviceSelectPage::Button(int id) const {
    switch (id) {
    case kIdOption: return m_option;
    case kIdRefresh: return m_refresh;
    case kIdDiskImage: return m_diskImage;
    default: return nullptr;
    }
}

void CLostRecoveryDiskDeviceSelectPage::LayoutPage(int cx, int cy) {
    CDeviceSelectPage::LayoutPage(cx, cy);
    PlaceButtonRow({{m_option, 48}, {m_refresh, 143}, {m_diskImage, 242}}, 5);
    // The image menu is reached through its commands only.
    m_diskImage->Hide();
    m_diskImage->Disable();
}

std::vector<std::pair<int, bool>> CLostRecoveryDiskDeviceSelectPage::ImageMenuItems() {
    const bool item = m_controller.SelectCurrentRow();
    const bool image = item && m_controller.IsSelectedImage();
    return {{kIdCreateImage, item && !image}, {kIdOpenImage, true}, {kIdRemove, image}};
}

std::vector<int> CLostRecoveryDiskDeviceSelectPage::ContextMenuItems() {
    const int row = List()->GetSelectedIndex();
    const bool savedRow = row >= 0 && !List()->GetDeviceData(row);
    std::vector<int> items{kIdRecover};
    if (m_controller.IsSelectedImage() || savedRow)
        items.push_back(kIdRemove);
    return items;
}

void CLostRecoveryDiskDeviceSelectPage::PopUp(const std::vector<std::pair<int, bool>>& items) {
    // The choice comes back as a menu command (OnMenu).
    CXPMenu menu;
    for (const auto& [id, enabled] : items) {
        const char* text = id == kIdCreateImage ? "Disk Image" : id == kIdOpenImage ? "Open Disk Image" : id == kIdRemove ? "Remove" : "";
        if (id == kIdRecover) {
            const int row = List()->GetSelectedIndex();
            text = row >= 0 && !List()->GetDeviceData(row) ? "Continue" : "Recover";
        }
        menu.Append(id, text, enabled);
    }
    menu.PopupAtPointer(this);
}

void CLostRecoveryDiskDeviceSelectPage::Command(int id) {
    switch (id) {
    case kIdOption: ShowAdvancedSettings(this, GetScanOptions(), true, true); break;
    case kIdRefresh: m_controller.RefreshDeviceList(); break;
    case kIdDiskImage: PopUp(ImageMenuItems()); break;
    case kIdCreateImage: {
        // The selected disk is imaged with its heads per cylinder; the new image is listed.
        if (!m_controller.SelectCurrentRow() || m_controller.IsSelectedImage())
            break;
        const auto* item = static_cast<const LostDiskItem*>(List()->GetDeviceData(List()->GetSelectedIndex()));
        if (!item || !item->pDevice)
            break;
        const CreateImageResult made = CreateImageOfDevice(this, item->pDevice, item->szText, item->headsPerCylinder);
        if (made.openInDeviceList && !made.imagePath.empty())
            m_controller.AddDiskImage(made.imagePath);
        break;
    }
    case kIdOpenImage: m_controller.OpenDiskImage(); break;
    case kIdRemove: {
        const int row = List()->GetSelectedIndex();
        if (row >= 0 && !List()->GetDeviceData(row))
            m_controller.RemoveSavedStateRow();
        else
            m_controller.RemoveSelectedImage();
        break;
    }
    case kIdRecover: m_controller.Next(); break;
    default: break;
    }
    Refresh();
}

void CLostRecoveryDiskDeviceSelectPage::OnNotify(wxCommandEvent& e) {
    switch (e.GetId()) {
    case kDeviceMsgDoubleClick: m_controller.Next(); break;
    case kDeviceMsgRightUp: {
        std::vector<std::pair<int, bool>> items;
        for (int id : ContextMenuItems())
            items.emplace_back(id, true);
        PopUp(items);
        break;
    }
    default: e.Skip(); break;
    }
}

void CLostRecoveryDiskDeviceSelectPage::OnButton(wxCommandEvent& e) {
    if (e.GetId() == kIdOption || e.GetId() == kIdRefresh || e.GetId() == kIdDiskImage)
        Command(e.GetId());
    else
        e.Skip();
}

// ---------------------------------------------------------------------------------------------
// Page 4.

CLostRecoveryPartitionDeviceSelectPage::CLostRecoveryPartitionDeviceSelectPage(wxWindow* parent, AppContext& context)
    : CDeviceSelectPage(parent, kPageLostRecoveryPartition), m_context(context),
      m_controller(*dynamic_cast<CLostRecoveryPartitionDeviceSelectController*>(context.Controller(kPageLostRecoveryPartition))) {
    m_option = CreateToolButton(this, kIdOption, appres::kBmpOption, uistr::kOptionCaption);
    m_deepScan = CreateToolButton(this, kIdDeepScan, appres::kBmpDeepScanRecovery, uistr::kDeepScanCaption);
    m_fullScanBox = new wxCheckBox(this, kIdFullScanBox, ui::FromUtf8(uistr::UiString(uistr::kFullScanCheckBox)),
                                   wxPoint(224, 12), wxSize(12, 12));
    SetFirstColumn(List(), " Partition");
    m_controller.SetListView(List());
    m_controller.SetFullScanBoxHook([this](bool on) { m_fullScanBox->SetValue(on); });
    Bind(EVT_UI_NOTIFY, &CLostRecoveryPartitionDeviceSelectPage::OnNotify, this);
    Bind(wxEVT_BUTTON, &CLostRecoveryPartitionDeviceSelectPage::OnButton, this);
    Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { Command(kIdFullScanBox); }, kIdFullScanBox);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { Command(kIdRecover); }, kIdRecover);
}

CLostRecoveryPartitionDeviceSelectPage::~CLostRecoveryPartitionDeviceSelectPage() {
    m_controller.SetListView(nullptr);
    m_controller.SetFullScanBoxHook({});
}

void CLostRecoveryPartitionDeviceSelectPage::LayoutPage(int cx, int cy) {
    CDeviceSelectPage::LayoutPage(cx, cy);
    m_option->MoveTo(48, 5);
    m_option->Hide();
    m_option->Disable();
    m_deepScan->MoveTo(48, 5);
    // The switch is set by the "Deep Scan Recovery" button, which goes on at once.
    m_fullScanBox->Hide();
    m_fullScanBox->Disable();
}

void CLostRecoveryPartitionDeviceSelectPage::Command(int id) {
    switch (id) {
    case kIdDeepScan:
        m_controller.SetFullScan(true);
        List()->ClearSelection();
        m_context.SheetController().Next();
        break;
    case kIdFullScanBox:
        // The box flips; the switch follows it.
        if (m_controller.FullScan()) {
            m_fullScanBox->SetValue(false);
            m_controller.SetFullScan(false);
        } else {
            m_fullScanBox->SetValue(true);
            m_controller.SetFullScan(true);
            List()->ClearSelection();
        }
        break;
    case kIdRecover: m_controller.Next(); break;
    case kIdOption: ShowAdvancedSettings(this, GetScanOptions(), true, true); break;
    case kIdProperties: {
        const int row = List()->GetSelectedIndex();
        if (const auto* p = row >= 0 ? static_cast<const FoundPartitionInfo*>(List()->GetDeviceData(row)) : nullptr) {
            CScanPartitionPropertiesDlg dlg(this, p->u64FirstSector, p->u64SectorCount);
            dlg.DoModal();
        }
        break;
    }
    default: break;
    }
}

void CLostRecoveryPartitionDeviceSelectPage::OnNotify(wxCommandEvent& e) {
    switch (e.GetId()) {
    case kDeviceMsgSelected:
        m_fullScanBox->SetValue(false);
        m_controller.SetFullScan(false);
        break;
    case kDeviceMsgDoubleClick: m_controller.Next(); break;
    case kDeviceMsgRightUp: {
        CXPMenu menu;
        menu.Append(kIdRecover, uistr::UiString(uistr::kRecoverMenuItem));
        menu.PopupAtPointer(this);
        break;
    }
    default: e.Skip(); break;
    }
}

void CLostRecoveryPartitionDeviceSelectPage::OnButton(wxCommandEvent& e) {
    if (e.GetId() == kIdDeepScan || e.GetId() == kIdOption)
        Command(e.GetId());
    else
        e.Skip();
}

CWizardPage* CreateLostRecoveryPage(wxWindow* sheet, AppContext& context, int index) {
    switch (index) {
    case kPageLostRecoveryDisk:
        if (dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(context.Controller(index)))
            return new CLostRecoveryDiskDeviceSelectPage(sheet, context);
        return nullptr;
    case kPageLostRecoveryPartition:
        if (dynamic_cast<CLostRecoveryPartitionDeviceSelectController*>(context.Controller(index)))
            return new CLostRecoveryPartitionDeviceSelectPage(sheet, context);
        return nullptr;
    case kPageLostRecoveryScanPartition:
        // Deep Scan Recovery's found-partition page over the twin controller.
        if (auto* c = dynamic_cast<CLostRecoveryScanPartitionDeviceSelectController*>(context.Controller(index)))
            return new CCompleteRecoveryScanPartitionDeviceSelectPage(sheet, *c, kPageLostRecoveryScanPartition);
        return nullptr;
    default: return nullptr;
    }
}
