// The creation and open wizards on screen: every page driven, imaged bytes read back.
#include "storage/DiskImage.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/ui/controls/windows/Harness.h"
#include "tools/windows/CreateImageWizard.h"
#include "tools/windows/OpenImageWizard.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace uitest;
using namespace imagetool;

namespace {

// How long a wizard may stay open before the harness ends it: imaging and screenshots take a
// while when the whole suite runs at once.
constexpr int kSlowMachineMs = 60000;

struct Recorder {
    std::vector<std::string> messages;
    std::vector<int> help;
    std::vector<std::string> files;  // answers of the file dialogs, in order
    std::function<int(const std::string&)> answer = [](const std::string&) { return 1; };
    std::function<void(const std::string&)> onMessage;

    ToolUiHooks Hooks() {
        ToolUiHooks hooks;
        hooks.message = [this](int, std::uint16_t, const std::string& text) {
            messages.push_back(text);
            if (onMessage) onMessage(text);
            return answer(text);
        };
        hooks.help = [this](int topic) { help.push_back(topic); };
        hooks.chooseFile = [this](bool, const std::string&, const std::string&) {
            if (files.empty()) return std::string();
            const std::string f = files.front();
            files.erase(files.begin());
            return f;
        };
        return hooks;
    }
};

std::unique_ptr<testsupport::MemoryDevice> PatternDisk(std::uint64_t sectors) {
    auto disk = std::make_unique<testsupport::MemoryDevice>(testsupport::PatternBytes(sectors * 512, 21));
    // Runs of zeros so that compression has something to do.
    for (std::uint64_t s = 0; s < sectors; s += 4) std::fill_n(disk->Sector(s), 512, 0);
    return disk;
}

void ExpectImageMatches(const std::string& edi, testsupport::MemoryDevice& disk, std::uint64_t first, std::uint64_t count) {
    CImageFileDeviceWithDecompress image(edi.c_str());
    ASSERT_EQ(image.CheckSliceFiles(), 1);
    std::vector<std::uint8_t> got(count * 512);
    ASSERT_EQ(image.ReadSectors(got.data(), 0, count), 1);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), disk.Sector(first)));
}

// A key as the dialog's key hook sees it.
void SendKey(wxWindow* dlg, int code) {
    wxKeyEvent key(wxEVT_CHAR_HOOK);
    key.m_keyCode = code;
    key.SetEventObject(dlg);
    dlg->GetEventHandler()->ProcessEvent(key);
}

// The window manager's close.
void SendClose(wxWindow* dlg) {
    wxCloseEvent close(wxEVT_CLOSE_WINDOW, dlg->GetId());
    close.SetCanVeto(true);
    close.SetEventObject(dlg);
    dlg->GetEventHandler()->ProcessEvent(close);
}

}  // namespace

