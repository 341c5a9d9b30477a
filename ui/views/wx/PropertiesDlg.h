#pragma once
// The properties dialogs of a found file or folder and of a found partition (rows worked out
// by PropertyRows), and the legend of the file states and name colours.
#include <cstdint>

#include <wx/listctrl.h>
#include <wx/wx.h>

#include "ui/views/PropertyRows.h"

class CFileNode;
class CSearchedPartitionInfo;

class CPropertyListDlg : public wxDialog {
public:
    CPropertyListDlg(wxWindow* parent, const wxString& title, const PropertyRows& rows);
    wxListCtrl* List() const { return m_list; }

private:
    wxListCtrl* m_list = nullptr;
};

class CPropertiesDlg : public CPropertyListDlg {
public:
    CPropertiesDlg(wxWindow* parent, const CFileNode* node)
        : CPropertyListDlg(parent, "Properties", FilePropertyRows(node)) {}
};

class CScanPartitionPropertiesDlg : public CPropertyListDlg {
public:
    // Exactly one of a partition or a range (first sector, count).
    CScanPartitionPropertiesDlg(wxWindow* parent, const CSearchedPartitionInfo* partition)
        : CPropertyListDlg(parent, "Scan Partition Properties",
                           PartitionPropertyRows(partition, false, 0, 0)) {}
    CScanPartitionPropertiesDlg(wxWindow* parent, std::uint64_t first, std::uint64_t count)
        : CPropertyListDlg(parent, "Scan Partition Properties",
                           PartitionPropertyRows(nullptr, true, first, count)) {}
};

// The legend: a borderless popup with the state marks and name colours and a Close button.
class CAttributesStates : public wxDialog {
public:
    explicit CAttributesStates(wxWindow* parent);
    wxButton* CloseButton() const { return m_close; }

private:
    void OnPaint(wxPaintEvent&);
    void OnLeftDown(wxMouseEvent&);
    wxButton* m_close = nullptr;
};
