// Lost Partition Recovery's windows: the search dialog, the disk page and the found-partition
// page, driven in the program's frame over a fake machine whose disk lost its partition table.
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/windows/AppBitmaps.h"
#include "app/windows/DeepScanPages.h"
#include "app/windows/LostRecoveryWindows.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WxUiServices.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/LostWizardMachine.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

using namespace uitest;

namespace {

// Answers the message box that `open` brings up.
void AnswerBox(const std::function<void()>& open, bool yes, const char* screenshot = nullptr, std::string* text = nullptr) {
    RunModal([&] { open(); return 0; }, [&] {
        auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
        ASSERT_NE(box, nullptr);
        if (text)
            *text = box->message;
        if (screenshot)
            Screenshot(box, screenshot);
        Click(yes ? (box->YesButton() && box->YesButton()->IsShown() ? box->YesButton() : box->OkButton()) : box->NoButton());
    });
}

void PressButton(wxWindow* target, int id) {
    wxCommandEvent ev(wxEVT_BUTTON, id);
    ev.SetEventObject(target);
    target->GetEventHandler()->ProcessEvent(ev);
}

// Runs `handler` on the first modal dialog that comes up while `run` runs (polled by a timer,
// so work that pumps events before the dialog comes up does not disturb it).
void WhenModal(const std::function<void()>& run, const std::function<void(wxDialog*)>& handler) {
    bool handled = false;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxDialog* d = ActiveModal();
        if (handled || !d || !d->IsShownOnScreen())
            return;
        handled = true;
        poll.Stop();
        Pump(100);
        handler(d);
    });
    poll.Start(50);
    run();
    poll.Stop();
}

platform::AppPaths ScratchStatePaths() {
    platform::AppPaths paths = platform::ResolveAppPaths();
    paths.stateDir = testsupport::ScratchDir("lost-windows-state") + "/";  // no earlier run's state
    return paths;
}

struct LostProgram {
    platform::AppPaths paths = ScratchStatePaths();
    CWxUiServices services{paths};
    CEnumerationDeviceSource devices;
    std::unique_ptr<AppContext> context;
    CMainFrame* frame = nullptr;

    LostProgram() {
        appres::RegisterAppBitmaps();
        context = std::make_unique<AppContext>(services, devices, paths);
        InstallDeletedFileRecoverySteps(*context);
        InstallDeepScanSteps(*context);
        InstallLostPartitionRecoverySteps(*context);
        frame = new CMainFrame(*context);
        services.SetMainWindow(frame);
        frame->Show();
        frame->Raise();
        Pump(200);
    }
    ~LostProgram() {
        frame->Destroy();
        Pump(50);
        context.reset();
    }
    CWizardSheetWnd* Sheet() const { return frame->Sheet(); }
};

} // namespace

TEST(LostPartitionSearchDialog, ShowsTimesAndAsksBeforeCancelling) {
    HostFrame host(wxSize(600, 300));
    host.ShowAndWait();
    CWxUiServices services(platform::ResolveAppPaths());
    std::uint64_t now = 0;
    CLostPartitionSearchModel model([&] { return now; });
    auto* dlg = new CLostPartitionSearchingDialog(host.frame(), model, services);
    ASSERT_TRUE(dlg->CreateModeless());
    model.SetRange(0, 1000);
    model.SetStage(1);
    model.StepProgress();
    now = 1000;  // later steps move the bar
    for (int i = 1; i < 250; ++i)
        model.StepProgress();
    for (int i = 0; i < 20; ++i)
        dlg->Tick();
    Pump(100);
    EXPECT_EQ(ui::ToUtf8(dlg->Elapsed()->GetLabel()), "00:00:06");
    EXPECT_EQ(ui::ToUtf8(dlg->Remaining()->GetLabel()), "00:00:19");  // 750 left at 24 ms each, plus one
    EXPECT_EQ(dlg->Bar()->GetPos(), 249);
    Screenshot(dlg, "lost_partition_search_dialog");

    std::string asked;
    AnswerBox([&] { PressButton(dlg, uires::MapControlId(uires::kIdCancel)); }, false, "lost_partition_stop_question", &asked);
    EXPECT_EQ(asked, "Are you sure to stop searching?");
    EXPECT_FALSE(model.Cancelled());
    EXPECT_TRUE(dlg->CancelButton()->IsEnabled());
    AnswerBox([&] { PressButton(dlg, uires::MapControlId(uires::kIdCancel)); }, true);
    EXPECT_TRUE(model.Cancelled());
    EXPECT_FALSE(dlg->CancelButton()->IsEnabled());
    EXPECT_EQ(ui::ToUtf8(dlg->GetTitle()), "Cancelling...");
    Pump(50);
    Screenshot(dlg, "lost_partition_search_cancelling");
    dlg->Destroy();
    Pump(50);
}

