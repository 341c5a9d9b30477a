#include "app/ActivityLog.h"
#include "app/StartupOptions.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "app/wizard/PageController.h"
#include "app/wizard/SheetModel.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

using testsupport::FakeSheet;
using testsupport::NoDevices;

namespace {

// A step that records what happens to it and moves on to `next` (when set).
class RecordingStep : public CWizardPageControllerBase {
public:
    RecordingStep(ISheet* sheet, int index, std::vector<std::string>& log) : CWizardPageControllerBase(sheet, index), m_log(log) {}
    void Next() override {
        m_log.push_back("next " + std::to_string(PageIndex()));
        MoveTo(next);
    }
    void Reset() override { m_log.push_back("reset " + std::to_string(PageIndex())); }
    IWizardPageController* next = nullptr;

private:
    std::vector<std::string>& m_log;
};

struct Wizard {
    explicit Wizard(IDeviceSource* source = nullptr) : devices(source ? *source : noDevices) { Init(); }
    std::vector<std::string> log;  // before the context: its steps log while it is destroyed
    ScriptedUiServices ui;
    NoDevices noDevices;
    IDeviceSource& devices;
    AppContext ctx{ui, devices, platform::AppPaths{}};
    FakeSheet sheet{ctx};
    std::vector<std::string> activity;
    ActivityLogCapture previous;
    void Init() {
        ctx.SetSheet(&sheet);
        previous = SetActivityLogCapture([this](const std::string& l) { activity.push_back(l); });
    }
    ~Wizard() { SetActivityLogCapture(previous); }
    RecordingStep* Step(int index) {
        auto s = std::make_unique<RecordingStep>(&sheet, index, log);
        RecordingStep* raw = s.get();
        ctx.SetController(index, std::move(s));
        return raw;
    }
};

} // namespace

TEST(WizardSheet, SetActivePageTable) {
    struct Case {
        int index, mode;
        SheetFooter footer;
        int heading;
    } cases[] = {
        {0, 0, {false, false, false, true, false}, uistr::kSelectScanModeHeading},
        {1, 0, {true, true, true, false, false}, uistr::kSelectPartitionHeading},
        {2, 1, {true, true, true, false, false}, uistr::kSelectPartitionHeading},
        {3, 2, {true, true, true, false, false}, uistr::kSelectDiskHeading},
        {4, 2, {true, true, true, false, false}, uistr::kSelectPartitionHeading},
        {5, 0, {true, false, true, false, false}, uistr::kSavingCompletedHeading},
        {6, 0, {true, true, true, false, false}, uistr::kSelectSavePathHeading},
        {7, 1, {true, true, true, false, false}, uistr::kPleaseSelectFirstSuggested},
        {8, 2, {true, true, true, false, false}, uistr::kPleaseSelectFirstSuggested},
        {9, 0, {true, true, true, false, true}, uistr::kSelectFilesHeading},
        {9, 1, {true, true, true, false, false}, uistr::kSelectFilesHeading},
        {9, 2, {true, true, true, false, false}, uistr::kSelectFilesHeading},
    };
    for (const Case& c : cases) {
        CWizardSheetModel m;
        m.SetActivePage(c.index, c.mode);
        EXPECT_EQ(m.Footer(), c.footer) << c.index << "/" << c.mode;
        EXPECT_EQ(m.HeadingId(), c.heading) << c.index;
        EXPECT_NE(std::string(uistr::LoadUiString(c.heading)), "");
    }
    CWizardSheetModel m;
    EXPECT_TRUE(m.Footer().network);  // at start: the mode page without Home, Next or Back
    EXPECT_FALSE(m.Footer().home || m.Footer().next || m.Footer().back);
    m.SetActivePage(10, 0);
    EXPECT_EQ(m.ActivePage(), 0);
    EXPECT_EQ(PageHelpContextId(9), 23);
    EXPECT_EQ(PageHelpContextId(10), 0);
}

