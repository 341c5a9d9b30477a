// The main frame's own frame (rim resizing from every edge and corner, the rounded shape, the
// icon's window menu), the flat menus of the wizard window, help when no browser starts, F1 on a
// page, Ctrl+O's file dialog and the update checker's texts, in the real windows under a virtual
// X server.
#include "app/windows/AppBitmaps.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WxUiServices.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/WizardTypes.h"
#include "tests/support/DesktopUserKit.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/WizardFakes.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/AboutDlg.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/FrameRim.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>
#include <wx/filedlg.h>
#include <wx/modalhook.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

using namespace uitest;

namespace {

// The main frame, counting its minimise requests (a virtual X server has no window manager that
// would iconify it).
class CountingFrame : public CMainFrame {
public:
    using CMainFrame::CMainFrame;
    int minimised = 0;

protected:
    void MinimiseWindow() override { ++minimised; }
};

platform::AppPaths PathsWithProgramDir(const std::string& programDir) {
    platform::AppPaths paths = platform::ResolveAppPaths();
    if (!programDir.empty())
        paths.programDir = paths.resourceDir = programDir;
    return paths;
}

struct Program {
    platform::AppPaths paths;
    CWxUiServices services{paths};
    testsupport::NoDevices devices;
    std::unique_ptr<AppContext> context;
    CountingFrame* frame = nullptr;

