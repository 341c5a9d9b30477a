#pragma once
// The check-box hint ("Don't show this message again.") and the recovery-result panel with the
// output folder as a link.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/SkinDialog.h"

#include <wx/checkbox.h>
#include <wx/panel.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CHasCheckboxPromptDlg : public CSearchSuperDlg {
public:
    explicit CHasCheckboxPromptDlg(const std::string& message);
    int dontShowAgain = 0;

    wxCheckBox* CheckBox() { return m_check; }
    CSmallButtonTextCenterButtonPlus* OkButton() { return m_ok; }
    CButtonPlus* CloseButton() { return m_close; }

protected:
    wxSize InitialClientSize() const override { return wxSize(380, 200); }
    void OnInitDialog() override;

private:
    void OnButton(wxCommandEvent&);
    std::string m_message;
    wxCheckBox* m_check = nullptr;
    CButtonPlus* m_close = nullptr;
    CSmallButtonTextCenterButtonPlus* m_ok = nullptr;
};

// The outcome of a recovery: the outcome line, the counts, an optional note, and a link to
// each output folder. The texts wrap at the panel's width and the panel grows to hold them
// (ArrangeContent).
class CFileSaveDlg : public wxPanel {
public:
    // More folders than this are shown as one link to the folder that holds them all.
    static constexpr std::size_t kMaxListedFolders = 4;

    CFileSaveDlg();
    bool Create(wxWindow* parent, const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(460, 130));
    void ShowRecoveryResult(std::uint64_t recovered, std::uint64_t requested);
    // A line under the counts ("" for none).
    void SetNote(const std::string& note);
    // One folder: its link selects `filePaths` when it opens.
    void SetOutputFolder(const std::string& path);
    // The folders written, in order: a link each, or beyond kMaxListedFolders one link to
    // their common parent. None: `fallback` alone.
    void SetOutputFolders(const std::vector<std::string>& folders, const std::string& fallback);
    // Places the texts and links one under the other at the panel's width and returns the
    // height they take (the panel's own height is left to the owner).
    int ArrangeContent();

    std::vector<std::string> filePaths;

    wxStaticText* OutcomeText() { return m_outcome; }
    wxStaticText* SummaryLine() { return m_summary; }
    wxStaticText* NoteText() { return m_note; }
    // The first folder link.
    CHyperLink* FolderLink() { return m_links.front(); }
    const std::vector<CHyperLink*>& FolderLinks() const { return m_links; }

private:
    CHyperLink* LinkAt(std::size_t index);
    void ShowLink(CHyperLink* link, const std::string& target, const wxString& text,
                  const std::vector<std::string>& select);

    wxStaticText* m_outcome = nullptr;
    wxStaticText* m_summary = nullptr;
    wxStaticText* m_note = nullptr;
    wxStaticText* m_savedIn = nullptr;
    std::vector<CHyperLink*> m_links;
    std::size_t m_shownLinks = 0;
    wxString m_outcomeText, m_summaryText, m_noteText;
};

// The outcome and summary texts of a recovery (recovered of requested files).
std::string RecoveryOutcomeText(std::uint64_t recovered, std::uint64_t requested);
std::string RecoverySummaryText(std::uint64_t recovered, std::uint64_t requested);
// The deepest folder that holds every one of the paths ("" when they share none).
std::string CommonParentFolder(const std::vector<std::string>& paths);
