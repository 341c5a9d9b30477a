#pragma once
// The owner-drawn report grid: a header, rows of 20 pixels, cells of up to four items (check
// box, icon, text), each check box reported to its listener; scrolls in pixels both ways and
// paints double-buffered. The layout and the rules live in CExtendGridModel.
#include "ui/controls/GridModel.h"
#include "ui/controls/UiCommon.h"

#include <wx/headerctrl.h>

#include <vector>

class CExtendHeaderCtrl : public wxHeaderCtrl {
public:
    CExtendHeaderCtrl(wxWindow* parent, wxWindowID id);
    void AppendColumn(const wxHeaderColumnSimple& column);
    void SetColumnWidth(unsigned column, int width);
    int ColumnWidth(unsigned column) const { return m_columns[column].GetWidth(); }
    void SetColumnTitle(unsigned column, const wxString& title);

protected:
    const wxHeaderColumn& GetColumn(unsigned idx) const override { return m_columns[idx]; }

private:
    std::vector<wxHeaderColumnSimple> m_columns;
};

class CExtendListCtrl : public wxWindow {
public:
    CExtendListCtrl() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    void InsertColumn(const std::string& text, int width, int alignment);
    int AddRow() { return m_model.AddRow(); }
    int SetCell(int row, const GridCellDesc& desc);
    void DeleteAllRows();
    int GetSelectedRow() const { return m_model.GetSelectedRow(); }
    int IsFirstBoxChecked(int row) const { return m_model.IsFirstBoxChecked(row); }
    void UpdateScrollBars();
    // Icons that cells name by index.
    void SetIcons(const std::vector<wxBitmap>& icons) { m_icons = icons; }
    void SetNotifyWindow(wxWindow* w) { m_notify = w; }
    // The header's column `column` was resized to `width`.
    void OnColumnResized(int column, int width);

    CExtendGridModel& Model() { return m_model; }
    CExtendHeaderCtrl* Header() { return m_header; }
    // A content point in client coordinates (for clicking a cell's box).
    wxPoint ContentToClient(uigeo::Point p) const;

private:
    void PlaceHeader();
    void ApplyScrollBars();
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void OnScroll(wxScrollWinEvent&);
    void OnWheel(wxMouseEvent&);
    void OnLeftDown(wxMouseEvent&);
    void OnRightUp(wxMouseEvent&);
    void OnKey(wxKeyEvent&);
    void OnHeaderEndResize(wxHeaderCtrlEvent&);
    int TextWidth(const std::string& text);

    CExtendGridModel m_model;
    CExtendHeaderCtrl* m_header = nullptr;
    std::vector<wxBitmap> m_icons;
    wxWindow* m_notify = nullptr;
    wxFont m_font;
};
