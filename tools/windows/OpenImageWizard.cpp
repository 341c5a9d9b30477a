#include "tools/windows/OpenImageWizard.h"

#include "tools/ImageWizardModel.h"
#include "ui/controls/MessageBoxLayout.h"

using namespace imagetool;

namespace {
const char* const kImageWildcard = "Oxtavo Data Recovery ImageFile(*.edi)|*.edi";
const char* const kSliceWildcard = "Oxtavo Data Recovery DISKIMAGE FILE(*.edf)|*.edf";
wxString Wx(const std::string& s) { return wxString::FromUTF8(s.c_str()); }
}  // namespace

COpenDiskImageMasterDlg::COpenDiskImageMasterDlg(wxWindow* parent, ToolUiHooks hooks)
    : CToolWizardFrame(309, parent, std::move(hooks)) {}

void COpenDiskImageMasterDlg::OnInitDialog() {
    BuildFrame(4, 60, 170);
    wxPanel* p = Page(kInfo);
    PageText(p, "Welcome to Open Disk Image Wizard", 20, 20, -1, true);
    PageText(p, "To continue,click next", 20, 120);

    p = Page(kPath);
    PageText(p, "Disk Image file name:", 20, 30);
    m_path = new wxTextCtrl(p, wxID_ANY, wxString(), wxPoint(20, 55), wxSize(380, -1));
    CTextCenterButtonPlus* browse = KitButton(p, "PATH>>>", wxPoint(410, 55));
    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        std::string chosen = m_hooks.chooseFile ? m_hooks.chooseFile(false, "", kImageWildcard) : "";
        if (chosen == "*.edi") chosen.clear();
        if (!chosen.empty()) m_path->ChangeValue(Wx(chosen));
    });
    m_path->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        if (m_path->GetValue().utf8_str().length() > 200) m_hooks.Message(kMbInformation, kMbOk, 180);
    });

    p = Page(kErrors);
    m_list = new wxListCtrl(p, wxID_ANY, wxPoint(10, 5), wxSize(360, 160), wxLC_REPORT | wxLC_HRULES | wxLC_VRULES | wxLC_SINGLE_SEL);
    m_list->AppendColumn("#", wxLIST_FORMAT_LEFT, 30);
    m_list->AppendColumn("slice", wxLIST_FORMAT_LEFT, 80);
    m_list->AppendColumn("Location", wxLIST_FORMAT_LEFT, 240);
    m_list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) { SelectRow(static_cast<int>(e.GetIndex())); });
    m_add = KitButton(p, "Add slice", wxPoint(390, 10), true);
    m_remove = KitButton(p, "Remove", wxPoint(390, 55), true);
    m_locate = KitButton(p, "Locate slice", wxPoint(390, 100), true);
    m_add->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnAdd(); });
    m_remove->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnRemove(); });
    m_locate->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnLocate(); });

    p = Page(kSuccess);
    PageText(p, "Disk image opened successfully", 20, 20, -1, true);
    PageText(p, "You can start working with opened Disk image in the list", 20, 60);
    PageText(p, "Click Next to close wizard", 20, 100);
    ShowStep(kInfo, 169);
}

void COpenDiskImageMasterDlg::ShowStep(int page, int bannerId) {
    m_page = page;
    ShowPage(page);
    SetBanner(bannerId);
    BackButton()->Enable(page == kPath || page == kErrors);
    UpdateButtons();
}

void COpenDiskImageMasterDlg::UpdateButtons() {
    if (m_page == kErrors) NextButton()->Enable(m_rows.Complete());
    else NextButton()->Enable(true);
    if (m_remove) {
        const bool row = m_selected >= 0 && m_selected < static_cast<int>(m_rows.Rows().size());
        m_remove->Enable(row);
        m_locate->Enable(row);
    }
}

