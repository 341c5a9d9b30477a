#include "ui/controls/BuildProgressState.h"
#include "ui/controls/GridModel.h"
#include "ui/controls/PieGeometry.h"
#include "ui/controls/ScrollMath.h"
#include "ui/controls/SplitterLayout.h"
#include "ui/controls/TabStripModel.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

struct RecordingNotify : ICheckBoxNotify {
    std::vector<std::tuple<int, int, int, int>> calls;
    void OnCheckBoxChanged(int checked, int row, int cell, int item) override {
        calls.emplace_back(checked, row, cell, item);
    }
};

int TextWidth(const std::string& s) { return static_cast<int>(s.size()) * 7; }

GridCellDesc BoxesCell(int boxes, ICheckBoxNotify* n, const char* text = "") {
    GridCellDesc d;
    d.itemCount = static_cast<std::uint32_t>(boxes);
    for (int i = 0; i < boxes; ++i) {
        d.items[i].hasCheckBox = true;
        d.items[i].listener = n;
        d.items[i].text = text;
    }
    return d;
}

} // namespace

TEST(GridModel, CellsRowsAndCheckStates) {
    CExtendGridModel g;
    g.InsertColumn("Name", 200, kGridLeft);
    g.InsertColumn("Size", 80, kGridRight);
    RecordingNotify n;
    EXPECT_EQ(g.SetCell(0, BoxesCell(1, &n)), 0);      // no such row
    EXPECT_EQ(g.AddRow(), 0);
    EXPECT_EQ(g.AddRow(), 1);
    EXPECT_EQ(g.Row(1)->top, 40);                      // header 20 + one row
    EXPECT_EQ(g.IsFirstBoxChecked(0), 0);               // no cells yet
    EXPECT_EQ(g.SetCell(0, BoxesCell(2, &n, "ab")), 1);
    EXPECT_EQ(g.SetCell(0, BoxesCell(1, &n)), 1);
    EXPECT_EQ(g.SetCell(0, BoxesCell(1, &n)), 0);      // more cells than columns
    EXPECT_EQ(g.Row(0)->cells[1].alignment, kGridRight);
    g.LayoutAll(TextWidth);

    // The second box of the first cell: x = 0 + 2 + 18 (first box) + 14 (text) + 2 + 4.
    const auto& items = g.Row(0)->cells[0].desc.items;
    EXPECT_EQ(items[0].checkRect, (uigeo::Rect{2, 23, 16, 37}));
    const uigeo::Rect second = items[1].checkRect;
    EXPECT_EQ(second.left, 18 + 14 + 2 + 4 + 2);
    EXPECT_EQ(g.Click({second.left + 3, second.top + 3}), 0);
    ASSERT_EQ(n.calls.size(), 1u);
    EXPECT_EQ(n.calls[0], std::make_tuple(1, 0, 0, 1));
    EXPECT_EQ(g.GetSelectedRow(), 0);
    EXPECT_EQ(g.IsFirstBoxChecked(0), 0);
    g.Click({5, 25});
    EXPECT_EQ(g.IsFirstBoxChecked(0), 1);
    EXPECT_EQ(n.calls.back(), std::make_tuple(1, 0, 0, 0));
    g.Click({5, 25});
    EXPECT_EQ(n.calls.back(), std::make_tuple(0, 0, 0, 0));
    // A row is as wide as its cells: a row without cells cannot be hit. A click beside the
    // boxes selects without toggling; below every row hits nothing.
    EXPECT_EQ(g.Click({150, 45}), -1);
    EXPECT_EQ(g.GetSelectedRow(), 0);
    g.SetCell(1, BoxesCell(0, &n, "plain"));
    EXPECT_EQ(g.Click({150, 45}), 1);
    EXPECT_EQ(g.GetSelectedRow(), 1);
    EXPECT_EQ(n.calls.size(), 3u);
    EXPECT_EQ(g.Click({5, 500}), -1);
}

