#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/Bitmaps.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/Resources.h"

#include <gtest/gtest.h>

namespace {
wxColour At(const wxBitmap& b, int x, int y) {
    const wxImage img = b.ConvertToImage();
    return wxColour(img.GetRed(x, y), img.GetGreen(x, y), img.GetBlue(x, y));
}

wxBitmap Checker() {
    // Left half red, right half the key colour (green).
    wxBitmap b(20, 10);
    wxMemoryDC dc(b);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(255, 0, 0)));
    dc.DrawRectangle(0, 0, 10, 10);
    dc.SetBrush(wxBrush(wxColour(0, 255, 0)));
    dc.DrawRectangle(10, 0, 10, 10);
    return b;
}
} // namespace

TEST(DrawHelpers, BlitsGradientsAndTheSkinFrame) {
    wxBitmap target(60, 40);
    {
        wxMemoryDC dc(target);
        dc.SetBackground(wxBrush(wxColour(0, 0, 255)));
        dc.Clear();
        DrawTransparentBitmap(dc, Checker(), 5, 5, wxColour(0, 255, 0));
    }
    EXPECT_EQ(At(target, 7, 7), wxColour(255, 0, 0));
    EXPECT_EQ(At(target, 20, 7), wxColour(0, 0, 255));   // the key colour left the destination alone

    {
        wxMemoryDC dc(target);
        dc.SetTextBackground(wxColour(10, 20, 30));
        DrawTransparentBitmapEx(dc, Checker(), 30, 20, 20, 10, 15, 5);
    }
    EXPECT_EQ(At(target, 32, 22), wxColour(255, 0, 0));
    EXPECT_EQ(At(target, 45, 25), wxColour(10, 20, 30));

    wxBitmap grad(10, 100);
    {
        wxMemoryDC dc(grad);
        DrawGradient(dc, wxRect(0, 0, 10, 100), wxColour(0, 0, 0), wxColour(200, 200, 200));
    }
    EXPECT_LT(At(grad, 5, 1).Red(), 10);
    EXPECT_GT(At(grad, 5, 98).Red(), 190);

    wxBitmap skin(445, 250);
    {
        wxMemoryDC dc(skin);
        OffscreenPaint rec;
        BeginOffscreenPaint(dc, 445, 250, rec);
        DrawSkinFrame(*rec.memory, 445, 250, 131);
        EndOffscreenPaint(rec);
    }
    EXPECT_EQ(At(skin, 0, 0), wxColour(59, 64, 74));          // rim
    EXPECT_EQ(At(skin, 200, 100), wxColour(241, 241, 241));   // inner panel
    EXPECT_EQ(At(skin, 50, 30), wxColour(176, 180, 183));     // line under the caption band
    EXPECT_EQ(At(skin, 131, 5), wxColour(100, 103, 112));     // tab side
    EXPECT_EQ(At(skin, 200, 0), wxColour(128, 132, 140));     // tab top line
    EXPECT_EQ(At(skin, 200, 22), wxColour(233, 234, 236));    // tab bottom line

    // Every bitmap the kit names exists at its size; an unknown id has none.
    const struct {
        int id, w, h;
    } bitmaps[] = {{uires::kBmpCaptionNormal, 95, 39}, {uires::kBmpCloseNormal, 22, 22},
                   {uires::kBmpIconQuestion, 48, 48},  {uires::kBmpCancelDisabled, 95, 39},
                   {uires::kBmpSmallOkPressed, 75, 30}, {uires::kBmpLogo, 64, 64}};
    for (const auto& b : bitmaps) {
        const wxBitmap bmp = LoadBitmapResource(b.id);
        ASSERT_TRUE(bmp.IsOk()) << b.id;
        EXPECT_EQ(bmp.GetSize(), wxSize(b.w, b.h)) << b.id;
    }
    EXPECT_FALSE(LoadBitmapResource(12345).IsOk());
    EXPECT_FALSE(ShowHelpTopic(20));   // no help file beside the test program
}