TEST(WizardChain, NextBackAndHomeFollowTheChain) {
    Wizard w;
    RecordingStep* first = w.Step(kPageDeleteRecoveryPartition);
    RecordingStep* files = w.Step(kPageFileSelect);
    RecordingStep* save = w.Step(kPageSaveFile);
    first->next = files;
    files->next = save;

    w.ctx.ModeController().ChooseMode(kModeDeletedFile);
    EXPECT_EQ(w.sheet.GetActivePage(), kPageDeleteRecoveryPartition);
    EXPECT_EQ(first->GetPrevious(), &w.ctx.ModeController());
    EXPECT_EQ(w.activity, std::vector<std::string>{"\r\nPerforming Deleted File Recovery..."});

    w.ctx.SheetController().Next();
    w.ctx.SheetController().Next();
    EXPECT_EQ(w.sheet.GetActivePage(), kPageSaveFile);
    EXPECT_EQ(save->GetPrevious(), files);
    EXPECT_EQ(files->GetPrevious(), first);

    w.ctx.SheetController().Back();  // resets the save step, shows the file page
    EXPECT_EQ(w.sheet.GetActivePage(), kPageFileSelect);

    w.log.clear();
    w.ui.ExpectMessage(uistr::kGoHomeQuestion, kAnswerNo);
    w.ctx.SheetController().OnHomeButton();  // NO changes nothing
    EXPECT_TRUE(w.log.empty());
    EXPECT_EQ(w.sheet.GetActivePage(), kPageFileSelect);

    w.ui.ExpectMessage(uistr::kGoHomeQuestion, kAnswerYes);
    w.ctx.SheetController().OnHomeButton();
    EXPECT_EQ(w.log, (std::vector<std::string>{"reset 9", "reset 1"}));  // every step on the chain, back to front
    EXPECT_EQ(w.sheet.GetActivePage(), kPageRecoveryMode);
    EXPECT_EQ(w.ctx.ModeController().GetMode(), kModeDeletedFile);  // Home keeps the mode
    EXPECT_TRUE(w.ui.Done());
}

TEST(WizardChain, ModesStartTheirFirstStep) {
    struct Case {
        int mode, page;
        const char* line;
    } cases[] = {
        {kModeDeletedFile, kPageDeleteRecoveryPartition, "\r\nPerforming Deleted File Recovery..."},
        {kModeDeepScan, kPageCompleteRecoveryPartition, "\r\nPerforming Complete File Recovery..."},
        {kModeLostPartition, kPageLostRecoveryDisk, "\r\nPerforming Partition Recovery..."},
    };
    for (const Case& c : cases) {
        Wizard w;
        w.ctx.ModeController().ChooseMode(c.mode);
        EXPECT_EQ(w.sheet.GetActivePage(), c.page);
        EXPECT_EQ(w.activity, std::vector<std::string>{c.line});
        EXPECT_EQ(GetRecoveryModeSelectController()->GetMode(), c.mode);
        // Back on the first step returns to the mode page; Back there does nothing.
        w.ctx.SheetController().Back();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageRecoveryMode);
        w.ctx.SheetController().Back();
        EXPECT_EQ(w.sheet.GetActivePage(), kPageRecoveryMode);
    }
    Wizard w;
    w.ctx.ModeController().ChooseMode(7);  // unknown mode: nothing
    EXPECT_TRUE(w.sheet.shown.empty());
    EXPECT_TRUE(w.activity.empty());
}

TEST(WizardChain, HelpAndSourcesGoThroughTheChain) {
    Wizard w;
    w.ctx.ModeController().Activate();
    w.ctx.SheetController().ShowHelp();
    w.ctx.ModeController().ChooseMode(kModeLostPartition);
    w.ctx.SheetController().ShowHelp();
    EXPECT_EQ(w.ui.Log(), (std::vector<std::string>{"help 15", "help 51"}));
    RecoverySource src{5, &w};
    w.ctx.Controller(kPageLostRecoveryDisk)->GetSource(src);
    EXPECT_EQ(src.kind, 0);
    EXPECT_EQ(src.pointer, nullptr);
    EXPECT_EQ(w.ctx.Controller(kPageLostRecoveryDisk)->GetScanKind(), kScanNone);
    EXPECT_EQ(GetWizardController(kPageLostRecoveryDisk), w.ctx.Controller(kPageLostRecoveryDisk));
}

TEST(WizardContext, EachTestBuildsItsOwn) {
    EXPECT_EQ(CurrentAppContext(), nullptr);
    {
        Wizard outer;
        EXPECT_EQ(CurrentAppContext(), &outer.ctx);
        {
            Wizard inner;
            EXPECT_EQ(CurrentAppContext(), &inner.ctx);
        }
        EXPECT_EQ(CurrentAppContext(), &outer.ctx);
    }
    EXPECT_EQ(GetRecoveryModeSelectController(), nullptr);
}

TEST(ScriptedServices, UnexpectedPromptsFail) {
    ScriptedUiServices ui;
    ui.ExpectProgress(2).ExpectOpenFile("/tmp/x.img");
    auto progress = ui.CreateBuildProgress();
    EXPECT_EQ(progress->BeginStage("a", 10), 0);
    EXPECT_EQ(progress->StepBy(1), 0);
    EXPECT_EQ(progress->Poll(), -1);
    EXPECT_TRUE(progress->Cancelled());
    EXPECT_EQ(ui.OpenFileDialog("x"), "/tmp/x.img");
    EXPECT_NONFATAL_FAILURE(ui.MessageBox(242, 0, 0), "unexpected message 242");
}