TEST(GridModel, NarrowColumnsClipBoxesAndResizeMovesThem) {
    CExtendGridModel g;
    g.InsertColumn("A", 30, kGridLeft);
    RecordingNotify n;
    g.AddRow();
    GridCellDesc d = BoxesCell(2, &n, "long text");
    g.SetCell(0, d);
    g.LayoutAll(TextWidth);
    const auto& items = g.Row(0)->cells[0].desc.items;
    // The first box is drawn whole within the cell; the text stops the layout, so the second
    // box (which did not fit) has no rectangle and cannot be toggled.
    EXPECT_EQ(items[0].checkRect, (uigeo::Rect{2, 23, 16, 37}));
    EXPECT_TRUE(items[1].checkRect.IsEmpty());
    g.ResizeColumn(0, 12);
    g.LayoutAll(TextWidth);
    EXPECT_EQ(items[0].checkRect.right, 12);            // clipped at the cell's edge
    g.ResizeColumn(0, 300);
    g.LayoutAll(TextWidth);
    EXPECT_FALSE(items[1].checkRect.IsEmpty());
    const uigeo::Rect r = items[1].checkRect;
    g.Click({r.left + 1, r.top + 1});
    ASSERT_EQ(n.calls.size(), 1u);
    EXPECT_EQ(std::get<3>(n.calls[0]), 1);
    EXPECT_EQ(g.ColumnWidth(0), 300);
}

TEST(GridModel, ScrollingKeysAndWheel) {
    CExtendGridModel g;
    g.InsertColumn("A", 100, kGridLeft);
    for (int i = 0; i < 3; ++i)
        g.AddRow();
    g.SetClientSize(200, 200);
    g.UpdateScrollBars();
    EXPECT_EQ(g.vert.page, 0);                          // everything fits
    EXPECT_FALSE(g.Wheel(-120));
    EXPECT_FALSE(g.SelectNext());                       // nothing selected
    g.Select(2);
    EXPECT_FALSE(g.SelectNext());                       // down on the last row
    EXPECT_EQ(g.GetSelectedRow(), 2);
    EXPECT_TRUE(g.SelectPrevious());
    EXPECT_EQ(g.GetSelectedRow(), 1);

    for (int i = 0; i < 27; ++i)
        g.AddRow();                                     // 30 rows: 620 pixels of content
    g.UpdateScrollBars();
    EXPECT_EQ(g.vert.page, 200);
    EXPECT_EQ(g.vert.rangeMax, 619);
    EXPECT_TRUE(g.Wheel(-120));
    EXPECT_EQ(g.vert.pos, 10);
    EXPECT_TRUE(g.vert.PageDown());
    EXPECT_EQ(g.vert.pos, 210);
    EXPECT_TRUE(g.vert.MoveTo(5000));
    EXPECT_EQ(g.vert.pos, 420);                         // content - page
    // Selecting a row above the view scrolls it back below the header.
    g.Select(3);
    EXPECT_EQ(g.vert.pos, g.Row(3)->top - 20);
    g.Select(29);
    EXPECT_EQ(g.vert.pos, g.Row(29)->Bottom() - 200);
    g.DeleteAllRows();
    EXPECT_EQ(g.RowCount(), 0);
    EXPECT_EQ(g.GetSelectedRow(), -1);
}

