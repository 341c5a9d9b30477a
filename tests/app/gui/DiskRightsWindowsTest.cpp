// A user who may not read any disk: each device page says so under its (empty) list, in a
// line that fits the list.
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "app/windows/AppBitmaps.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WizardPage.h"
#include "app/windows/WxUiServices.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/WizardFakes.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/wx/DeviceSelectCtrl.h"

#include <gtest/gtest.h>

using namespace uitest;

TEST(DiskRightsWindows, EveryDevicePageSaysWhyItListsNoDisk) {
    platform::AppPaths paths = platform::ResolveAppPaths();
    paths.stateDir = testsupport::ScratchDir("disk-rights-state") + "/";
    CWxUiServices services(paths);
    testsupport::RefusedDisks devices;
    appres::RegisterAppBitmaps();
    AppContext context(services, devices, paths);
    InstallDeletedFileRecoverySteps(context);
    InstallDeepScanSteps(context);
    InstallLostPartitionRecoverySteps(context);
    auto* frame = new CMainFrame(context);
    services.SetMainWindow(frame);
    frame->Show();
    frame->Raise();
    Pump(200);
    CWizardSheetWnd* sheet = frame->Sheet();
    auto* modePage = dynamic_cast<CRecoveryModeSelectPage*>(sheet->Page(kPageRecoveryMode));
    ASSERT_NE(modePage, nullptr);

    const struct {
        int mode, page;
        int text;
        const char* shot;
    } cases[] = {
        {kModeDeletedFile, kPageDeleteRecoveryPartition, uistr::kNoDiskRightsDeepScanImage, "device_page_no_rights_deleted_file"},
        {kModeDeepScan, kPageCompleteRecoveryPartition, uistr::kNoDiskRightsOpenImage, "device_page_no_rights_deep_scan"},
        {kModeLostPartition, kPageLostRecoveryDisk, uistr::kNoDiskRightsDeepScanImage, "device_page_no_rights_lost_partition"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shot);
        Click(modePage->ModeButton(c.mode));
        ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == c.page; }));
        Pump(150);
        auto* page = dynamic_cast<CDeviceSelectPage*>(sheet->Page(c.page));
        ASSERT_NE(page, nullptr);
        CDeviceSelectCtrl* list = page->List();
        EXPECT_EQ(list->Count(), 0);
        EXPECT_EQ(list->Note(), uistr::UiString(c.text));
        // The note is shown whole: its lines fit the list's width, and they lie inside the
        // visible part of the list, as one line.
        const std::vector<wxString> lines = list->ShownNoteLines();
        ASSERT_FALSE(lines.empty());
        wxClientDC dc(list->View());
        dc.SetFont(ui::PixelFont(15, 400, "Arial"));
        for (const wxString& line : lines)
            EXPECT_LE(dc.GetTextExtent(line).x, list->NoteWidth()) << line;
        int vw = 0, vh = 0;
        list->View()->GetVirtualSize(&vw, &vh);
        EXPECT_LE(vh, list->View()->GetClientSize().y);
        EXPECT_LE(vw, list->View()->GetClientSize().x);
        EXPECT_EQ(lines.size(), 1u);
        Screenshot(frame, c.shot);
        Click(sheet->Button(kIdBackButton));
        ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageRecoveryMode; }));
    }
    frame->Destroy();
    Pump(50);
}
