#include "app/windows/FileSelectPage.h"
#include "ui/controls/ScrollWnd.h"

#include "app/windows/AppBitmaps.h"
#include "filesystems/FileNode.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/ExSplitterWnd.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/TabCtrlPlus.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/wx/FileListCtrl.h"
#include "ui/views/wx/FileTreeCtrl.h"
#include "tools/windows/FindFileDlg.h"

#include <wx/menu.h>

namespace {
const wxColour kBand(196, 199, 204);

struct ButtonDesc {
    int id, caption, x, bitmap;
};
const ButtonDesc kButtons[] = {
    {CFileSelectPage::kIdFindFile, uistr::kFindFileCaption, 48, appres::kBmpFindFile},
    {CFileSelectPage::kIdSearchFiles, uistr::kSearchFilesCaption, 148, appres::kBmpSearchFiles},
    {CFileSelectPage::kIdPreview, uistr::kPreviewCaption, 279, appres::kBmpPreview},
    {CFileSelectPage::kIdThumbnail, uistr::kThumbnailCaption, 379, appres::kBmpThumbnail},
    {CFileSelectPage::kIdSelectAll, uistr::kSelectAllCaption, 495, appres::kBmpSelectAll},
    {CFileSelectPage::kIdDeselectAll, uistr::kDeselectAllCaption, 610, appres::kBmpDeselectAll},
    {CFileSelectPage::kIdState, uistr::kStateCaption, 735, appres::kBmpState},
};
// The search tab's list as the find sees it: its rows, no folder tree.
class CSearchListFindAdapter : public CFolderlessFindView {
public:
    explicit CSearchListFindAdapter(CFileListCtrl* list) : m_list(list) {}
    long RowCount() const override { return static_cast<long>(m_list->Model().GetCount()); }
    long SelectedRow() const override { return m_list->GetSelectedIndex(); }
    CFileNode* RowNode(long row) const override { return m_list->GetFileAt(row); }
    void LocateFile(CFileNode* node) override {
        // Only rows of the list: the search list never turns into a folder's list.
        if (node && m_list->Model().IndexOf(node) >= 0)
            m_list->LocateFile(node);
    }

private:
    CFileListCtrl* m_list;
};

} // namespace

CFileSelectPage::CFileSelectPage(wxWindow* parent, CFileSelectController& controller)
    : CWizardPage(parent, kPageFileSelect), m_controller(controller) {
    for (const ButtonDesc& d : kButtons)
        m_buttons[d.id] = CreateToolButton(this, d.id, d.bitmap, d.caption);
    m_buttons[kIdState]->Hide();
    m_buttons[kIdState]->Disable();

    m_tabs = new CTabCtrlPlus;
    m_tabs->Create(this, kIdTabs, wxPoint(49, 52), wxSize(600, 300));
    m_splitter = new CExSplitterWnd;
    m_splitter->layout.orientation = 2;
    m_splitter->layout.fixedPane = 0;
    m_splitter->layout.fixedSize = 220;
    m_splitter->layout.minSize = 120;
    m_splitter->layout.maxSize = 600;  // room for long RAW folder names
    m_splitter->Create(m_tabs, wxID_ANY, wxDefaultPosition, wxSize(600, 280));
    m_tree = new CFileTreeCtrl(m_splitter);
    m_files = new CFileListCtrl(m_splitter);
    m_tree->SetFileList(m_files);
    m_splitter->SetPanes(m_tree, m_files);
    m_tabs->AddPage(m_splitter);
    m_tabs->AddTab("Files", 0);
    m_searchList = new CFileListCtrl(m_tabs);
    m_searchList->SetOffersLocate(true);
    m_tabs->AddPage(m_searchList);
    m_tabs->SetCurSel(0);
    m_tabs->Bind(EVT_UI_NOTIFY, &CFileSelectPage::OnTabNotify, this);

    m_controller.Page().onChanged = [this] { ShowModel(); };
    Bind(wxEVT_BUTTON, &CFileSelectPage::OnCommand, this);
    Bind(wxEVT_MENU, &CFileSelectPage::OnCommand, this);
    Bind(EVT_FILELIST_CHECKS_CHANGED, [this](wxCommandEvent&) {
        m_controller.Page().RefreshStatus();
        m_tree->RefreshCheckStates();
    });
    Bind(EVT_FILETREE_CHECKS_CHANGED, [this](wxCommandEvent&) { m_controller.Page().RefreshStatus(); });
    // The folder tree's menu: "Properties" of the folder under the mouse.
    m_tree->Bind(wxEVT_TREE_ITEM_MENU, [this](wxTreeEvent& e) {
        if (e.GetItem().IsOk())
            m_tree->SelectItem(e.GetItem());
        CXPMenu menu;
        menu.Append(kIdFolderProperties, "Properties");
        menu.PopupAtPointer(m_tree);
    });
    ShowModel();
}

CFileSelectPage::~CFileSelectPage() { m_controller.Page().onChanged = nullptr; }

