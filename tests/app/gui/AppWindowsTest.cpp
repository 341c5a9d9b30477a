#include "app/wizard/AppContext.h"
#include "app/windows/AppBitmaps.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WxUiServices.h"
#include "tests/app/gui/CaptionChecks.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/StringTable.h"
#include "ui/views/wx/DeviceSelectCtrl.h"
#include "ui/views/wx/FileTypeIcons.h"

#include <gtest/gtest.h>
#include <wx/uiaction.h>

using namespace uitest;

namespace {

class NoDevices : public IDeviceSource {
public:
    void CollectDisks(DiskList&) override {}
    void CollectVolumes(VolumeList&, DiskList&) override {}
    void FreeVolumes(VolumeList&) override {}
    void FreeDisks(DiskList&) override {}
};

// The program's window set-up: services, context and the main frame.
struct Program {
    platform::AppPaths paths = platform::ResolveAppPaths();
    CWxUiServices services{paths};
    NoDevices devices;
    std::unique_ptr<AppContext> context;
    CMainFrame* frame = nullptr;

    Program() {
        appres::RegisterAppBitmaps();
        context = std::make_unique<AppContext>(services, devices, paths);
        frame = new CMainFrame(*context);
        services.SetMainWindow(frame);
        frame->Show();
        frame->Raise();
        Pump(200);
    }
    ~Program() {
        if (frame) {
            frame->Destroy();
            Pump(50);
        }
        context.reset();
    }
    // Answers the message box that `open` brings up with the button `yes` or NO.
    void Answer(const std::function<void()>& open, bool yes, const char* screenshot = nullptr, std::string* text = nullptr) {
        RunModal([&] { open(); return 0; }, [&] {
            auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
            ASSERT_NE(box, nullptr);
            if (text)
                *text = box->message;
            if (screenshot)
                Screenshot(box, screenshot);
            Click(yes ? box->YesButton() : box->NoButton());
        });
    }
    // What a click on a button does (the event the button sends), without the pointer.
    static void Press(wxWindow* target, int id) {
        wxCommandEvent ev(wxEVT_BUTTON, id);
        ev.SetEventObject(target);
        target->GetEventHandler()->ProcessEvent(ev);
    }
    wxPoint ButtonCentre(int id) const {
        const wxRect r = frame->CaptionButton(id).rect;
        return wxPoint(r.x + r.width / 2, r.y + r.height / 2);
    }
};

} // namespace

TEST(MainFrame, StartsOnTheModePageAndKeepsItsMinimumSize) {
    Program p;
    EXPECT_EQ(p.frame->GetSize(), CMainFrame::MinimumFrameSize());
    EXPECT_EQ(p.frame->ChildView()->GetSize(), wxSize(CMainFrame::kClientWidth, CMainFrame::kClientHeight));
    CWizardSheetWnd* sheet = p.frame->Sheet();
    EXPECT_EQ(sheet->GetActivePage(), kPageRecoveryMode);
    EXPECT_FALSE(sheet->Button(kIdHomeButton)->IsShown());
    EXPECT_FALSE(sheet->Button(kIdNextButton)->IsShown());
    EXPECT_FALSE(sheet->Button(kIdBackButton)->IsShown());
    EXPECT_TRUE(sheet->Button(kIdFacebookButton)->IsShown());
    EXPECT_FALSE(sheet->Button(kIdDeepScanButton)->IsShown());
    EXPECT_EQ(ui::ToUtf8(sheet->Heading()->GetLabel()), "Select Scan Mode");
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(100);
    // The footer's small buttons and the Help button hold their captions whole.
    for (int id : {kIdFacebookButton, kIdGooglePlusButton})
        ExpectCaptionFits(dynamic_cast<CTextCenterButtonPlus*>(sheet->Button(id)));
    EXPECT_LE(sheet->Button(kIdFacebookButton)->GetRect().GetRight(), sheet->Button(kIdGooglePlusButton)->GetPosition().x);
    EXPECT_LE(sheet->Button(kIdHelpButton)->GetRect().GetRight(), sheet->GetClientSize().x);
    Screenshot(p.frame, "main_frame_mode_page");
    // The window icon stands at (15, 13) of the caption.
    EXPECT_EQ(CMainFrame::IconRect(), wxRect(15, 13, 16, 16));
    {
        const wxImage icon = CaptionIcon().ConvertToImage();
        const wxColour shown = ScreenPixel(p.frame, wxPoint(15 + 8, 13 + 8));
        EXPECT_NEAR(shown.Red(), icon.GetRed(8, 8), 24);
        EXPECT_NEAR(shown.Green(), icon.GetGreen(8, 8), 24);
        EXPECT_NEAR(shown.Blue(), icon.GetBlue(8, 8), 24);
    }

    // The frame built the type list; the type service names and draws an extension's type.
    EXPECT_GT(GetFileTypeMap().size(), 2u);
    ASSERT_NE(LookupFileType("photo.JPG"), nullptr);
    EXPECT_EQ(LookupFileType("photo.JPG")->mimeType, "image/jpeg");
    EXPECT_TRUE(FileTypeIcon("photo.jpg").IsOk());
    EXPECT_TRUE(FileTypeIcon("no-extension").IsOk());

    p.frame->SetSize(400, 300);
    Pump(100);
    EXPECT_GE(p.frame->GetSize().x, CMainFrame::MinimumFrameSize().x);
    EXPECT_GE(p.frame->GetSize().y, CMainFrame::MinimumFrameSize().y);
}

