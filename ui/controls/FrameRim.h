#pragma once
// What the program's borderless windows (the main frame, the resizable view dialogs) share in
// place of a window manager's frame: resizing by dragging any edge or corner of the rim, and the
// window icon's menu (Restore, Minimize, Maximize, Close).
#include "ui/controls/ScrollWnd.h"

#include <wx/toplevel.h>

#include <functional>

enum RimEdge : int { kRimLeft = 1, kRimTop = 2, kRimRight = 4, kRimBottom = 8 };

// The edges of a window of `size` under the point `p` (window coordinates): those within `rim`
// pixels, and near a corner (within `corner` pixels of it along the edge) both edges of it.
int RimEdgesAt(const wxSize& size, const wxPoint& p, int rim, int corner);
// The window rectangle after the edges were dragged by `delta` from `start`; never smaller than
// `minimum`, and the edges not dragged stay where they were.
wxRect RimDragRect(const wxRect& start, int edges, const wxPoint& delta, const wxSize& minimum);
// The pointer shape over those edges (wxCURSOR_NONE for none).
wxStockCursor RimCursor(int edges);

// Resizes a borderless top-level window by its rim. The window passes its own mouse events in
// (window coordinates); each call says whether the rim took the event.
class CRimResizer {
public:
    CRimResizer(wxTopLevelWindow* window, int rim, const wxSize& minimum);
    // Off while the window is maximised.
    void Enable(bool enabled);
    // A press on the rim starts a drag (and captures the mouse).
    bool OnDown(const wxMouseEvent& e);
    // While dragging: the window follows. Otherwise the pointer shows the edges under it.
    bool OnMotion(const wxMouseEvent& e);
    bool OnUp(const wxMouseEvent& e);
    void OnCaptureLost() { m_edges = 0; }
    bool Dragging() const { return m_edges != 0; }

private:
    wxTopLevelWindow* m_window;
    int m_rim;
    wxSize m_minimum;
    bool m_enabled = true;
    int m_edges = 0;
    wxPoint m_start;
    wxRect m_startRect;
    int m_shownCursor = 0;
};

// The commands of the window icon's menu (the numbers of the system's own window menu).
enum SystemMenuCommand : int {
    kSysMinimize = 0xF020,
    kSysMaximize = 0xF030,
    kSysClose = 0xF060,
    kSysRestore = 0xF120,
};
// The icon's menu: Restore (only when maximised), Minimize, Maximize (only when not), Close.
CXPMenu MakeSystemMenu(bool maximised);
// What the window does for a command of that menu; false for other commands.
struct SystemMenuActions {
    std::function<void()> toggleMaximise, minimise, close;
};
bool RunSystemCommand(int id, bool maximised, const SystemMenuActions& actions);
// The program's icon in the small size drawn at the left of a caption.
wxBitmap CaptionIcon();
