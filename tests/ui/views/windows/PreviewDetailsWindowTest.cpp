// The preview window in detail: the "Loading file..." dialog of a large file, the picture
// buttons and where the focus goes, the info line, the image view's paint, the wheel and the
// right button, the skinned caption, the hex row at the first size, and the file list's titles
// and thumbnail labels in the window's font.
#include <gtest/gtest.h>

#include "platform/AppPaths.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "tests/ui/views/ViewsFixtures.h"
#include "ui/controls/Bitmaps.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/Resources.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FilePreviewDlg.h"

#include <X11/Xlib.h>
#include <dlfcn.h>

#include <set>
#include <string>
#include <vector>

using namespace uitest;
using namespace viewtests;

namespace {

std::string WriteText(const std::string& name, std::size_t bytes) {
    std::string text;
    for (int i = 0; text.size() < bytes; ++i)
        text += "Line " + std::to_string(i) + " of a long preview file\n";
    text.resize(bytes);
    const std::string path = testsupport::ScratchDir("preview-details") + "/" + name;
    EXPECT_TRUE(testsupport::WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end())));
    return path;
}

std::string WritePicture(const std::string& name, const std::string& convertArgs) {
    const std::string path = testsupport::ScratchDir("preview-details") + "/" + name;
    EXPECT_TRUE(testsupport::MustRun("convert " + convertArgs + " " + testsupport::ShellQuote(path)));
    return path;
}

// One real turn of the mouse wheel over a point of a window (X buttons 4 up, 5 down).
bool WheelTurn(wxWindow* w, wxPoint client, bool down) {
    using FakeButton = int (*)(Display*, unsigned, int, unsigned long);
    static void* lib = dlopen("libXtst.so.6", RTLD_NOW);
    static auto fake = lib ? reinterpret_cast<FakeButton>(dlsym(lib, "XTestFakeButtonEvent")) : nullptr;
    if (!fake)
        return false;
    MoveTo(w, client);
    Pump(80);
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    fake(display, down ? 5 : 4, True, 0);
    fake(display, down ? 5 : 4, False, 0);
    XFlush(display);
    XCloseDisplay(display);
    Pump(200);
    return true;
}

bool SameColour(const wxColour& a, const wxColour& b, int tolerance = 8) {
    return std::abs(a.Red() - b.Red()) <= tolerance && std::abs(a.Green() - b.Green()) <= tolerance &&
           std::abs(a.Blue() - b.Blue()) <= tolerance;
}

} // namespace

TEST(PreviewWindow, LargeFileLoadsBehindTheLoadingDialogInTwentySteps) {
    const std::string path = WriteText("large.txt", 6 * 1024 * 1024);
    // The dialog shows while the constructor builds the index; a timer looks at it whenever the
    // build lets events through.
    std::set<int> positions;
    std::vector<std::string> stages;
    int range = -1;
    bool shot = false, cancelShown = true, elapsedClear = false;
    wxTimer watch;
    watch.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* w : wxTopLevelWindows) {
            auto* d = dynamic_cast<CBuildDirectoryDlg*>(w);
            if (!d || !d->IsShown() || !d->ProgressBar())
                continue;
            positions.insert(d->ProgressBar()->GetPos());
            range = d->ProgressBar()->GetRange();
            cancelShown = d->CancelButton()->IsShown();
            stages.push_back(ui::ToUtf8(d->StageText()->GetLabel()));
            {
                // "Elapsed Time:" (from x 20) stays clear of its value in any font.
                wxClientDC dc(d);
                dc.SetFont(d->GetFont());
                elapsedClear = d->ElapsedText()->GetPosition().x >= 20 + dc.GetTextExtent("Elapsed Time:").x;
            }
            if (!shot && d->ProgressBar()->GetPos() >= 8) {
                shot = true;
                d->RefreshFromState(true);
                Screenshot(d, "preview_loading_file");
            }
        }
    });
    watch.Start(1);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "large.txt");
    watch.Stop();
    ASSERT_FALSE(stages.empty());
    EXPECT_EQ(stages.back(), "Loading file...");
    EXPECT_EQ(range, 20);
    EXPECT_FALSE(cancelShown);  // the index is built to its end
    EXPECT_TRUE(elapsedClear);
    EXPECT_GE(positions.size(), 5u);
    EXPECT_LE(*positions.rbegin(), 20);
    EXPECT_TRUE(shot);
    // The dialog is gone and the index whole.
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* d = dynamic_cast<CBuildDirectoryDlg*>(w)) {
            EXPECT_FALSE(d->IsShown());
        }
    dlg->Show();
    Pump(200);
    EXPECT_GT(dlg->TextLines(), 100000u);
    dlg->ScrollTo(dlg->TextLines());
    EXPECT_TRUE(dlg->TextView()->GetValue().Contains("of a long"));
    dlg->Destroy();
    Pump(50);
}

