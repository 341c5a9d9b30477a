#include "tools/windows/SearchFileDlg.h"
#include "ui/controls/StringTable.h"

#include "filesystems/FileNode.h"
#include "platform/FileTypeMap.h"
#include "tools/ImageWizardModel.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/Resources.h"
#include "ui/controls/UiCommon.h"
#include "ui/views/wx/FileTypeIcons.h"

#include <wx/datetime.h>
#include <wx/stattext.h>
#include <wx/utils.h>
#include <wx/valtext.h>

namespace {

const wxColour kPanelColour(241, 241, 241);

wxStaticText* Label(wxWindow* parent, const char* text, wxPoint at) {
    auto* t = new wxStaticText(parent, wxID_ANY, wxString::FromUTF8(text), at);
    t->SetFont(ui::PixelFont(14));
    return t;
}

// A wxDateTime's calendar date and time of day as picked, without any time-zone conversion.
bool PickedTime(const wxDatePickerCtrl* date, const wxTimePickerCtrl* time, FileTime* out) {
    const wxDateTime d = date->GetValue();
    int h = 0, m = 0, s = 0;
    if (!d.IsValid() || !time->GetTime(&h, &m, &s))
        return false;
    return FileTimeFromCalendar(d.GetYear(), static_cast<int>(d.GetMonth()) + 1, d.GetDay(), h, m, s, out);
}

} // namespace

CSearchFileDlg::CSearchFileDlg(wxWindow* parent, CFileNode* root, CFileNode* currentFolder, SearchResult* result,
                               ToolUiHooks hooks)
    : CSearchSuperDlg(251, parent), m_root(root), m_folder(currentFolder ? currentFolder : root), m_result(result),
      m_hooks(std::move(hooks)) {}

wxPanel* CSearchFileDlg::MakePanel(int height) {
    auto* panel = new wxPanel(this, wxID_ANY, wxPoint(10, 31), wxSize(kWidth - 20, height));
    panel->SetBackgroundColour(kPanelColour);
    panel->SetFont(ui::PixelFont(14));
    m_panels.push_back(panel);
    m_visible.push_back(1);
    return panel;
}

wxCheckBox* CSearchFileDlg::MakeHeader(int panel, int target, const char* caption) {
    wxPanel* p = MakePanel(26);
    auto* box = new wxCheckBox(p, wxID_ANY, wxString::FromUTF8(caption), wxPoint(8, 3), wxSize(kWidth - 40, 20));
    box->SetFont(ui::PixelFont(14, 700));
    box->Bind(wxEVT_CHECKBOX, [this, target](wxCommandEvent&) { TogglePanel(target); });
    m_headers[panel] = box;
    return box;
}

wxCheckBox* CSearchFileDlg::HeaderCheck(int panel) const {
    const int header = panel % 2 == 0 && panel > 0 ? panel - 1 : panel;
    return header >= 0 && header < kPanelCount ? m_headers[header] : nullptr;
}

wxTextCtrl* CSearchFileDlg::NumberEdit(wxWindow* panel, wxPoint at, int width, long long low, long long high,
                                       long long value, bool dateControl) {
    auto* edit = new wxTextCtrl(panel, wxID_ANY, wxString::Format("%lld", value), at, wxSize(width, -1), 0,
                                wxTextValidator(wxFILTER_DIGITS));
    edit->SetMaxLength(10);
    auto* spin = new wxSpinButton(panel, wxID_ANY, wxPoint(at.x + width + 2, at.y), wxDefaultSize,
                                  wxSP_VERTICAL | wxSP_ARROW_KEYS);
    spin->SetRange(static_cast<int>(low), static_cast<int>(high));
    spin->SetValue(static_cast<int>(value));
    spin->Bind(wxEVT_SPIN, [edit](wxSpinEvent& e) { edit->ChangeValue(wxString::Format("%d", e.GetPosition())); });
    edit->Bind(wxEVT_TEXT, [edit, spin, low, high](wxCommandEvent&) {
        long long v = 0;
        if (edit->GetValue().ToLongLong(&v) && v >= low && v <= high)
            spin->SetValue(static_cast<int>(v));
    });
    if (dateControl) {
        m_dateControls.push_back(edit);
        m_dateControls.push_back(spin);
    }
    return edit;
}