    // `programDir` (ending in '/') stands for the program's folder, with its help pages.
    explicit Program(const std::string& programDir = std::string()) : paths(PathsWithProgramDir(programDir)) {
        appres::RegisterAppBitmaps();
        context = std::make_unique<AppContext>(services, devices, paths);
        frame = new CountingFrame(*context);
        services.SetMainWindow(frame);
        frame->Move(100, 100);
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
};


// A modal-dialog step that reads a message box, keeps its text and presses NO (or OK).
ModalAnswerer::Step ReadBox(std::string* text, const char* screenshot) {
    return [text, screenshot](wxDialog* d) {
        auto* box = dynamic_cast<CMessageBoxDlg*>(d);
        if (!box)
            return false;
        *text = box->message;
        Pump(100);
        if (screenshot)
            Screenshot(box, screenshot);
        Click(box->NoButton() && box->NoButton()->IsShown() ? box->NoButton() : box->OkButton());
        return true;
    };
}

// A stand-in for xdg-open, first on the PATH while it lives: it writes what it was asked to open
// into a file and fails as xdg-open does when no browser can be started.
struct FailingBrowser {
    std::string dir = testsupport::ScratchDir("frames-no-browser");
    std::string asked = dir + "/asked";
    wxString oldPath;
    FailingBrowser() {
        const std::string script = dir + "/xdg-open";
        std::ofstream(script) << "#!/bin/sh\necho \"$1\" >> '" << asked << "'\nexit 3\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        std::filesystem::remove(asked);
        wxGetEnv("PATH", &oldPath);
        wxSetEnv("PATH", wxString::FromUTF8(dir) + ":" + oldPath);
    }
    ~FailingBrowser() { wxSetEnv("PATH", oldPath); }
    std::string Asked() const {
        std::ifstream in(asked);
        std::string all, line;
        while (std::getline(in, line))
            all += line + "\n";
        return all;
    }
};

} // namespace

// After an administrator start (root for nobody) F1 opens the help page through xdg-open run as
// that user, with their home; a page that user may not read is not handed over, the user is told
// where it is. Skipped for other users than root.
TEST(WindowFrames, HelpAfterAnAdministratorStartRunsTheBrowserAsTheUser) {
    const std::string why = testsupport::AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    testsupport::OpenTempFolder bin, records(testsupport::kNobodyUid, 0700), program;
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty() || program.Path().empty());
    testsupport::WriteRecorder(bin.Path(), "xdg-open", records.Path());
    const std::string help = program.Path() + "/help";
    std::filesystem::create_directories(help);
    std::ofstream(help + "/index.html") << "<html><body>help</body></html>\n";
    ::chmod(help.c_str(), 0755);
    ::chmod((help + "/index.html").c_str(), 0644);
    wxString oldPath;
    wxGetEnv("PATH", &oldPath);
    wxSetEnv("PATH", wxString::FromUTF8(bin.Path()) + ":" + oldPath);
    testsupport::AdministratorStart start;
    {
        Program p(program.Path() + "/");
        p.frame->SetFocus();
        Key(WXK_F1);
        EXPECT_TRUE(PumpUntil([&] { return std::filesystem::exists(records.Path() + "/xdg-open"); }, 8000));
        const testsupport::RecordedRun run = testsupport::ReadRun(records.Path(), "xdg-open", 0);
        ASSERT_TRUE(run.ran);
        EXPECT_EQ(run.uid, testsupport::kNobodyUid);
        EXPECT_EQ(run.groups, "65534");
        EXPECT_EQ(run.env.count("HOME") ? run.env.at("HOME") : "", "/nonexistent");
        EXPECT_EQ(run.args, std::vector<std::string>{platform::FileUrl(help + "/index.html")});
        Pump(300); // xdg-open ended well: nothing to tell

        // The same page where the user cannot reach it.
        std::filesystem::remove(records.Path() + "/xdg-open");
        ::chmod(help.c_str(), 0700);
        ModalAnswerer modals;
        std::string told;
        modals.Then(ReadBox(&told, nullptr));
        p.frame->SetFocus();
        Key(WXK_F1);
        EXPECT_TRUE(PumpUntil([&] { return modals.Done(); }, 8000));
        EXPECT_NE(told.find(help + "/index.html"), std::string::npos) << told;
        EXPECT_FALSE(std::filesystem::exists(records.Path() + "/xdg-open"));

        // A page the user could read, but the user's entry cannot be read: no browser starts,
        // not even as root, and the user is told why and where the page is.
        ::chmod(help.c_str(), 0755);
        testsupport::UnreadablePasswd unreadable;
        ModalAnswerer refused;
        told.clear();
        refused.Then(ReadBox(&told, nullptr));
        p.frame->SetFocus();
        Key(WXK_F1);
        EXPECT_TRUE(PumpUntil([&] { return refused.Done(); }, 8000));
        EXPECT_EQ(told, "The help page was not opened: " + std::string(testsupport::kNobodyUnreadable) +
                            ", and no program is started as root for them. It is here:\n" + help + "/index.html");
        Pump(300);
        EXPECT_FALSE(std::filesystem::exists(records.Path() + "/xdg-open"));
    }
    wxSetEnv("PATH", oldPath);
}