TEST(PreviewWindow, PictureButtonsFocusAndTheInfoLine) {
    // Each button picture is one of the program's, its caption drawn in.
    for (int id : {uires::kBmpBestFitNormal, uires::kBmpBestFitHover, uires::kBmpBestFitPressed, uires::kBmpBestFitDisabled,
                   uires::kBmpActualSizeNormal, uires::kBmpActualSizeHover, uires::kBmpActualSizePressed,
                   uires::kBmpActualSizeDisabled}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(LoadBitmapResource(id).IsOk());
    }
    const std::string pic = WritePicture("wide.png", "-size 1200x300 gradient:orange-purple");
    auto* dlg = new CFilePreviewDlg(nullptr, pic, "wide.png");
    dlg->Show();
    Pump(300);
    ASSERT_EQ(dlg->CurrentTab(), CFilePreviewDlg::TAB_IMAGE);
    EXPECT_EQ(dlg->BestFitButton()->GetBitmapSize(), LoadBitmapResource(uires::kBmpBestFitNormal).GetSize());
    EXPECT_EQ(dlg->ActualSizeButton()->GetBitmapSize(), LoadBitmapResource(uires::kBmpActualSizeNormal).GetSize());
    EXPECT_EQ(dlg->BestFitButton()->GetId(), 1156);
    EXPECT_EQ(dlg->ActualSizeButton()->GetId(), 1159);

    // The info line along the bottom, below the picture, beside the buttons, filled.
    wxStaticText* info = dlg->InfoText();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetId(), 1222);
    EXPECT_TRUE(info->IsShownOnScreen());
    EXPECT_TRUE(info->GetLabel().StartsWith("1200 x 300 pixels, ")) << info->GetLabel();
    const wxRect view = dlg->ImageView()->GetRect();
    EXPECT_GE(info->GetPosition().y, view.GetBottom());
    EXPECT_LE(info->GetRect().GetRight(), dlg->BestFitButton()->GetPosition().x);
    EXPECT_GE(dlg->BestFitButton()->GetPosition().y, view.GetBottom());
    EXPECT_LE(dlg->ActualSizeButton()->GetRect().GetBottom(), info->GetParent()->GetClientSize().y);
    // The whole text shows in the window's font.
    {
        wxClientDC dc(info);
        dc.SetFont(info->GetFont());
        EXPECT_GE(info->GetSize().x, dc.GetTextExtent(info->GetLabel()).x);
        EXPECT_GE(info->GetSize().y, dc.GetTextExtent(info->GetLabel()).y);
    }
    Screenshot(dlg, "preview_buttons_best_fit");

    // After either button the image has the focus.
    Click(dlg->ActualSizeButton());
    ASSERT_TRUE(PumpUntil([&] { return !dlg->ImageView()->IsBestFit(); }));
    Pump(100);
    EXPECT_EQ(wxWindow::FindFocus(), dlg->ImageView());
    EXPECT_TRUE(dlg->BestFitButton()->IsEnabled());
    EXPECT_FALSE(dlg->ActualSizeButton()->IsEnabled());
    Screenshot(dlg, "preview_buttons_actual_size");
    Click(dlg->BestFitButton());
    ASSERT_TRUE(PumpUntil([&] { return dlg->ImageView()->IsBestFit(); }));
    Pump(100);
    EXPECT_EQ(wxWindow::FindFocus(), dlg->ImageView());

    // A tab switch focuses the tab's view; the hex view comes without a selection.
    dlg->HexView()->SetSelection(0, 30);
    dlg->SelectTab(CFilePreviewDlg::TAB_HEX);
    Pump(150);
    EXPECT_EQ(wxWindow::FindFocus(), dlg->HexView());
    long from = -1, to = -2;
    dlg->HexView()->GetSelection(&from, &to);
    EXPECT_EQ(from, to);
    EXPECT_FALSE(info->IsShownOnScreen());
    dlg->SelectTab(CFilePreviewDlg::TAB_TEXT);
    Pump(100);
    EXPECT_EQ(wxWindow::FindFocus(), dlg->TextView());
    dlg->SelectTab(CFilePreviewDlg::TAB_IMAGE);
    Pump(100);
    EXPECT_EQ(wxWindow::FindFocus(), dlg->ImageView());
    dlg->Destroy();
    Pump(50);
}

