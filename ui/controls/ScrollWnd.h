#pragma once
// A child window with a content size and two scroll bars that tells its subclass the new offset
// whenever the user scrolls, and the flat popup menu drawn by the program.
#include "ui/controls/ScrollMath.h"
#include "ui/controls/UiCommon.h"

#include <wx/popupwin.h>
#include <wx/weakref.h>

#include <string>
#include <vector>

class CScrollWnd : public wxWindow {
public:
    CScrollWnd() = default;
    virtual bool Create(const wxRect& rect, wxWindow* parent);
    void SetContentSize(int width, int height);
    void SetHorzRange(int max);
    void SetVertRange(int max);
    void SetHorzPage(int page);
    void SetVertPage(int page);
    virtual void ShowScrollBars();
    // One wheel step (120 per notch) on the vertical bar.
    void ScrollByWheel(int delta);

    bool HorzShown() const { return m_horzShown; }
    bool VertShown() const { return m_vertShown; }
    // Applies a scroll code as the bar would (also used by tests).
    void Scroll(int orientation, ScrollCode code, int track = 0);

protected:
    virtual void OnVertOffset(int) {}
    virtual void OnHorzOffset(int) {}

private:
    void Apply(int orientation);
    void OnScroll(wxScrollWinEvent&);
    void OnSize(wxSizeEvent&);
    void OnWheel(wxMouseEvent&);

    wxWindow* m_parent = nullptr;
    int m_contentW = -1, m_contentH = -1;
    ScrollBarState m_horz, m_vert;
    bool m_horzShown = false, m_vertShown = false;
};

// A flat popup menu: items of 160 x 25 on RGB(241,241,241), the item under the pointer outlined
// in black and filled grey; disabled items are grey and cannot be chosen. Choosing an item sends
// wxEVT_MENU with its id to the owner (queued). The popup keeps its own copy of the items, so the
// menu object may go out of scope while it is shown.
class CXPMenu {
public:
    void Append(int id, const std::string& text, bool enabled = true);
    void AppendSeparator() { m_items.push_back({0, "", false}); }
    void Enable(int id, bool enabled);
    // Shows the menu at a screen point; returns at once (the choice arrives as wxEVT_MENU).
    void Popup(wxWindow* owner, const wxPoint& screenPos);
    // Shows the menu at the mouse pointer.
    void PopupAtPointer(wxWindow* owner);
    // The popup window of this menu while shown.
    wxPopupTransientWindow* Window() const { return m_window.get(); }
    // The flat menu shown now (of any menu object), or null.
    static wxPopupTransientWindow* Shown();
    static wxSize ItemSize() { return wxSize(160, 25); }

    struct Item {
        int id;
        std::string text;
        bool enabled;
    };
    const std::vector<Item>& Items() const { return m_items; }

private:
    std::vector<Item> m_items;
    wxWeakRef<wxPopupTransientWindow> m_window;
    wxColour m_background{241, 241, 241};
};
