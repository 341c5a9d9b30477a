#pragma once
// The folder tree of the found-file browser: every folder with a three-state check box.
// Checking a folder checks its whole subtree on a worker thread while the UI thread keeps
// pumping behind a waiting dialog; the views are frozen meanwhile and refreshed when it ends.
#include <wx/treectrl.h>
#include <wx/wx.h>

#include <functional>

class CFileNode;
class CFileSystemNode;
class CFileListCtrl;
class CWaitingDlg;

wxDECLARE_EVENT(EVT_FILETREE_CHECKS_CHANGED, wxCommandEvent);

// Picture of a folder item: 4 lost-files folder, 3 program-made, 2 deleted, 0 volume root,
// 1 plain folder.
int FolderPicture(const CFileNode* node);
// Check picture of a folder: 2 partly, 3 checked, 1 unchecked.
int FolderCheckPicture(const CFileNode* node);
// The item text: the name, and for a volume root with a caption "name (caption)".
std::string FolderItemText(const CFileNode* node);

class CFileTreeCtrl : public wxTreeCtrl {
public:
    CFileTreeCtrl(wxWindow* parent);
    ~CFileTreeCtrl() override;

    void SetFileList(CFileListCtrl* list) { m_list = list; }
    void SetRootNode(CFileSystemNode* root);
    CFileSystemNode* GetRootNode() const { return m_root; }
    void RefreshCheckStates();
    // Selects the item of a folder node, expanding its ancestors. True when found.
    bool SelectNode(const CFileNode* node, wxTreeItemId* found = nullptr);
    // Toggles a folder's check for its whole subtree (worker plus waiting dialog).
    void OnFolderCheck(const wxTreeItemId& item);
    CFileNode* NodeOf(const wxTreeItemId& item) const;
    // The state image of an item (for tests).
    int CheckPictureOf(const wxTreeItemId& item) const { return GetItemState(item); }
    // Called with the waiting dialog once it shows, before the worker starts (tests).
    void SetWaitingObserver(std::function<void(CWaitingDlg*)> observer) { m_waitingObserver = std::move(observer); }

private:
    void InsertChildren(const wxTreeItemId& parent, CFileNode* folder);
    void RefreshSubtree(const wxTreeItemId& item);
    void OnSelChanged(wxTreeEvent&);
    void OnStateClick(wxTreeEvent&);
    void OnKeyDown(wxKeyEvent&);
    void OnKeyUp(wxKeyEvent&);
    void OnLeftDown(wxMouseEvent&);

    CFileSystemNode* m_root = nullptr;
    CFileListCtrl* m_list = nullptr;
    wxImageList* m_images = nullptr;
    wxImageList* m_states = nullptr;
    bool m_busy = false;
    CWaitingDlg* m_waiting = nullptr;
    std::function<void(CWaitingDlg*)> m_waitingObserver;
};
