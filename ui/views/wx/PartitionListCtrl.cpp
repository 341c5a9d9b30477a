#include "ui/views/wx/PartitionListCtrl.h"

#include <wx/dcbuffer.h>

CMultipleChoosePartitionListCtrl::CMultipleChoosePartitionListCtrl(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxCLIP_CHILDREN | wxBORDER_NONE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_list = new CExtendListCtrl();
    m_list->Create(this, kListId, wxPoint(0, 0), wxSize(10, 10));
    m_model = std::make_unique<CFoundPartitionListModel>(m_list->Model());
    // The grid's header shows the model's columns.
    for (int c = 0; c < CFoundPartitionListModel::kColumnCount; ++c) {
        const int align = CFoundPartitionListModel::kColumnAlignments[c];
        m_list->Header()->AppendColumn(wxHeaderColumnSimple(
            CFoundPartitionListModel::kColumnTitles[c], CFoundPartitionListModel::kColumnWidths[c],
            align == kGridRight ? wxALIGN_RIGHT : (align == kGridCentre ? wxALIGN_CENTER : wxALIGN_LEFT),
            wxCOL_RESIZABLE));
    }
    m_list->SetIcons({PartitionIconBitmap(16, 16)});
    m_list->UpdateScrollBars();
    Bind(wxEVT_SIZE, &CMultipleChoosePartitionListCtrl::OnSize, this);
    Bind(wxEVT_PAINT, &CMultipleChoosePartitionListCtrl::OnPaint, this);
}

int CMultipleChoosePartitionListCtrl::AddPartition(const FoundPartitionRow& row) {
    const int r = m_model->AddPartition(row);
    RefreshRows();
    return r;
}

void CMultipleChoosePartitionListCtrl::DeleteAllPartitions() {
    m_model->DeleteAllPartitions();
    RefreshRows();
}

void CMultipleChoosePartitionListCtrl::RefreshRows() {
    m_list->UpdateScrollBars();
    m_list->Refresh();
}

void CMultipleChoosePartitionListCtrl::OnSize(wxSizeEvent& e) {
    m_list->SetSize(GetClientSize());
    e.Skip();
}

void CMultipleChoosePartitionListCtrl::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(ui::ColorRef(0xA8FFFF)));
    dc.Clear();
}

CLostPartitionCtrlContainer::CLostPartitionCtrlContainer(wxWindow* parent, wxWindowID id, const wxPoint& pos,
                                                         const wxSize& size)
    : wxWindow(parent, id, pos, size, wxCLIP_CHILDREN | wxBORDER_NONE) {
    m_splitter = new CExSplitterWnd();
    m_splitter->Create(this, wxID_ANY, wxPoint(0, 0), GetClientSize());
    m_splitter->layout.orientation = 1;
    m_splitter->layout.fixedPane = 1;
    m_splitter->layout.fixedSize = 100;
    m_splitter->layout.minSize = 100;
    m_splitter->layout.maxSize = 340;
    m_listCtrl = new CMultipleChoosePartitionListCtrl(m_splitter, wxID_ANY);
    m_layout = new CPartitionLayoutFrame(m_splitter, wxID_ANY);
    m_splitter->SetPanes(m_listCtrl, m_layout);
    m_listCtrl->Model().SetLayoutTarget(m_layout->View());
    Bind(wxEVT_SIZE, &CLostPartitionCtrlContainer::OnSize, this);
}

void CLostPartitionCtrlContainer::OnSize(wxSizeEvent& e) {
    m_splitter->SetSize(GetClientSize());
    e.Skip();
}

void CLostPartitionCtrlContainer::ShowSource(const LayoutSource& source) {
    CPartitionLayoutView* view = m_layout->View();
    view->RemoveAllDisks();
    view->LayoutDisks();
    m_layout->RecalcLayout();
    m_layout->SetCaption(source);
    m_layout->Refresh();
}

void CLostPartitionCtrlContainer::RefreshPane() {
    m_listCtrl->RefreshRows();
    m_layout->Refresh();
    Refresh();
}