TEST(WindowFrames, MainFrameResizesFromEveryEdgeAndCorner) {
    Program p;
    // A magenta window behind the frame's top left corner shows through the rounded corner.
    wxFrame* behind = new wxFrame(nullptr, wxID_ANY, "behind", p.frame->GetPosition(), wxSize(40, 40), wxBORDER_NONE);
    behind->SetBackgroundColour(*wxRED);
    behind->Show();
    Pump(100);
    p.frame->Raise();
    Pump(200);
    EXPECT_EQ(ScreenPixel(p.frame, wxPoint(0, 0)), *wxRED);
    EXPECT_NE(ScreenPixel(p.frame, wxPoint(20, 1)), *wxRED);
    behind->Destroy();

    struct Case {
        const char* edge;
        std::function<wxPoint(wxSize)> at;
        wxPoint by;
        int dx, dy, dw, dh;  // expected change of the frame's rectangle
    };
    const Case cases[] = {
        {"right", [](wxSize s) { return wxPoint(s.x - 1, s.y / 2); }, {40, 0}, 0, 0, 40, 0},
        {"bottom", [](wxSize s) { return wxPoint(s.x / 2, s.y - 1); }, {0, 30}, 0, 0, 0, 30},
        {"left", [](wxSize s) { return wxPoint(1, s.y / 2); }, {-40, 0}, -40, 0, 40, 0},
        {"top", [](wxSize s) { return wxPoint(s.x / 2, 1); }, {0, -20}, 0, -20, 0, 20},
        {"top left", [](wxSize) { return wxPoint(2, 2); }, {-10, -10}, -10, -10, 10, 10},
        {"top right", [](wxSize s) { return wxPoint(s.x - 3, 2); }, {10, -10}, 0, -10, 10, 10},
        {"bottom left", [](wxSize s) { return wxPoint(1, s.y - 2); }, {-10, 10}, -10, 0, 10, 10},
        {"bottom right", [](wxSize s) { return wxPoint(s.x - 2, s.y - 2); }, {20, 20}, 0, 0, 20, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        const wxRect before = p.frame->GetRect();
        Drag(p.frame, c.at(before.GetSize()), c.by);
        const wxRect after = p.frame->GetRect();
        EXPECT_EQ(after, wxRect(before.x + c.dx, before.y + c.dy, before.width + c.dw, before.height + c.dh));
        // The child view follows inside the border and below the caption.
        EXPECT_EQ(p.frame->ChildView()->GetSize(),
                  wxSize(after.width - 2 * CMainFrame::kBorder, after.height - CMainFrame::kCaptionHeight - CMainFrame::kBorder));
    }
    Screenshot(p.frame, "main_frame_resized");
    // Never smaller than the starting size; the edges not dragged stay.
    const wxRect before = p.frame->GetRect();
    Drag(p.frame, wxPoint(2, 2), wxPoint(600, 600));
    EXPECT_EQ(p.frame->GetSize(), CMainFrame::MinimumFrameSize());
    EXPECT_EQ(p.frame->GetRect().GetBottomRight(), before.GetBottomRight());
    // Maximised, the rim does not resize.
    p.frame->ToggleZoom();
    Pump(100);
    const wxRect zoomed = p.frame->GetRect();
    Drag(p.frame, wxPoint(zoomed.width - 1, zoomed.height / 2), wxPoint(-50, 0));
    EXPECT_EQ(p.frame->GetRect(), zoomed);
    p.frame->ToggleZoom();
}

TEST(WindowFrames, MainFrameIconOpensTheWindowMenu) {
    Program p;
    const wxPoint icon = CMainFrame::IconRect().GetPosition() + wxPoint(8, 8);
    ClickAt(p.frame, icon);
    ASSERT_NE(ShownFlatMenu(), nullptr);
    Pump(100);
    Screenshot(p.frame, "main_frame_icon_menu");
    // Restore is greyed while the frame is not maximised: choosing it does nothing.
    ChooseFlatMenuItem(0);
    EXPECT_FALSE(p.frame->IsZoomed());
    ASSERT_NE(CXPMenu::Shown(), nullptr);
    ChooseFlatMenuItem(2);  // Maximize
    EXPECT_TRUE(PumpUntil([&] { return p.frame->IsZoomed(); }));
    EXPECT_TRUE(p.frame->ShowsRestoreImage());
    ClickAt(p.frame, icon);
    ASSERT_NE(ShownFlatMenu(), nullptr);
    Pump(100);
    Screenshot(p.frame, "main_frame_icon_menu_maximised");
    ChooseFlatMenuItem(2);  // Maximize, greyed now
    EXPECT_TRUE(p.frame->IsZoomed());
    ChooseFlatMenuItem(0);  // Restore
    EXPECT_TRUE(PumpUntil([&] { return !p.frame->IsZoomed(); }));
    EXPECT_EQ(p.frame->GetSize(), CMainFrame::MinimumFrameSize());
    ClickAt(p.frame, icon);
    ChooseFlatMenuItem(1);  // Minimize
    EXPECT_TRUE(PumpUntil([&] { return p.frame->minimised == 1; }));
    // The minimise caption button asks the same.
    const wxRect min = p.frame->CaptionButton(kIdMinimizeButton).rect;
    ClickAt(p.frame, min.GetPosition() + wxPoint(min.width / 2, min.height / 2));
    EXPECT_TRUE(PumpUntil([&] { return p.frame->minimised == 2; }));
    // Close asks "Exit now?"; NO keeps the program.
    ModalAnswerer modals;
    std::string asked;
    modals.Then(ReadBox(&asked, nullptr));
    ClickAt(p.frame, icon);
    ChooseFlatMenuItem(3);
    EXPECT_TRUE(PumpUntil([&] { return modals.Done(); }, 5000));
    EXPECT_EQ(asked, "Exit now?");
    Pump(100);
    EXPECT_TRUE(p.frame->IsShown());
}

TEST(WindowFrames, HelpMenuIsFlatAndAFailedBrowserIsReported) {
    FailingBrowser browser;
    // The program in a folder whose name a URL must encode.
    const std::string programDir = testsupport::ScratchDir("frames program #1") + "/";
    std::filesystem::create_directories(programDir + "help");
    for (const char* page : {"index.html", "15.html"})
        std::ofstream(programDir + "help/" + page) << "<html><body>help</body></html>\n";
    Program p(programDir);
    CWizardSheetWnd* sheet = p.frame->Sheet();
    Click(sheet->Button(kIdHelpButton));
    wxWindow* menu = ShownFlatMenu();
    ASSERT_NE(menu, nullptr);
    // The flat menu stands under the Help button, two items of 160 x 25.
    EXPECT_EQ(menu->GetClientSize(), wxSize(160, 50));
    const wxWindow* help = sheet->Button(kIdHelpButton);
    EXPECT_NEAR(menu->GetScreenPosition().y, help->GetScreenPosition().y + help->GetSize().y, 2);
    MoveTo(menu, wxPoint(40, 12));
    Pump(100);
    Screenshot(p.frame, "help_menu");

    // "Help": the browser fails, and the user is told where the help page is.
    ModalAnswerer modals;
    std::string told;
    modals.Then(ReadBox(&told, "help_no_browser"));
    ChooseFlatMenuItem(0);
    EXPECT_TRUE(PumpUntil([&] { return modals.Done(); }, 8000));
    const std::string index = p.paths.programDir + "help/index.html";
    EXPECT_EQ(browser.Asked(), platform::FileUrl(index) + "\n");
    EXPECT_NE(browser.Asked().find("/frames%20program%20%231-"), std::string::npos) << browser.Asked();
    EXPECT_EQ(browser.Asked().find_first_of(" #"), std::string::npos) << browser.Asked();
    EXPECT_NE(told.find(index), std::string::npos) << told;

    // F1 opens the help topic of the page it was pressed on.
    ASSERT_EQ(sheet->GetActivePage(), kPageRecoveryMode);
    modals.Then(ReadBox(&told, nullptr));
    p.frame->SetFocus();
    Key(WXK_F1);
    EXPECT_TRUE(PumpUntil([&] { return modals.Done(); }, 8000));
    const std::string topic = p.paths.programDir + "help/" + std::to_string(PageHelpContextId(kPageRecoveryMode)) + ".html";
    EXPECT_NE(browser.Asked().find(platform::FileUrl(topic) + "\n"), std::string::npos) << browser.Asked();
    EXPECT_NE(told.find(topic), std::string::npos) << told;

    // "About" shows the about box.
    bool about = false;
    modals.Then([&](wxDialog* d) {
        if (!dynamic_cast<CAboutProfessionalDlg*>(d))
            return false;
        about = true;
        d->EndModal(1);
        return true;
    });
    Click(sheet->Button(kIdHelpButton));
    ChooseFlatMenuItem(1);
    EXPECT_TRUE(PumpUntil([&] { return modals.Done(); }, 5000));
    EXPECT_TRUE(about);
}

// The toolkit's file dialog is no top-level window of the toolkit's list: it is caught as it
// opens, through the modal-dialog hook.
class FileDialogCatcher : public wxModalDialogHook {
public:
    FileDialogCatcher() { Register(); }
    ~FileDialogCatcher() override { Unregister(); }
    wxFileDialog* dialog = nullptr;

protected:
    int Enter(wxDialog* d) override {
        if (auto* f = dynamic_cast<wxFileDialog*>(d))
            dialog = f;
        return wxID_NONE;
    }
    void Exit(wxDialog*) override {}
};

TEST(WindowFrames, OpenImageDialogStartsOnDiskImageFiles) {
    Program p;
    FileDialogCatcher catcher;
    wxString wildcard;
    int filterIndex = -1;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        wxFileDialog* files = catcher.dialog;
        if (!files || !files->IsShownOnScreen())
            return;
        timer.Stop();
        wildcard = files->GetWildcard();
        filterIndex = files->GetFilterIndex();
        Pump(400);
        ScreenshotOfScreen("open_image_dialog");
        files->EndModal(wxID_CANCEL);
    });
    timer.Start(100);
    EXPECT_EQ(p.services.OpenFileDialog("Disk Image File(*.edi)|*.edi|ImageFile(*.vlv)|*.vlv|Raw Image File(*.*)|*.*"), "");
    timer.Stop();
    ASSERT_NE(catcher.dialog, nullptr);
    EXPECT_EQ(wildcard, "Disk Image File(*.edi)|*.edi|ImageFile(*.vlv)|*.vlv|Raw Image File(*.*)|*.*");
    EXPECT_EQ(filterIndex, 0);
}