TEST(MainFrame, ExitNowAnsweredNoKeepsTheFrame) {
    Program p;
    std::string asked;
    EXPECT_EQ(p.frame->ButtonAt(p.ButtonCentre(kIdCloseButtonFrame)), kIdCloseButtonFrame);
    EXPECT_EQ(p.frame->ButtonAt(wxPoint(300, 15)), -1);
    p.Answer([&] { Program::Press(p.frame, kIdCloseButtonFrame); }, false, "exit_now", &asked);
    EXPECT_EQ(asked, "Exit now?");
    Pump(100);
    EXPECT_TRUE(p.frame->IsShown());
    // The window manager's close asks the same question.
    p.Answer([&] { p.frame->Close(); }, false);
    EXPECT_TRUE(p.frame->IsShown());
    p.Answer([&] { p.frame->Close(); }, true);
    Pump(100);
    p.frame = nullptr;  // destroyed by Yes
}

TEST(MainFrame, MaximisedFrameShowsTheRestoreImage) {
    Program p;
    EXPECT_FALSE(p.frame->ShowsRestoreImage());
    ClickAt(p.frame, p.ButtonCentre(kIdMaximizeButton));
    Pump(200);
    EXPECT_TRUE(p.frame->IsZoomed());
    EXPECT_TRUE(p.frame->ShowsRestoreImage());
    EXPECT_GT(p.frame->GetSize().x, CMainFrame::MinimumFrameSize().x);
    Screenshot(p.frame, "main_frame_maximised");
    ClickAt(p.frame, p.ButtonCentre(kIdMaximizeButton));
    Pump(200);
    EXPECT_FALSE(p.frame->IsZoomed());
    EXPECT_FALSE(p.frame->ShowsRestoreImage());
    EXPECT_EQ(p.frame->GetSize(), CMainFrame::MinimumFrameSize());
}

