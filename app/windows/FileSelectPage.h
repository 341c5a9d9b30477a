#pragma once
// Page 9, the file selection page: the folder tree and the file list on the "Files" tab, the
// buttons above them, and the totals below. It shows the controller's page model and forwards
// the user's commands to the controller.
#include "app/windows/WizardPage.h"
#include "app/wizard/FileSelectController.h"

#include <map>

class CExSplitterWnd;
class CFileListCtrl;
class CFileTreeCtrl;
class CTabCtrlPlus;
class CTextSmallIconButtonPlus;

class CFileSelectPage : public CWizardPage {
public:
    enum : int {
        kIdFindFile = 1205,
        kIdSearchFiles = 1206,
        kIdPreview = 1207,
        kIdThumbnail = 1227,
        kIdSelectAll = 1228,
        kIdDeselectAll = 1229,
        kIdState = 1230,
        kIdTabs = 1314,
    };
    CFileSelectPage(wxWindow* parent, CFileSelectController& controller);
    ~CFileSelectPage() override;
    void LayoutPage(int cx, int cy) override;
    void Paint(wxDC& dc) override;

    CFileTreeCtrl* Tree() const { return m_tree; }
    CFileListCtrl* Files() const { return m_files; }
    CFileListCtrl* SearchList() const { return m_searchList; }
    // The list of the tab shown (the files, or the search's matches).
    CFileListCtrl* ActiveList() const;
    CTabCtrlPlus* Tabs() const { return m_tabs; }
    CTextSmallIconButtonPlus* Button(int id) const;
    // The first selected file of the list shown, or null.
    CFileNode* SelectedFile() const;

private:
    void ShowModel();
    void OnCommand(wxCommandEvent& e);
    void ToggleThumbnails();
    void ShowSearch();
    void OnTabNotify(wxCommandEvent& e);
    void LocateInMainList();

    CFileSelectController& m_controller;
    CTabCtrlPlus* m_tabs = nullptr;
    CExSplitterWnd* m_splitter = nullptr;
    CFileTreeCtrl* m_tree = nullptr;
    CFileListCtrl* m_files = nullptr;
    CFileListCtrl* m_searchList = nullptr;
    int m_searchShown = -1;  // the model's search generation the tab shows
    std::map<int, CTextSmallIconButtonPlus*> m_buttons;
};
