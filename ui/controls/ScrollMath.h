#pragma once
// Scroll bar arithmetic of the scroll window base: positions for the scroll codes, the wheel,
// and when a bar is shown. No window code.

enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbTrack, ThumbPosition, Top, Bottom };

struct ScrollBarState {
    int min = 0;
    int max = 0;
    int page = 10;
    int pos = 0;

    // The new position for a scroll code (`track` for ThumbTrack).
    int Apply(ScrollCode code, int track = 0) const;
    // The wheel (120 per notch): only when the page is smaller than max; -1 when nothing moves.
    int Wheel(int delta) const;
};

// A bar is hidden when the content extent is -1 (none) or above 0 and below the client extent.
bool ScrollBarShown(int contentExtent, int clientExtent);
