// Deep Scan Recovery in the real windows under a virtual X server: the device page (Ctrl+O on
// the damaged disk image), the deep-scan dialog, the found-partition page with its list and
// layout, the file page; the dialog's statistics shown and hidden and its cancel question.
#include "app/windows/AppBitmaps.h"
#include "app/windows/DeepScanDialog.h"
#include "app/windows/DeepScanPages.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WxUiServices.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/FileSelectController.h"
#include "filesystems/FileProperties.h"
#include "tests/app/gui/CaptionChecks.h"
#include "tests/support/DeepScanDisk.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/StringTable.h"
#include "ui/views/wx/PartitionListCtrl.h"
#include "ui/views/wx/PropertiesDlg.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace uitest;

namespace {

class NoDevices : public IDeviceSource {
public:
    void CollectDisks(DiskList&) override {}
    void CollectVolumes(VolumeList&, DiskList&) override {}
    void FreeVolumes(VolumeList&) override {}
    void FreeDisks(DiskList&) override {}
};

// The program's services with the file dialog answered by the test.
class Services : public CWxUiServices {
public:
    using CWxUiServices::CWxUiServices;
    std::string OpenFileDialog(const std::string& filter) override {
        filters.push_back(filter);
        return openPath;
    }
    // The state dialogs: their titles and whether they offered a Cancel button.
    std::unique_ptr<IBuildProgress> CreateUncancellableProgress(const std::string& title) override {
        std::unique_ptr<IBuildProgress> progress = CWxUiServices::CreateUncancellableProgress(title);
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = dynamic_cast<CBuildDirectoryDlg*>(w); d && d->IsShown()) {
                stateDialogs.push_back(ui::ToUtf8(d->GetTitle()) + (d->CancelButton()->IsShown() ? " +cancel" : ""));
            }
        return progress;
    }
    std::string openPath;
    std::vector<std::string> filters;
    std::vector<std::string> stateDialogs;
};

struct DeepProgram {
    platform::AppPaths paths;
    Services services{paths};
    NoDevices devices;
    std::unique_ptr<AppContext> context;
    CMainFrame* frame = nullptr;

    explicit DeepProgram(const std::string& stateDir) {
        paths = platform::ResolveAppPaths();
        paths.stateDir = stateDir;
        appres::RegisterAppBitmaps();
        context = std::make_unique<AppContext>(services, devices, paths);
        InstallDeletedFileRecoverySteps(*context);
        InstallDeepScanSteps(*context);
        frame = new CMainFrame(*context);
        services.SetMainWindow(frame);
        frame->Show();
        frame->Raise();
        Pump(200);
    }
    ~DeepProgram() {
        frame->Destroy();
        Pump(50);
        context.reset();
    }
    CWizardSheetWnd* Sheet() const { return frame->Sheet(); }
};

} // namespace