TEST(ModePage, HoverPromptAndTheModeButtonsFollowTheChain) {
    Program p;
    auto* page = dynamic_cast<CRecoveryModeSelectPage*>(p.frame->Sheet()->Page(kPageRecoveryMode));
    ASSERT_NE(page, nullptr);
    const wxString idle = page->Prompt();
    MoveTo(page->ModeButton(kModeLostPartition), wxPoint(100, 100));
    Pump(150);
    EXPECT_EQ(ui::ToUtf8(page->Prompt()), "Lost Partition Recovery");
    Screenshot(p.frame, "mode_page_hover");
    MoveTo(p.frame, wxPoint(5, 5));
    Pump(150);
    EXPECT_EQ(page->Prompt(), idle);

    Click(page->ModeButton(kModeDeepScan));
    Pump(200);
    CWizardSheetWnd* sheet = p.frame->Sheet();
    EXPECT_EQ(sheet->GetActivePage(), kPageCompleteRecoveryPartition);
    EXPECT_EQ(p.context->ModeController().GetMode(), kModeDeepScan);
    EXPECT_TRUE(sheet->Button(kIdHomeButton)->IsShown());
    EXPECT_TRUE(sheet->Button(kIdNextButton)->IsShown());
    EXPECT_TRUE(sheet->Button(kIdBackButton)->IsShown());
    EXPECT_FALSE(sheet->Button(kIdFacebookButton)->IsShown());
    Screenshot(p.frame, "device_page_empty");

    // Home answered NO stays; Yes returns to the mode page.
    p.Answer([&] { Program::Press(sheet, kIdHomeButton); }, false, "go_home_question");
    EXPECT_EQ(sheet->GetActivePage(), kPageCompleteRecoveryPartition);
    p.Answer([&] { Program::Press(sheet, kIdHomeButton); }, true);
    Pump(100);
    EXPECT_EQ(sheet->GetActivePage(), kPageRecoveryMode);

    // Back from a mode's first page also returns.
    Click(page->ModeButton(kModeDeletedFile));
    Pump(150);
    EXPECT_EQ(sheet->GetActivePage(), kPageDeleteRecoveryPartition);
    Click(sheet->Button(kIdBackButton));
    Pump(150);
    EXPECT_EQ(sheet->GetActivePage(), kPageRecoveryMode);
}

TEST(DeviceView, ClicksKeysAndColumnDragsGiveTheirMessages) {
    appres::RegisterAppBitmaps();
    HostFrame host(wxSize(700, 330));
    auto* list = new CDeviceSelectCtrl(host.panel(), 1200, wxPoint(10, 10), wxSize(680, 310));
    list->LoadRowBitmaps(kDeviceRowBitmaps);
    std::vector<int> messages;
    host.panel()->Bind(EVT_UI_NOTIFY, [&](wxCommandEvent& e) { messages.push_back(e.GetId()); });
    int items[4];
    list->AddDevice({kDeviceKindDisk, "ATA QEMU HARDDISK", 41943040, "Disk 0\r\nMBR, 2 partitions", &items[0]});
    list->AddDevice({kDeviceKindVolume, "C: SYSTEM", 20971520, "NTFS", &items[1]});
    list->AddDevice({kDeviceKindUsb, "E: USB STICK", 15728640, "FAT32", &items[2]});
    list->AddDevice({kDeviceKindImageFile, "backup.edi", 0, "Disk image", &items[3]});
    host.ShowAndWait();
    Pump(100);
    wxWindow* view = list->View();
    auto rowPoint = [&](int row) { return wxPoint(60, list->Model().Row(row).top + 20); };

    ClickAt(view, rowPoint(1));
    Pump(100);
    EXPECT_EQ(messages, std::vector<int>{kDeviceMsgSelected});
    Pump(700);                   // no double click
    ClickAt(view, rowPoint(1));  // the selected row again: no second message
    Pump(700);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(list->GetDeviceData(list->GetSelectedIndex()), &items[1]);

    view->SetFocus();
    Key(WXK_DOWN);
    Pump(100);
    EXPECT_EQ(list->GetSelectedIndex(), 2);
    EXPECT_EQ(messages.size(), 1u);  // keys tell nobody

    Pump(700);
    wxUIActionSimulator sim;
    sim.MouseMove(view->ClientToScreen(rowPoint(2)));
    sim.MouseDblClick();
    Pump(100);
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    Pump(100);
    EXPECT_EQ(messages, (std::vector<int>{kDeviceMsgSelected, kDeviceMsgDoubleClick, kDeviceMsgRightUp}));
    Screenshot(host.frame(), "device_view");

    list->OnColumnDragged(1, 260);
    Pump(50);
    for (int i = 0; i < list->Count(); ++i)
        EXPECT_EQ(list->Model().Row(i).cells[1].width, 260);
    EXPECT_EQ(list->Model().ScrollWidth(), 250 + 260 + 240);
    int vw = 0, vh = 0;
    list->View()->GetVirtualSize(&vw, &vh);
    EXPECT_EQ(vw, std::max(750, list->View()->GetClientSize().x));
    EXPECT_GE(list->Model().Row(0).height, 62);
}
