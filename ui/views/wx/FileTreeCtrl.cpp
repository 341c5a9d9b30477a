#include "ui/views/wx/FileTreeCtrl.h"

#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/DrawHelpers.h"

#include <atomic>
#include <vector>

#include <wx/artprov.h>
#include <wx/renderer.h>

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "platform/WorkerRun.h"
#include "ui/views/wx/FileListCtrl.h"

wxDEFINE_EVENT(EVT_FILETREE_CHECKS_CHANGED, wxCommandEvent);

namespace {

class NodeData : public wxTreeItemData {
public:
    explicit NodeData(CFileNode* n) : node(n) {}
    CFileNode* node;
};

bool IsDirectory(const CFileNode* n) {
    return n && n->m_pProperties && (n->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY);
}

wxBitmap StatePicture(wxWindow* w, int flags, bool blank) {
    wxBitmap bmp(16, 16);
    wxMemoryDC dc(bmp);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    if (!blank)
        wxRendererNative::Get().DrawCheckBox(w, dc, wxRect(1, 1, 14, 14), flags);
    dc.SelectObject(wxNullBitmap);
    return bmp;
}

wxBitmap FolderBitmap(const wxColour& colour) {
    wxBitmap bmp(16, 16);
    wxMemoryDC dc(bmp);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetPen(wxPen(colour.ChangeLightness(60)));
    dc.SetBrush(wxBrush(colour));
    dc.DrawRectangle(1, 3, 6, 3);
    dc.DrawRectangle(1, 5, 14, 9);
    dc.SelectObject(wxNullBitmap);
    return bmp;
}

} // namespace

int FolderPicture(const CFileNode* node) {
    const std::uint8_t s = node && node->m_pProperties ? node->m_pProperties->GetFileState() : 0;
    if (s & 0x08)
        return 4;
    if (s & 0x10)
        return 3;
    if (s & 0x01)
        return 2;
    return node && node->IsFolder() ? 0 : 1;
}

int FolderCheckPicture(const CFileNode* node) {
    const std::uint8_t s = node && node->m_pProperties ? node->m_pProperties->GetCheckState() : 0;
    return s == CHECKSTATE_PARTIAL ? 2 : s == CHECKSTATE_CHECKED ? 3 : 1;
}

std::string FolderItemText(const CFileNode* node) {
    std::string text = node && node->m_pProperties && node->m_pProperties->GetName()
                           ? node->m_pProperties->GetName()
                           : "";
    if (node && node->IsFolder()) {
        const char* caption = static_cast<const CFileSystemNode*>(node)->GetName();
        if (caption && *caption)
            text += std::string(" (") + caption + ")";
    }
    return text;
}

CFileTreeCtrl::CFileTreeCtrl(wxWindow* parent)
    : wxTreeCtrl(parent, 1314, wxDefaultPosition, wxDefaultSize,
                 wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE) {
    m_images = new wxImageList(16, 16, false);
    m_images->Add(FolderBitmap(wxColour(90, 140, 210)));  // volume root
    m_images->Add(FolderBitmap(wxColour(240, 200, 80)));  // folder
    m_images->Add(FolderBitmap(wxColour(220, 100, 90)));  // deleted
    m_images->Add(FolderBitmap(wxColour(150, 200, 120))); // program-made
    m_images->Add(FolderBitmap(wxColour(170, 170, 170))); // lost files
    AssignImageList(m_images);
    m_states = new wxImageList(16, 16, false);
    m_states->Add(StatePicture(this, 0, true));
    m_states->Add(StatePicture(this, 0, false));
    m_states->Add(StatePicture(this, wxCONTROL_UNDETERMINED, false));
    m_states->Add(StatePicture(this, wxCONTROL_CHECKED, false));
    AssignStateImageList(m_states);
    Bind(wxEVT_TREE_SEL_CHANGED, &CFileTreeCtrl::OnSelChanged, this);
    Bind(wxEVT_TREE_STATE_IMAGE_CLICK, &CFileTreeCtrl::OnStateClick, this);
    Bind(wxEVT_KEY_DOWN, &CFileTreeCtrl::OnKeyDown, this);
    Bind(wxEVT_KEY_UP, &CFileTreeCtrl::OnKeyUp, this);
}

CFileTreeCtrl::~CFileTreeCtrl() = default;

CFileNode* CFileTreeCtrl::NodeOf(const wxTreeItemId& item) const {
    if (!item.IsOk())
        return nullptr;
    auto* d = static_cast<NodeData*>(GetItemData(item));
    return d ? d->node : nullptr;
}

void CFileTreeCtrl::InsertChildren(const wxTreeItemId& parentItem, CFileNode* folder) {
    // Iterative: a damaged disk may nest folders very deep.
    std::vector<std::pair<wxTreeItemId, CFileNode*>> work{{parentItem, folder}};
    while (!work.empty()) {
        auto [item, node] = work.back();
        work.pop_back();
        std::vector<CFileNode*> dirs;
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            if (IsDirectory(c))
                dirs.push_back(c);
        for (CFileNode* d : dirs) {
            const int pic = FolderPicture(d);
            const wxTreeItemId child = AppendItem(item, wxString::FromUTF8(FolderItemText(d)), pic, pic, new NodeData(d));
            SetItemState(child, FolderCheckPicture(d));
            work.push_back({child, d});
        }
        // Sorted by text; a program-made folder's children are sorted but not descended into
        // again (they were inserted in order).
        if (!dirs.empty())
            SortChildren(item);
    }
}