TEST(DeepScanWindows, DevicePageCtrlOPartitionPageAndFilePage) {
    GetScanOptions().SetDefaults();
    const testsupport::DeepScanDisk& disk = testsupport::CachedDeepScanDisk();
    ASSERT_FALSE(disk.path.empty());
    const std::string state = testsupport::ScratchDir("deep-windows-state") + "/";
    {
        DeepProgram p(state);
        auto* mode = dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode));
        ASSERT_TRUE(mode);
        Click(mode->ModeButton(kModeDeepScan));
        Pump(200);
        ASSERT_EQ(p.Sheet()->GetActivePage(), kPageCompleteRecoveryPartition);
        auto* page2 = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectPage*>(
            p.Sheet()->Page(kPageCompleteRecoveryPartition));
        ASSERT_TRUE(page2);
        EXPECT_TRUE(
            page2->Button(CCompleteRecoveryPartitionDeviceSelectPage::kIdOption)->IsShown());
        EXPECT_TRUE(
            page2->Button(CCompleteRecoveryPartitionDeviceSelectPage::kIdRefresh)->IsShown());
        EXPECT_FALSE(
            page2->Button(CCompleteRecoveryPartitionDeviceSelectPage::kIdDiskImage)->IsShown());
        EXPECT_EQ(page2->ContextMenuItems(),
                  std::vector<int>{CCompleteRecoveryPartitionDeviceSelectPage::kIdRecover});
        MoveTo(p.frame, wxPoint(5, 5));
        Pump(200);
        using DevicePage = CCompleteRecoveryPartitionDeviceSelectPage;
        ExpectToolButtonRow({page2->Button(DevicePage::kIdOption), page2->Button(DevicePage::kIdRefresh),
                             page2->Button(DevicePage::kIdDiskImage)});
        Screenshot(p.frame, "deep_device_page");

        // Ctrl+O: the accelerator reaches the page; the scan runs behind its dialog.
        p.services.openPath = disk.path;
        wxCommandEvent ctrlO(wxEVT_MENU, kCmdOpenImage);
        p.frame->GetEventHandler()->ProcessEvent(ctrlO);
        Pump(300);
        ASSERT_EQ(p.services.filters.size(), 1u);
        EXPECT_EQ(p.services.filters[0], "Disk Image File(*.edi)|*.edi|ImageFile(*.vlv)|*.vlv|Raw Image File(*.*)|*.*");
        ASSERT_EQ(p.Sheet()->GetActivePage(), kPageCompleteRecoveryScanPartition);
        EXPECT_EQ(CurrentDeepScanDialog(), nullptr); // gone with the search
        EXPECT_TRUE(p.frame->IsEnabled());

        auto* page7 = dynamic_cast<CCompleteRecoveryScanPartitionDeviceSelectPage*>(
            p.Sheet()->Page(kPageCompleteRecoveryScanPartition));
        ASSERT_TRUE(page7);
        CFoundPartitionListModel& list = page7->Container()->PartitionList();
        ASSERT_GE(list.RowCount(), 2);
        EXPECT_EQ(list.GetCheckedCount(), 1);
        for (int row = 0; row < list.RowCount(); ++row)
            if (!list.IsRowChecked(row) && list.Record(row)->fileSystem <= FILESYSTEM_NTFS)
                list.ToggleBox(row, 0, 0);
        page7->Container()->RefreshPane();
        Pump(200);
        EXPECT_GE(page7->Container()->PartitionLayout().BlockCount(), 2);
        // The long heading is shown whole, on as many lines as the fonts wrap it to, inside
        // the band above the page.
        wxStaticText* heading = p.Sheet()->Heading();
        ExpectTextWhole(heading);
        EXPECT_GE(heading->GetPosition().y, 0);
        EXPECT_LE(heading->GetPosition().y + heading->GetSize().y, 72);
        EXPECT_LE(heading->GetRect().GetRight(), p.Sheet()->GetClientSize().x);
        Screenshot(p.frame, "deep_partition_page");

        // Properties (the row's menu command) shows the selected partition's figures.
        ASSERT_TRUE(list.SelectRow(0));
        bool shownProperties = false;
        RunModal(
            [&] {
                page7->Command(CCompleteRecoveryScanPartitionDeviceSelectPage::kIdProperties);
                return 0;
            },
            [&] {
                auto* d = dynamic_cast<CScanPartitionPropertiesDlg*>(ActiveModal());
                ASSERT_NE(d, nullptr);
                shownProperties = true;
                EXPECT_GT(d->List()->GetItemCount(), 0);
                Screenshot(d, "deep_partition_properties");
                d->EndModal(2);
            });
        EXPECT_TRUE(shownProperties);

        Click(p.Sheet()->Button(kIdNextButton));
        ASSERT_TRUE(
            PumpUntil([&] { return p.Sheet()->GetActivePage() == kPageFileSelect; }, 20000));
        Pump(300);
        EXPECT_TRUE(GetFileSelectController()->GetFileTree());
        Screenshot(p.frame, "deep_file_page");
        // The finished scan saved its state behind a dialog that cannot be cancelled.
        EXPECT_EQ(p.services.stateDialogs, std::vector<std::string>{"Save recovery states"});
    }

    // The next run offers the result; the row's flat menu continues it from the saved state.
    {
        DeepProgram p(state);
        Click(dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode))->ModeButton(kModeDeepScan));
        Pump(200);
        auto* page2 = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectPage*>(
            p.Sheet()->Page(kPageCompleteRecoveryPartition));
        ASSERT_TRUE(page2);
        ASSERT_EQ(page2->List()->Count(), 1);
        wxWindow* view = page2->List()->View();
        const wxPoint row(60, page2->List()->Model().Row(0).top + 20);
        ClickAt(view, row);
        Pump(700);
        ClickAt(view, row, wxMOUSE_BTN_RIGHT);
        wxWindow* menu = ShownFlatMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->GetClientSize(), wxSize(160, 50));  // "Continue" and "Remove"
        MoveTo(menu, wxPoint(40, 12));
        Pump(100);
        Screenshot(p.frame, "deep_saved_result_menu");
        ChooseFlatMenuItem(0);
        EXPECT_TRUE(PumpUntil([&] { return p.Sheet()->GetActivePage() != kPageCompleteRecoveryPartition; }, 20000));
        EXPECT_EQ(p.Sheet()->GetActivePage(), kPageFileSelect);
        EXPECT_EQ(p.services.stateDialogs, std::vector<std::string>{"Restore previous recovery"});
    }

    // A later run still offers it: the context menu of its row has "Continue" and "Remove".
    DeepProgram p(state);
    auto* mode = dynamic_cast<CRecoveryModeSelectPage*>(p.Sheet()->Page(kPageRecoveryMode));
    Click(mode->ModeButton(kModeDeepScan));
    Pump(200);
    auto* page2 = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectPage*>(
        p.Sheet()->Page(kPageCompleteRecoveryPartition));
    ASSERT_TRUE(page2);
    ASSERT_EQ(page2->List()->Count(), 1);
    page2->List()->SelectRow(0);
    Pump(100);
    Screenshot(p.frame, "deep_device_page_saved_result");
    EXPECT_EQ(page2->ContextMenuItems(),
              (std::vector<int>{CCompleteRecoveryPartitionDeviceSelectPage::kIdRecover,
                                CCompleteRecoveryPartitionDeviceSelectPage::kIdRemoveImage}));
    page2->Command(CCompleteRecoveryPartitionDeviceSelectPage::kIdRemoveImage);
    Pump(100);
    EXPECT_EQ(page2->List()->Count(), 0);
    EXPECT_FALSE(std::filesystem::exists(state + "brulincslast.rdf"));
}