TEST(PreviewWindow, ImageViewPaintsWhiteInAGreyFrame) {
    const std::string path = WriteText("not-a-picture.bin", 3000);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "not-a-picture.bin");
    dlg->Show();
    Pump(200);
    dlg->SelectTab(CFilePreviewDlg::TAB_IMAGE);
    Pump(200);
    CImageWindow* view = dlg->ImageView();
    ASSERT_FALSE(view->HasPicture());
    view->Refresh();
    view->Update();
    Pump(100);
    const wxSize c = view->GetClientSize();
    const wxColour grey(0x80, 0x80, 0x80);
    for (wxPoint p : {wxPoint(0, c.y / 2), wxPoint(c.x - 1, c.y / 2), wxPoint(c.x / 2, 0), wxPoint(c.x / 2, c.y - 1)}) {
        SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
        EXPECT_TRUE(SameColour(ScreenPixel(view, p), grey, 2));
    }
    EXPECT_TRUE(SameColour(ScreenPixel(view, wxPoint(5, 5)), *wxWHITE, 2));
    EXPECT_TRUE(SameColour(ScreenPixel(view, wxPoint(c.x - 6, c.y - 6)), *wxWHITE, 2));
    // The message is dark text in the middle, as far from either side.
    int left = -1, right = -1, top = -1, bottom = -1;
    const wxImage shot = wxImage(Screenshot(view, "preview_image_message"));
    ASSERT_TRUE(shot.IsOk());
    for (int y = 2; y < shot.GetHeight() - 2; ++y)
        for (int x = 2; x < shot.GetWidth() - 2; ++x)
            if (shot.GetRed(x, y) < 100 && shot.GetGreen(x, y) < 100 && shot.GetBlue(x, y) < 100) {
                left = left < 0 ? x : std::min(left, x);
                right = std::max(right, x);
                top = top < 0 ? y : std::min(top, y);
                bottom = std::max(bottom, y);
            }
    ASSERT_GE(left, 0);
    EXPECT_NEAR(left, shot.GetWidth() - 1 - right, 4);
    EXPECT_NEAR(top, shot.GetHeight() - 1 - bottom, 4);
    EXPECT_EQ(view->Message(), wxString("Warning! Not support the image format!"));

    // A right click on the image or the text opens nothing: the screen under it stays.
    for (wxWindow* target : {static_cast<wxWindow*>(view), static_cast<wxWindow*>(dlg->TextView())}) {
        if (target == dlg->TextView()) {
            dlg->SelectTab(CFilePreviewDlg::TAB_TEXT);
            Pump(200);
        }
        const wxPoint at(40, 40);
        const std::string before = Screenshot(dlg, "preview_right_click_before");
        ClickAt(target, at, wxMOUSE_BTN_RIGHT);
        Pump(400);
        const wxImage a(before), b(Screenshot(dlg, "preview_right_click_after"));
        ASSERT_EQ(a.GetSize(), b.GetSize());
        const wxPoint p = target->GetScreenPosition() - dlg->GetScreenPosition() + at + wxPoint(30, 20);
        EXPECT_TRUE(SameColour(wxColour(a.GetRed(p.x, p.y), a.GetGreen(p.x, p.y), a.GetBlue(p.x, p.y)),
                               wxColour(b.GetRed(p.x, p.y), b.GetGreen(p.x, p.y), b.GetBlue(p.x, p.y)), 0));
        Key(WXK_ESCAPE);  // would close any menu that did open
        Pump(100);
    }
    dlg->Destroy();
    Pump(50);
}

