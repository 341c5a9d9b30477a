#pragma once
// The found-partition list window and the container that pairs it with the layout picture:
// the list on top, the picture in a bottom pane kept between 100 and 340 pixels high. Ticking a
// partition's box puts its block into the picture; option boxes are told to the page through
// the model's option notification. The rows and rules are CFoundPartitionListModel's.
#include "ui/controls/ExSplitterWnd.h"
#include "ui/controls/ExtendListCtrl.h"
#include "ui/views/FoundPartitionList.h"
#include "ui/views/wx/PartitionLayoutCtrl.h"

#include <memory>

class CMultipleChoosePartitionListCtrl : public wxWindow {
public:
    static constexpr int kListId = 1001;
    CMultipleChoosePartitionListCtrl(wxWindow* parent, wxWindowID id);

    int AddPartition(const FoundPartitionRow& row);
    void DeleteAllPartitions();
    // Redraws after rows were added or changed through the model.
    void RefreshRows();

    CFoundPartitionListModel& Model() { return *m_model; }
    CExtendListCtrl* List() const { return m_list; }

private:
    void OnSize(wxSizeEvent&);
    void OnPaint(wxPaintEvent&);

    CExtendListCtrl* m_list;
    std::unique_ptr<CFoundPartitionListModel> m_model;
};

class CLostPartitionCtrlContainer : public wxWindow, public IFoundPartitionPane {
public:
    CLostPartitionCtrlContainer(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                                const wxSize& size = wxDefaultSize);

    CMultipleChoosePartitionListCtrl* ListCtrl() const { return m_listCtrl; }
    CPartitionLayoutFrame* LayoutFrame() const { return m_layout; }
    CExSplitterWnd* Splitter() const { return m_splitter; }
    // The page that hears of a right button released over a row (EVT_UI_NOTIFY with
    // uires::kMsgGridRightButton, for its Properties menu); option boxes go through the
    // model's option notification.
    void SetNotifyWindow(wxWindow* page) { m_listCtrl->List()->SetNotifyWindow(page); }
    // The partition of the selected row, or null.
    CSearchedPartitionInfo* GetSelectedPartition() { return PartitionList().GetPartitionAt(PartitionList().GetSelectedRow()); }

    // IFoundPartitionPane
    CFoundPartitionListModel& PartitionList() override { return m_listCtrl->Model(); }
    CPartitionLayoutModel& PartitionLayout() override { return m_layout->Model(); }
    void ShowSource(const LayoutSource& source) override;
    void RefreshPane() override;

private:
    void OnSize(wxSizeEvent&);

    CExSplitterWnd* m_splitter;
    CMultipleChoosePartitionListCtrl* m_listCtrl;
    CPartitionLayoutFrame* m_layout;
};
