#pragma once
// Sizes of the two panes of the splitter with a fixed pane: where the bar goes at the first
// layout, on a resize and after a drag. All sizes are along the split direction. No window code.

struct SplitterLayout {
    int orientation = 0;   // 0 none (plain splitter), 1 rows, 2 columns
    int fixedPane = 0;     // 0 first (top/left) pane, 1 second
    int fixedSize = 0;
    int minSize = 0;
    int maxSize = 0;
    int overhead = 0;      // extent minus the two panes (the bar), measured at the first layout

    // First layout: the first pane's size for a window of `extent` whose panes add up to
    // `paneSum` (extent - paneSum is the overhead).
    int Initial(int extent, int paneSum);
    // The window was resized to `extent`; `firstPane` is the first pane's size now. Returns the
    // first pane's new size (the fixed pane keeps its size).
    int Resized(int extent, int firstPane) const;
    // The user dropped the bar leaving the first pane `firstPane` pixels; returns the size the
    // first pane gets (the fixed pane limited to min..max). The kept size becomes the fixed size.
    int Dragged(int extent, int firstPane);
};
