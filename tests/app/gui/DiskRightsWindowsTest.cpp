// A user who may not read any disk: each device page says so under its (empty) list, in a
// line that fits the list, and says why when a start as administrator was asked for and fell
// back.
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

namespace {

struct DevicePage {
    int mode, page;
    int text;  // the line when no start as administrator was asked for
    const char* shot;
};

const DevicePage kDevicePages[] = {
    {kModeDeletedFile, kPageDeleteRecoveryPartition, uistr::kNoDiskRightsDeepScanImage, "device_page_no_rights_deleted_file"},
    {kModeDeepScan, kPageCompleteRecoveryPartition, uistr::kNoDiskRightsOpenImage, "device_page_no_rights_deep_scan"},
    {kModeLostPartition, kPageLostRecoveryDisk, uistr::kNoDiskRightsDeepScanImage, "device_page_no_rights_lost_partition"},
};

// The main window of a user who may read no disk, with the steps of all three modes.
class RefusedDisksWindow {
public:
    RefusedDisksWindow() : m_paths(Paths()), m_services(m_paths), m_context(m_services, m_devices, m_paths) {
        appres::RegisterAppBitmaps();
        InstallDeletedFileRecoverySteps(m_context);
        InstallDeepScanSteps(m_context);
        InstallLostPartitionRecoverySteps(m_context);
        frame = new CMainFrame(m_context);
        m_services.SetMainWindow(frame);
        frame->Show();
        frame->Raise();
        Pump(200);
    }
    ~RefusedDisksWindow() {
        frame->Destroy();
        Pump(50);
    }

    AppContext& Context() { return m_context; }

    // Opens the device page of `p` from the mode page, checks that its line is `expected` and
    // is shown whole, as one line inside the visible list, leaves a screenshot named `shot`
    // and goes back to the mode page.
    void CheckPage(const DevicePage& p, const std::string& expected, const std::string& shot) {
        CWizardSheetWnd* sheet = frame->Sheet();
        auto* modePage = dynamic_cast<CRecoveryModeSelectPage*>(sheet->Page(kPageRecoveryMode));
        ASSERT_NE(modePage, nullptr);
        Click(modePage->ModeButton(p.mode));
        ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == p.page; }));
        Pump(150);
        auto* page = dynamic_cast<CDeviceSelectPage*>(sheet->Page(p.page));
        ASSERT_NE(page, nullptr);
        CDeviceSelectCtrl* list = page->List();
        EXPECT_EQ(list->Count(), 0);
        EXPECT_EQ(list->Note(), expected);
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
        EXPECT_EQ(lines.size(), 1u) << expected;
        Screenshot(frame, shot);
        Click(sheet->Button(kIdBackButton));
        ASSERT_TRUE(PumpUntil([&] { return sheet->GetActivePage() == kPageRecoveryMode; }));
    }

    CMainFrame* frame = nullptr;

private:
    static platform::AppPaths Paths() {
        platform::AppPaths paths = platform::ResolveAppPaths();
        paths.stateDir = testsupport::ScratchDir("disk-rights-state") + "/";
        return paths;
    }

    platform::AppPaths m_paths;
    CWxUiServices m_services;
    testsupport::RefusedDisks m_devices;
    AppContext m_context;
};

} // namespace

TEST(DiskRightsWindows, EveryDevicePageSaysWhyItListsNoDisk) {
    RefusedDisksWindow window;
    for (const DevicePage& p : kDevicePages) {
        SCOPED_TRACE(p.shot);
        window.CheckPage(p, uistr::UiString(p.text), p.shot);
    }
}

TEST(DiskRightsWindows, EveryDevicePageSaysWhyTheStartAsAdministratorFellBack) {
    const struct {
        RootFallback why;
        int text;
    } reasons[] = {
        {RootFallback::Refused, uistr::kRootStartRefused},
        {RootFallback::NoAgent, uistr::kRootStartNoAgent},
        {RootFallback::NoPkexec, uistr::kRootStartNoPkexec},
        {RootFallback::Failed, uistr::kRootStartFailed},
        {RootFallback::NoAction, uistr::kRootStartNoAction},
    };
    RefusedDisksWindow window;
    for (const auto& r : reasons) {
        window.Context().rootFallback = r.why;
        for (const DevicePage& p : kDevicePages) {
            const std::string shot = std::string(p.shot) + "_" + RootFallbackName(r.why);
            SCOPED_TRACE(shot);
            window.CheckPage(p, uistr::UiString(r.text), shot);
        }
    }
}