TEST(CreateImageWizard, SimpleModeWithOutOfSpaceMove) {
    auto disk = PatternDisk(8192);  // 32 blocks
    const std::string dir = testsupport::ScratchDir("wizard-simple");
    const std::string other = testsupport::ScratchDir("wizard-other");
    Recorder rec;
    rec.files = {other + "/more.edf"};
    CImageDiskMasterDlg* dlgPtr = nullptr;
    CreateImageOptions options;
    options.hooks = rec.Hooks();
    options.freeSpace = [&](const std::string& folder, std::uint64_t* bytes) {
        const bool full = folder == dir && dlgPtr && dlgPtr->ImagingRun() && dlgPtr->ImagingRun()->BlocksDone() >= 12;
        *bytes = full ? 5ull << 20 : 1ull << 40;
        return true;
    };
    rec.onMessage = [&](const std::string& text) {
        if (text.rfind("No enough space", 0) != 0) return;
        Screenshot(dlgPtr, "image_wizard_run_question");
        // The window manager's close is ignored while imaging.
        SendClose(dlgPtr);
    };
    rec.answer = [](const std::string& text) { return text == "Cancel Disk Image?" ? 2 : 1; };
    CImageDiskMasterDlg dlg(nullptr, disk.get(), "E : DATA  (FAT32)", 255, options);
    dlgPtr = &dlg;
    RunModal([&] { return dlg.DoModal(); }, [&] {
        EXPECT_EQ(dlg.ShownPage(), kPageMode);
        EXPECT_EQ(dlg.BannerText(), "Disk Image Wizard");
        Screenshot(&dlg, "image_wizard_mode");
        // Escape does nothing on the mode page; F1 asks for the wizards' help topic.
        SendKey(&dlg, WXK_ESCAPE);
        SendKey(&dlg, WXK_F1);
        EXPECT_TRUE(rec.messages.empty());
        EXPECT_EQ(rec.help, std::vector<int>{20});
        dlg.OnNext();
        EXPECT_EQ(dlg.ShownPage(), kPageSimplePath);
        SendKey(&dlg, WXK_ESCAPE);
        EXPECT_TRUE(rec.messages.empty());
        dlg.SimplePathEdit()->ChangeValue(wxString::FromUTF8((dir + "/disk").c_str()));
        Screenshot(&dlg, "image_wizard_simple_path");
        dlg.OnNext();
        ASSERT_EQ(dlg.ShownPage(), kPageSummary);
        EXPECT_EQ(dlg.SimplePathEdit()->GetValue(), wxString::FromUTF8((dir + "/disk.edi").c_str()));
        EXPECT_EQ(dlg.SummaryValue(2)->GetLabel(), "0---8191   Sectors");
        EXPECT_EQ(dlg.SummaryValue(3)->GetLabel(), "4  MB");
        EXPECT_EQ(dlg.SummaryValue(5)->GetLabel(), "None");
        Screenshot(&dlg, "image_wizard_summary");
        // On the summary Escape asks to cancel (answered Cancel: the wizard stays).
        SendKey(&dlg, WXK_ESCAPE);
        ASSERT_EQ(rec.messages.size(), 1u);
        EXPECT_EQ(rec.messages[0], "Cancel Disk Image?");
        EXPECT_EQ(dlg.ShownPage(), kPageSummary);
        dlg.OnBack();
        EXPECT_EQ(dlg.ShownPage(), kPageSimplePath);
        dlg.OnNext();
        dlg.OnNext();  // runs the image
        ASSERT_EQ(dlg.ShownPage(), kPageSuccess);
        Pump(50);
        Screenshot(&dlg, "image_wizard_success");
        // Neither the window manager's close nor Escape ends the success page.
        SendClose(&dlg);
        SendKey(&dlg, WXK_ESCAPE);
        EXPECT_TRUE(dlg.IsShown());
        EXPECT_EQ(rec.messages.size(), 2u);
        dlg.OnNext();
    }, kSlowMachineMs);
    const CreateImageResult& r = dlg.Result();
    EXPECT_TRUE(r.openInDeviceList);
    EXPECT_EQ(r.outcome, ImagingOutcome::Success);
    EXPECT_EQ(r.ImageSectors(), 8192u);
    EXPECT_EQ(dlg.Job().compression, COMPRESSION_ZLIB);
    EXPECT_EQ(dlg.Job().level, -1);
    ASSERT_EQ(rec.messages.size(), 2u);  // the cancel question (answered Cancel) and the out-of-space one
    // The rest of the image went on in the other folder.
    const std::vector<std::uint8_t> list = testsupport::ReadFileBytes(ImageSliceListPath(r.imagePath));
    const std::string text(list.begin(), list.end());
    EXPECT_NE(text.find(other + "/more.part1.edf\r\n"), std::string::npos) << text;
    ExpectImageMatches(r.imagePath, *disk, 0, 8192);
}

