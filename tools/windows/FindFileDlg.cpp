#include "tools/windows/FindFileDlg.h"
#include "ui/controls/StringTable.h"

#include "filesystems/FileNode.h"
#include "tools/ImageWizardModel.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/Resources.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/FileListModel.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FileTreeCtrl.h"

#include <wx/stattext.h>

#include <vector>

CFindFileDlg::CFindFileDlg(wxWindow* parent, IFindFileView& view, ToolUiHooks hooks)
    : CSearchSuperDlg(250, parent), m_view(view), m_hooks(std::move(hooks)) {}

void CFindFileDlg::OnInitDialog() {
    using namespace uires;
    const wxSize c = GetClientSize();
    SetTitle(wxString::FromUTF8(uistr::LoadUiString(uistr::kFindFileByName)));
    EnableSkin(106, wxRect((c.x - 295) / 2, 4, 295, 22));
    Centre();
    auto* closeBox = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    closeBox->Create(this, 1156, wxPoint(c.x - 25, 7));
    closeBox->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });

    auto* panel = new wxPanel(this, wxID_ANY, wxPoint(10, 36), wxSize(c.x - 20, c.y - 46));
    panel->SetBackgroundColour(wxColour(241, 241, 241));
    panel->SetFont(ui::PixelFont(14));
    new wxStaticText(panel, wxID_ANY, "Find Name:", wxPoint(10, 14));
    m_name = new wxTextCtrl(panel, 1100, wxString(), wxPoint(90, 10), wxSize(260, -1));
    m_name->SetMaxLength(256);
    m_case = new wxCheckBox(panel, 1101, "Match Case", wxPoint(90, 52), wxSize(105, 22));
    m_whole = new wxCheckBox(panel, 1102, "Whole Word", wxPoint(200, 52), wxSize(110, 22));
    struct Slot {
        CTextCenterButtonPlus** member;
        int id, captionId, y;
    } slots[] = {{&m_findNext, 1103, uistr::kFindNextCaption, 6}, {&m_close, 2, uistr::kCloseCaption, 50}};
    for (const Slot& s : slots) {
        auto* b = new CTextCenterSimpleButtonPlus(0, 1, 1);
        b->SetBitmaps(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed, kBmpCaptionDisabled);
        b->Create(panel, s.id, wxPoint(c.x - 20 - 120, s.y));
        b->SetCaption(wxString::FromUTF8(uistr::LoadUiString(s.captionId)));
        *s.member = b;
    }
    m_findNext->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnFindNext(); });
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });
    Bind(wxEVT_CHAR_HOOK, &CFindFileDlg::OnKey, this);
    m_name->SetFocus();
}

void CFindFileDlg::OnKey(wxKeyEvent& e) {
    switch (e.GetKeyCode()) {
    case WXK_F1:
        m_hooks.Help(kHelpSearch);
        return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
        CallAfter([this] { OnFindNext(); });
        return;
    default:
        e.Skip();
    }
}

void CFindFileDlg::OnFindNext() {
    const int message =
        m_state.OnFindNext(m_view, ui::ToUtf8(m_name->GetValue()), m_case->GetValue(), m_whole->GetValue());
    if (message == 0)
        return;
    m_hooks.Message(kMbInformation, kMbOk, message);
    EndDialog(kResultCancel);
}

CFileViewFindAdapter::CFileViewFindAdapter(CFileTreeCtrl* tree, CFileListCtrl* list) : m_tree(tree), m_list(list) {
    if (!m_tree->GetRootItem().IsOk())
        return;
    std::vector<wxTreeItemId> work{m_tree->GetRootItem()};
    while (!work.empty()) {
        const wxTreeItemId item = work.back();
        work.pop_back();
        if (CFileNode* node = m_tree->NodeOf(item))
            m_items.emplace(node, item);
        wxTreeItemIdValue cookie;
        for (wxTreeItemId c = m_tree->GetFirstChild(item, cookie); c.IsOk(); c = m_tree->GetNextChild(item, cookie))
            work.push_back(c);
    }
}

wxTreeItemId CFileViewFindAdapter::ItemOf(const CFileNode* folder) const {
    auto it = m_items.find(folder);
    return it == m_items.end() ? wxTreeItemId() : it->second;
}

long CFileViewFindAdapter::RowCount() const { return static_cast<long>(m_list->Model().GetCount()); }
long CFileViewFindAdapter::SelectedRow() const { return m_list->GetSelectedIndex(); }
CFileNode* CFileViewFindAdapter::RowNode(long row) const { return m_list->GetFileAt(row); }

void CFileViewFindAdapter::LocateFile(CFileNode* node) {
    if (!node)
        return;
    if (m_list->Model().IndexOf(node) < 0 && node->m_pParent && ItemOf(node->m_pParent).IsOk())
        m_tree->SelectNode(node->m_pParent);
    m_list->LocateFile(node);
}

CFileNode* CFileViewFindAdapter::SelectedFolder() const {
    const wxTreeItemId item = m_tree->GetSelection();
    return item.IsOk() ? m_tree->NodeOf(item) : nullptr;
}

void CFileViewFindAdapter::SelectFolder(CFileNode* folder) {
    m_tree->SelectNode(folder);
    if (m_list->Model().GetFolder() != folder)
        m_list->SetFolder(folder, m_list->Model().GetRoot());
}

CFileNode* CFileViewFindAdapter::FirstRootFolder() const {
    if (!m_tree->GetRootItem().IsOk())
        return nullptr;
    wxTreeItemIdValue cookie;
    const wxTreeItemId first = m_tree->GetFirstChild(m_tree->GetRootItem(), cookie);
    return first.IsOk() ? m_tree->NodeOf(first) : nullptr;
}

CFileNode* CFileViewFindAdapter::FirstChildFolder(CFileNode* folder) const {
    const wxTreeItemId item = ItemOf(folder);
    if (!item.IsOk())
        return nullptr;
    wxTreeItemIdValue cookie;
    const wxTreeItemId child = m_tree->GetFirstChild(item, cookie);
    return child.IsOk() ? m_tree->NodeOf(child) : nullptr;
}

CFileNode* CFileViewFindAdapter::NextSiblingFolder(CFileNode* folder) const {
    const wxTreeItemId item = ItemOf(folder);
    const wxTreeItemId next = item.IsOk() ? m_tree->GetNextSibling(item) : wxTreeItemId();
    return next.IsOk() ? m_tree->NodeOf(next) : nullptr;
}

CFileNode* CFileViewFindAdapter::ParentFolder(CFileNode* folder) const {
    const wxTreeItemId item = ItemOf(folder);
    const wxTreeItemId parent = item.IsOk() ? m_tree->GetItemParent(item) : wxTreeItemId();
    if (!parent.IsOk() || parent == m_tree->GetRootItem())
        return nullptr;
    return m_tree->NodeOf(parent);
}

void ShowFindFileDialog(wxWindow* parent, IFindFileView& view, ToolUiHooks hooks) {
    CFindFileDlg dialog(parent, view, std::move(hooks));
    dialog.DoModal();
}

void ShowFindFileDialog(wxWindow* parent, CFileTreeCtrl* tree, CFileListCtrl* list, ToolUiHooks hooks) {
    CFileViewFindAdapter view(tree, list);
    ShowFindFileDialog(parent, view, std::move(hooks));
}
