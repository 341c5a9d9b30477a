#include "tools/windows/SettingsDialog.h"

#include "ui/controls/DrawHelpers.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcmemory.h>
#include <wx/imaglist.h>

using namespace settingstool;

namespace {

// Tick boxes: unticked, partly ticked, ticked.
wxBitmap TickImage(int state) {
    wxBitmap bitmap(16, 16);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    dc.SetPen(wxPen(wxColour(28, 81, 128)));
    dc.SetBrush(*wxWHITE_BRUSH);
    dc.DrawRectangle(2, 2, 12, 12);
    if (state == RawTypeTree::kPartly) {
        dc.SetBrush(wxBrush(wxColour(115, 174, 38)));
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.DrawRectangle(5, 5, 6, 6);
    } else if (state == RawTypeTree::kTicked) {
        dc.SetPen(wxPen(wxColour(33, 161, 33), 2));
        dc.DrawLine(4, 8, 7, 11);
        dc.DrawLine(7, 11, 12, 4);
    }
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

const wxColour kPageColour(239, 239, 239);

}  // namespace

CRawFileTypeTreeCtrl::CRawFileTypeTreeCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                           RawTypeTree* model, IconSource icons)
    : wxTreeCtrl(parent, id, pos, size, wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE),
      m_model(model) {
    auto* states = new wxImageList(16, 16, true, 4);
    states->Add(TickImage(0));  // index 0 unused by the states
    for (int s = 0; s < 3; ++s) states->Add(TickImage(s));
    AssignStateImageList(states);
    wxImageList* normal = nullptr;
    if (icons) normal = new wxImageList(16, 16, true);
    const wxTreeItemId root = AddRoot("types");
    for (const auto& group : m_model->Groups()) {
        int image = -1;
        if (normal) {
            const wxBitmap b = icons(group.iconName);
            if (b.IsOk()) image = normal->Add(b);
        }
        const wxTreeItemId g = AppendItem(root, wxString::FromUTF8(group.text), image);
        m_groupItems.push_back(g);
        m_leafItems.emplace_back();
        for (const auto& leaf : group.leaves) {
            int leafImage = -1;
            if (normal) {
                const wxBitmap b = icons(std::string("file.") + wxString::FromUTF8(leaf.text).AfterLast('.').BeforeFirst(')').Lower().ToStdString());
                if (b.IsOk()) leafImage = normal->Add(b);
            }
            m_leafItems.back().push_back(AppendItem(g, wxString::FromUTF8(leaf.text), leafImage));
        }
    }
    if (normal) AssignImageList(normal);
    SyncStates();
    Bind(wxEVT_LEFT_DOWN, &CRawFileTypeTreeCtrl::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CRawFileTypeTreeCtrl::OnLeftDown, this);
}

void CRawFileTypeTreeCtrl::SyncStates() {
    const auto& groups = m_model->Groups();
    for (std::size_t g = 0; g < groups.size(); ++g) {
        SetItemState(m_groupItems[g], groups[g].state + 1);
        for (std::size_t l = 0; l < groups[g].leaves.size(); ++l)
            SetItemState(m_leafItems[g][l], groups[g].leaves[l].state + 1);
    }
}

void CRawFileTypeTreeCtrl::ToggleItem(const wxTreeItemId& item) {
    for (std::size_t g = 0; g < m_groupItems.size(); ++g) {
        if (m_groupItems[g] == item) m_model->ToggleGroup(g);
        for (std::size_t l = 0; l < m_leafItems[g].size(); ++l)
            if (m_leafItems[g][l] == item) m_model->ToggleLeaf(g, l);
    }
    SyncStates();
}

void CRawFileTypeTreeCtrl::OnLeftDown(wxMouseEvent& e) {
    int flags = 0;
    const wxTreeItemId item = HitTest(e.GetPosition(), flags);
    if (item.IsOk() && (flags & wxTREE_HITTEST_ONITEMSTATEICON)) {
        ToggleItem(item);
        return;
    }
    e.Skip();
}

CAdvanceSettingMasterDlg::CAdvanceSettingMasterDlg(wxWindow* parent, const ScanOptions& options, bool rawOnlyAllowed,
                                                   bool typeTreeEnabled, CRawFileTypeTreeCtrl::IconSource icons)
    : CSearchSuperDlg(298, parent), m_model(options, rawOnlyAllowed, typeTreeEnabled), m_icons(std::move(icons)) {}

