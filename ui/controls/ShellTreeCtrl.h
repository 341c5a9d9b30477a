#pragma once
// The folder tree in which the user picks the target folder: home folder, file-system root and
// the mounted volumes that can take files, read lazily (see FolderTreeModel.h); the chosen
// folder's path goes to the owner's callback.
#include "ui/controls/FolderTreeModel.h"
#include "ui/controls/UiCommon.h"

#include <wx/treectrl.h>

class CShellTreeCtrl : public wxTreeCtrl {
public:
    using SelectionCallback = void (*)(void* userData, const char* path);
    CShellTreeCtrl() = default;
    bool Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    // Rebuilds the top level from the mount table (the program's Refresh).
    void RefreshTree();
    using wxTreeCtrl::Refresh;
    // Expands the file-system root.
    void ExpandComputerNode();
    void SetCallback(SelectionCallback callback, void* userData) {
        m_callback = callback;
        m_userData = userData;
    }
    // The folder path of an item ("" for the hidden root).
    std::string PathOf(const wxTreeItemId& item) const;
    // The child of `parent` whose text is `text` (an invalid id when none).
    wxTreeItemId FindChild(const wxTreeItemId& parent, const wxString& text) const;
    // For tests: the home folder and mount table the tree reads.
    void SetSources(const std::string& home, const std::vector<platform::MountEntry>& mounts);

private:
    void OnExpanding(wxTreeEvent&);
    void OnSelChanged(wxTreeEvent&);
    void Populate(const wxTreeItemId& item);

    SelectionCallback m_callback = nullptr;
    void* m_userData = nullptr;
    bool m_sourcesSet = false;
    std::string m_home;
    std::vector<platform::MountEntry> m_mounts;
};