TEST(PreviewWindow, WheelMovesOneLinePerTurn) {
    const std::string path = WriteText("wheel.txt", 40000);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "wheel.txt");
    dlg->Show();
    Pump(300);
    dlg->ScrollTo(50);
    const wxPoint middle(dlg->TextView()->GetClientSize().x / 2, dlg->TextView()->GetClientSize().y / 2);
    ASSERT_TRUE(WheelTurn(dlg->TextView(), middle, true));
    EXPECT_EQ(dlg->Position(), 51u);
    ASSERT_TRUE(WheelTurn(dlg->TextView(), middle, true));
    EXPECT_EQ(dlg->Position(), 52u);
    ASSERT_TRUE(WheelTurn(dlg->TextView(), middle, false));
    EXPECT_EQ(dlg->Position(), 51u);
    EXPECT_TRUE(PumpUntil([&] { return dlg->TextView()->GetValue().StartsWith("Line 51 "); }));
    dlg->SelectTab(CFilePreviewDlg::TAB_HEX);
    Pump(150);
    const std::uint64_t row = dlg->Position();
    ASSERT_TRUE(WheelTurn(dlg->HexView(), middle, true));
    EXPECT_EQ(dlg->Position(), row + 1);
    dlg->Destroy();
    Pump(50);
}