#include "ui/controls/UiRuntime.h"

TEST(UiRuntime, ToolkitAssertionsAreReportedNotShown) {
    std::string seen;
    InstallUiAssertHandler([&](const std::string& text) { seen = text; });
    wxFAIL_MSG("deliberate check of the handler");
    InstallUiAssertHandler([](const std::string& text) { ADD_FAILURE() << text; });
    EXPECT_NE(seen.find("deliberate check of the handler"), std::string::npos);
    EXPECT_EQ(uitest::ActiveModal(), nullptr);
}

#include "platform/WorkerWait.h"

#include <atomic>
#include <thread>

TEST(UiRuntime, WaitingForAWorkerKeepsTheEventLoopRunning) {
    std::atomic<bool> done{false};
    int ticks = 0;
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ++ticks; });
    timer.Start(20);
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        done.store(true, std::memory_order_release);
    });
    platform::WaitForWorker(done, 0);
    worker.join();
    timer.Stop();
    EXPECT_GE(ticks, 3);
}

#include "platform/WorkerRun.h"

// The work ends only after the event loop has handled a few timer events, which it can only do
// while the caller waits in RunWorker; the wait then ends with the work.
TEST(UiRuntime, RunningAWorkerKeepsTheEventLoopRunningUntilTheWorkEnds) {
    std::atomic<int> ticks{0};
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { ++ticks; });
    timer.Start(5);
    std::atomic<bool> done{false};
    int ticksWhenDone = -1;
    const bool ran = platform::RunWorker(done, [&] {
        while (ticks.load() < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ticksWhenDone = ticks.load();
    });
    timer.Stop();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(done.load());
    EXPECT_GE(ticksWhenDone, 3);
}

// A part of a bitmap only when it lies wholly inside; the last of four 22-pixel frames of a strip
// with a transparent colour (a mask 88 pixels wide) is cut whole, its mask with it.
TEST(DrawHelpers, SubBitmapInsideTheBitmapOnly) {
    wxBitmap strip(88, 22);
    {
        wxMemoryDC dc(strip);
        dc.SetBackground(wxBrush(wxColour(0, 0, 0)));
        dc.Clear();
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(wxColour(200, 40, 40)));
        dc.DrawRectangle(66 + 4, 4, 14, 14);
    }
    strip.SetMask(new wxMask(strip, wxColour(0, 0, 0)));
    ASSERT_NE(strip.GetMask(), nullptr);

    const wxBitmap last = SubBitmapInside(strip, wxRect(66, 0, 22, 22));
    ASSERT_TRUE(last.IsOk());
    EXPECT_EQ(last.GetSize(), wxSize(22, 22));
    EXPECT_EQ(At(last, 11, 11), wxColour(200, 40, 40));
    ASSERT_NE(last.GetMask(), nullptr);
    const wxImage cut = last.ConvertToImage();
    EXPECT_TRUE(cut.IsTransparent(1, 1));
    EXPECT_FALSE(cut.IsTransparent(11, 11));
    EXPECT_TRUE(SubBitmapInside(strip, wxRect(0, 0, 88, 22)).IsOk());

    const struct {
        const char* what;
        wxRect rect;
    } outside[] = {
        {"left of it", wxRect(-1, 0, 22, 22)},  {"above it", wxRect(0, -7, 22, 22)},
        {"past the right", wxRect(67, 0, 22, 22)}, {"past the bottom", wxRect(0, 1, 22, 22)},
        {"empty", wxRect(10, 10, 0, 5)},        {"far away", wxRect(2147483000, 0, 22, 22)},
    };
    for (const auto& c : outside) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(SubBitmapInside(strip, c.rect).IsOk());
    }
    EXPECT_FALSE(SubBitmapInside(wxBitmap(), wxRect(0, 0, 1, 1)).IsOk());
}