TEST(LostRecoveryPages, DiskPageSearchFoundPartitionsAndTheQuickTree) {
    const testsupport::LostPartitionDisk disk = testsupport::LostWizardDisk();
    ASSERT_FALSE(disk.wiped.empty());
    testsupport::LostWizardMachine machine(disk.wiped);
    LostProgram p;
    CWizardSheetWnd* sheet = p.Sheet();
    auto* diskPage = dynamic_cast<CLostRecoveryDiskDeviceSelectPage*>(sheet->Page(kPageLostRecoveryDisk));
    auto* foundPage = dynamic_cast<CLostRecoveryPartitionDeviceSelectPage*>(sheet->Page(kPageLostRecoveryPartition));
    ASSERT_NE(diskPage, nullptr);
    ASSERT_NE(foundPage, nullptr);

    auto* modePage = dynamic_cast<CRecoveryModeSelectPage*>(sheet->Page(kPageRecoveryMode));
    Click(modePage->ModeButton(kModeLostPartition));
    Pump(300);
    ASSERT_EQ(sheet->GetActivePage(), kPageLostRecoveryDisk);
    ASSERT_EQ(diskPage->List()->Count(), 1);
    EXPECT_EQ(diskPage->List()->Model().Row(0).cells[0].text, "ATA   LOST DISK  ATA Bus");
    EXPECT_TRUE(diskPage->Button(CLostRecoveryDiskDeviceSelectPage::kIdRefresh)->IsShown());
    EXPECT_FALSE(diskPage->Button(CLostRecoveryDiskDeviceSelectPage::kIdDiskImage)->IsShown());
    EXPECT_EQ(ui::ToUtf8(sheet->Heading()->GetLabel()), "Select a disk you want to recover and click NEXT:");
    // The context menu without a row offers "Recover" only.
    EXPECT_EQ(diskPage->ContextMenuItems(), std::vector<int>{CLostRecoveryDiskDeviceSelectPage::kIdRecover});
    diskPage->List()->SelectRow(0);
    Pump(100);
    Screenshot(p.frame, "lost_disk_page");
    const auto image = diskPage->ImageMenuItems();
    EXPECT_EQ(image[0], std::make_pair(static_cast<int>(CLostRecoveryDiskDeviceSelectPage::kIdCreateImage), true));
    EXPECT_EQ(image[2], std::make_pair(static_cast<int>(CLostRecoveryDiskDeviceSelectPage::kIdRemove), false));

    // "Recover" of the row's flat menu (as Next): the search runs under its dialog; the found
    // partitions fill page 4.
    {
        wxWindow* view = diskPage->List()->View();
        ClickAt(view, wxPoint(60, diskPage->List()->Model().Row(0).top + 20), wxMOUSE_BTN_RIGHT);
        wxWindow* menu = ShownFlatMenu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->GetClientSize(), wxSize(160, 25));
        MoveTo(menu, wxPoint(40, 12));
        Pump(100);
        Screenshot(p.frame, "lost_disk_row_menu");
        ChooseFlatMenuItem(0);
    }
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageLostRecoveryPartition; }, 20000));
    Pump(200);
    EXPECT_TRUE(p.frame->IsEnabled());
    ASSERT_EQ(foundPage->List()->Count(), 3);
    EXPECT_EQ(foundPage->List()->Model().Row(1).cells[0].text, "Lost Ntfs-NTFS");
    EXPECT_TRUE(foundPage->DeepScanButton()->IsShown());
    EXPECT_FALSE(foundPage->FullScanBox()->IsShown());
    Screenshot(p.frame, "lost_partition_page");
    foundPage->List()->SelectRow(1);
    bool shownProperties = false;
    WhenModal([&] { foundPage->Command(CLostRecoveryPartitionDeviceSelectPage::kIdProperties); }, [&](wxDialog* d) {
        shownProperties = true;
        Screenshot(d, "lost_partition_properties");
        d->EndModal(2);
    });
    EXPECT_TRUE(shownProperties);

    // The NTFS row: its quick tree is built and the "Full scan" hint comes up.
    foundPage->List()->SelectRow(1);
    bool hinted = false;
    WhenModal([&] { PressButton(sheet, kIdNextButton); }, [&](wxDialog* d) {
        auto* prompt = dynamic_cast<CHasCheckboxPromptDlg*>(d);
        ASSERT_NE(prompt, nullptr);
        hinted = true;
        Screenshot(prompt, "lost_full_scan_hint");
        prompt->CheckBox()->SetValue(true);
        Click(prompt->OkButton());
    });
    EXPECT_TRUE(hinted);
    EXPECT_FALSE(p.context->showFullScanHint);
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageFileSelect; }, 20000));
    Pump(200);
    Screenshot(p.frame, "lost_quick_tree_file_page");

    // Back to page 4 (asked first); "Deep Scan Recovery" sets the full-scan switch even with a
    // row selected and goes on to the deep scan and page 8.
    AnswerBox([&] { PressButton(sheet, kIdBackButton); }, true);
    ASSERT_EQ(sheet->GetActivePage(), kPageLostRecoveryPartition);
    foundPage->List()->SelectRow(0);
    PressButton(foundPage, CLostRecoveryPartitionDeviceSelectPage::kIdDeepScan);
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageLostRecoveryScanPartition; }, 60000));
    EXPECT_TRUE(foundPage->Controller().FullScan());
    Pump(300);
    auto* scanPage = dynamic_cast<CCompleteRecoveryScanPartitionDeviceSelectPage*>(sheet->Page(kPageLostRecoveryScanPartition));
    ASSERT_NE(scanPage, nullptr);
    EXPECT_EQ(scanPage->GetHelpContextId(), 51);
    auto* scan = dynamic_cast<CLostRecoveryScanPartitionDeviceSelectController*>(p.context->Controller(kPageLostRecoveryScanPartition));
    ASSERT_NE(scan, nullptr);
    EXPECT_GE(scan->List().RowCount(), 3);
    EXPECT_EQ(scan->List().GetCheckedCount(), 3);
    EXPECT_NE(scan->Pane().PartitionLayout().Caption().find("LOST DISK"), std::string::npos);
    Screenshot(p.frame, "lost_scan_partition_page");

    // Home clears the switch and every step.
    AnswerBox([&] { PressButton(sheet, kIdHomeButton); }, true);
    Pump(100);
    EXPECT_EQ(sheet->GetActivePage(), kPageRecoveryMode);
    EXPECT_FALSE(foundPage->Controller().FullScan());
    EXPECT_EQ(foundPage->List()->Count(), 0);
    EXPECT_EQ(diskPage->List()->Count(), 0);
}

