#pragma once
// The tab strip's tabs: sizes, places, close boxes, selection and the mouse rules. No window
// code; the strip control draws and reports what this decides.
#include "ui/controls/Geometry.h"

#include <memory>
#include <string>
#include <vector>

struct TabItem {
    uigeo::Rect rect;
    std::string text;
    int page = -1;
    int closable = 0;
    int selected = 0;
    uigeo::Rect closeBox;
    int closePressed = 0;
};

class CTabStripModel {
public:
    void SetPageCount(int count) { m_pageCount = count; }
    void SetClientWidth(int w) { m_clientWidth = w; }

    // Appends a tab for page `page`, `textWidth` being the text's width in the strip's font.
    // False (nothing added) for an unknown page or when the tab would not fit.
    bool AddTab(const std::string& text, int textWidth, int page);
    // Selects tab 0, then removes tab `index`. False for an unknown index.
    bool DeleteTab(int index);
    bool SetCurSel(int index);
    int GetCurSel() const;
    int GetCurPage() const;   // -1 when no tab is selected
    int TabCount() const { return static_cast<int>(m_tabs.size()); }
    const TabItem& Tab(int i) const { return *m_tabs[static_cast<std::size_t>(i)]; }
    // Sum of the tab widths, minus 1 when there is a tab.
    int TotalWidth() const;

    struct DownResult {
        bool selectionChanged = false;
        int pressedClose = -1;   // tab whose close box was pressed (the strip captures the mouse)
    };
    DownResult LeftDown(uigeo::Point p);
    // Only while captured; returns the deleted tab's index or -1.
    int LeftUp(uigeo::Point p);
    bool Captured() const { return m_captured; }

    // The page area of a strip of cx x cy pixels.
    static uigeo::Rect PageArea(int cx, int cy) { return uigeo::Rect{4, 24, cx - 4, cy - 4}; }

private:
    void Layout();
    std::vector<std::shared_ptr<TabItem>> m_tabs;
    int m_pageCount = 0;
    int m_clientWidth = 0;
    bool m_captured = false;
};