TEST(TabStripModel, AddSelectCloseAndRefuse) {
    CTabStripModel t;
    t.SetPageCount(2);
    t.SetClientWidth(300);
    EXPECT_FALSE(t.AddTab("x", 10, 2));                // unknown page
    ASSERT_TRUE(t.AddTab("Files", 30, 0));
    EXPECT_EQ(t.Tab(0).rect, (uigeo::Rect{0, 0, 70, 21}));
    EXPECT_EQ(t.Tab(0).closable, 0);
    ASSERT_TRUE(t.AddTab("Search", 40, 1));
    EXPECT_EQ(t.Tab(1).rect, (uigeo::Rect{69, 0, 159, 21}));   // overlaps by one pixel
    EXPECT_EQ(t.Tab(1).closeBox, (uigeo::Rect{139, 6, 147, 15}));
    EXPECT_FALSE(t.AddTab("Too wide", 200, 1));        // 158 + 250 > 300
    EXPECT_EQ(t.TabCount(), 2);
    t.SetCurSel(0);

    // Clicking the selected tab changes nothing.
    auto d = t.LeftDown({10, 10});
    EXPECT_FALSE(d.selectionChanged);
    d = t.LeftDown({80, 10});
    EXPECT_TRUE(d.selectionChanged);
    EXPECT_EQ(t.GetCurSel(), 1);
    EXPECT_EQ(t.GetCurPage(), 1);

    // Press a close box, release outside: nothing deleted, box un-pressed.
    d = t.LeftDown({142, 10});
    EXPECT_EQ(d.pressedClose, 1);
    EXPECT_EQ(t.Tab(1).closePressed, 1);
    EXPECT_EQ(t.LeftUp({10, 100}), -1);
    EXPECT_EQ(t.Tab(1).closePressed, 0);
    EXPECT_EQ(t.TabCount(), 2);
    EXPECT_EQ(t.LeftUp({142, 10}), -1);                // no capture, no release handling

    t.LeftDown({142, 10});
    EXPECT_EQ(t.LeftUp({143, 11}), 1);
    EXPECT_EQ(t.TabCount(), 1);
    EXPECT_EQ(t.GetCurSel(), 0);
    // The first tab never has a close box.
    EXPECT_EQ(t.LeftDown({55, 10}).pressedClose, -1);
}

TEST(PieGeometry, SweepsAndEdges) {
    PieGeometry none = ComputePie(0, 0, 0, 200, 140, PieGeometry{});
    EXPECT_FALSE(none.hasPie);
    EXPECT_EQ(none.rx, 70);
    EXPECT_EQ(none.ry, 24);

    PieGeometry whole = ComputePie(500, 0, 0, 200, 140, PieGeometry{});
    EXPECT_EQ(whole.slices[0].sweep, 360);
    EXPECT_EQ(whole.slices[1].sweep, 0);
    EXPECT_EQ(whole.slices[2].sweep, 0);

    // Leftovers go to the used-space slice: 1/3 each rounds to 120.
    PieGeometry thirds = ComputePie(1, 1, 1, 200, 140, PieGeometry{});
    EXPECT_EQ(thirds.slices[0].sweep + thirds.slices[1].sweep + thirds.slices[2].sweep, 360);
    // Two halves that both round up would leave -1 for an empty used slice: it stays at 0.
    PieGeometry halves = ComputePie(3601, 3599, 0, 200, 140, PieGeometry{});
    EXPECT_EQ(halves.slices[2].sweep, 0);
    EXPECT_EQ(halves.slices[0].sweep + halves.slices[1].sweep, 360);

    // Huge amounts do not overflow the total.
    PieGeometry big = ComputePie(~0ULL, ~0ULL, ~0ULL, 200, 140, PieGeometry{});
    EXPECT_EQ(big.slices[0].sweep, 120);

    // A quarter of free space ends straight below the centre, one pixel off the axis.
    PieGeometry q = ComputePie(1, 0, 3, 200, 140, PieGeometry{});
    EXPECT_EQ(q.slices[0].sweep, 90);
    EXPECT_EQ(q.slices[0].start, (uigeo::Point{70, 0}));
    EXPECT_EQ(q.slices[0].end, (uigeo::Point{1, 24}));
    EXPECT_EQ(q.slices[1].start, q.slices[0].end);
    EXPECT_EQ(q.slices[2].end, (uigeo::Point{70, 0}));
    // Slice 0 (both x positive, ending below): left = end x, top = start y, bottom = end y + 12.
    EXPECT_EQ(q.slices[0].side, (uigeo::Rect{1, 0, 70, 36}));
}