TEST(CreateImageWizard, AdvancedRegionAndCancel) {
    auto disk = PatternDisk(20000);
    const std::string dir = testsupport::ScratchDir("wizard-advanced");
    Recorder rec;
    CreateImageOptions options;
    options.hooks = rec.Hooks();
    options.destinationOnSource = [](const std::string&) { return false; };
    CImageDiskMasterDlg dlg(nullptr, disk.get(), "Disk 1 VBOX HARDDISK", 255, options);
    RunModal([&] { return dlg.DoModal(); }, [&] {
        dlg.AdvancedCheck()->SetValue(true);
        dlg.OnNext();
        ASSERT_EQ(dlg.ShownPage(), kPageAdvancedPath);
        dlg.AdvancedPathEdit()->ChangeValue(wxString::FromUTF8((dir + "/part.edi").c_str()));
        dlg.CompressCheck()->SetValue(true);
        dlg.LevelChoice()->Enable(true);
        dlg.LevelChoice()->SetSelection(2);
        dlg.SliceCheck()->SetValue(true);
        dlg.SliceChoice()->Enable(true);
        dlg.SliceChoice()->SetSelection(3);
        Screenshot(&dlg, "image_wizard_advanced_path");
        dlg.OnNext();
        ASSERT_EQ(dlg.ShownPage(), kPageRegion);
        EXPECT_EQ(dlg.EndEdit()->GetValue(), "19999");
        // Typing moves the bar; an end below the start moves the start to 0.
        dlg.StartEdit()->SetValue("5000");
        dlg.EndEdit()->SetValue("14999");
        EXPECT_EQ(dlg.SectorBar()->SelectionStart(), 5000u);
        EXPECT_EQ(dlg.SectorBar()->SelectionEnd(), 14999u);
        Pump(50);
        Screenshot(&dlg, "image_wizard_region");
        // Dragging the selection with the mouse keeps its length.
        CSectorSelectCtrl* bar = dlg.SectorBar();
        const int mid = (bar->Bar().SelectionLeft() + bar->Bar().SelectionRight()) / 2;
        auto send = [bar](wxEventType type, int x) {
            wxMouseEvent e(type);
            e.SetPosition(wxPoint(x, 50));
            e.SetLeftDown(type != wxEVT_LEFT_UP);
            e.SetEventObject(bar);
            bar->ProcessWindowEvent(e);
        };
        send(wxEVT_LEFT_DOWN, mid);
        send(wxEVT_MOTION, mid + 20);
        send(wxEVT_MOTION, mid + 40);
        send(wxEVT_LEFT_UP, mid + 40);
        EXPECT_EQ(bar->SelectionEnd() - bar->SelectionStart(), 9999u);
        EXPECT_GT(bar->SelectionStart(), 5000u);
        EXPECT_EQ(dlg.StartEdit()->GetValue(), wxString::Format("%llu", static_cast<unsigned long long>(bar->SelectionStart())));
        dlg.StartEdit()->SetValue("5000");
        dlg.EndEdit()->SetValue("14999");
        dlg.OnNext();
        ASSERT_EQ(dlg.ShownPage(), kPageSummary);
        EXPECT_EQ(dlg.SummaryValue(2)->GetLabel(), "5000---14999   Sectors");
        EXPECT_EQ(dlg.SummaryValue(5)->GetLabel(), "Maximum");
        dlg.OnBack();
        EXPECT_EQ(dlg.ShownPage(), kPageRegion);
        dlg.OnNext();
        // A cancel confirmed during the run stops it without the success page.
        dlg.CallAfter([&] { dlg.OnCancelPressed(); });
        rec.onMessage = [&](const std::string& text) {
            if (text == "Cancel Disk Image?") Screenshot(&dlg, "image_wizard_run_cancel");
        };
        dlg.OnNext();
    }, kSlowMachineMs);
    const CreateImageResult& r = dlg.Result();
    EXPECT_EQ(r.outcome, ImagingOutcome::Cancelled);
    EXPECT_FALSE(r.openInDeviceList);
    EXPECT_NE(dlg.ShownPage(), kPageSuccess);
    EXPECT_EQ(dlg.Job().sliceSectors, 1310720u);
    ASSERT_FALSE(rec.messages.empty());
    EXPECT_EQ(rec.messages.back(), "Cancel Disk Image?");
}

TEST(CreateImageWizard, BadPathAndBadRegionStay) {
    auto disk = PatternDisk(1000);
    Recorder rec;
    CreateImageOptions options;
    options.hooks = rec.Hooks();
    CImageDiskMasterDlg dlg(nullptr, disk.get(), "X", 255, options);
    const std::string dir = testsupport::ScratchDir("wizard-bad");
    RunModal([&] { return dlg.DoModal(); }, [&] {
        dlg.AdvancedCheck()->SetValue(true);
        dlg.OnNext();
        dlg.AdvancedPathEdit()->ChangeValue("/nonexistent-folder/x.edi");
        dlg.OnNext();
        EXPECT_EQ(dlg.ShownPage(), kPageAdvancedPath);
        dlg.AdvancedPathEdit()->ChangeValue(wxString::FromUTF8((dir + "/x.edi").c_str()));
        dlg.OnNext();
        ASSERT_EQ(dlg.ShownPage(), kPageRegion);
        dlg.EndEdit()->ChangeValue("1000");  // one past the last sector
        dlg.OnNext();
        EXPECT_EQ(dlg.ShownPage(), kPageRegion);
        dlg.EndEdit()->ChangeValue("99999999999999999999999");
        dlg.OnNext();
        EXPECT_EQ(dlg.ShownPage(), kPageRegion);
        dlg.OnCancelPressed();
    }, kSlowMachineMs);
    ASSERT_EQ(rec.messages.size(), 4u);
    EXPECT_EQ(rec.messages[0], "Please check the path you are trying to save to and try again.");
    EXPECT_EQ(rec.messages[3], "Cancel Disk Image?");
    EXPECT_FALSE(dlg.Result().ran);
}