void CAdvanceSettingMasterDlg::OnInitDialog() {
    using namespace uires;
    const wxSize c = GetClientSize();
    Centre();
    ApplyShape();
    EnableSkin(96, wxRect(8, 2, c.x - 8, 28));
    SetTitle(wxString::FromUTF8(uistr::LoadUiString(uistr::kOptionCaption)));
    auto* close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    close->Create(this, wxID_ANY, wxPoint(c.x - 25, 7));
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() != WXK_F1) {
            e.Skip();
            return;
        }
        if (m_help) m_help(46);
        else ShowHelpTopic(46);
    });

    const wxRect area(30, 68, c.x - 60, c.y - 168);
    const char* tabNames[] = {"NTFS", "FAT", "RAW", "Common"};
    for (int i = 0; i < 4; ++i) {
        auto* tab = new CTextCenterSimpleButtonPlus(0, 1, 1);
        tab->Create(this, wxID_ANY, wxPoint(area.x + 84 * i, area.y - 28));
        tab->SetCaption(tabNames[i]);
        m_tabs[i] = tab;
        m_tabs[i]->Bind(wxEVT_BUTTON, [this, i](wxCommandEvent&) { ShowSettingsPage(i); });
        auto* page = new wxPanel(this, wxID_ANY, area.GetPosition(), area.GetSize(), wxBORDER_SIMPLE);
        page->SetBackgroundColour(kPageColour);
        m_pages.push_back(page);
    }
    auto addCheck = [this](int page, const char* caption, int y, bool SettingsStates::*field, const char* note) {
        auto* box = new wxCheckBox(m_pages[page], wxID_ANY, caption, wxPoint(15, y));
        box->SetFont(ui::PointFont(8, 700));
        if (field) m_bindings.push_back({box, field});
        if (note) {
            auto* text = new wxStaticText(m_pages[page], wxID_ANY, note, wxPoint(35, y + 22), wxSize(m_pages[page]->GetSize().x - 50, 40));
            text->Wrap(m_pages[page]->GetSize().x - 50);
        }
        return box;
    };
    addCheck(kNtfsPage, "Use NTFS files for volume size detection", 15, &SettingsStates::useNtfsVolumeSize,
             "This option may affect the size of located NTFS volumes");
    addCheck(kNtfsPage, "Use $MFT file", 85, &SettingsStates::useMftFile,
             "Check this option to enable $MFT data recovery. In most case, it gives better accuracy of data recovery; "
             "while if $MFT is corrupted, it may lead to incorrect results.");
    addCheck(kNtfsPage, "Show files that belong to $MFT only", 175, &SettingsStates::showMftOnlyFiles,
             "Files not included in $MFT probably are garbage, but in some rare cases check this option would locate good copy of files. ");
    addCheck(kFatPage, "Check DATE field of file descriptors", 15, &SettingsStates::checkFatDate, nullptr);
    addCheck(kFatPage, "Check TIME field of file descriptors", 45, &SettingsStates::checkFatTime,
             "Un-check these option could generate a larger number of files, but file content could become less accurate.");
    addCheck(kFatPage, "Use first FAT copy", 125, &SettingsStates::useFirstFat, nullptr);
    addCheck(kFatPage, "Use second FAT copy", 155, &SettingsStates::useSecondFat,
             "Un-check these options would find more files, especially useful if you are searching for deleted or lost files.");
    addCheck(kCommonPage, "Use Boot Records", 15, &SettingsStates::useBootRecords,
             "Using Boot Records could calculate file system details with better accuracy if the Boot Records is not corrupted. ");

    wxPanel* raw = m_pages[kRawPage];
    m_recoverRaw = new wxCheckBox(raw, wxID_ANY, "Recover RAW files:", wxPoint(15, 10));
    m_recoverRaw->SetFont(ui::PointFont(8, 700));
    m_rawOnly = new wxCheckBox(raw, wxID_ANY, "Recover RAW files only", wxPoint(250, 10));
    m_rawOnly->SetFont(ui::PointFont(8, 700));
    new wxStaticText(raw, wxID_ANY, "Maximal file size:", wxPoint(15, 42));
    m_size = new wxTextCtrl(raw, wxID_ANY, wxString(), wxPoint(140, 38), wxSize(140, -1));
    new wxStaticText(raw, wxID_ANY, "Bytes.", wxPoint(290, 42));
    new wxStaticText(raw, wxID_ANY, "What file types would you like to recover?", wxPoint(15, 75));
    m_tree = new CRawFileTypeTreeCtrl(raw, wxID_ANY, wxPoint(15, 95), wxSize(raw->GetSize().x - 30, raw->GetSize().y - 105),
                                      &m_model.Tree(), m_icons);
    m_recoverRaw->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
        m_model.OnRecoverRawClicked(m_recoverRaw->GetValue());
        ShowStates();
    });
    m_rawOnly->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
        m_model.OnRawOnlyClicked(m_rawOnly->GetValue());
        ShowStates();
    });
    m_size->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        if (m_updating) return;
        m_model.OnMaxSizeChange(std::string(m_size->GetValue().utf8_str()));
        m_updating = true;
        const long at = m_size->GetInsertionPoint();
        m_size->ChangeValue(wxString::FromUTF8(m_model.States().maxSizeText.c_str()));
        m_size->SetInsertionPoint(std::min<long>(at, m_size->GetLastPosition()));
        m_updating = false;
    });

    struct Slot {
        CTextCenterButtonPlus** member;
        int captionId;
        int x;
    } slots[] = {{&m_default, uistr::kDefaultCaption, 30}, {&m_ok, uistr::kOk, c.x - 230}, {&m_cancel, uistr::kCancel, c.x - 125}};
    for (const Slot& s : slots) {
        auto* b = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed, kBmpCaptionDisabled,
                                            s.captionId);
        b->Create(this, wxID_ANY, wxPoint(s.x, c.y - 60));
        *s.member = b;
    }
    m_default->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnDefault(); });
    m_ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });

    ShowStates();
    // The dialog opens on the RAW page; the other tabs are out of reach.
    for (int i : {kNtfsPage, kFatPage, kCommonPage}) {
        m_tabs[i]->Hide();
        m_tabs[i]->Enable(false);
    }
    for (int i = 0; i < 4; ++i) m_pages[i]->Show(i == kRawPage);
    m_tabs[kRawPage]->Enable(false);
    m_current = kRawPage;
}