TEST(WizardChain, DevicePagesSayWhenTheUserMayNotReadTheDisks) {
    // The Deep Scan page opens images with Ctrl+O itself; the other two send the user there.
    const std::string here = uistr::UiString(uistr::kNoDiskRightsOpenImage);
    const std::string there = uistr::UiString(uistr::kNoDiskRightsDeepScanImage);
    ASSERT_FALSE(here.empty());
    ASSERT_FALSE(there.empty());
    auto note = [](Wizard& w, int mode) -> std::string {
        InstallDeletedFileRecoverySteps(w.ctx);
        InstallDeepScanSteps(w.ctx);
        InstallLostPartitionRecoverySteps(w.ctx);
        w.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        w.ctx.ModeController().ChooseMode(mode);
        EXPECT_TRUE(w.ui.Done());
        IWizardPageController* step = w.ctx.Controller(w.sheet.GetActivePage());
        if (auto* d = dynamic_cast<CDeleteRecoveryPartitionDeviceSelectController*>(step))
            return d->ListView().Note();
        if (auto* c = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectController*>(step))
            return c->ListView().Note();
        if (auto* l = dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(step))
            return l->List().Note();
        return "no device page";
    };
    const struct {
        int mode;
        const std::string& refused;
    } cases[] = {{kModeDeletedFile, there}, {kModeDeepScan, here}, {kModeLostPartition, there}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        testsupport::RefusedDisks refused;
        Wizard denied(&refused);
        EXPECT_EQ(c.refused, note(denied, c.mode));
        // A machine that simply has no disk says nothing.
        Wizard none;
        EXPECT_EQ("", note(none, c.mode));
    }
}

TEST(WizardChain, DevicePagesSayWhyTheStartAsAdministratorFellBack) {
    // The loader's switch reaches the context; each page's line then says why the user may
    // not read the disks and what to do, whatever the page.
    const struct {
        RootFallback why;
        int text;
        const char* says;
    } reasons[] = {
        {RootFallback::Refused, uistr::kRootStartRefused, "refused"},
        {RootFallback::NoAgent, uistr::kRootStartNoAgent, "polkit agent"},
        {RootFallback::NoPkexec, uistr::kRootStartNoPkexec, "pkexec"},
        {RootFallback::Failed, uistr::kRootStartFailed, "failed"},
        {RootFallback::NoAction, uistr::kRootStartNoAction, "polkit action"},
    };
    for (const auto& r : reasons) {
        SCOPED_TRACE(RootFallbackName(r.why));
        const std::string line = uistr::UiString(r.text);
        EXPECT_NE(line.find(r.says), std::string::npos) << line;
        EXPECT_NE(line.find("sudo Brulin"), std::string::npos) << line;
        const StartupOptions options = ParseStartupOptions({"BrulinUI", "-pro", RootFallbackSwitch(r.why)});
        ASSERT_EQ(options.rootFallback, r.why);
        for (const int mode : {kModeDeletedFile, kModeDeepScan, kModeLostPartition}) {
            SCOPED_TRACE(mode);
            testsupport::RefusedDisks refused;
            Wizard denied(&refused);
            denied.ctx.rootFallback = options.rootFallback;
            InstallDeletedFileRecoverySteps(denied.ctx);
            InstallDeepScanSteps(denied.ctx);
            InstallLostPartitionRecoverySteps(denied.ctx);
            denied.ui.ExpectWaiting(uistr::kPleaseWaitScanning);
            denied.ctx.ModeController().ChooseMode(mode);
            EXPECT_TRUE(denied.ui.Done());
            IWizardPageController* step = denied.ctx.Controller(denied.sheet.GetActivePage());
            std::string shown = "no device page";
            if (auto* d = dynamic_cast<CDeleteRecoveryPartitionDeviceSelectController*>(step))
                shown = d->ListView().Note();
            else if (auto* c = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectController*>(step))
                shown = c->ListView().Note();
            else if (auto* l = dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(step))
                shown = l->List().Note();
            EXPECT_EQ(line, shown);
        }
    }
    // Switches the loader never passes leave the usual line.
    for (const char* other : {"-rootfallback=", "-rootfallback=maybe", "-rootfallbackno-agent"})
        EXPECT_EQ(ParseStartupOptions({"BrulinUI", "-pro", other}).rootFallback, RootFallback::None) << other;
    EXPECT_EQ(ParseStartupOptions({"BrulinUI", "/ROOTFALLBACK=NO-AGENT"}).rootFallback, RootFallback::NoAgent);
}