TEST(OpenImageWizard, LocateMovedSliceAndOpen) {
    auto disk = PatternDisk(4096);
    const std::string dir = testsupport::ScratchDir("open-wizard");
    const std::string moved = testsupport::ScratchDir("open-wizard-moved");
    // An image of three slices.
    struct NoUi : IImagingRunUi {
        bool AskOutOfSpace() override { return false; }
        std::string ChooseSliceLocation() override { return ""; }
    } ui;
    CImagingRun run(&ui, [](const std::string&, std::uint64_t* b) { *b = 1ull << 40; return true; });
    ImagingJob job;
    job.sourceName = "Disk";
    job.sourceSectors = 4096;
    job.region = {0, 4095};
    job.destination = dir + "/img.edi";
    job.sliceSectors = 1536;
    ASSERT_EQ(run.Run(disk.get(), job), ImagingOutcome::Success);
    const unsigned slices = run.SlicesOpened();
    ASSERT_GE(slices, 3u);
    const std::string slice1 = ImageSlicePath(job.destination, 1);
    const std::string movedSlice = moved + "/img.part1.edf";
    ASSERT_EQ(std::rename(slice1.c_str(), movedSlice.c_str()), 0);

    Recorder rec;
    rec.files = {moved + "/img.part2.edf", movedSlice};
    COpenDiskImageMasterDlg dlg(nullptr, rec.Hooks());
    RunModal([&] { return dlg.DoModal(); }, [&] {
        Screenshot(&dlg, "open_wizard_info");
        dlg.OnNext();
        EXPECT_EQ(dlg.Current(), COpenDiskImageMasterDlg::kPath);
        SendKey(&dlg, WXK_ESCAPE);  // swallowed on the path page
        SendKey(&dlg, WXK_F1);
        EXPECT_TRUE(rec.messages.empty());
        EXPECT_EQ(rec.help, std::vector<int>{20});
        dlg.PathEdit()->ChangeValue(wxString::FromUTF8(job.destination.c_str()));
        Screenshot(&dlg, "open_wizard_path");
        dlg.OnNext();
        ASSERT_EQ(dlg.Current(), COpenDiskImageMasterDlg::kErrors);
        EXPECT_EQ(dlg.SliceListCtrl()->GetItemCount(), static_cast<int>(slices));
        EXPECT_EQ(dlg.SliceListCtrl()->GetItemText(1, 1), "INVALID");
        EXPECT_FALSE(dlg.NextButton()->IsEnabled());
        Pump(50);
        Screenshot(&dlg, "open_wizard_errors");
        dlg.SelectRow(1);
        dlg.OnLocate();  // a file of another row: ignored
        EXPECT_EQ(dlg.SliceListCtrl()->GetItemText(1, 1), "INVALID");
        dlg.OnLocate();
        EXPECT_EQ(dlg.SliceListCtrl()->GetItemText(1, 1), "VALID");
        EXPECT_TRUE(dlg.NextButton()->IsEnabled());
        dlg.OnNext();
        ASSERT_EQ(dlg.Current(), COpenDiskImageMasterDlg::kSuccess);
        Screenshot(&dlg, "open_wizard_success");
        dlg.OnNext();
    }, kSlowMachineMs);
    EXPECT_TRUE(dlg.Result().opened);
    EXPECT_EQ(dlg.Result().imagePath, job.destination);
    const std::vector<std::uint8_t> list = testsupport::ReadFileBytes(dir + "/img.edp");
    std::string expected;
    for (unsigned i = 0; i < slices; ++i) expected += (i == 1 ? movedSlice : ImageSlicePath(job.destination, i)) + "\r\n";
    EXPECT_EQ(std::string(list.begin(), list.end()), expected);
    ExpectImageMatches(job.destination, *disk, 0, 4096);
}

TEST(OpenImageWizard, DamagedListStaysOnPathPage) {
    const std::string dir = testsupport::ScratchDir("open-damaged");
    ASSERT_TRUE(testsupport::WriteFileBytes(dir + "/d.edi", {1, 2, 3}));
    ASSERT_TRUE(testsupport::WriteFileBytes(dir + "/d.edp", {'x', 'y', 0, '\r', '\n'}));
    Recorder rec;
    COpenDiskImageMasterDlg dlg(nullptr, rec.Hooks());
    RunModal([&] { return dlg.DoModal(); }, [&] {
        dlg.OnNext();
        dlg.PathEdit()->ChangeValue(wxString::FromUTF8((dir + "/d.edi").c_str()));
        dlg.OnNext();
        EXPECT_EQ(dlg.Current(), COpenDiskImageMasterDlg::kPath);
        dlg.PathEdit()->ChangeValue(wxString::FromUTF8((dir + "/d.EDI").c_str()));
        dlg.OnNext();
        EXPECT_EQ(dlg.Current(), COpenDiskImageMasterDlg::kPath);
        // The window manager's close asks as Cancel does (answered Cancel: the wizard stays).
        rec.answer = [](const std::string&) { return 2; };
        SendClose(&dlg);
        EXPECT_TRUE(dlg.IsShown());
        dlg.OnClosePressed();
    }, kSlowMachineMs);
    ASSERT_EQ(rec.messages.size(), 3u);
    EXPECT_EQ(rec.messages[0], "File error! please check the it!");
    EXPECT_EQ(rec.messages[1], "Can't open or it is not an Image File, please check the file!");
    EXPECT_EQ(rec.messages[2], "Cancel Wizard ?");
    EXPECT_FALSE(dlg.Result().opened);
}
