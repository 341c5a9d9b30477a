#pragma once
// The file search dialog of the file-selection page: a name or mask, an optional type, date,
// size and other-parameter panel each opened by its header box, and Find. The panels stack
// below each other and the dialog grows and shrinks with them. Find runs the search of
// FileSearch.h over the chosen location; the dialog ends with OK when it found something.
#include "tools/FileSearch.h"
#include "tools/windows/ToolDialogs.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/bmpcbox.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/radiobut.h>
#include <wx/spinbutt.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>

#include <vector>

class CSearchFileDlg : public CSearchSuperDlg {
public:
    enum Panel : int {
        kBasicPanel = 0,
        kTypeHeader = 1,
        kTypePanel = 2,
        kDateHeader = 3,
        kDatePanel = 4,
        kSizeHeader = 5,
        kSizePanel = 6,
        kOtherHeader = 7,
        kOtherPanel = 8,
        kButtonPanel = 9,
        kPanelCount = 10,
    };

    // `currentFolder` is the folder the page shows (the root when null); matches are appended
    // to `result`.
    CSearchFileDlg(wxWindow* parent, CFileNode* root, CFileNode* currentFolder, SearchResult* result,
                   ToolUiHooks hooks = ToolUiHooks::Defaults());

    // The text the result tab shows for the last search.
    std::string GetSearchText() const { return m_searchText; }
    // The Find button.
    void OnSearch();
    // A header box: opens or closes the panel below it.
    void TogglePanel(int panel);
    bool PanelShown(int panel) const { return m_visible[static_cast<std::size_t>(panel)] == 1; }

    // Controls the window tests drive.
    wxPanel* PanelWindow(int panel) const { return m_panels[static_cast<std::size_t>(panel)]; }
    wxTextCtrl* NameEdit() const { return m_name; }
    wxCheckBox* AutoSelectCheck() const { return m_autoSelect; }
    wxChoice* LocationChoice() const { return m_location; }
    wxCheckBox* HeaderCheck(int panel) const;
    wxBitmapComboBox* TypeCombo() const { return m_type; }
    wxTextCtrl* MonthsEdit() const { return m_months; }
    wxTextCtrl* DaysEdit() const { return m_days; }
    wxDatePickerCtrl* FromDate() const { return m_fromDate; }
    wxChoice* SizeKindChoice() const { return m_sizeKind; }
    wxTextCtrl* SizeEdit() const { return m_size; }
    CTextCenterButtonPlus* FindButton() const { return m_find; }
    CTextCenterButtonPlus* CancelButton() const { return m_cancel; }

protected:
    wxSize InitialClientSize() const override { return wxSize(kWidth, 400); }
    void OnInitDialog() override;

private:
    static constexpr int kWidth = 440;
    wxPanel* MakePanel(int height);
    wxCheckBox* MakeHeader(int panel, int target, const char* caption);
    void LayoutPanels();
    void FillTypes();
    void EnableDateChoice(int choice);
    bool ReadDate(FileSearchCriteria& c);
    bool ReadSize(FileSearchCriteria& c);
    // A whole number in [low, high] from an edit; else the range prompt, the edit focused.
    bool ReadNumber(wxTextCtrl* edit, long long low, long long high, long long* value);
    wxTextCtrl* NumberEdit(wxWindow* panel, wxPoint at, int width, long long low, long long high, long long value,
                           bool dateControl);
    void OnKey(wxKeyEvent& e);

    CFileNode* m_root;
    CFileNode* m_folder;
    SearchResult* m_result;
    ToolUiHooks m_hooks;
    FileSearchCriteria m_criteria;
    std::string m_searchText = "*";
    std::vector<SearchTypeEntry> m_types;
    bool m_typesFilled = false;

    std::vector<wxPanel*> m_panels;
    std::vector<std::uint32_t> m_visible;  // 1 shown, 2 hidden
    wxCheckBox* m_headers[kPanelCount] = {};
    wxTextCtrl* m_name = nullptr;
    wxCheckBox* m_autoSelect = nullptr;
    wxChoice* m_location = nullptr;
    std::vector<CFileNode*> m_locationNodes;
    wxBitmapComboBox* m_type = nullptr;
    wxChoice* m_dateKind = nullptr;
    wxRadioButton* m_dateRadio[3] = {};
    wxTextCtrl* m_months = nullptr;
    wxTextCtrl* m_days = nullptr;
    std::vector<wxWindow*> m_dateControls;  // month edit and spin, day edit and spin, the pickers
    wxDatePickerCtrl* m_fromDate = nullptr;
    wxTimePickerCtrl* m_fromTime = nullptr;
    wxDatePickerCtrl* m_toDate = nullptr;
    wxTimePickerCtrl* m_toTime = nullptr;
    wxChoice* m_sizeKind = nullptr;
    wxTextCtrl* m_size = nullptr;
    wxCheckBox* m_case = nullptr;
    wxCheckBox* m_encrypted = nullptr;
    CTextCenterButtonPlus* m_find = nullptr;
    CTextCenterButtonPlus* m_cancel = nullptr;
    CButtonPlus* m_closeBox = nullptr;
};

// Runs the search dialog modally. True when the search found files: `result` then holds them
// (in the order the walk met them) and `searchText` (when given) the text for the result tab.
bool ShowFileSearchDialog(wxWindow* parent, CFileNode* root, CFileNode* currentFolder, SearchResult& result,
                          std::string* searchText = nullptr, ToolUiHooks hooks = ToolUiHooks::Defaults());
