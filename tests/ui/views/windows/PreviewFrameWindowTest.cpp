// The preview window's own frame: the minimise, maximise and close caption buttons, the window
// icon with its menu, and resizing by dragging any edge or corner of the rim.
#include <gtest/gtest.h>

#include "tests/support/FixtureKit.h"
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/FrameRim.h"
#include "ui/views/wx/FilePreviewDlg.h"

#include <wx/uiaction.h>

#include <fstream>
#include <functional>

using namespace uitest;

namespace {

// The preview, counting its minimise requests (no window manager here would iconify it).
class CountingPreview : public CFilePreviewDlg {
public:
    using CFilePreviewDlg::CFilePreviewDlg;
    int minimised = 0;

protected:
    void MinimiseWindow() override { ++minimised; }
};



std::string TextFile() {
    const std::string path = testsupport::ScratchDir("preview-frame") + "/notes.txt";
    std::ofstream out(path);
    for (int i = 0; i < 50; ++i)
        out << "Line " << i << " of the notes\n";
    return path;
}

} // namespace

TEST(PreviewFrame, CaptionButtonsIconMenuAndEveryEdge) {
    auto* dlg = new CountingPreview(nullptr, TextFile(), "notes.txt");
    dlg->Move(150, 150);
    dlg->Show();
    Pump(300);
    // Minimise, maximise and close stand 22 pixels apart at the right of the caption.
    ASSERT_NE(dlg->MinimiseButton(), nullptr);
    const int w = dlg->GetClientSize().x;
    EXPECT_EQ(dlg->MinimiseButton()->GetPosition(), wxPoint(w - 69, 7));
    EXPECT_EQ(dlg->MaximiseButton()->GetPosition(), wxPoint(w - 47, 7));
    EXPECT_EQ(dlg->CloseButton()->GetPosition(), wxPoint(w - 25, 7));
    EXPECT_EQ(dlg->MinimiseButton()->GetId(), 1030);
    Screenshot(dlg, "preview_caption");
    Click(dlg->MinimiseButton());
    EXPECT_TRUE(PumpUntil([&] { return dlg->minimised == 1; }));

    // Every edge and corner resizes; the edges not dragged stay.
    struct Case {
        const char* edge;
        std::function<wxPoint(wxSize)> at;
        wxPoint by;
        int dx, dy, dw, dh;
    };
    const Case cases[] = {
        {"right", [](wxSize s) { return wxPoint(s.x - 2, s.y / 2); }, {30, 0}, 0, 0, 30, 0},
        {"bottom", [](wxSize s) { return wxPoint(s.x / 2, s.y - 2); }, {0, 30}, 0, 0, 0, 30},
        {"left", [](wxSize s) { return wxPoint(1, s.y / 2); }, {-30, 0}, -30, 0, 30, 0},
        {"top", [](wxSize s) { return wxPoint(s.x / 2, 1); }, {0, -30}, 0, -30, 0, 30},
        {"top left", [](wxSize) { return wxPoint(2, 2); }, {20, 20}, 20, 20, -20, -20},
        {"top right", [](wxSize s) { return wxPoint(s.x - 3, 2); }, {-20, 20}, 0, 20, -20, -20},
        {"bottom left", [](wxSize s) { return wxPoint(2, s.y - 3); }, {20, -20}, 20, 0, -20, -20},
        {"bottom right", [](wxSize s) { return wxPoint(s.x - 3, s.y - 3); }, {-20, -20}, 0, 0, -20, -20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.edge);
        const wxRect before = dlg->GetRect();
        Drag(dlg, c.at(before.GetSize()), c.by);
        EXPECT_EQ(dlg->GetRect(), wxRect(before.x + c.dx, before.y + c.dy, before.width + c.dw, before.height + c.dh));
    }
    // Not below 353 x 200, whichever corner is dragged.
    const wxRect before = dlg->GetRect();
    Drag(dlg, wxPoint(2, 2), wxPoint(700, 700));
    EXPECT_EQ(dlg->GetClientSize(), wxSize(353, 200));
    EXPECT_EQ(dlg->GetRect().GetBottomRight(), before.GetBottomRight());
    Pump(100);
    Screenshot(dlg, "preview_smallest");
    // Back to the screen's left: grown from where the smallest drag left it, the window would
    // reach past the screen's right edge.
    dlg->ResizeTo(wxSize(720, 520));
    dlg->Move(150, 150);
    Pump(100);

    // The icon opens the window menu: Restore greyed, then Maximize, Restore, Minimize, Close.
    const wxPoint icon = dlg->IconRect().GetPosition() + wxPoint(8, 8);
    ClickAt(dlg, icon);
    ASSERT_TRUE(PumpUntil([] { return CXPMenu::Shown() && CXPMenu::Shown()->IsShownOnScreen(); }, 2000));
    Pump(100);
    Screenshot(dlg, "preview_icon_menu");
    ChooseFlatMenuItem(0);
    EXPECT_FALSE(dlg->IsMaximisedView());
    ChooseFlatMenuItem(2);
    EXPECT_TRUE(PumpUntil([&] { return dlg->IsMaximisedView(); }));
    EXPECT_TRUE(dlg->MaximiseButton()->ShowsRestore());
    // Maximised, the rim does not resize.
    const wxRect zoomed = dlg->GetRect();
    Drag(dlg, wxPoint(zoomed.width - 2, zoomed.height / 2), wxPoint(-40, 0));
    EXPECT_EQ(dlg->GetRect(), zoomed);
    ClickAt(dlg, icon);
    ChooseFlatMenuItem(0);
    EXPECT_TRUE(PumpUntil([&] { return !dlg->IsMaximisedView(); }));
    ClickAt(dlg, icon);
    ChooseFlatMenuItem(1);
    EXPECT_TRUE(PumpUntil([&] { return dlg->minimised == 2; }));
    ClickAt(dlg, icon);
    ChooseFlatMenuItem(3);
    EXPECT_TRUE(PumpUntil([&] { return !dlg->IsShown(); }));
    EXPECT_EQ(dlg->GetReturnCode(), 2);
    dlg->Destroy();
    Pump(50);
}