namespace {

// Answers every modal dialog that comes up while `run` runs: prompts with OK, message boxes
// with Yes (or OK). The texts asked are collected.
std::vector<std::string> AnsweringEverything(const std::function<void()>& run) {
    std::vector<std::string> asked;
    bool busy = false;
    wxTimer poll;
    poll.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxDialog* d = ActiveModal();
        if (busy || !d || !d->IsShownOnScreen())
            return;
        busy = true;
        if (auto* prompt = dynamic_cast<CHasCheckboxPromptDlg*>(d)) {
            asked.push_back("prompt");
            Click(prompt->OkButton());
        } else if (auto* box = dynamic_cast<CMessageBoxDlg*>(d)) {
            asked.push_back(box->message);
            Click(box->YesButton() && box->YesButton()->IsShown() ? box->YesButton() : box->OkButton());
        } else {
            asked.push_back("other");
            d->EndModal(2);
        }
        Pump(50);
        busy = false;
    });
    poll.Start(100);
    run();
    poll.Stop();
    return asked;
}

} // namespace

TEST(LostRecoveryPages, AllThreeModesOneAfterAnotherInOneContext) {
    const testsupport::LostPartitionDisk disk = testsupport::LostWizardDisk();
    ASSERT_FALSE(disk.intact.empty());
    testsupport::LostWizardMachine machine(disk.intact);
    LostProgram p;
    CWizardSheetWnd* sheet = p.Sheet();
    auto* modePage = dynamic_cast<CRecoveryModeSelectPage*>(sheet->Page(kPageRecoveryMode));
    auto goHome = [&] {
        AnsweringEverything([&] { PressButton(sheet, kIdHomeButton); });
        Pump(100);
        ASSERT_EQ(sheet->GetActivePage(), kPageRecoveryMode);
    };

    // Deleted File Recovery: the NTFS volume of the table, its quick scan, the file page.
    Click(modePage->ModeButton(kModeDeletedFile));
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageDeleteRecoveryPartition; }));
    auto* deleted = dynamic_cast<CDeleteRecoveryPartitionDeviceSelectController*>(p.context->Controller(kPageDeleteRecoveryPartition));
    ASSERT_NE(deleted, nullptr);
    ASSERT_EQ(deleted->ListView().Count(), 3);
    deleted->ListView().SelectRow(1);
    AnsweringEverything([&] {
        PressButton(sheet, kIdNextButton);
        PumpUntil([&] { return sheet->GetActivePage() == kPageFileSelect; }, 20000);
    });
    EXPECT_EQ(sheet->GetActivePage(), kPageFileSelect);
    Screenshot(p.frame, "three_modes_1_deleted_file_page");
    goHome();

    // Deep Scan Recovery: the FAT32 volume, the deep scan, page 7.
    Click(modePage->ModeButton(kModeDeepScan));
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageCompleteRecoveryPartition; }));
    auto* deep = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectController*>(p.context->Controller(kPageCompleteRecoveryPartition));
    ASSERT_NE(deep, nullptr);
    ASSERT_GE(deep->ListView().Count(), 3);
    deep->ListView().SelectRow(deep->ListView().Count() - 1);
    AnsweringEverything([&] {
        PressButton(sheet, kIdNextButton);
        PumpUntil([&] { return sheet->GetActivePage() != kPageCompleteRecoveryPartition; }, 60000);
    });
    EXPECT_TRUE(sheet->GetActivePage() == kPageCompleteRecoveryScanPartition || sheet->GetActivePage() == kPageFileSelect);
    Screenshot(p.frame, "three_modes_2_deep_scan");
    goHome();

    // Lost Partition Recovery: the table shows every partition, so the full scan runs at once.
    Click(modePage->ModeButton(kModeLostPartition));
    ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageLostRecoveryDisk; }));
    auto* disks = dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(p.context->Controller(kPageLostRecoveryDisk));
    ASSERT_EQ(disks->List().Count(), 1);
    disks->List().SelectRow(0);
    AnsweringEverything([&] {
        PressButton(sheet, kIdNextButton);
        PumpUntil([&] { return sheet->GetActivePage() == kPageLostRecoveryScanPartition; }, 60000);
    });
    ASSERT_EQ(sheet->GetActivePage(), kPageLostRecoveryScanPartition);
    Screenshot(p.frame, "three_modes_3_lost_partition");
    goHome();
}
