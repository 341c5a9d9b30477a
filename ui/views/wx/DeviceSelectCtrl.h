#pragma once
// The device selection list: a column header over a scrolled view of large rows (picture,
// name, capacity, information), drawn from CDeviceViewModel. It tells its parent page about
// clicks with EVT_UI_NOTIFY events whose id is the message (9001 selected, 9002 double click,
// 9003 right button released).
#include "ui/views/DeviceListView.h"
#include "ui/controls/ExtendListCtrl.h"
#include "ui/views/DeviceViewModel.h"

#include <wx/scrolwin.h>
#include <wx/wx.h>

#include <string>
#include <vector>

class CDeviceSelectView;

class CDeviceSelectCtrl : public wxWindow, public IDeviceListView {
public:
    static constexpr int kHeaderId = 1300;
    static constexpr int kViewId = 1301;
    static constexpr int kHeaderHeight = 20;

    CDeviceSelectCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxDefaultSize);

    // Row pictures by resource id, in kind order.
    void LoadRowBitmaps(const int (&ids)[kDeviceKindCount]);

    // IDeviceListView
    void RemoveAllDevices() override;
    void AddDevice(const DeviceListEntry& entry) override;
    int GetSelectedIndex() const override { return m_model.GetSelectedIndex(); }
    void* GetDeviceData(int index) const override { return m_model.GetDeviceData(index); }
    void SelectRow(int index) override;
    int Count() const override { return m_model.Count(); }
    void SetNote(const std::string& text) override;
    const std::string& Note() const override { return m_note; }
    // The note's lines as the view shows them (broken to fit its width) and the width they fit.
    std::vector<wxString> ShownNoteLines() const;
    int NoteWidth() const;
    void DeleteDevice(int index);
    void ClearSelection();

    const CDeviceViewModel& Model() const { return m_model; }
    CExtendHeaderCtrl* Header() const { return m_header; }
    CDeviceSelectView* View() const { return m_view; }
    // The header follows the view's horizontal scroll position.
    void AlignHeader();
    // The user finished dragging a column divider.
    void OnColumnDragged(int column, int width);

private:
    friend class CDeviceSelectView;
    void OnSize(wxSizeEvent& e);
    void OnHeaderEndResize(wxHeaderCtrlEvent& e);
    void UpdateScrollSizes();
    void Notify(int message);
    // The note broken into lines that fit `width` (at word boundaries), and where it starts.
    std::vector<wxString> NoteLines(wxDC& dc, int width) const;
    int NoteTop() const;

    CDeviceViewModel m_model;
    CExtendHeaderCtrl* m_header = nullptr;
    CDeviceSelectView* m_view = nullptr;
    wxBitmap m_bitmaps[kDeviceKindCount];
    wxFont m_font;
    std::string m_note;
};

class CDeviceSelectView : public wxScrolled<wxWindow> {
public:
    CDeviceSelectView(CDeviceSelectCtrl* owner, wxWindowID id);
    // Scrolls so that the row is visible (vertical only).
    void ScrollRowIntoView(int index);

private:
    void OnPaint(wxPaintEvent&);
    void OnButtonDown(wxMouseEvent& e);
    void OnDoubleClick(wxMouseEvent& e);
    void OnRightUp(wxMouseEvent& e);
    void OnKey(wxKeyEvent& e);
    void OnScroll(wxScrollWinEvent& e);
    CDeviceSelectCtrl* m_owner;
};
