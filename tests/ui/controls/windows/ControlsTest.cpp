#include "tests/support/DesktopUserKit.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/AboutDlg.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/DUIButton.h"
#include "ui/controls/EditPlus.h"
#include "ui/controls/ExSplitterWnd.h"
#include "ui/controls/ExtendListCtrl.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/PieCtrl.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/Resources.h"
#include "ui/controls/ScrollWnd.h"
#include "ui/controls/ShellTreeCtrl.h"
#include "ui/controls/TabCtrlPlus.h"

#include <gtest/gtest.h>
#include <wx/dcbuffer.h>
#include <wx/uiaction.h>

#include <filesystem>
#include <fstream>
#include <tuple>

using namespace uitest;
using namespace uires;
namespace fs = std::filesystem;

namespace {
struct HoverRecorder : IButtonHoverListener {
    std::vector<std::string> events;
    void OnHoverStarted(int id, const wxString& text) override {
        events.push_back("start " + std::to_string(id) + " " + text.utf8_string());
    }
    void OnHoverEnded(int id) override { events.push_back("end " + std::to_string(id)); }
};

struct GridNotify : ICheckBoxNotify {
    std::vector<std::tuple<int, int, int, int>> calls;
    void OnCheckBoxChanged(int checked, int row, int cell, int item) override {
        calls.emplace_back(checked, row, cell, item);
    }
};
} // namespace

TEST(Buttons, HoverPicturesClicksAndCaptionButtons) {
    HostFrame host(wxSize(460, 200));
    auto* plain = new CButtonPlus(kBmpCaptionNormal, 0, kBmpCaptionPressed, kBmpCaptionDisabled);
    plain->Create(host.panel(), 3001, wxPoint(10, 10));
    auto* caption = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed,
                                              kBmpCaptionDisabled, 331);
    caption->Create(host.panel(), 3002, wxPoint(120, 10));
    caption->SetFont(ui::PointFont(13));
    auto* icon = new CTextIconButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed,
                                         kBmpCaptionDisabled, 332);
    icon->Create(host.panel(), 3003, wxPoint(230, 10));
    icon->Enable(false);
    auto* small = new CSmallButtonTextCenterButtonPlus();
    small->Create(host.panel(), 3004, wxPoint(10, 70));
    auto* simple = new CTextCenterSimpleButtonPlus(329, 2, 2);
    simple->Create(host.panel(), 3005, wxPoint(120, 70));
    HoverRecorder hover;
    caption->SetHoverListener(&hover);
    caption->SetHoverText("hint");
    int clicks = 0;
    host.panel()->Bind(wxEVT_BUTTON, [&](wxCommandEvent& e) {
        if (e.GetId() == 3002)
            ++clicks;
    });
    host.ShowAndWait();

    EXPECT_EQ(caption->GetSize(), wxSize(95, 39));
    MoveTo(plain, wxPoint(40, 20));
    EXPECT_TRUE(plain->IsHovered());
    EXPECT_EQ(plain->CurrentPicture(), ButtonPicture::Normal);   // no hover picture
    MoveTo(caption, wxPoint(40, 20));
    EXPECT_TRUE(caption->IsHovered());
    EXPECT_EQ(caption->CurrentPicture(), ButtonPicture::Hover);
    EXPECT_FALSE(plain->IsHovered());
    Screenshot(host.frame(), "buttons");
    ClickAt(caption, wxPoint(40, 20));
    EXPECT_EQ(clicks, 1);
    MoveTo(host.panel(), wxPoint(400, 180));
    EXPECT_FALSE(caption->IsHovered());
    ASSERT_GE(hover.events.size(), 2u);
    EXPECT_EQ(hover.events.front(), "start 3002 hint");
    EXPECT_EQ(hover.events.back(), "end 3002");
    // A press that is released outside the button clicks nothing.
    PressAt(caption, wxPoint(40, 20));
    EXPECT_EQ(caption->CurrentPicture(), ButtonPicture::Pressed);
    ReleaseAt(host.panel(), wxPoint(400, 180));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(icon->CurrentPicture(), ButtonPicture::Disabled);
    EXPECT_EQ(CTextIconButtonPlus::StateColour(ButtonPicture::Disabled), wxColour(177, 180, 179));
    EXPECT_EQ(small->GetCaption(), "OK");
}

