#pragma once
// A splitter of two panes, stacked (rows) or side by side (columns), in which one pane keeps a
// fixed size when the window is resized and a dragged size stays between a minimum and a
// maximum. Its bar is painted flat in one colour.
#include "ui/controls/SplitterLayout.h"
#include "ui/controls/UiCommon.h"

class CExSplitterWnd : public wxWindow {
public:
    static constexpr int kBarSize = 4;
    CExSplitterWnd() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    // Set before the panes are given.
    SplitterLayout layout;
    void SetPanes(wxWindow* first, wxWindow* second);
    int FirstPaneSize() const { return m_first; }
    int SecondPaneSize() const;
    wxColour barColour{196, 199, 204};
    wxRect BarRect() const;

private:
    int Extent() const;
    void Apply();
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnDown(wxMouseEvent&);
    void OnMotion(wxMouseEvent&);
    void OnUp(wxMouseEvent&);
    void OnLost(wxMouseCaptureLostEvent&);

    wxWindow* m_panes[2] = {};
    int m_first = 0;
    bool m_initialised = false;
    bool m_dragging = false;
    int m_dragOffset = 0;
};
