#include "filesystems/ntfs/NtfsTreeBuilder.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/NtfsImages.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/MessageBoxDlg.h"

#include <gtest/gtest.h>
#include <wx/uiaction.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace uitest;

namespace {

std::string ManyFilesNtfsImage() {
    return testsupport::CachedFixture("ui-ntfs-many-v1.img", [](const std::string& tmp) {
        testsupport::NtfsImageRecipe recipe;
        recipe.sizeMiB = 16;
        return testsupport::MakeNtfsImage(tmp, recipe) &&
               testsupport::NtfsEdit(tmp, "mkdir /many\nfill /many 600 10 5");
    });
}

// Reads an image; once the build has read `gateAfter` big chunks, further reads wait until the
// dialog was cancelled (so the cancel always lands in the middle of the build).
class GatedDevice : public IStorageDevice {
public:
    GatedDevice(const std::string& path, CBuildDirectoryDlg* dlg, int gateAfter)
        : m_inner(path.c_str()), m_dlg(dlg), m_gateAfter(gateAfter) {}
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (count >= 64 && ++m_bigReads > m_gateAfter) {
            gateReached = true;
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!m_dlg->IsCancelled() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return m_inner.ReadSectors(buffer, first, count);
    }
    std::uint64_t GetSectorCount() override { return m_inner.GetSectorCount(); }
    int Open() override { return m_inner.Open(); }
    int Close() override { return m_inner.Close(); }
    std::atomic<bool> gateReached{false};
    int BigReads() const { return m_bigReads; }

private:
    CImageFileDevice m_inner;
    CBuildDirectoryDlg* m_dlg;
    int m_gateAfter;
    std::atomic<int> m_bigReads{0};
};

// Clicks a window's centre without running the event loop (the loop that is running handles it).
void ClickNoPump(wxWindow* w) {
    wxUIActionSimulator sim;
    const wxSize s = w->GetClientSize();
    sim.MouseMove(w->ClientToScreen(wxPoint(s.x / 2, s.y / 2)));
    sim.MouseClick();
}

} // namespace

TEST(BuildDirectoryDialog, NtfsQuickScanFinishesThenCancelsHalfWay) {
    const std::string image = ManyFilesNtfsImage();
    ASSERT_FALSE(image.empty());

    // A whole build: the dialog follows the stages and the tree comes back.
    {
        CBuildDirectoryDlg dlg;
        ASSERT_TRUE(dlg.CreateModeless());
        Pump(50);
        CDIRBuildCallback callback(&dlg);
        CImageFileDevice device(image.c_str());
        NtfsTreeBuildParams params;
        InitNtfsTreeBuildParams(&params);
        FileTreePtr root = BuildNtfsFileTree(&device, &params, &callback);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(callback.Poll(), 0);
        dlg.RefreshFromState(true);
        EXPECT_FALSE(dlg.StageText()->GetLabel().empty());
        root.reset();
        dlg.Hide();
        Pump(20);
    }

    // Cancelled half way through reading the MFT: Cancel, then Yes to "Abort Building?".
    CBuildDirectoryDlg dlg;
    ASSERT_TRUE(dlg.CreateModeless());
    PumpUntil([&] { return dlg.IsShownOnScreen(); });
    Pump(80);
    CDIRBuildCallback callback(&dlg);
    GatedDevice device(image, &dlg, 3);
    bool clickedCancel = false, answeredYes = false, sawQuestion = false;
    std::string elapsedSeen;
    wxTimer driver;
    driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (!clickedCancel && device.gateReached) {
            dlg.RefreshFromState(true);
            elapsedSeen = ui::ToUtf8(dlg.ElapsedText()->GetLabel());
            EXPECT_GT(dlg.ProgressBar()->GetPos(), 0);
            EXPECT_LT(dlg.ProgressBar()->GetPos(), dlg.ProgressBar()->GetRange());
            Screenshot(&dlg, "build_directory_dialog");
            clickedCancel = true;
            ClickNoPump(dlg.CancelButton());
            return;
        }
        if (clickedCancel && !answeredYes) {
            if (auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal()); box && box->IsShownOnScreen()) {
                sawQuestion = dlg.QuestionOpen() && box->message == "Abort Building?";
                Screenshot(box, "build_directory_abort_question");
                answeredYes = true;
                ClickNoPump(box->YesButton());
            }
        }
    });
    driver.Start(100);
    NtfsTreeBuildParams params;
    InitNtfsTreeBuildParams(&params);
    FileTreePtr root = BuildNtfsFileTree(&device, &params, &callback);
    driver.Stop();
    EXPECT_EQ(root, nullptr);
    root.reset();
    EXPECT_TRUE(clickedCancel);
    EXPECT_TRUE(sawQuestion);
    EXPECT_TRUE(dlg.IsCancelled());
    EXPECT_EQ(callback.Poll(), -1);
    EXPECT_EQ(callback.StepBy(1), -1);
    EXPECT_FALSE(dlg.CancelButton()->IsEnabled());
    EXPECT_EQ(dlg.GetTitle(), "Cancelling...");
    EXPECT_EQ(elapsedSeen.size(), 8u);
    Screenshot(&dlg, "build_directory_cancelled");
    dlg.Hide();
    Pump(20);
}