CTextSmallIconButtonPlus* CFileSelectPage::Button(int id) const {
    auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

void CFileSelectPage::ShowModel() {
    CFileSelectPageModel& model = m_controller.Page();
    auto* root = dynamic_cast<CFileSystemNode*>(model.Root());
    if (root != m_tree->GetRootNode()) {
        m_files->ClearFiles();
        m_files->SetDevice(model.Device());
        m_tree->SetRootNode(root);
        if (root && root->m_pFirstChild) {
            // The first file system shows its files at once.
            wxTreeItemIdValue cookie;
            const wxTreeItemId first = m_tree->GetFirstChild(m_tree->GetRootItem(), cookie);
            if (first.IsOk())
                m_tree->SelectItem(first);
        }
    }
    if (model.SearchGeneration() != m_searchShown)
        ShowSearch();
    Refresh();
}

void CFileSelectPage::ShowSearch() {
    CFileSelectPageModel& model = m_controller.Page();
    m_searchShown = model.SearchGeneration();
    if (m_tabs->Model().TabCount() > 1)
        m_tabs->DeleteTab(1);
    m_searchList->ClearFiles();
    if (!model.HasSearch()) {
        m_tabs->SetCurSel(0);
        return;
    }
    m_searchList->SetDevice(model.Device());
    m_searchList->SetFileItems(dynamic_cast<CFileSystemNode*>(model.Root()), model.SearchNodes());
    m_tabs->AddTab(model.SearchCaption().c_str(), 1);
    m_tabs->SetCurSel(1);
}

void CFileSelectPage::OnTabNotify(wxCommandEvent& e) {
    // A closed search tab ends the search; any change of tab refreshes the totals.
    if (m_tabs->Model().TabCount() < 2 && m_controller.Page().HasSearch()) {
        m_controller.Page().ClearSearch();
    } else if (m_tabs->GetCurSel() == 0) {
        m_tree->RefreshCheckStates();
        m_files->RefreshViews();
    }
    m_controller.Page().RefreshStatus();
    e.Skip(false);
}

CFileListCtrl* CFileSelectPage::ActiveList() const { return m_tabs->GetCurSel() == 1 ? m_searchList : m_files; }

CFileNode* CFileSelectPage::SelectedFile() const {
    CFileListCtrl* list = ActiveList();
    const long index = list->GetSelectedIndex();
    return index >= 0 ? list->GetFileAt(index) : nullptr;
}

void CFileSelectPage::LocateInMainList() {
    CFileNode* node = SelectedFile();
    if (!node || m_tabs->GetCurSel() != 1)
        return;
    CFileNode* folder = node->m_pParent;
    if (folder)
        m_tree->SelectNode(folder);
    m_tabs->SetCurSel(0);
    m_files->LocateFile(node);
}

void CFileSelectPage::ToggleThumbnails() {
    CTextSmallIconButtonPlus* b = m_buttons[kIdThumbnail];
    CFileListCtrl* list = ActiveList();
    const bool toThumbnails = !list->IsThumbnailView();
    if (toThumbnails)
        list->ShowThumbnailView();
    else
        list->ShowListView();
    const int first = toThumbnails ? appres::kBmpDetails : appres::kBmpThumbnail;
    b->SetButtonBitmaps(first, first + 1, first + 2, first + 3);
    b->SetCaptionText(ui::FromUtf8(uistr::UiString(toThumbnails ? uistr::kDetailsCaption : uistr::kThumbnailCaption)));
    // The caption's width changed: the row is laid out again.
    LayoutPage(GetClientSize().x, GetClientSize().y);
    b->Refresh();
}

void CFileSelectPage::OnCommand(wxCommandEvent& e) {
    switch (e.GetId()) {
    case kIdPreview:
    case ID_FILELIST_PREVIEW: m_controller.Preview(SelectedFile()); break;
    case ID_FILELIST_RECOVER: m_controller.RecoverSingleFile(SelectedFile()); break;
    case kIdThumbnail: ToggleThumbnails(); break;
    case kIdSelectAll: ActiveList()->CheckAll(true); break;
    case kIdDeselectAll: ActiveList()->CheckAll(false); break;
    case kIdSearchFiles: {
        const wxTreeItemId item = m_tree->GetSelection();
        m_controller.SearchFiles(item.IsOk() ? m_tree->NodeOf(item) : nullptr);
        break;
    }
    case kIdFindFile: {
        CFileViewFindAdapter view(m_tree, m_files);
        CSearchListFindAdapter searchView(m_searchList);
        m_controller.FindFile(m_tabs->GetCurSel(), view, searchView);
        break;
    }
    case ID_FILELIST_LOCATE: LocateInMainList(); break;
    case ID_FILELIST_PROPERTIES: m_controller.ShowProperties(SelectedFile()); break;
    case kIdFolderProperties: {
        const wxTreeItemId item = m_tree->GetSelection();
        m_controller.ShowProperties(item.IsOk() ? m_tree->NodeOf(item) : nullptr);
        break;
    }
    default: e.Skip(); return;
    }
}

void CFileSelectPage::LayoutPage(int cx, int cy) {
    const auto at = [this](int index) { return std::pair<CButtonPlus*, int>(m_buttons[kButtons[index].id], kButtons[index].x); };
    PlaceButtonRow({at(0), at(1), at(2), at(3), at(4), at(5), at(6)}, 5);
    m_tabs->SetSize(49, 52, std::max(0, cx - 98), std::max(0, cy - 78));
}

void CFileSelectPage::Paint(wxDC& dc) {
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kBand));
    dc.DrawRoundedRectangle(43, 41, s.x - 86, s.y - 41, 10);
    dc.DrawRectangle(43, 60, s.x - 86, s.y - 60);
    dc.SetFont(ui::PixelFont(15, 400, "Arial"));
    dc.SetTextForeground(wxColour(40, 44, 52));
    const wxRect band(56, s.y - 26, std::max(0, s.x - 112), 26);
    const CFileSelectPageModel& model = m_controller.Page();
    ui::DrawTextIn(dc, ui::FromUtf8(model.LeftStatus()), band, ui::kTextSingleLine | ui::kTextVCenter);
    ui::DrawTextIn(dc, ui::FromUtf8(model.RightStatus()), band, ui::kTextSingleLine | ui::kTextVCenter | ui::kTextRight);
}
