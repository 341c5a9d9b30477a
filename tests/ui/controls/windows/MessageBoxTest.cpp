#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

using namespace uitest;

TEST(MessageBox, OkAloneIsCentredAndReturnsOne) {
    CMessageBoxDlg box;
    wxPoint okPos;
    bool headingShown = true;
    wxPoint messagePos;
    const int result = RunModal([&] { return box.ShowMessage(kMbSuccess, kMbOk, nullptr, "All files are recovered successfully."); },
                                [&] {
                                    okPos = box.OkButton()->GetPosition();
                                    headingShown = box.HeadingStatic()->IsShown();
                                    messagePos = box.MessageStatic()->GetPosition();
                                    EXPECT_FALSE(box.CancelButton()->IsShown());
                                    EXPECT_TRUE(box.IconStatic()->GetBitmap().IsOk());
                                    Screenshot(&box, "message_box_ok");
                                    Click(box.OkButton());
                                });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(okPos, wxPoint((445 - 95) / 2, 250 - 39 - 10));
    EXPECT_FALSE(headingShown);
    EXPECT_EQ(messagePos, wxPoint(108, 115));
    EXPECT_EQ(box.GetClientSize(), wxSize(445, 250));
}

TEST(MessageBox, YesAndNoStandEitherSideOfTheCentre) {
    for (bool pressYes : {true, false}) {
        CMessageBoxDlg box;
        box.kind = kMbQuestion;
        box.buttons = kMbYes | kMbNo;
        box.message = "Abort Building?";
        box.heading = "Question";
        const int result = RunModal([&] { return box.DoModal(); }, [&] {
            const wxPoint yes = box.YesButton()->GetPosition(), no = box.NoButton()->GetPosition();
            EXPECT_EQ(no.x - (yes.x + 95), 40);
            EXPECT_TRUE(box.HeadingStatic()->IsShown());
            if (pressYes)
                Screenshot(&box, "message_box_yes_no");
            Click(pressYes ? box.YesButton() : box.NoButton());
        });
        EXPECT_EQ(result, pressYes ? 1 : 2);
    }
}

TEST(MessageBox, EscapeAndCloseButtonReturnTwo) {
    CMessageBoxDlg box;
    int result = RunModal([&] { return box.ShowMessage(kMbWarning, kMbOk | kMbCancel, "", "Careful"); }, [&] {
        EXPECT_LT(box.OkButton()->GetPosition().x, 222);
        EXPECT_EQ(box.CancelButton()->GetPosition().x, 242);
        Screenshot(&box, "message_box_ok_cancel");
        MoveTo(&box, wxPoint(200, 200));
        box.Raise();
        Pump(30);
        box.OkButton()->SetFocus();
        Pump(50);
        Key(WXK_ESCAPE);
    });
    EXPECT_EQ(result, 2);
    CMessageBoxDlg box2;
    result = RunModal([&] { return box2.ShowMessage(7, kMbOk, nullptr, "No icon for this kind"); }, [&] {
        EXPECT_FALSE(box2.IconStatic()->GetBitmap().IsOk());
        Screenshot(&box2, "message_box_no_icon");
        Click(box2.CloseButton());
    });
    EXPECT_EQ(result, 2);
}

TEST(MessageBox, CaptionBandDragsTheBox) {
    CMessageBoxDlg box;
    wxPoint before, afterBand, afterBody;
    RunModal([&] { return box.ShowMessage(kMbInformation, kMbOk, nullptr, "Drag me"); }, [&] {
        before = box.GetPosition();
        PressAt(&box, wxPoint(60, 15));
        MoveTo(&box, wxPoint(90, 35));
        ReleaseAt(&box, wxPoint(90, 35));
        afterBand = box.GetPosition();
        PressAt(&box, wxPoint(60, 80));
        MoveTo(&box, wxPoint(100, 120));
        ReleaseAt(&box, wxPoint(100, 120));
        afterBody = box.GetPosition();
        Click(box.OkButton());
    });
    EXPECT_NE(afterBand, before);
    EXPECT_EQ(afterBody, afterBand);
}

// A long message (the same-drive caution) makes the box grow: every line of it is shown whole
// above the buttons, and the box stays on the screen.
TEST(MessageBox, GrowsToItsText) {
    CMessageBoxDlg box;
    box.kind = kMbWarning;
    box.buttons = kMbYes | kMbNo;
    box.message = uistr::UiString(uistr::kSameDriveCaution);
    const int result = RunModal([&] { return box.DoModal(); }, [&] {
        wxStaticText* message = box.MessageStatic();
        wxClientDC dc(message);
        dc.SetFont(message->GetFont());
        const wxString shown = message->GetLabel();
        const wxSize text = dc.GetMultiLineTextExtent(shown);
        EXPECT_LE(text.x, message->GetSize().x);
        EXPECT_LE(text.y, message->GetSize().y);
        EXPECT_LE(message->GetRect().GetBottom(), box.YesButton()->GetPosition().y);
        wxString flat = shown;
        flat.Replace("\n", " ");
        EXPECT_NE(flat.Find("reduce the chance of"), wxNOT_FOUND);
        EXPECT_NE(flat.Find("Are you sure to save found files to the same drive?"), wxNOT_FOUND);
        EXPECT_GT(box.GetClientSize().y, 250);
        const wxRect screen(wxPoint(0, 0), wxGetDisplaySize());
        EXPECT_TRUE(screen.Contains(box.GetScreenRect()));
        EXPECT_TRUE(box.YesButton()->IsShown());
        EXPECT_EQ(box.NoButton()->GetPosition().x - box.YesButton()->GetRect().GetRight() - 1, 40);
        Screenshot(&box, "message_box_same_drive_caution");
        Click(box.NoButton());
    });
    EXPECT_EQ(result, 2);
}
