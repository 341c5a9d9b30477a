#pragma once
// "Find file by name": a small modal dialog over the file-selection page's file view. Each
// Find Next selects the next matching file (FindFile.h); the dialog stays open between hits and
// closes with a message once the search has nothing more to show.
#include "tools/FindFile.h"
#include "tools/windows/ToolDialogs.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/checkbox.h>
#include <wx/textctrl.h>
#include <wx/treebase.h>

#include <map>

class CFileTreeCtrl;
class CFileListCtrl;

class CFindFileDlg : public CSearchSuperDlg {
public:
    CFindFileDlg(wxWindow* parent, IFindFileView& view, ToolUiHooks hooks = ToolUiHooks::Defaults());

    // The Find Next button.
    void OnFindNext();
    const CFindFileState& State() const { return m_state; }

    wxTextCtrl* NameEdit() const { return m_name; }
    CTextCenterButtonPlus* FindNextButton() const { return m_findNext; }
    CTextCenterButtonPlus* CloseButton() const { return m_close; }

protected:
    wxSize InitialClientSize() const override { return wxSize(507, 150); }
    void OnInitDialog() override;

private:
    void OnKey(wxKeyEvent& e);

    IFindFileView& m_view;
    ToolUiHooks m_hooks;
    CFindFileState m_state;
    wxTextCtrl* m_name = nullptr;
    wxCheckBox* m_case = nullptr;
    wxCheckBox* m_whole = nullptr;
    CTextCenterButtonPlus* m_findNext = nullptr;
    CTextCenterButtonPlus* m_close = nullptr;
};

// The page's folder tree and file list as the find sees them. Built when the dialog opens: the
// tree items are read once.
class CFileViewFindAdapter : public IFindFileView {
public:
    CFileViewFindAdapter(CFileTreeCtrl* tree, CFileListCtrl* list);

    long RowCount() const override;
    long SelectedRow() const override;
    CFileNode* RowNode(long row) const override;
    void LocateFile(CFileNode* node) override;
    CFileNode* SelectedFolder() const override;
    void SelectFolder(CFileNode* folder) override;
    CFileNode* FirstRootFolder() const override;
    CFileNode* FirstChildFolder(CFileNode* folder) const override;
    CFileNode* NextSiblingFolder(CFileNode* folder) const override;
    CFileNode* ParentFolder(CFileNode* folder) const override;

private:
    wxTreeItemId ItemOf(const CFileNode* folder) const;

    CFileTreeCtrl* m_tree;
    CFileListCtrl* m_list;
    std::map<const CFileNode*, wxTreeItemId> m_items;
};

// Runs the find dialog modally over a file view.
void ShowFindFileDialog(wxWindow* parent, IFindFileView& view, ToolUiHooks hooks = ToolUiHooks::Defaults());
void ShowFindFileDialog(wxWindow* parent, CFileTreeCtrl* tree, CFileListCtrl* list,
                        ToolUiHooks hooks = ToolUiHooks::Defaults());
