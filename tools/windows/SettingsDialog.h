#pragma once
// The advanced settings dialog ("Option"): NTFS, FAT, RAW and Common pages over a copy of the
// scan options (SettingsModel); only OK writes the copy back. The RAW page holds the type tree.
#include "tools/SettingsModel.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/treectrl.h>

#include <functional>
#include <string>
#include <vector>

// The RAW type tree: groups and types with three-state tick boxes as state images
// (1 unticked, 2 partly ticked, 3 ticked). A click on a box toggles it; a click on the label
// only selects.
class CRawFileTypeTreeCtrl : public wxTreeCtrl {
public:
    using IconSource = std::function<wxBitmap(const std::string& fileName)>;
    CRawFileTypeTreeCtrl(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                         settingstool::RawTypeTree* model, IconSource icons = {});

    // Rebuilds the items' states from the model.
    void SyncStates();
    void ToggleItem(const wxTreeItemId& item);
    wxTreeItemId GroupItem(std::size_t group) const { return m_groupItems[group]; }
    wxTreeItemId LeafItem(std::size_t group, std::size_t leaf) const { return m_leafItems[group][leaf]; }

private:
    void OnLeftDown(wxMouseEvent& e);

    settingstool::RawTypeTree* m_model;
    std::vector<wxTreeItemId> m_groupItems;
    std::vector<std::vector<wxTreeItemId>> m_leafItems;
};

class CAdvanceSettingMasterDlg : public CSearchSuperDlg {
public:
    enum SettingsPage { kNtfsPage = 0, kFatPage = 1, kRawPage = 2, kCommonPage = 3 };

    CAdvanceSettingMasterDlg(wxWindow* parent, const ScanOptions& options, bool rawOnlyAllowed,
                             bool typeTreeEnabled, CRawFileTypeTreeCtrl::IconSource icons = {});

    settingstool::SettingsModel& Model() { return m_model; }
    bool Stored() const { return m_stored; }
    // OK writes the copy into `target` (set before DoModal).
    void SetTarget(ScanOptions* target) { m_target = target; }
    // F1 calls this with the dialog's help topic (46); by default the help book opens.
    void SetHelp(std::function<void(int topic)> help) { m_help = std::move(help); }

    void ShowSettingsPage(int page);
    int CurrentPage() const { return m_current; }
    wxCheckBox* Check(const char* caption) const;
    wxTextCtrl* SizeEdit() const { return m_size; }
    CRawFileTypeTreeCtrl* Tree() const { return m_tree; }
    CTextCenterButtonPlus* OkButton() const { return m_ok; }
    CTextCenterButtonPlus* CancelButton() const { return m_cancel; }

    void OnDefault();
    void OnOK();

protected:
    wxSize InitialClientSize() const override { return wxSize(560, 520); }
    void OnInitDialog() override;

private:
    struct Binding {
        wxCheckBox* box;
        bool settingstool::SettingsStates::*field;
    };
    void ShowStates();
    void ReadStates();

    settingstool::SettingsModel m_model;
    CRawFileTypeTreeCtrl::IconSource m_icons;
    ScanOptions* m_target = nullptr;
    std::function<void(int topic)> m_help;
    bool m_stored = false;
    int m_current = kRawPage;
    std::vector<wxPanel*> m_pages;
    CTextCenterButtonPlus* m_tabs[4] = {};
    std::vector<Binding> m_bindings;
    wxCheckBox* m_recoverRaw = nullptr;
    wxCheckBox* m_rawOnly = nullptr;
    wxTextCtrl* m_size = nullptr;
    CRawFileTypeTreeCtrl* m_tree = nullptr;
    CTextCenterButtonPlus* m_ok = nullptr;
    CTextCenterButtonPlus* m_cancel = nullptr;
    CTextCenterButtonPlus* m_default = nullptr;
    bool m_updating = false;
};

// Runs the dialog modally over `options`; true when OK stored the edited options.
bool ShowAdvancedSettings(wxWindow* parent, ScanOptions& options, bool rawOnlyAllowed, bool typeTreeEnabled,
                          CRawFileTypeTreeCtrl::IconSource icons = {}, std::function<void(int topic)> help = {});
