#pragma once
// The properties dialogs of a found file or folder and of a found partition (rows worked out
// by PropertyRows), and the legend of the file states and name colours.
#include <cstdint>

#include <wx/listctrl.h>
#include <wx/wx.h>

#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"
#include "ui/views/PropertyRows.h"
#include "ui/views/wx/SkinnedViewDlg.h"

class CFileNode;
class CSearchedPartitionInfo;

// A skinned dialog with the two-column list ("Name", "Value", 200 pixels each) and OK; the
// window exists once constructed (show it with DoModal, or Show for a modeless look).
class CPropertyListDlg : public CSkinnedViewDlg {
public:
    CPropertyListDlg(wxWindow* parent, int templateId, const wxString& title, const PropertyRows& rows);
    wxListCtrl* List() const { return m_list; }
    CTextCenterButtonPlus* OkButton() const { return m_ok; }

protected:
    int CloseResult() const override { return kResultOk; }

private:
    wxListCtrl* m_list = nullptr;
    CTextCenterButtonPlus* m_ok = nullptr;
};

class CPropertiesDlg : public CPropertyListDlg {
public:
    CPropertiesDlg(wxWindow* parent, const CFileNode* node)
        : CPropertyListDlg(parent, 333, "Properties", FilePropertyRows(node)) {}
};

class CScanPartitionPropertiesDlg : public CPropertyListDlg {
public:
    // Exactly one of a partition or a range (first sector, count).
    CScanPartitionPropertiesDlg(wxWindow* parent, const CSearchedPartitionInfo* partition)
        : CPropertyListDlg(parent, 319, "Scan Partition Properties", PartitionPropertyRows(partition, false, 0, 0)) {}
    CScanPartitionPropertiesDlg(wxWindow* parent, std::uint64_t first, std::uint64_t count)
        : CPropertyListDlg(parent, 319, "Scan Partition Properties", PartitionPropertyRows(nullptr, true, first, count)) {}
};

// The legend: a borderless popup on the skinned base with the state marks and name colours,
// the program's title and a Close button that ends it as Cancel.
class CAttributesStates : public CSearchSuperDlg {
public:
    explicit CAttributesStates(wxWindow* parent = nullptr);
    CButtonPlus* CloseButton() const { return m_close; }
    wxStaticText* TitleStatic() const { return m_title; }

protected:
    wxSize InitialClientSize() const override { return wxSize(222, 264); }
    void OnInitDialog() override;

private:
    void OnPaint(wxPaintEvent&);
    CButtonPlus* m_close = nullptr;
    wxStaticText* m_title = nullptr;
};
