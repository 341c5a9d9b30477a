#pragma once
// The open-disk-image wizard: welcome, the ".edi" path, the error page that lists the slices
// and lets the user locate, add or remove them, and the success page. On success the slice
// list has been checked (and rewritten when repaired); the caller opens the ".edi" as a device.
#include "tools/SliceList.h"
#include "tools/windows/WizardFrame.h"

#include <wx/listctrl.h>

#include <string>

struct OpenDiskImageResult {
    bool opened = false;
    std::string imagePath;  // the ".edi"
};

class COpenDiskImageMasterDlg : public CToolWizardFrame {
public:
    enum OpenPage { kInfo = 0, kPath = 1, kErrors = 2, kSuccess = 3 };

    COpenDiskImageMasterDlg(wxWindow* parent, ToolUiHooks hooks);

    const OpenDiskImageResult& Result() const { return m_result; }
    wxTextCtrl* PathEdit() const { return m_path; }
    wxListCtrl* SliceListCtrl() const { return m_list; }
    const imagetool::SliceListRows& Rows() const { return m_rows; }
    int Current() const { return m_page; }

    void OnNext() override;
    void OnBack() override;
    void OnCancelPressed() override;
    void OnClosePressed() override { EndDialog(kResultCancel); }
    void SelectRow(int row);
    void OnAdd();
    void OnLocate();
    void OnRemove();

protected:
    void OnInitDialog() override;
    // The path and error pages swallow Escape; on the others it asks to cancel.
    bool PageSwallowsEscape(int page) const override { return page == kPath || page == kErrors; }

private:
    void ShowStep(int page, int bannerId);
    void OpenImage();
    void RefreshList();
    void UpdateButtons();

    OpenDiskImageResult m_result;
    imagetool::SliceListRows m_rows;
    std::string m_listPath;
    int m_page = kInfo;
    int m_selected = -1;
    wxTextCtrl* m_path = nullptr;
    wxListCtrl* m_list = nullptr;
    CTextCenterButtonPlus* m_add = nullptr;
    CTextCenterButtonPlus* m_remove = nullptr;
    CTextCenterButtonPlus* m_locate = nullptr;
};

// Runs the wizard modally; `opened` is set when the image is ready to be opened.
OpenDiskImageResult OpenDiskImage(wxWindow* parent, ToolUiHooks hooks = ToolUiHooks::Defaults());