TEST(BuildDirectoryDialog, NoAnswerGoesOnAndNoCancelIgnoresTheButton) {
    CBuildDirectoryDlg dlg;
    ASSERT_TRUE(dlg.CreateModeless());
    PumpUntil([&] { return dlg.IsShownOnScreen(); });
    CDIRBuildCallback callback(&dlg);
    EXPECT_EQ(callback.BeginStage("Reading files", 100), 0);
    EXPECT_EQ(callback.SetPos(30), 0);
    EXPECT_EQ(dlg.ElapsedText()->GetLabel(), "00:00:00");
    EXPECT_EQ(dlg.StageText()->GetLabel(), "Reading files");
    // Answer NO: the build goes on.
    RunModal([&] {
        wxCommandEvent click(wxEVT_BUTTON, dlg.CancelButton()->GetId());
        dlg.CancelButton()->ProcessWindowEvent(click);
        return 0;
    }, [&] {
        auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
        ASSERT_NE(box, nullptr);
        Click(box->NoButton());
    });
    EXPECT_EQ(callback.Poll(), 0);
    EXPECT_FALSE(dlg.IsCancelled());
    // Enter does not end the dialog; Escape asks the question (answered NO again).
    dlg.Raise();
    Pump(30);
    dlg.CancelButton()->SetFocus();
    Pump(30);
    Key(WXK_RETURN);
    EXPECT_TRUE(dlg.IsShown());
    EXPECT_EQ(ActiveModal(), nullptr);
    bool asked = false;
    wxTimer answer;
    answer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
        if (!asked && box && box->IsShownOnScreen()) {
            asked = box->message == "Abort Building?";
            ClickNoPump(box->NoButton());
        }
    });
    answer.Start(100);
    Key(WXK_ESCAPE);
    PumpUntil([&] { return asked && !ActiveModal(); });
    answer.Stop();
    EXPECT_TRUE(asked);
    EXPECT_TRUE(dlg.IsShown());
    EXPECT_FALSE(dlg.IsCancelled());
    // Reset shows the bar full and zeroes the counters.
    EXPECT_EQ(callback.Reset(), 0);
    dlg.RefreshFromState(true);
    EXPECT_EQ(dlg.ProgressBar()->GetPos(), 100);
    EXPECT_EQ(dlg.State().Steps(), 0);
    // With the no-cancel flag the Cancel command does nothing (no question opens).
    dlg.SetNoCancel(true);
    wxCommandEvent click(wxEVT_BUTTON, dlg.CancelButton()->GetId());
    dlg.CancelButton()->ProcessWindowEvent(click);
    EXPECT_EQ(ActiveModal(), nullptr);
    EXPECT_FALSE(dlg.IsCancelled());
    dlg.Hide();
    Pump(20);
}

TEST(WaitingDialog, ShowsItsTextWithABusyCursor) {
    auto* wait = new CWaitingDlg();
    wait->text = "Please wait a minute for there are too many files in the directory you selected.";
    ASSERT_TRUE(wait->CreateModeless());
    PumpUntil([&] { return wait->IsShownOnScreen(); });
    EXPECT_TRUE(wxIsBusy());
    EXPECT_EQ(ui::ToUtf8(wait->TextStatic()->GetLabel()).substr(0, 11), "Please wait");
    Screenshot(wait, "waiting_dialog");
    wait->Destroy();
    Pump(30);
    EXPECT_FALSE(wxIsBusy());
}

TEST(BuildDirectoryChild, ShowsTheRecoveryCounters) {
    HostFrame host(wxSize(420, 180));
    auto* panel = new CBuildDirectoryChildDlg(nullptr, 0, "");
    ASSERT_TRUE(panel->Create(host.panel(), wxPoint(5, 5)));
    panel->recoveredFiles = 3;
    panel->selectedFiles = 5;
    panel->recoveredSize = "1.50 KB";
    panel->recoveringName = "caf\xC3\xA9\xFF.txt";
    panel->UpdateData();
    host.ShowAndWait();
    EXPECT_EQ(panel->Value(1179)->GetLabel(), "3");
    EXPECT_EQ(panel->Value(1180)->GetLabel(), "5");
    EXPECT_EQ(ui::ToUtf8(panel->Value(1183)->GetLabel()), "caf\xC3\xA9\\xFF.txt");
    Screenshot(host.frame(), "build_directory_child_panel");
}