TEST(SplitterLayout, FixedPaneRules) {
    SplitterLayout rows;
    rows.orientation = 1;
    rows.fixedPane = 1;
    rows.fixedSize = 120;
    rows.minSize = 50;
    rows.maxSize = 300;
    // 400 pixels, a 4-pixel bar: the first pane gets 396 - 120.
    EXPECT_EQ(rows.Initial(400, 396), 276);
    EXPECT_EQ(rows.overhead, 4);
    EXPECT_EQ(rows.Resized(600, 276), 476);            // the bottom pane stays at 120
    EXPECT_EQ(rows.Dragged(600, 580), 600 - 4 - 50);   // bottom pane below the minimum
    EXPECT_EQ(rows.Dragged(600, 100), 600 - 4 - 300);  // above the maximum
    EXPECT_EQ(rows.Dragged(300, 10), 20);              // first pane kept at 20 at least
    EXPECT_EQ(rows.Resized(800, 20), 800 - 4 - rows.fixedSize);

    SplitterLayout cols;
    cols.orientation = 2;
    cols.fixedPane = 0;
    cols.fixedSize = 150;
    cols.minSize = 100;
    cols.maxSize = 250;
    EXPECT_EQ(cols.Initial(500, 496), 150);
    EXPECT_EQ(cols.Resized(900, 150), 150);
    EXPECT_EQ(cols.Dragged(900, 40), 100);
    EXPECT_EQ(cols.Dragged(900, 400), 250);
    EXPECT_EQ(cols.Dragged(900, 200), 200);

    SplitterLayout plain;
    EXPECT_EQ(plain.Dragged(500, 7), 7);
}

TEST(ScrollMath, CodesWheelAndVisibility) {
    ScrollBarState s{0, 1000, 300, 100};
    EXPECT_EQ(s.Apply(ScrollCode::PageDown), 400);
    EXPECT_EQ(s.Apply(ScrollCode::PageUp), 0);
    EXPECT_EQ(s.Apply(ScrollCode::LineDown), 101);
    EXPECT_EQ(s.Apply(ScrollCode::Bottom), 1000);
    EXPECT_EQ(s.Apply(ScrollCode::ThumbTrack, 5000), 1000);
    EXPECT_EQ(s.Apply(ScrollCode::ThumbPosition), 100);
    EXPECT_EQ(s.Wheel(-120), 220);
    EXPECT_EQ((ScrollBarState{0, 1000, 300, 650}.Wheel(-120)), 700);   // limited to max - page
    EXPECT_EQ((ScrollBarState{0, 100, 300, 0}.Wheel(-120)), -1);      // content fits
    EXPECT_FALSE(ScrollBarShown(-1, 100));
    EXPECT_FALSE(ScrollBarShown(50, 100));
    EXPECT_TRUE(ScrollBarShown(150, 100));
    EXPECT_TRUE(ScrollBarShown(0, 100));
}

TEST(BuildProgressState, StagesCountersAndReset) {
    CBuildProgressState s;
    s.BeginStage("Reading", 100, 1000);
    EXPECT_EQ(s.StageText(), "Reading");
    EXPECT_EQ(s.RangeMax(), 100);
    s.StepBy(5);
    s.SetPos(40);
    EXPECT_EQ(s.Steps(), 6);
    EXPECT_EQ(s.Position(), 40);
    s.Reset();
    EXPECT_EQ(s.Position(), 100);                      // the bar shows full
    EXPECT_EQ(s.Steps(), 0);
    EXPECT_EQ(s.StageTotal(), 0);
    EXPECT_EQ(s.ElapsedText(1000 + 3725000), "01:02:05");
    // A total of 0 gives an empty range; steps still count.
    const auto serial = s.StageSerial();
    s.BeginStage("Empty", 0, 0);
    EXPECT_EQ(s.StageSerial(), serial + 1);
    s.StepBy(3);
    s.SetPos(9);
    EXPECT_EQ(s.Steps(), 4);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_FALSE(s.Cancelled());
    s.SetCancelled();
    EXPECT_TRUE(s.Cancelled());
}