TEST(PreviewFrame, SkinnedCaptionBorderAndIcon) {
    const std::string path = WriteText("caption.txt", 2000);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "caption.txt");
    dlg->Move(120, 120);
    dlg->Show();
    Pump(300);
    const wxSize c = dlg->GetClientSize();
    EXPECT_EQ(dlg->CaptionHeight(), 30);
    EXPECT_EQ(dlg->BorderWidth(), 3);
    EXPECT_EQ(dlg->Body()->GetRect(), wxRect(3, 30, c.x - 6, c.y - 33));
    EXPECT_EQ(dlg->IconRect(), wxRect(15, 13, 16, 16));
    EXPECT_EQ(dlg->TitleRect().GetPosition(), wxPoint(45, 7));
    EXPECT_LE(dlg->TitleRect().GetRight(), dlg->MinimiseButton()->GetPosition().x);
    // The skin's own pictures on the three buttons, the close one with its id.
    EXPECT_TRUE(dlg->MinimiseButton()->ShowsSkinPicture());
    EXPECT_TRUE(dlg->MaximiseButton()->ShowsSkinPicture());
    auto* close = dynamic_cast<CMaximiseButton*>(dlg->CloseButton());
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->ShowsSkinPicture());
    EXPECT_EQ(close->GetId(), 1032);
    MoveTo(close, wxPoint(11, 11));
    EXPECT_TRUE(PumpUntil([&] { return close->Frame() == 1; }));
    Screenshot(dlg, "preview_skin_caption_hover");
    MoveTo(dlg->Body(), wxPoint(100, 100));
    EXPECT_TRUE(PumpUntil([&] { return close->Frame() == 0; }));
    // The caption and the border are the skin's, the icon stands at (15, 13).
    const wxImage bg(wxString::FromUTF8(platform::ResourceDir() + "info/mainbg.png"));
    ASSERT_TRUE(bg.IsOk());
    const wxColour caption(bg.GetRed(bg.GetWidth() / 2, 2), bg.GetGreen(bg.GetWidth() / 2, 2), bg.GetBlue(bg.GetWidth() / 2, 2));
    const wxColour border(bg.GetRed(bg.GetWidth() / 2, 60), bg.GetGreen(bg.GetWidth() / 2, 60), bg.GetBlue(bg.GetWidth() / 2, 60));
    EXPECT_TRUE(SameColour(ScreenPixel(dlg, wxPoint(c.x / 2 + 150, 2)), caption));
    EXPECT_TRUE(SameColour(ScreenPixel(dlg, wxPoint(1, c.y / 2)), border));
    EXPECT_TRUE(SameColour(ScreenPixel(dlg, wxPoint(c.x - 2, c.y / 2)), border));
    const wxImage icon = CaptionIcon().ConvertToImage();
    const wxColour iconCentre(icon.GetRed(8, 8), icon.GetGreen(8, 8), icon.GetBlue(8, 8));
    EXPECT_TRUE(SameColour(ScreenPixel(dlg, wxPoint(15 + 8, 13 + 8)), iconCentre, 24));
    // The restore picture while maximised.
    dlg->ToggleMaximise();
    Pump(200);
    EXPECT_TRUE(dlg->MaximiseButton()->ShowsRestore());
    EXPECT_TRUE(dlg->MaximiseButton()->ShowsSkinPicture());
    Screenshot(dlg->MaximiseButton(), "preview_skin_restore_button");
    dlg->ToggleMaximise();
    Pump(100);
    Screenshot(dlg, "preview_skin_caption");
    dlg->Destroy();
    Pump(50);
}

// While the dialog is disabled (a modal window of another test or of the program in front) its
// caption buttons show the last, "disabled" pictures of their strips: four 22-pixel frames with
// black as the transparent colour, the last ending at the strip's right edge.
TEST(PreviewFrame, DisabledCaptionButtonsShowTheDisabledPictures) {
    const std::string path = WriteText("disabled-caption.txt", 2000);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "disabled-caption.txt");
    dlg->Move(120, 120);
    dlg->Show();
    Pump(300);
    auto* close = dynamic_cast<CMaximiseButton*>(dlg->CloseButton());
    ASSERT_NE(close, nullptr);
    dlg->Disable();
    for (CMaximiseButton* b : {dlg->MinimiseButton(), dlg->MaximiseButton(), close}) {
        ASSERT_TRUE(b->ShowsSkinPicture());
        EXPECT_EQ(b->Frame(), 3);
        b->Refresh();
        b->Update();
    }
    Pump(200);
    // The close button's disabled picture where it is not transparent, nearest the middle.
    const wxImage strip(wxString::FromUTF8(platform::ResourceDir() + "info/close-button.bmp"));
    ASSERT_TRUE(strip.IsOk());
    ASSERT_EQ(strip.GetWidth(), 4 * 22);
    int spot = -1;
    for (int d = 0; d < 11 && spot < 0; ++d)
        for (int x : {11 - d, 11 + d})
            if (spot < 0 && x < 22 &&
                (strip.GetRed(66 + x, 11) | strip.GetGreen(66 + x, 11) | strip.GetBlue(66 + x, 11)) != 0)
                spot = x;
    ASSERT_GE(spot, 0);
    const wxColour disabled(strip.GetRed(66 + spot, 11), strip.GetGreen(66 + spot, 11), strip.GetBlue(66 + spot, 11));
    EXPECT_TRUE(SameColour(ScreenPixel(close, wxPoint(spot, 11)), disabled)) << spot;
    Screenshot(dlg, "preview_skin_caption_disabled");
    dlg->Enable();
    dlg->Destroy();
    Pump(50);
}