TEST(Buttons, CaptionButtonStripAndCommand) {
    HostFrame host(wxSize(200, 80), wxColour(80, 85, 94));
    wxBitmap strip(120, 24);
    {
        wxMemoryDC dc(strip);
        const wxColour frames[] = {wxColour(60, 60, 60), wxColour(90, 90, 140), wxColour(40, 40, 90)};
        for (int i = 0; i < 3; ++i) {
            dc.SetBrush(wxBrush(frames[i]));
            dc.SetPen(*wxTRANSPARENT_PEN);
            dc.DrawRectangle(i * 40, 0, 40, 24);
        }
    }
    CDUIButton button;
    button.strip = &strip;
    button.frameCount = 3;
    button.owner = host.panel();
    button.commandId = 4321;
    button.caption = "Min";
    button.SetRect(wxRect(20, 20, 40, 24));
    host.panel()->Bind(wxEVT_PAINT, [&](wxPaintEvent&) {
        wxPaintDC dc(host.panel());
        std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
        button.Draw(*gc);
    });
    int commands = 0;
    host.panel()->Bind(wxEVT_BUTTON, [&](wxCommandEvent& e) {
        if (e.GetId() == 4321)
            ++commands;
    });
    host.ShowAndWait();
    button.disabled = true;
    EXPECT_EQ(button.FrameIndex(), 0);   // three frames: no disabled frame
    button.disabled = false;
    button.hover = true;
    EXPECT_EQ(button.FrameIndex(), 1);
    host.panel()->Refresh();
    Screenshot(host.frame(), "caption_button");
    button.OnLButtonUp();   // not pressed: nothing
    button.pressed = true;
    button.OnLButtonUp();
    Pump(50);
    EXPECT_EQ(commands, 1);
    EXPECT_TRUE(button.checked);
    EXPECT_FALSE(button.pressed);
    CDUIButton copy;
    CopyDUIButtonState(button, copy);
    EXPECT_EQ(copy.rect, button.rect);
    EXPECT_EQ(copy.caption, "Min");
    EXPECT_FALSE(LoadSkinBitmap("no-such-skin.png").IsOk());
}