TEST(WindowFrames, UpdateCheckerTextsShowInTheMessageBox) {
    Program p;
    int shown = 0;
    ModalAnswerer modals;
    for (int id : {uistr::kUpdateCheckFailed, uistr::kUpdateAvailable, uistr::kUpdateLatest}) {
        modals.Then([id, &shown](wxDialog* d) {
            auto* box = dynamic_cast<CMessageBoxDlg*>(d);
            if (!box)
                return false;
            EXPECT_EQ(box->message, uistr::UiString(id));
            Pump(100);
            Screenshot(box, "update_text_" + std::to_string(id));
            ++shown;
            box->EndModal(1);
            return true;
        });
        p.services.MessageBox(id, id == uistr::kUpdateAvailable ? kMbQuestion : kMbInformation,
                              id == uistr::kUpdateAvailable ? kMbYes | kMbNo : kMbOk);
    }
    EXPECT_EQ(shown, 3);
}

TEST(WindowFrames, StateDialogsHaveTheirTitlesAndNoCancel) {
    Program p;
    for (const char* title : {"Save recovery states", "Restore previous recovery"}) {
        SCOPED_TRACE(title);
        std::unique_ptr<IBuildProgress> progress = p.services.CreateUncancellableProgress(title);
        CBuildDirectoryDlg* dlg = nullptr;
        for (wxWindow* w : wxTopLevelWindows)
            if (auto* d = dynamic_cast<CBuildDirectoryDlg*>(w); d && d->IsShown())
                dlg = d;
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(ui::ToUtf8(dlg->GetTitle()), title);
        EXPECT_FALSE(dlg->CancelButton()->IsShown());
        EXPECT_FALSE(p.frame->IsEnabled());
        progress->BeginStage(title[0] == 'S' ? "Saving recovery states..." : "Loading recovery states...", 100);
        progress->StepBy(40);
        PumpUntil([&] { return dlg->IsShownOnScreen(); });
        Pump(600);
        // Escape asks nothing: the work cannot be stopped.
        dlg->SetFocus();
        Key(WXK_ESCAPE);
        Pump(300);
        EXPECT_EQ(ActiveModal(), nullptr);
        EXPECT_FALSE(progress->Cancelled());
        dlg->RefreshFromState(true);
        Pump(100);
        Screenshot(dlg, title[0] == 'S' ? "state_save_dialog" : "state_restore_dialog");
        progress.reset();
        Pump(100);
        EXPECT_TRUE(p.frame->IsEnabled());
    }
}