void CSearchFileDlg::OnInitDialog() {
    using namespace uires;
    SetTitle(wxString::FromUTF8(uistr::LoadUiString(uistr::kSearchFilesCaption)));
    EnableSkin(81, wxRect((kWidth - 198) / 2, 4, 198, 22));
    auto* close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    close->Create(this, 1156, wxPoint(kWidth - 25, 7));
    m_closeBox = close;
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });

    // 0: name, auto select, location.
    {
        wxPanel* p = MakePanel(150);
        Label(p, "File Name, part of file name or file mask:", wxPoint(8, 6));
        m_name = new wxTextCtrl(p, 1101, wxString(), wxPoint(8, 26), wxSize(kWidth - 40, -1));
        m_name->SetMaxLength(256);
        m_autoSelect = new wxCheckBox(p, 1102, "Auto select files", wxPoint(8, 60), wxSize(200, 22));
        Label(p, "Search location:", wxPoint(8, 88));
        m_location = new wxChoice(p, 1103, wxPoint(120, 84), wxSize(kWidth - 152, -1));
        for (const SearchLocation& loc : SearchLocations(m_folder)) {
            m_location->Append(wxString::FromUTF8(loc.text));
            m_locationNodes.push_back(loc.node);
        }
        if (!m_locationNodes.empty())
            m_location->SetSelection(0);
        auto* more = Label(p, "Additional Search Parameters:", wxPoint(8, 126));
        more->SetFont(ui::PixelFont(14, 700));
    }
    // 1, 2: type.
    MakeHeader(kTypeHeader, kTypePanel, "Type");
    {
        wxPanel* p = MakePanel(40);
        m_type = new wxBitmapComboBox(p, 1131, wxString(), wxPoint(24, 6), wxSize(kWidth - 70, -1), 0, nullptr,
                                      wxCB_READONLY);
        // Filled when the panel first opens: the list is long and its pictures take a while.
    }
    // 3, 4: date.
    MakeHeader(kDateHeader, kDatePanel, "Date");
    {
        wxPanel* p = MakePanel(172);
        m_dateKind = new wxChoice(p, 1109, wxPoint(24, 4), wxSize(130, -1));
        for (const char* kind : {"Modified", "Created", "Accessed"})
            m_dateKind->Append(kind);
        m_dateKind->SetSelection(0);
        const int rows[] = {40, 72, 104};
        m_dateRadio[0] = new wxRadioButton(p, 1110, "in last", wxPoint(24, rows[0]), wxDefaultSize, wxRB_GROUP);
        m_months = NumberEdit(p, wxPoint(100, rows[0] - 4), 60, 1, 120, 1, true);
        Label(p, "month.", wxPoint(250, rows[0]));
        m_dateRadio[1] = new wxRadioButton(p, 1111, "in last", wxPoint(24, rows[1]));
        m_days = NumberEdit(p, wxPoint(100, rows[1] - 4), 60, 1, 31, 1, true);
        Label(p, "days.", wxPoint(250, rows[1]));
        m_dateRadio[2] = new wxRadioButton(p, 1112, "from", wxPoint(24, rows[2]));
        const wxDateTime now = wxDateTime::Now();
        m_fromDate = new wxDatePickerCtrl(p, 1113, now, wxPoint(100, rows[2] - 6), wxSize(140, -1));
        m_fromTime = new wxTimePickerCtrl(p, 1114, now, wxPoint(246, rows[2] - 6), wxSize(150, -1));
        Label(p, "up to", wxPoint(44, rows[2] + 34));
        m_toDate = new wxDatePickerCtrl(p, 1115, now, wxPoint(100, rows[2] + 28), wxSize(140, -1));
        m_toTime = new wxTimePickerCtrl(p, 1116, now, wxPoint(246, rows[2] + 28), wxSize(150, -1));
        for (wxWindow* w : std::initializer_list<wxWindow*>{m_fromDate, m_fromTime, m_toDate, m_toTime})
            m_dateControls.push_back(w);
        for (int i = 0; i < 3; ++i)
            m_dateRadio[i]->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) { EnableDateChoice(i); });
        m_dateRadio[0]->SetValue(true);
        EnableDateChoice(0);
    }
    // 5, 6: size.
    MakeHeader(kSizeHeader, kSizePanel, "Size");
    {
        wxPanel* p = MakePanel(40);
        m_sizeKind = new wxChoice(p, 1117, wxPoint(24, 6), wxSize(120, -1));
        m_sizeKind->Append("less than");
        m_sizeKind->Append("more than");
        m_sizeKind->SetSelection(0);
        m_size = NumberEdit(p, wxPoint(150, 4), 110, 0, 1000000000, 0, false);
        Label(p, "KB", wxPoint(340, 10));
    }
    // 7, 8: other parameters.
    MakeHeader(kOtherHeader, kOtherPanel, "Other Parameters:");
    {
        wxPanel* p = MakePanel(56);
        m_case = new wxCheckBox(p, 1125, "Case sensitive", wxPoint(24, 6), wxSize(200, 22));
        m_encrypted = new wxCheckBox(p, 1126, "Include encrypted files", wxPoint(24, 30), wxSize(220, 22));
        m_encrypted->SetValue(true);
    }
    // 9: Find and Cancel.
    {
        wxPanel* p = MakePanel(44);
        struct Slot {
            CTextCenterButtonPlus** member;
            int id, captionId, x;
        } slots[] = {{&m_find, 1, uistr::kFindCaption, kWidth - 250}, {&m_cancel, 2, uistr::kCancel, kWidth - 135}};
        for (const Slot& s : slots) {
            auto* b = new CTextCenterSimpleButtonPlus(0, 1, 1);
            b->SetBitmaps(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed, kBmpCaptionDisabled);
            b->Create(p, s.id, wxPoint(s.x, 4));
            b->SetCaption(wxString::FromUTF8(uistr::LoadUiString(s.captionId)));
            *s.member = b;
        }
        m_find->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnSearch(); });
        m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });
    }
    for (int hidden : {kTypePanel, kDatePanel, kSizePanel, kOtherPanel})
        m_visible[static_cast<std::size_t>(hidden)] = 2;
    Bind(wxEVT_CHAR_HOOK, &CSearchFileDlg::OnKey, this);
    LayoutPanels();
    Centre();
    m_name->SetFocus();
}