void COpenDiskImageMasterDlg::OnNext() {
    switch (m_page) {
    case kInfo: ShowStep(kPath, 171); break;
    case kPath: OpenImage(); break;
    case kErrors:
        if (!m_rows.Complete()) return;
        if (!WriteSliceList(m_listPath, m_rows.Paths())) {
            m_hooks.Message(kMbInformation, kMbOk, 179);
            return;
        }
        ShowStep(kSuccess, 177);
        BackButton()->Enable(false);
        break;
    default:
        m_result.opened = true;
        EndDialog(kResultCancel);
        break;
    }
}

void COpenDiskImageMasterDlg::OnBack() {
    if (m_page == kPath) ShowStep(kInfo, 169);
    else if (m_page == kErrors) {
        m_rows.Clear();
        m_selected = -1;
        RefreshList();
        ShowStep(kPath, 170);
    }
}

void COpenDiskImageMasterDlg::OnCancelPressed() {
    if (m_hooks.Message(kMbQuestion, kMbOk | kMbCancel, 178) == 1) EndDialog(kResultCancel);
}

void COpenDiskImageMasterDlg::OpenImage() {
    const std::string path(m_path->GetValue().utf8_str());
    m_result.imagePath = path;
    switch (CheckImageToOpen(path, &m_listPath)) {
    case imagetool::OpenImageResult::NotAnImage:
        m_hooks.Message(kMbInformation, kMbOk, 176);
        break;
    case imagetool::OpenImageResult::NoSliceList:
        m_hooks.Message(kMbInformation, kMbOk, 174);
        ShowStep(kPath, 175);
        break;
    case imagetool::OpenImageResult::Malformed:
        m_hooks.Message(kMbInformation, kMbOk, 179);
        break;
    case imagetool::OpenImageResult::MissingSlice:
        m_selected = -1;
        if (!m_rows.Fill(m_listPath)) {
            m_hooks.Message(kMbInformation, kMbOk, 179);
            break;
        }
        RefreshList();
        ShowStep(kErrors, 172);
        break;
    case imagetool::OpenImageResult::Complete:
        ShowStep(kSuccess, 173);
        BackButton()->Enable(false);
        break;
    }
}

void COpenDiskImageMasterDlg::RefreshList() {
    m_list->DeleteAllItems();
    long i = 0;
    for (const auto& row : m_rows.Rows()) {
        m_list->InsertItem(i, wxString::Format("%ld", i));
        m_list->SetItem(i, 1, row.valid ? "VALID" : "INVALID");
        m_list->SetItem(i, 2, Wx(row.path));
        ++i;
    }
    UpdateButtons();
}

void COpenDiskImageMasterDlg::SelectRow(int row) {
    m_selected = row;
    UpdateButtons();
}

void COpenDiskImageMasterDlg::OnAdd() {
    const std::string path = m_hooks.chooseFile ? m_hooks.chooseFile(false, "*.edf", kSliceWildcard) : "";
    if (path.empty()) return;
    if (m_rows.AddSlice(path) == SliceListRows::Pick::DoesNotOpen) m_hooks.Message(kMbInformation, kMbOk, 166);
    RefreshList();
}

void COpenDiskImageMasterDlg::OnLocate() {
    if (m_selected < 0) return;
    const std::string path = m_hooks.chooseFile ? m_hooks.chooseFile(false, "*.edf", kSliceWildcard) : "";
    if (path.empty()) return;
    if (m_rows.LocateSlice(static_cast<std::size_t>(m_selected), path) == SliceListRows::Pick::DoesNotOpen)
        m_hooks.Message(kMbInformation, kMbOk, 167);
    RefreshList();
}

void COpenDiskImageMasterDlg::OnRemove() {
    if (m_selected < 0) return;
    m_rows.Remove(static_cast<std::size_t>(m_selected));
    m_selected = -1;
    RefreshList();
}

OpenDiskImageResult OpenDiskImage(wxWindow* parent, ToolUiHooks hooks) {
    COpenDiskImageMasterDlg dialog(parent, std::move(hooks));
    dialog.DoModal();
    return dialog.Result();
}