void CFileTreeCtrl::SetRootNode(CFileSystemNode* root) {
    DeleteAllItems();
    m_root = root;
    const wxTreeItemId hidden = AddRoot("");
    if (!root)
        return;
    InsertChildren(hidden, root);
    wxTreeItemIdValue cookie;
    const wxTreeItemId first = GetFirstChild(hidden, cookie);
    if (first.IsOk()) {
        SelectItem(first);
        if (!GetNextSibling(first).IsOk())
            Expand(first);
    }
    SetFocus();
}

void CFileTreeCtrl::RefreshSubtree(const wxTreeItemId& start) {
    std::vector<wxTreeItemId> work{start};
    while (!work.empty()) {
        const wxTreeItemId item = work.back();
        work.pop_back();
        if (CFileNode* n = NodeOf(item))
            SetItemState(item, FolderCheckPicture(n));
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = GetFirstChild(item, cookie); c.IsOk(); c = GetNextChild(item, cookie))
            work.push_back(c);
    }
    for (wxTreeItemId p = GetItemParent(start); p.IsOk(); p = GetItemParent(p))
        if (CFileNode* n = NodeOf(p))
            SetItemState(p, FolderCheckPicture(n));
}

void CFileTreeCtrl::RefreshCheckStates() {
    if (GetRootItem().IsOk())
        RefreshSubtree(GetRootItem());
}

bool CFileTreeCtrl::SelectNode(const CFileNode* node, wxTreeItemId* found) {
    if (!GetRootItem().IsOk())
        return false;
    std::vector<wxTreeItemId> work{GetRootItem()};
    while (!work.empty()) {
        const wxTreeItemId item = work.back();
        work.pop_back();
        if (NodeOf(item) == node) {
            for (wxTreeItemId p = GetItemParent(item); p.IsOk() && p != GetRootItem(); p = GetItemParent(p))
                Expand(p);
            EnsureVisible(item);
            SelectItem(item);
            if (found)
                *found = item;
            return true;
        }
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = GetFirstChild(item, cookie); c.IsOk(); c = GetNextChild(item, cookie))
            work.push_back(c);
    }
    return false;
}

void CFileTreeCtrl::OnFolderCheck(const wxTreeItemId& item) {
    CFileNode* node = NodeOf(item);
    if (!node || m_busy)
        return;
    m_busy = true;
    wxWindow* top = wxGetTopLevelParent(this);
    wxWindowDisabler disableAll(true); // the main window among them
    // The control kit's waiting dialog, modeless, with the text sized 250 x 40 and centred.
    auto* waiting = new CWaitingDlg(top);
    waiting->text = "Please wait a minute for there are too many files in the directory you selected.";
    waiting->CreateModeless();
    if (wxStaticText* text = waiting->TextStatic()) {
        // 250 pixels wide, at least 40 high, and high enough for every wrapped line.
        text->SetLabel(ui::FromUtf8(waiting->text));
        text->Wrap(250);
        const int h = std::max(40, text->GetBestSize().y);
        wxSize c = waiting->GetClientSize();
        if (c.y < 36 + h + 10) {
            c.y = 36 + h + 10;
            waiting->SetClientSize(c);
            ApplySkinShape(waiting);
            waiting->Refresh();
        }
        text->SetSize((c.x - 250) / 2, 36 + (c.y - 46 - h) / 2, 250, h);
        waiting->CentreOnParent();
    }
    m_waiting = waiting;
    if (m_waitingObserver)
        m_waitingObserver(waiting);
    if (m_list)
        m_list->FreezeViews(true);
    Freeze();
    // The worker changes only nodes; nothing here reads them until it ends.
    std::atomic<bool> done{false};
    if (!platform::RunWorker(
            done, [node] { ToggleCheckState(node, false); }, 10))
        ToggleCheckState(node, false); // no thread to be had: the change is made here instead
    Thaw();
    RefreshSubtree(item);
    if (m_list)
        m_list->FreezeViews(false);
    m_waiting = nullptr;
    waiting->Destroy();
    m_busy = false;
    wxCommandEvent ev(EVT_FILETREE_CHECKS_CHANGED);
    ev.SetEventObject(this);
    ProcessWindowEvent(ev);
}

void CFileTreeCtrl::OnSelChanged(wxTreeEvent& e) {
    if (m_list && !m_busy)
        m_list->SetFolder(NodeOf(e.GetItem()), m_root);
}

void CFileTreeCtrl::OnStateClick(wxTreeEvent& e) { OnFolderCheck(e.GetItem()); }

void CFileTreeCtrl::OnLeftDown(wxMouseEvent& e) {
    int flags = 0;
    const wxTreeItemId item = HitTest(e.GetPosition(), flags);
    if (item.IsOk() && (flags & wxTREE_HITTEST_ONITEMSTATEICON)) {
        OnFolderCheck(item);
        return;
    }
    e.Skip();
}

void CFileTreeCtrl::OnKeyDown(wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_SPACE)
        return;
    e.Skip();
}

void CFileTreeCtrl::OnKeyUp(wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_SPACE) {
        OnFolderCheck(GetSelection());
        return;
    }
    e.Skip();
}
