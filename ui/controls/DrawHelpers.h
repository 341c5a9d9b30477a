#pragma once
// Drawing helpers shared by the skinned windows: double-buffered painting, bitmap blits with a
// transparent colour, vertical gradients, the skin frame of every dialog, rounded window shapes,
// the drag strip of borderless windows, the help file, and the small scroll bar that reports to
// its parent.
#include "ui/controls/UiCommon.h"

#include <wx/scrolbar.h>

#include <memory>

struct OffscreenPaint {
    wxDC* target = nullptr;
    std::unique_ptr<wxMemoryDC> memory;
    wxBitmap bitmap;
};
// A memory DC with a width x height bitmap selected; the caller paints into rec.memory.
void BeginOffscreenPaint(wxDC& target, int width, int height, OffscreenPaint& rec);
// Copies the bitmap to the target at 0,0 and frees the memory DC.
void EndOffscreenPaint(OffscreenPaint& rec);

// The part `rect` of the bitmap; an invalid bitmap when the rectangle is empty or does not lie
// wholly inside the bitmap (the toolkit reads past the bitmap's pixels then). A bitmap with a
// mask is cut through an image: the toolkit's own cut copies each mask row at the new
// bitmap's row length, which reads past the mask's last row when the part ends at the mask's
// right edge and its width is not a multiple of four.
wxBitmap SubBitmapInside(const wxBitmap& bitmap, const wxRect& rect);

// Copies the whole bitmap to the DC at 0,0.
void DrawBitmap(const wxBitmap& bitmap, wxDC& dc);
// Draws the bitmap at x, y; pixels of `transparent` leave the destination unchanged.
void DrawTransparentBitmap(wxDC& dc, const wxBitmap& bitmap, int x, int y, const wxColour& transparent);
// Draws the top-left width x height of the bitmap at x, y; pixels of the colour found at
// (keyX, keyY) are painted in the DC's text background colour.
void DrawTransparentBitmapEx(wxDC& dc, const wxBitmap& bitmap, int x, int y, int width, int height, int keyX,
                             int keyY);
// A vertical linear gradient from `top` at the top edge to `bottom` at the bottom edge.
void DrawGradient(wxDC& dc, const wxRect& rect, const wxColour& top, const wxColour& bottom);
// The skin of a dialog of w x h with the title tab inset `tabInset` from either side.
void DrawSkinFrame(wxDC& dc, int w, int h, int tabInset);
// The product name in the title tab, in the light tab text colour, centred in `rect`.
void DrawSkinTitle(wxDC& dc, const wxRect& rect);

// Gives a top-level window the rounded shape of the skin (the client rectangle plus one pixel,
// corner ellipse 9 x 9). False when the platform refused the shape.
bool ApplySkinShape(wxNonOwnedWindow* window);

// Lets the user move a borderless window by pressing in its top 30 pixels (the caption band).
// Presses lower down are left to the window (the event is skipped).
void EnableDragStrip(wxTopLevelWindow* window);

// Opens the help file beside the program ("brulin.chm", or an HTML help book of the same name)
// at a topic; false when there is none.
bool ShowHelpTopic(int contextId);

// A vertical scroll bar that forwards every scroll event to its parent and remembers the last
// thumb position.
class CVscrollwnd : public wxScrollBar {
public:
    CVscrollwnd(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxDefaultSize);

private:
    void OnScroll(wxScrollEvent& event);
    int m_lastThumb = 0;
};
