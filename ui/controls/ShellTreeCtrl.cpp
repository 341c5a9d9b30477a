#include "ui/controls/ShellTreeCtrl.h"

#include <wx/artprov.h>
#include <wx/imaglist.h>

#include <cstdlib>

namespace {
class PathData : public wxTreeItemData {
public:
    explicit PathData(std::string p) : path(std::move(p)) {}
    std::string path;
};
} // namespace

bool CShellTreeCtrl::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    if (!wxTreeCtrl::Create(parent, id, pos, size, wxTR_HAS_BUTTONS | wxTR_HIDE_ROOT | wxTR_LINES_AT_ROOT | wxTR_SINGLE))
        return false;
    auto* images = new wxImageList(16, 16);
    images->Add(wxArtProvider::GetBitmap(wxART_FOLDER, wxART_OTHER, wxSize(16, 16)));
    images->Add(wxArtProvider::GetBitmap(wxART_FOLDER_OPEN, wxART_OTHER, wxSize(16, 16)));
    images->Add(wxArtProvider::GetBitmap(wxART_HARDDISK, wxART_OTHER, wxSize(16, 16)));
    images->Add(wxArtProvider::GetBitmap(wxART_REMOVABLE, wxART_OTHER, wxSize(16, 16)));
    AssignImageList(images);
    Bind(wxEVT_TREE_ITEM_EXPANDING, &CShellTreeCtrl::OnExpanding, this);
    Bind(wxEVT_TREE_SEL_CHANGED, &CShellTreeCtrl::OnSelChanged, this);
    return true;
}

void CShellTreeCtrl::SetSources(const std::string& home, const std::vector<platform::MountEntry>& mounts) {
    m_home = home;
    m_mounts = mounts;
    m_sourcesSet = true;
}

void CShellTreeCtrl::RefreshTree() {
    if (!m_sourcesSet) {
        const char* home = std::getenv("HOME");
        m_home = home ? home : "";
        m_mounts = platform::ReadMountInfo();
    }
    DeleteAllItems();
    const wxTreeItemId root = AddRoot("root");
    for (const FolderEntry& e : FolderTreeRoots(m_home, m_mounts)) {
        bool removable = false;
        for (const auto& m : m_mounts)
            if (m.mountPoint == e.path && IsRemovableMount(m))
                removable = true;
        const int image = e.path == m_home ? 0 : (removable ? 3 : 2);
        const wxTreeItemId item = AppendItem(root, ui::FromUtf8(e.text), image, image, new PathData(e.path));
        SetItemHasChildren(item, true);
    }
}

void CShellTreeCtrl::ExpandComputerNode() {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = GetFirstChild(GetRootItem(), cookie); c.IsOk(); c = GetNextChild(GetRootItem(), cookie))
        if (PathOf(c) == "/") {
            Expand(c);
            return;
        }
}

std::string CShellTreeCtrl::PathOf(const wxTreeItemId& item) const {
    auto* data = item.IsOk() ? dynamic_cast<PathData*>(GetItemData(item)) : nullptr;
    return data ? data->path : std::string();
}

wxTreeItemId CShellTreeCtrl::FindChild(const wxTreeItemId& parent, const wxString& text) const {
    wxTreeItemIdValue cookie;
    for (wxTreeItemId c = GetFirstChild(parent, cookie); c.IsOk(); c = GetNextChild(parent, cookie))
        if (GetItemText(c) == text)
            return c;
    return wxTreeItemId();
}

void CShellTreeCtrl::Populate(const wxTreeItemId& item) {
    const std::vector<FolderEntry> children = ListSubfolders(PathOf(item), m_mounts);
    for (const FolderEntry& e : children) {
        const wxTreeItemId child = AppendItem(item, ui::FromUtf8(e.text), 0, 1, new PathData(e.path));
        SetItemHasChildren(child, true);
    }
}

void CShellTreeCtrl::OnExpanding(wxTreeEvent& e) {
    const wxTreeItemId item = e.GetItem();
    wxBusyCursor busy;
    if (GetChildrenCount(item, false) == 0) {
        Populate(item);
        if (GetChildrenCount(item, false) == 0) {
            // No subfolders: the expand button goes away.
            SetItemHasChildren(item, false);
            e.Veto();
        }
    }
}

void CShellTreeCtrl::OnSelChanged(wxTreeEvent& e) {
    const std::string path = PathOf(e.GetItem());
    if (m_callback && m_userData)
        m_callback(m_userData, path.c_str());
}