void CSearchFileDlg::OnKey(wxKeyEvent& e) {
    switch (e.GetKeyCode()) {
    case WXK_F1:
        m_hooks.Help(kHelpSearch);
        return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
        // Enter is Find, wherever the focus is (the picker pop-ups take their own keys).
        CallAfter([this] { OnSearch(); });
        return;
    default:
        e.Skip();
    }
}

void CSearchFileDlg::LayoutPanels() {
    int y = 31;
    int height = 0;
    for (std::size_t i = 0; i < m_panels.size(); ++i) {
        wxPanel* p = m_panels[i];
        if (m_visible[i] != 1) {
            p->Hide();
            continue;
        }
        p->Move(10, y);
        p->Show();
        y += p->GetSize().y;
        height += p->GetSize().y;
    }
    SetClientSize(kWidth, height + 40);
    ApplyShape();
    Refresh();
    if (m_closeBox)
        m_closeBox->Refresh();
}

void CSearchFileDlg::FillTypes() {
    if (m_typesFilled)
        return;
    m_typesFilled = true;
    if (GetFileTypeMap().empty())
        BuildFileTypeList();
    m_types = SearchTypeEntries(GetFileTypeMap());
    wxArrayString texts;
    for (const SearchTypeEntry& e : m_types)
        texts.Add(wxString::FromUTF8(e.text));
    static_cast<wxItemContainer*>(m_type)->Append(texts);
    // Entries 0 and 1 ("(All Files)" and the generic file) have no picture.
    for (std::size_t i = 2; i < m_types.size(); ++i)
        m_type->SetItemBitmap(static_cast<unsigned>(i),
                              FileTypeIcon(m_types[i].mask.substr(0, m_types[i].mask.find(';')), 16));
    if (!m_types.empty())
        m_type->SetSelection(0);
}

void CSearchFileDlg::TogglePanel(int panel) {
    if (panel < 0 || panel >= kPanelCount)
        return;
    auto& v = m_visible[static_cast<std::size_t>(panel)];
    v = v == 1 ? 2 : 1;
    if (panel == kTypePanel && v == 1)
        FillTypes();
    if (wxCheckBox* header = m_headers[panel - 1])
        header->SetValue(v == 1);
    LayoutPanels();
}

void CSearchFileDlg::EnableDateChoice(int choice) {
    // Month edit and spin, day edit and spin, then the four pickers.
    for (std::size_t i = 0; i < m_dateControls.size(); ++i) {
        const int owner = i < 2 ? 0 : i < 4 ? 1 : 2;
        m_dateControls[i]->Enable(owner == choice);
    }
}