void CAdvanceSettingMasterDlg::ShowStates() {
    const SettingsStates& s = m_model.States();
    for (const Binding& b : m_bindings) b.box->SetValue(s.*(b.field));
    m_recoverRaw->SetValue(s.recoverRaw);
    m_rawOnly->SetValue(s.recoverRawOnly);
    m_rawOnly->Enable(m_model.RawOnlyEnabled());
    m_size->Enable(m_model.SizeEditEnabled());
    m_updating = true;
    m_size->ChangeValue(wxString::FromUTF8(s.maxSizeText.c_str()));
    m_updating = false;
    m_tree->Enable(m_model.TreeEnabled());
    m_tree->SyncStates();
}

void CAdvanceSettingMasterDlg::ReadStates() {
    SettingsStates& s = m_model.States();
    for (const Binding& b : m_bindings) s.*(b.field) = b.box->GetValue();
}

void CAdvanceSettingMasterDlg::ShowSettingsPage(int page) {
    for (int i = 0; i < 4; ++i) {
        m_pages[i]->Show(i == page);
        m_tabs[i]->Enable(i != page);
        m_tabs[i]->Show();
    }
    m_current = page;
    Refresh();
}

wxCheckBox* CAdvanceSettingMasterDlg::Check(const char* caption) const {
    for (const Binding& b : m_bindings)
        if (b.box->GetLabel() == caption) return b.box;
    if (m_recoverRaw->GetLabel() == caption) return m_recoverRaw;
    if (m_rawOnly->GetLabel() == caption) return m_rawOnly;
    return nullptr;
}

void CAdvanceSettingMasterDlg::OnDefault() {
    m_model.SetDefaults();
    ShowStates();
}

void CAdvanceSettingMasterDlg::OnOK() {
    ReadStates();
    if (m_target) {
        m_model.Store(m_target);
        m_stored = true;
    }
    EndDialog(kResultOk);
}

bool ShowAdvancedSettings(wxWindow* parent, ScanOptions& options, bool rawOnlyAllowed, bool typeTreeEnabled,
                          CRawFileTypeTreeCtrl::IconSource icons, std::function<void(int topic)> help) {
    CAdvanceSettingMasterDlg dialog(parent, options, rawOnlyAllowed, typeTreeEnabled, std::move(icons));
    dialog.SetTarget(&options);
    if (help) dialog.SetHelp(std::move(help));
    dialog.DoModal();
    return dialog.Stored();
}