TEST(Prompt, CheckBoxDecidesDontShowAgain) {
    CHasCheckboxPromptDlg ticked("If the files are not found here, please go to \"Deep Scan Recovery\"!");
    int result = RunModal([&] { return ticked.DoModal(); }, [&] {
        Screenshot(&ticked, "checkbox_prompt");
        Click(ticked.CheckBox());
        Click(ticked.OkButton());
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ticked.dontShowAgain, 1);
    CHasCheckboxPromptDlg closed("Hint");
    result = RunModal([&] { return closed.DoModal(); }, [&] {
        Click(closed.CheckBox());
        Click(closed.CloseButton());
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(closed.dontShowAgain, 0);
}

TEST(FileSavePanel, OutcomesAndTheFolderLink) {
    EXPECT_EQ(RecoveryOutcomeText(0, 5), "Files failed to recover successfully.");
    EXPECT_EQ(RecoveryOutcomeText(5, 5), "All files are recovered successfully.");
    EXPECT_EQ(RecoveryOutcomeText(3, 5), "Some files are recovered successfully.");
    EXPECT_EQ(RecoveryOutcomeText(0, 0), "Files failed to recover successfully.");
    EXPECT_EQ(RecoverySummaryText(3, 5), "Files need to recover: 5, total recovered files: 3.");

    HostFrame host(wxSize(480, 150));
    auto* panel = new CFileSaveDlg();
    ASSERT_TRUE(panel->Create(host.panel(), wxPoint(10, 10)));
    const std::string folder = testsupport::ScratchDir("filesave-target");
    std::string opened;
    CHyperLink::SetFolderOpener([&](const std::string& f, const std::vector<std::string>& select) {
        opened = f + "|" + std::to_string(select.size());
        return true;
    });
    panel->filePaths = {folder + "/a.txt", folder + "/b.txt"};
    panel->ShowRecoveryResult(3, 5);
    panel->SetOutputFolder(folder);
    host.ShowAndWait();
    EXPECT_EQ(panel->OutcomeText()->GetLabel(), "Some files are recovered successfully.");
    EXPECT_EQ(panel->FolderLink()->GetUnderline(), 1);
    EXPECT_EQ(panel->FolderLink()->PathList().size(), 2u);
    Screenshot(host.frame(), "file_save_panel");
    ClickAt(panel->FolderLink(), wxPoint(5, 5));
    EXPECT_EQ(opened, folder + "|2");

    const std::string forty(40, 'p');
    panel->SetOutputFolder(forty);
    EXPECT_EQ(panel->FolderLink()->GetLabel(), forty);
    panel->SetOutputFolder(forty + "q");
    EXPECT_EQ(panel->FolderLink()->GetLabel(), forty + ". . .");

    // A folder that is gone: "Path Invalid!", the working folder stays.
    fs::remove_all(folder);
    panel->SetOutputFolder(folder);
    opened.clear();
    const auto cwd = fs::current_path();
    std::string shown;
    RunModal([&] {
        panel->FolderLink()->FollowLink();
        return 0;
    }, [&] {
        auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
        ASSERT_NE(box, nullptr);
        shown = box->message;
        Click(box->OkButton());
    });
    EXPECT_EQ(shown, "Path Invalid!");
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(fs::current_path(), cwd);
    CHyperLink::SetFolderOpener({});
}

// After an administrator start (root for nobody) the target folder's link and an address open
// through xdg-open run as that user, with their home. Skipped for other users than root.
TEST(HyperLink, LinksOpenAsTheDesktopUserAfterAnAdministratorStart) {
    const std::string why = testsupport::AdministratorStartUnavailable();
    if (!why.empty())
        GTEST_SKIP() << why;
    testsupport::OpenTempFolder bin, records(testsupport::kNobodyUid, 0700), target(testsupport::kNobodyUid);
    ASSERT_FALSE(bin.Path().empty() || records.Path().empty() || target.Path().empty());
    testsupport::WriteRecorder(bin.Path(), "xdg-open", records.Path());
    wxString oldPath;
    wxGetEnv("PATH", &oldPath);
    wxSetEnv("PATH", wxString::FromUTF8(bin.Path()) + ":" + oldPath);
    HostFrame host(wxSize(400, 80));
    struct Case {
        int mode;
        std::string target;
    };
    const Case cases[] = {{CHyperLink::kFolderMode, target.Path()}, {CHyperLink::kUrlMode, "https://example.invalid/"}};
    int id = 5100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        fs::remove(records.Path() + "/xdg-open");
        auto* link = new CHyperLink(c.mode);
        link->SetURL(c.target);
        link->Create(host.panel(), id++, "link", wxPoint(10, 10));
        {
            testsupport::AdministratorStart start;
            link->FollowLink();
        }
        const testsupport::RecordedRun run = testsupport::ReadRun(records.Path(), "xdg-open");
        ASSERT_TRUE(run.ran);
        EXPECT_EQ(run.uid, testsupport::kNobodyUid);
        EXPECT_EQ(run.groups, "65534");
        EXPECT_EQ(run.env.count("HOME") ? run.env.at("HOME") : "", "/nonexistent");
        EXPECT_EQ(run.args, std::vector<std::string>{c.target});

        // The user's entry cannot be read: xdg-open is not started at all (never as root), and
        // the message names what was not opened and why.
        fs::remove(records.Path() + "/xdg-open");
        std::string shown;
        {
            testsupport::AdministratorStart start;
            testsupport::UnreadablePasswd unreadable;
            RunModal([&] {
                link->FollowLink();
                return 0;
            }, [&] {
                auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
                ASSERT_NE(box, nullptr);
                shown = box->message;
                Click(box->OkButton());
            });
        }
        EXPECT_EQ(shown, std::string(c.mode == CHyperLink::kFolderMode ? "The folder " : "The link ") + c.target +
                             " was not opened: " + testsupport::kNobodyUnreadable +
                             ", and no program is started as root for them.");
        EXPECT_FALSE(testsupport::ReadRun(records.Path(), "xdg-open", 500).ran);
        link->Destroy();
    }
    wxSetEnv("PATH", oldPath);
}

TEST(HyperLink, TextTargetHoverAndFailures) {
    HostFrame host(wxSize(400, 120));
    auto* link = new CHyperLink(CHyperLink::kUrlMode);
    link->SetURL("https://example.invalid/");
    link->Create(host.panel(), 5000, wxString(), wxPoint(10, 10));
    auto* named = new CHyperLink(CHyperLink::kUrlMode);
    named->Create(host.panel(), 5001, "https://named.invalid/", wxPoint(10, 40));
    auto* right = new CHyperLink(CHyperLink::kUrlMode);
    right->Create(host.panel(), 5002, "x", wxPoint(100, 70), wxSize(200, 20), wxALIGN_RIGHT);
    host.ShowAndWait();
    EXPECT_EQ(link->GetLabel(), "https://example.invalid/");   // no text: shows the target
    EXPECT_EQ(named->GetURL(), "https://named.invalid/");      // no target: takes the text
    EXPECT_EQ(right->GetRect().GetRight(), 299);               // fitted, right edge kept
    MoveTo(link, wxPoint(5, 5));
    EXPECT_TRUE(link->IsHovered());
    EXPECT_EQ(link->CurrentColour(), wxColour(255, 0, 0));
    Screenshot(host.frame(), "hyperlink_hover");
    MoveTo(host.panel(), wxPoint(300, 110));
    PumpUntil([&] { return !link->IsHovered(); }, 300);
    EXPECT_FALSE(link->IsHovered());

    CHyperLink::SetUrlOpener([](const std::string&, const std::vector<std::string>&) { return true; });
    ClickAt(link, wxPoint(5, 5));
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(link->CurrentColour(), wxColour(85, 26, 139));
    CHyperLink::SetUrlOpener([](const std::string&, const std::vector<std::string>&) { return false; });
    std::string shown;
    RunModal([&] {
        link->FollowLink();
        return 0;
    }, [&] {
        auto* box = dynamic_cast<CMessageBoxDlg*>(ActiveModal());
        ASSERT_NE(box, nullptr);
        shown = box->message;
        Click(box->OkButton());
    });
    EXPECT_EQ(shown.rfind("Unable to open hyperlink:\n\n", 0), 0u);
    EXPECT_FALSE(link->IsVisited());
    CHyperLink::SetUrlOpener({});
}

TEST(Edits, ClipboardKeysAndTheUnselectableView) {
    HostFrame host(wxSize(400, 200));
    auto* edit = new CEditPlus(host.panel(), 6000, "/home/user/Recovered", wxPoint(10, 10), wxSize(300, 28));
    auto* view = new CCopyLimitedRichEditCtrl(host.panel(), 6001, wxPoint(10, 50), wxSize(300, 120));
    view->SetValue("A document that can be read but not copied.\nSecond line.");
    host.ShowAndWait();
    host.frame()->Raise();
    edit->SetFocus();
    edit->SetInsertionPoint(3);
    Pump(50);
    Key('A', wxMOD_CONTROL);
    long from = 0, to = 0;
    edit->GetSelection(&from, &to);
    EXPECT_EQ(from, 0);
    EXPECT_EQ(to, edit->GetLastPosition());
    Screenshot(host.frame(), "edits");

    view->SetFocus();
    view->SetInsertionPoint(0);
    Pump(50);
    Key('A', wxMOD_CONTROL);
    Key(WXK_RIGHT, wxMOD_SHIFT);
    view->GetSelection(&from, &to);
    EXPECT_EQ(from, to);
    PressAt(view, wxPoint(10, 10));
    MoveTo(view, wxPoint(200, 40));
    ReleaseAt(view, wxPoint(200, 40));
    view->GetSelection(&from, &to);
    EXPECT_EQ(from, to);
}

TEST(Grid, CheckBoxesSelectionResizeAndRightButton) {
    HostFrame host(wxSize(420, 220));
    auto* grid = new CExtendListCtrl();
    ASSERT_TRUE(grid->Create(host.panel(), 7000, wxPoint(10, 10), wxSize(400, 200)));
    grid->InsertColumn("Partition", 160, kGridLeft);
    grid->InsertColumn("Size", 90, kGridRight);
    grid->InsertColumn("Type", 90, kGridCentre);
    GridNotify notify;
    int rightButtons = 0;
    host.panel()->Bind(EVT_UI_NOTIFY, [&](wxCommandEvent& e) {
        if (e.GetId() == kMsgGridRightButton)
            ++rightButtons;
    });
    grid->SetNotifyWindow(host.panel());
    for (int r = 0; r < 4; ++r) {
        grid->AddRow();
        GridCellDesc first;
        first.itemCount = 2;
        first.items[0] = GridItem{true, false, -1, "Disk " + std::to_string(r), &notify, {}};
        first.items[1] = GridItem{true, r == 1, -1, r == 3 ? "bad\xFFname" : "caf\xC3\xA9", &notify, {}};
        grid->SetCell(r, first);
        GridCellDesc size;
        size.itemCount = 1;
        size.items[0].text = std::to_string(100 * (r + 1)) + " MB";
        size.textColour = uires::FromColorRef(0x0000FF);
        grid->SetCell(r, size);
        GridCellDesc type;
        type.itemCount = 1;
        type.items[0].text = "NTFS";
        grid->SetCell(r, type);
    }
    host.ShowAndWait();
    // The second box of row 2 lies where the model laid it out.
    const uigeo::Rect box = grid->Model().Row(2)->cells[0].desc.items[1].checkRect;
    ASSERT_FALSE(box.IsEmpty());
    ClickAt(grid, grid->ContentToClient({box.left + 4, box.top + 4}));
    ASSERT_EQ(notify.calls.size(), 1u);
    EXPECT_EQ(notify.calls[0], std::make_tuple(1, 2, 0, 1));
    EXPECT_EQ(grid->GetSelectedRow(), 2);
    grid->SetFocus();
    Key(WXK_DOWN);
    EXPECT_EQ(grid->GetSelectedRow(), 3);
    Key(WXK_DOWN);
    EXPECT_EQ(grid->GetSelectedRow(), 3);
    Screenshot(host.frame(), "grid");
    // A narrow first column hides the second box; widened again, its box follows the new width.
    grid->OnColumnResized(0, 20);
    grid->Refresh();
    Pump(50);
    EXPECT_TRUE(grid->Model().Row(0)->cells[0].desc.items[1].checkRect.IsEmpty());
    grid->OnColumnResized(0, 200);
    grid->Refresh();
    Pump(50);
    EXPECT_EQ(grid->Header()->ColumnWidth(0), 200);
    const uigeo::Rect again = grid->Model().Row(0)->cells[0].desc.items[1].checkRect;
    EXPECT_FALSE(again.IsEmpty());
    ClickAt(grid, grid->ContentToClient({again.left + 4, again.top + 4}), wxMOUSE_BTN_RIGHT);
    EXPECT_EQ(rightButtons, 1);
    EXPECT_EQ(grid->GetSelectedRow(), 0);
    EXPECT_EQ(grid->Model().vert.page, 0);   // all rows fit
    EXPECT_EQ(ui::ToUtf8(ui::FromUtf8("bad\xFFname")), "bad\\xFFname");
}

TEST(Splitter, FixedPaneKeepsItsSizeAndDragsAreLimited) {
    HostFrame host(wxSize(300, 400));
    auto* split = new CExSplitterWnd();
    ASSERT_TRUE(split->Create(host.panel(), 8000, wxPoint(0, 0), wxSize(300, 400)));
    split->layout.orientation = 1;
    split->layout.fixedPane = 1;
    split->layout.fixedSize = 120;
    split->layout.minSize = 60;
    split->layout.maxSize = 250;
    auto* top = new wxPanel(split, wxID_ANY);
    top->SetBackgroundColour(wxColour(255, 255, 255));
    auto* bottom = new wxPanel(split, wxID_ANY);
    bottom->SetBackgroundColour(wxColour(220, 235, 250));
    split->SetPanes(top, bottom);
    host.ShowAndWait();
    EXPECT_EQ(split->SecondPaneSize(), 120);
    split->SetSize(300, 500);
    Pump(30);
    EXPECT_EQ(split->SecondPaneSize(), 120);
    Screenshot(host.frame(), "splitter");
    // Drag the bar down so that the bottom pane would be 20 pixels: it snaps to the minimum.
    const wxRect bar = split->BarRect();
    PressAt(split, wxPoint(150, bar.y + 1));
    MoveTo(split, wxPoint(150, 470));
    ReleaseAt(split, wxPoint(150, 470));
    EXPECT_EQ(split->SecondPaneSize(), 60);
}

TEST(AboutDialog, OkAndCloseEndWithOne) {
    CAboutProfessionalDlg about;
    int result = RunModal([&] { return about.DoModal(); }, [&] {
        EXPECT_FALSE(about.Link()->GetURL().empty());
        EXPECT_EQ(about.Link()->GetUnderline(), 1);
        Screenshot(&about, "about_dialog");
        Click(about.OkButton());
    });
    EXPECT_EQ(result, 1);
    CAboutProfessionalDlg again;
    result = RunModal([&] { return again.DoModal(); }, [&] { Click(again.CloseButton()); });
    EXPECT_EQ(result, 1);
}

TEST(PieChart, DrawsSlicesLegendAndMinimumSize) {
    HostFrame host(wxSize(420, 200));
    auto* tiny = new CPieCtrl();
    ASSERT_TRUE(tiny->Create(host.panel(), 9001, wxPoint(230, 10), wxSize(100, 100)));
    EXPECT_EQ(tiny->GetSize(), wxSize(180, 130));
    auto* pie = new CPieCtrl();
    ASSERT_TRUE(pie->Create(host.panel(), 9000, wxPoint(10, 10), wxSize(210, 170)));
    pie->SetAmounts(40ULL << 30, 5ULL << 30, 55ULL << 30);
    host.ShowAndWait();
    Screenshot(host.frame(), "pie_chart");
    const wxImage img = pie->Render(210, 170);
    const PieGeometry& g = pie->Geometry();
    EXPECT_EQ(g.slices[0].sweep + g.slices[1].sweep + g.slices[2].sweep, 360);
    // Just right of the centre, slightly below it: the free slice's top colour.
    const int cx = 105, cy = 170 - 170 / 3;
    EXPECT_EQ(wxColour(img.GetRed(cx + 10, cy + 2), img.GetGreen(cx + 10, cy + 2), img.GetBlue(cx + 10, cy + 2)),
              ui::ColorRef(0xFF00FF));
    // All zero: no pie at all.
    tiny->SetAmounts(0, 0, 0);
    const wxImage empty = tiny->Render(180, 130);
    EXPECT_FALSE(tiny->Geometry().hasPie);
    const int ex = 90, ey = 130 - 130 / 3;
    EXPECT_EQ(wxColour(empty.GetRed(ex, ey), empty.GetGreen(ex, ey), empty.GetBlue(ex, ey)), wxColour(241, 241, 241));
}

namespace {
struct Chosen {
    std::string path;
    static void Callback(void* user, const char* p) { static_cast<Chosen*>(user)->path = p; }
};
} // namespace

TEST(FolderTree, LazyFoldersAndTheChosenPath) {
    const std::string dir = testsupport::ScratchDir("shelltree");
    fs::create_directories(dir + "/home/Documents/Old");
    fs::create_directories(dir + "/home/Empty");
    std::ofstream(dir + "/home/notes.txt") << "x";
    platform::MountEntry root;
    root.mountPoint = "/";
    root.fsType = "ext4";
    root.mountOptions = "rw";
    platform::MountEntry proc;
    proc.mountPoint = "/proc";
    proc.fsType = "proc";
    proc.mountOptions = "rw";
    HostFrame host(wxSize(320, 300));
    auto* tree = new CShellTreeCtrl();
    ASSERT_TRUE(tree->Create(host.panel(), 9100, wxPoint(0, 0), wxSize(320, 300)));
    tree->SetSources(dir + "/home", {root, proc});
    tree->RefreshTree();
    Chosen chosen;
    tree->SetCallback(&Chosen::Callback, &chosen);
    host.ShowAndWait();
    const wxTreeItemId home = tree->FindChild(tree->GetRootItem(), "Home");
    ASSERT_TRUE(home.IsOk());
    tree->Expand(home);
    const wxTreeItemId docs = tree->FindChild(home, "Documents");
    ASSERT_TRUE(docs.IsOk());
    EXPECT_FALSE(tree->FindChild(home, "notes.txt").IsOk());
    const wxTreeItemId empty = tree->FindChild(home, "Empty");
    ASSERT_TRUE(empty.IsOk());
    tree->Expand(empty);
    EXPECT_FALSE(tree->ItemHasChildren(empty));
    tree->ExpandComputerNode();
    const wxTreeItemId fsRoot = tree->FindChild(tree->GetRootItem(), "File System");
    ASSERT_TRUE(fsRoot.IsOk());
    EXPECT_FALSE(tree->FindChild(fsRoot, "proc").IsOk());
    tree->Expand(docs);
    Screenshot(host.frame(), "folder_tree");
    tree->SelectItem(docs);
    Pump(30);
    EXPECT_EQ(chosen.path, dir + "/home/Documents");
}

TEST(TabStrip, SelectCloseAndPages) {
    HostFrame host(wxSize(420, 240));
    auto* tabs = new CTabCtrlPlus();
    ASSERT_TRUE(tabs->Create(host.panel(), 9200, wxPoint(0, 0), wxSize(420, 240)));
    const wxColour colours[] = {wxColour(255, 255, 255), wxColour(235, 245, 255), wxColour(250, 240, 230)};
    std::vector<wxPanel*> pages;
    for (const auto& c : colours) {
        auto* p = new wxPanel(tabs, wxID_ANY);
        p->SetBackgroundColour(c);
        pages.push_back(p);
        tabs->AddPage(p);
    }
    int notices = 0;
    host.panel()->Bind(EVT_UI_NOTIFY, [&](wxCommandEvent& e) {
        if (e.GetId() == kMsgSelectionChanged)
            ++notices;
    });
    tabs->AddTab("Files", 0);
    tabs->AddTab("Search Result", 1);
    tabs->AddTab("Find", 2);
    tabs->SetCurSel(0);
    host.ShowAndWait();
    ASSERT_EQ(tabs->Model().TabCount(), 3);
    const TabItem& second = tabs->Model().Tab(1);
    ClickAt(tabs, wxPoint(second.rect.left + 10, 10));
    EXPECT_EQ(tabs->GetCurSel(), 1);
    EXPECT_EQ(tabs->GetCurPage(), pages[1]);
    EXPECT_TRUE(pages[1]->IsShown());
    EXPECT_FALSE(pages[0]->IsShown());
    EXPECT_EQ(pages[0]->GetSize(), wxSize(0, 0));
    EXPECT_EQ(pages[1]->GetRect(), wxRect(4, 24, 412, 212));
    EXPECT_EQ(notices, 1);
    ClickAt(tabs, wxPoint(second.rect.left + 10, 10));   // already selected: nothing
    EXPECT_EQ(notices, 1);
    Screenshot(host.frame(), "tab_strip");
    // Press a close box and release elsewhere: nothing closes.
    const uigeo::Rect closeBox = tabs->Model().Tab(2).closeBox;
    PressAt(tabs, wxPoint(closeBox.left + 3, closeBox.top + 3));
    ReleaseAt(tabs, wxPoint(200, 150));
    EXPECT_EQ(tabs->Model().TabCount(), 3);
    EXPECT_EQ(notices, 1);
    PressAt(tabs, wxPoint(closeBox.left + 3, closeBox.top + 3));
    ReleaseAt(tabs, wxPoint(closeBox.left + 3, closeBox.top + 3));
    EXPECT_EQ(tabs->Model().TabCount(), 2);
    EXPECT_EQ(tabs->GetCurSel(), 0);
    EXPECT_EQ(notices, 2);
    // Too wide for the strip: refused.
    tabs->AddTab(std::string(80, 'W').c_str(), 2);
    EXPECT_EQ(tabs->Model().TabCount(), 2);
}

namespace {
class OffsetWnd : public CScrollWnd {
public:
    int vert = -1, horz = -1;

protected:
    void OnVertOffset(int v) override { vert = v; }
    void OnHorzOffset(int h) override { horz = h; }
};
} // namespace

TEST(ScrollWindow, BarsPagesAndWheel) {
    HostFrame host(wxSize(320, 260));
    auto* w = new OffsetWnd();
    ASSERT_TRUE(w->Create(wxRect(10, 10, 300, 240), host.panel()));
    host.ShowAndWait();
    EXPECT_FALSE(w->HorzShown());
    EXPECT_FALSE(w->VertShown());
    w->SetContentSize(100, 100);
    w->ShowScrollBars();
    EXPECT_FALSE(w->VertShown());
    w->SetVertRange(100);
    w->SetVertPage(240);
    w->ScrollByWheel(-120);   // content fits: nothing
    EXPECT_EQ(w->vert, -1);
    w->SetContentSize(2000, 3000);
    w->ShowScrollBars();
    EXPECT_TRUE(w->VertShown());
    EXPECT_TRUE(w->HorzShown());
    w->SetVertRange(3000);
    w->SetVertPage(300);
    w->SetHorzPage(50);
    w->Scroll(wxVERTICAL, ScrollCode::PageDown);
    EXPECT_EQ(w->vert, 300);
    w->ScrollByWheel(-120);
    EXPECT_EQ(w->vert, 420);
    Screenshot(host.frame(), "scroll_window");
}

TEST(PopupMenu, ChoosingAnItemSendsItsCommand) {
    HostFrame host(wxSize(300, 200));
    host.ShowAndWait();
    CXPMenu menu;
    menu.Append(101, "Open");
    menu.AppendSeparator();
    menu.Append(103, "Properties");
    int chosen = 0;
    host.panel()->Bind(wxEVT_MENU, [&](wxCommandEvent& e) { chosen = e.GetId(); });
    menu.Popup(host.panel(), host.panel()->ClientToScreen(wxPoint(20, 20)));
    ASSERT_NE(menu.Window(), nullptr);
    PumpUntil([&] { return menu.Window() && menu.Window()->IsShownOnScreen(); });
    Pump(50);
    EXPECT_EQ(menu.Window()->GetClientSize(), wxSize(160, 75));
    MoveTo(menu.Window(), wxPoint(40, 62));
    Screenshot(menu.Window(), "popup_menu");
    ClickAt(menu.Window(), wxPoint(40, 62));
    PumpUntil([&] { return chosen != 0; }, 1000);
    EXPECT_EQ(chosen, 103);
}

// The counts can be any 64-bit number: the summary wraps inside the panel, which grows to hold
// it. Several output folders are each linked; more than four are linked through their common
// parent.
TEST(FileSavePanel, LargestCountsWrapAndEveryFolderIsLinked) {
    EXPECT_EQ(CommonParentFolder({"/out/NTFS", "/out/FAT32"}), "/out/");
    EXPECT_EQ(CommonParentFolder({"/out/ab/x", "/out/ac/y"}), "/out/");
    EXPECT_EQ(CommonParentFolder({"/out/a", "/out/a"}), "/out/");
    EXPECT_EQ(CommonParentFolder({"/one/a", "/two/b"}), "/");
    EXPECT_EQ(CommonParentFolder({}), "");
    const std::string largest = std::to_string(UINT64_MAX);
    EXPECT_EQ(RecoverySummaryText(UINT64_MAX, UINT64_MAX),
              "Files need to recover: " + largest + ", total recovered files: " + largest + ".");

    HostFrame host(wxSize(400, 330), wxColour(196, 199, 204));
    auto* panel = new CFileSaveDlg();
    ASSERT_TRUE(panel->Create(host.panel(), wxPoint(20, 10), wxSize(340, 120)));
    panel->ShowRecoveryResult(UINT64_MAX, UINT64_MAX);
    const std::vector<std::string> folders = {"/srv/recovered/NTFS", "/srv/recovered/FAT32", "/srv/recovered/EXT2"};
    panel->SetOutputFolders(folders, "/srv/recovered");
    panel->SetSize(340, panel->ArrangeContent());
    host.ShowAndWait();
    wxStaticText* summary = panel->SummaryLine();
    wxClientDC dc(summary);
    dc.SetFont(summary->GetFont());
    wxString joined = summary->GetLabel();
    EXPECT_LE(dc.GetMultiLineTextExtent(joined).x, summary->GetSize().x);
    EXPECT_LE(dc.GetMultiLineTextExtent(joined).y, summary->GetSize().y);
    joined.Replace("\n", " ");
    EXPECT_EQ(ui::ToUtf8(joined), RecoverySummaryText(UINT64_MAX, UINT64_MAX));
    ASSERT_GE(panel->FolderLinks().size(), 3u);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        CHyperLink* link = panel->FolderLinks()[i];
        EXPECT_TRUE(link->IsShown());
        EXPECT_EQ(link->GetURL(), folders[i]);
        EXPECT_EQ(ui::ToUtf8(link->GetLabel()), folders[i]);
        EXPECT_LE(link->GetRect().GetBottom(), panel->GetSize().y);
        EXPECT_GT(link->GetPosition().y, summary->GetRect().GetBottom());
    }
    Screenshot(host.frame(), "file_save_panel_largest_counts");

    // Six folders: one link to the folder that holds them, which selects them all.
    std::vector<std::string> six;
    for (const char* name : {"NTFS", "FAT32", "FAT16", "EXT2", "EXT3", "RAW"})
        six.push_back(std::string("/srv/recovered/") + name);
    panel->SetOutputFolders(six, "/srv/recovered");
    panel->SetSize(340, panel->ArrangeContent());
    Pump(100);
    EXPECT_EQ(panel->FolderLink()->GetURL(), "/srv/recovered/");
    EXPECT_EQ(ui::ToUtf8(panel->FolderLink()->GetLabel()), "6 folders under /srv/recovered/");
    EXPECT_EQ(panel->FolderLink()->PathList(), six);
    for (std::size_t i = 1; i < panel->FolderLinks().size(); ++i)
        EXPECT_FALSE(panel->FolderLinks()[i]->IsShown());
    Screenshot(host.frame(), "file_save_panel_common_parent");

    // Folders under a long path keep their own names in sight.
    const std::string deep = "/srv/a-rather-long-folder-name/for/all/the/recovered/files/";
    panel->SetOutputFolders({deep + "1 NTFS", deep + "2 FAT32"}, deep);
    panel->SetSize(340, panel->ArrangeContent());
    Pump(100);
    EXPECT_EQ(ui::ToUtf8(panel->FolderLinks()[0]->GetLabel()), ". . ." + (deep + "1 NTFS").substr(deep.size() + 6 - 40));
    EXPECT_EQ(ui::ToUtf8(panel->FolderLinks()[1]->GetLabel()).substr(0, 5), ". . .");
    EXPECT_EQ(panel->FolderLinks()[1]->GetURL(), deep + "2 FAT32");
    Screenshot(host.frame(), "file_save_panel_long_paths");
}

// Captioned buttons grow to their captions, measured in the font they draw with (and again when
// it changes); their pictures stretch between the corners; a row of them keeps apart.
TEST(CaptionButtons, GrowToTheirCaptionsAndKeepApart) {
    using namespace uires;
    HostFrame host(wxSize(600, 170));
    std::vector<CTextSmallIconButtonPlus*> tools;
    for (const char* caption : {"Deselect All", "Search files", "Thumbnail"}) {
        auto* b = new CTextSmallIconButtonPlus(kBmpSimpleNormal, kBmpSimpleHover, kBmpSimplePressed, kBmpSimpleDisabled, 0);
        b->SetCaptionText(caption);
        b->Create(host.panel(), wxID_ANY);
        tools.push_back(b);
    }
    PlaceButtonRow({{tools[0], 10}, {tools[1], 60}, {tools[2], 400}}, 10);
    auto* wide = new CTextCenterButtonPlus(kBmpSimpleNormal, kBmpSimpleHover, kBmpSimplePressed, kBmpSimpleDisabled, 0);
    wide->SetCaption("A caption longer than its picture");
    wide->Create(host.panel(), wxID_ANY);
    wide->MoveTo(10, 80);
    auto* tall = new CTextCenterButtonPlus(kBmpSimpleNormal, kBmpSimpleHover, kBmpSimplePressed, kBmpSimpleDisabled, 0);
    tall->SetCaption("Google+");
    tall->Create(host.panel(), wxID_ANY);
    tall->MoveTo(400, 80);
    const wxSize before = tall->GetSize();
    tall->SetFont(tall->GetFont().Scaled(2.2f));
    host.ShowAndWait();
    Pump(100);
    int right = 0;
    for (CTextSmallIconButtonPlus* b : tools) {
        const wxSize text = b->GetTextExtent(b->GetCaption());
        EXPECT_GE(b->GetSize().x, 38 + text.x);
        EXPECT_GE(b->GetPosition().x, right);
        right = b->GetRect().GetRight() + 1;
    }
    EXPECT_EQ(tools[2]->GetPosition().x, 400);  // room enough: its own place
    EXPECT_GT(wide->GetSize().x, wide->GetBitmapSize().x);
    EXPECT_GE(wide->GetSize().x, wide->GetTextExtent(wide->GetCaption()).x + 4);
    EXPECT_EQ(wide->GetButtonSize(), wide->GetSize());
    EXPECT_GT(tall->GetSize().y, before.y);
    EXPECT_GE(tall->GetSize().y, tall->GetTextExtent(tall->GetCaption()).y);
    // The stretched picture keeps its rim on the right edge, as on the left.
    EXPECT_EQ(ScreenPixel(wide, wxPoint(wide->GetSize().x - 3, wide->GetSize().y / 2)),
              ScreenPixel(wide, wxPoint(2, wide->GetSize().y / 2)));
    Screenshot(host.frame(), "caption_buttons_fit");
}
