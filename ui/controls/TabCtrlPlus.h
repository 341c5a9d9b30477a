#pragma once
// The owner-drawn tab strip of the file page: 21-pixel tabs over a page area, each showing one of
// the registered pages; every tab after the first has a close cross. Selecting or closing a tab
// sends EVT_UI_NOTIFY (id 2025) to the parent.
#include "ui/controls/TabStripModel.h"
#include "ui/controls/UiCommon.h"

#include <vector>

class CTabCtrlPlus : public wxWindow {
public:
    CTabCtrlPlus() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    // Registers a page; the page window must have been created as a child of the strip (or is
    // reparented to it) and is hidden.
    bool AddPage(wxWindow* page);
    void AddTab(const char* text, int pageIndex);
    void DeleteTab(int index);
    void SetCurSel(int index);
    int GetCurSel() const { return m_model.GetCurSel(); }
    wxWindow* GetCurPage() const;
    const CTabStripModel& Model() const { return m_model; }

private:
    void LayoutPages();
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnDown(wxMouseEvent&);
    void OnUp(wxMouseEvent&);
    void Notify();

    CTabStripModel m_model;
    std::vector<wxWindow*> m_pages;
    wxFont m_font;
};