bool CSearchFileDlg::ReadNumber(wxTextCtrl* edit, long long low, long long high, long long* value) {
    long long v = 0;
    if (edit->GetValue().ToLongLong(&v) && v >= low && v <= high) {
        *value = v;
        return true;
    }
    const std::string text =
        "Please enter an integer between " + std::to_string(low) + " and " + std::to_string(high) + ".";
    if (m_hooks.message)
        m_hooks.message(kMbWarning, kMbOk, text);
    edit->SetFocus();
    edit->SelectAll();
    return false;
}

bool CSearchFileDlg::ReadDate(FileSearchCriteria& c) {
    c.dateKind = 1u << m_dateKind->GetSelection();
    long long n = 0;
    if (m_dateRadio[0]->GetValue()) {
        if (!ReadNumber(m_months, 1, 120, &n))
            return false;
        LastMonthsRange(static_cast<int>(n), FileTimeNow(), &c.from, &c.to);
    } else if (m_dateRadio[1]->GetValue()) {
        if (!ReadNumber(m_days, 1, 31, &n))
            return false;
        LastDaysRange(static_cast<int>(n), FileTimeNow(), &c.from, &c.to);
    } else {
        if (!PickedTime(m_fromDate, m_fromTime, &c.from) || !PickedTime(m_toDate, m_toTime, &c.to)) {
            if (m_hooks.message)
                m_hooks.message(kMbWarning, kMbOk, "Please enter a valid date.");
            return false;
        }
    }
    return true;
}

bool CSearchFileDlg::ReadSize(FileSearchCriteria& c) {
    long long kb = 0;
    if (!ReadNumber(m_size, 0, 1000000000, &kb))
        return false;
    c.sizeKind = static_cast<std::uint32_t>(m_sizeKind->GetSelection() + 1);
    c.sizeLimit = static_cast<std::uint64_t>(kb) * 1024u;
    return true;
}

void CSearchFileDlg::OnSearch() {
    FileSearchCriteria c;
    c.name = ui::ToUtf8(m_name->GetValue());
    if (c.name.empty())
        c.name = "*";
    c.autoSelect = m_autoSelect->GetValue();
    const int loc = m_location->GetSelection();
    c.location = loc >= 0 && static_cast<std::size_t>(loc) < m_locationNodes.size() ? m_locationNodes[loc] : m_root;
    m_searchText = c.name;
    if (!IsValidSearchName(c.name)) {
        m_hooks.Message(kMbInformation, kMbOk, kSearchBadName);
        EndDialog(kResultCancel);
        return;
    }
    if (m_headers[kTypeHeader]->GetValue()) {
        FillTypes();
        c.flags |= kSearchByType;
        const int sel = m_type->GetSelection();
        if (sel >= 0 && static_cast<std::size_t>(sel) < m_types.size()) {
            c.typeMask = m_types[sel].mask;
            c.typeDisplay = m_types[sel].display;
        }
        m_searchText = c.typeDisplay;
    }
    if (m_headers[kDateHeader]->GetValue()) {
        if (!ReadDate(c))
            return;
        c.flags |= kSearchByDate;
    }
    if (m_headers[kSizeHeader]->GetValue()) {
        if (!ReadSize(c))
            return;
        c.flags |= kSearchBySize;
    }
    if (m_headers[kOtherHeader]->GetValue()) {
        c.flags |= kSearchOther;
        c.caseSensitive = m_case->GetValue();
        c.includeEncrypted = m_encrypted->GetValue();
    }
    m_criteria = c;
    SearchResult found;
    FileSearchStatus status;
    {
        wxBusyCursor wait;
        status = RunFileSearch(c, found);
    }
    if (m_searchText.empty())
        m_searchText = "*";
    if (status == kSearchFound) {
        if (m_result) {
            m_result->nodes.insert(m_result->nodes.end(), found.nodes.begin(), found.nodes.end());
            m_result->count += found.count;
        }
        EndDialog(kResultOk);
        return;
    }
    m_hooks.Message(kMbInformation, kMbOk, kSearchNoMatch);
    EndDialog(kResultCancel);
}

bool ShowFileSearchDialog(wxWindow* parent, CFileNode* root, CFileNode* currentFolder, SearchResult& result,
                          std::string* searchText, ToolUiHooks hooks) {
    CSearchFileDlg dialog(parent, root, currentFolder, &result, std::move(hooks));
    const bool found = dialog.DoModal() == kResultOk;
    if (searchText)
        *searchText = dialog.GetSearchText();
    return found && result.count > 0;
}