TEST(DeepScanWindows, SearchDialogStatisticsAndCancelQuestion) {
    appres::RegisterAppBitmaps();
    std::uint64_t now = 0;
    CDeepScanProgressModel model([&] { return now; });
    auto* dlg = new CIntelligentSearchingDialog(model);
    ASSERT_TRUE(dlg->CreateModeless());
    model.SetRange(0, 46);
    IntelligentSearchStats stats{};
    for (int i = 0; i < 8; ++i)
        stats.counters[i] = static_cast<std::uint64_t>(3 * i + 1);
    model.SetStatistics(&stats);
    now = 20000;
    model.SetPosition(23);
    for (int i = 0; i < 65; ++i)
        dlg->OnSecond();
    Pump(100);
    EXPECT_EQ(dlg->Counter(7)->GetLabel(), "22");
    EXPECT_EQ(dlg->Elapsed()->GetLabel(), "0:1:5");
    EXPECT_EQ(dlg->Remaining()->GetLabel(), "0:0:20");
    EXPECT_EQ(dlg->Bar()->GetRange(), 46);
    EXPECT_EQ(dlg->Bar()->GetPos(), 23);
    EXPECT_TRUE(dlg->Counter(0)->IsShown());
    Screenshot(dlg, "deep_scan_dialog");

    const int fullHeight = dlg->GetClientSize().y;
    dlg->ShowStatistics(false);
    Pump(100);
    EXPECT_FALSE(dlg->Counter(0)->IsShown());
    EXPECT_TRUE(dlg->ShowButton()->IsShown());
    EXPECT_LT(dlg->GetClientSize().y, fullHeight);
    Screenshot(dlg, "deep_scan_dialog_small");
    dlg->ShowStatistics(true);
    EXPECT_EQ(dlg->GetClientSize().y, fullHeight);

    // Cancel asks; NO keeps the search going, Yes cancels it.
    for (bool yes : {false, true}) {
        RunModal(
            [&] {
                dlg->AskCancel();
                return 0;
            },
            [&] {
                auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->message, "Stop searching now?");
                if (!yes)
                    Screenshot(box, "deep_scan_cancel_question");
                Click(yes ? box->YesButton() : box->NoButton());
            });
        EXPECT_EQ(model.IsCancelled(), yes ? 1 : 0);
    }
    EXPECT_FALSE(dlg->CancelButton()->IsEnabled());
    dlg->Destroy();
    Pump(50);
}

// A dialog whose timer cannot be set.
class CTimerlessSearchingDialog : public CIntelligentSearchingDialog {
public:
    using CIntelligentSearchingDialog::CIntelligentSearchingDialog;

protected:
    bool StartTimer() override { return false; }
};

TEST(DeepScanWindows, SearchDialogWithoutTimerWarnsAndEnds) {
    appres::RegisterAppBitmaps();
    CDeepScanProgressModel model([] { return std::uint64_t{0}; });
    auto* dlg = new CTimerlessSearchingDialog(model);
    std::string warning;
    RunModal(
        [&] { return dlg->CreateModeless() ? 1 : 0; },
        [&] {
            auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
            ASSERT_NE(box, nullptr);
            warning = box->message;
            Click(box->OkButton());
        });
    EXPECT_EQ(warning, "Warning! Failed to set the timer!");
    EXPECT_TRUE(dlg->Ended());
    EXPECT_FALSE(dlg->IsShown());
    EXPECT_EQ(CurrentDeepScanDialog(), nullptr);
    // The search goes on without the dialog: its figures and Cancel still work on the model.
    model.SetRange(0, 10);
    model.SetPosition(4);
    dlg->OnSecond();
    dlg->AskCancel(); // asks nothing once ended
    EXPECT_EQ(model.IsCancelled(), 0);
    dlg->Destroy();
    Pump(50);
}