TEST(PreviewWindow, HexRowWhollyVisibleAtTheFirstSize) {
    const std::string path = WriteText("hex.txt", 5000);
    auto* dlg = new CFilePreviewDlg(nullptr, path, "hex.txt");
    dlg->Show();
    Pump(300);
    dlg->SelectTab(CFilePreviewDlg::TAB_HEX);
    Pump(300);
    // The view holds the whole row, characters' column included.
    EXPECT_GE(dlg->HexView()->GetClientSize().x, dlg->HexRowWidth());
    EXPECT_GE(dlg->GetSize().x, 720);
    const wxString page = dlg->HexView()->GetValue();
    EXPECT_TRUE(page.Contains("Line 0 of a long")) << page.Left(400);
    // Where the view really draws the end of a full row and of the last (partial) row.
    auto rowEndFits = [&](const wxString& text, long row) {
        long at = 0;
        for (long r = 0; r <= row; ++r)
            at = static_cast<long>(text.find('\n', static_cast<std::size_t>(at))) + 1;
        const long eol = static_cast<long>(text.find('\n', static_cast<std::size_t>(at)));
        long last = eol - 1;
        while (last > at && (text[static_cast<std::size_t>(last)] == '\t' || text[static_cast<std::size_t>(last)] == '\r'))
            --last;
        const wxPoint end = dlg->HexView()->PositionToCoords(last);
        return end.x >= 0 && end.x + dlg->HexView()->GetCharWidth() + 2 <= dlg->HexView()->GetClientSize().x;
    };
    EXPECT_TRUE(rowEndFits(page, 0));
    Screenshot(dlg, "preview_hex_first_size");
    dlg->ScrollTo(dlg->HexRows());
    Pump(100);
    const wxString end = dlg->HexView()->GetValue();
    const long rows = static_cast<long>(end.Freq('\n'));
    EXPECT_TRUE(rowEndFits(end, rows - 2));
    Screenshot(dlg, "preview_hex_last_row");
    dlg->Destroy();
    Pump(50);
}

TEST(FileListWindow, ColumnTitlesAndThumbnailLabelsFollowTheFont) {
    HostFrame host(wxSize(820, 300));
    auto* list = new CFileListCtrl(host.panel());
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(list, 1, wxEXPAND);
    host.panel()->SetSizer(sizer);
    host.ShowAndWait();
    CListCtrlPlus* report = list->ReportView();
    wxClientDC dc(report);
    dc.SetFont(report->GetFont());
    const int designed[] = {180, 100, 90, 140, 140, 140};
    for (int c = 0; c < report->GetColumnCount(); ++c) {
        wxListItem item;
        item.SetMask(wxLIST_MASK_TEXT);
        report->GetColumn(c, item);
        SCOPED_TRACE(ui::ToUtf8(item.GetText()));
        EXPECT_GE(report->GetColumnWidth(c), designed[c]);
        // The title with room for the sort arrow.
        EXPECT_GE(report->GetColumnWidth(c), dc.GetTextExtent(item.GetText()).x + 30);
    }
    EXPECT_GE(report->GetColumnWidth(FILECOL_MODIFIED), dc.GetTextExtent("2024-12-28 23:59:59").x + 10);
    Screenshot(host.frame(), "file_list_titles");
    // A thumbnail's label line holds the font and about eleven characters of a name.
    CThumbnailView* thumbs = list->ThumbnailView();
    wxClientDC tdc(thumbs);
    tdc.SetFont(thumbs->GetFont());
    const wxRect r = thumbs->ItemRect(0);
    EXPECT_GE(r.width - 22, tdc.GetTextExtent("square.png").x);
    EXPECT_GE(r.height, 4 + CThumbnailView::kCell + 12 + tdc.GetTextExtent("Ag").y);
}
