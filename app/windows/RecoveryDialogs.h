#pragma once
// The two recovery progress dialogs: the recovering dialog of the save step (every ticked file
// system of a tree into the target folder) and the single-file dialog of the file page. Both
// start the recovery once shown; the engine's worker only writes the progress record's atomics,
// and the dialog shows it from a timer while the UI thread waits for the worker.
#include "app/wizard/RecoveryWalk.h"
#include "ui/controls/SkinDialog.h"

#include <wx/wx.h>

class CFileNode;
class CSmallButtonTextCenterButtonPlus;
class IStorageDevice;

// On the kit's skinned base: rounded, its title ("Recovering...", "Cancelling...") in the
// caption's tab, moved by its caption band.
class CRecoveringDlg : public CSearchSuperDlg {
public:
    static constexpr int kWidth = 460;
    static constexpr int kHeightWithDetails = 360;
    static constexpr int kHeightWithoutDetails = kHeightWithDetails - 150 + 70;
    CRecoveringDlg(wxWindow* parent, CFileNode* root, IStorageDevice* device, const std::string& outputFolder);
    ~CRecoveringDlg() override;
    // Runs the recovery modally; the outcome is read afterwards.
    int DoModal();
    const RecoveryOutcome& Outcome() const { return m_outcome; }
    CRecoveryProgress& Progress() { return m_progress; }

    // The Cancel button: asks "Quit recovering?" and on Yes cancels.
    void OnCancelPressed();
    // Shows or hides the counters and the file name.
    void ShowDetails(bool show);
    bool DetailsShown() const { return m_details; }
    wxWindow* CancelButton() const;
    // The buttons that show (1156) and hide (1167) the details; one of them is shown.
    wxWindow* ShowDetailsButton() const;
    wxWindow* HideDetailsButton() const;
    // Re-reads the progress record into the texts and the bar (the timer does it every second).
    void RefreshTexts();
    wxString TextOf(int id) const;
    // Runs once the dialog is shown (tests may hook in here, e.g. to cancel at a file).
    std::function<void(CRecoveringDlg&)> onShown;

protected:
    wxSize InitialClientSize() const override { return wxSize(kWidth, kHeightWithDetails); }
    void OnInitDialog() override;
    // Neither Escape nor Enter ends the dialog: it ends itself when the recovery returns.
    void OnEscape() override {}

private:
    void Start();
    void OnTimer(wxTimerEvent&);
    void OnCharHook(wxKeyEvent& e);
    void OnPaint(wxPaintEvent&);
    void PlaceButtons();
    wxStaticText* Value(int id, int labelId, const char* label, int y);

    CFileNode* m_root;
    IStorageDevice* m_device;
    std::string m_output;
    CRecoveryProgress m_progress;
    RecoveryOutcome m_outcome;
    ProgressScale m_scale;
    wxTimer m_timer;
    wxGauge* m_gauge = nullptr;
    CSmallButtonTextCenterButtonPlus* m_cancel = nullptr;
    CSmallButtonTextCenterButtonPlus* m_showDetails = nullptr;
    CSmallButtonTextCenterButtonPlus* m_hideDetails = nullptr;
    wxCheckBox* m_detailsBox = nullptr;
    std::vector<wxWindow*> m_detailWindows;
    bool m_details = true;
    bool m_started = false;
};

class CRBClickRecoverFileDlg : public wxDialog {
public:
    CRBClickRecoverFileDlg(wxWindow* parent, IStorageDevice* device, CFileNode* node, const std::string& targetPath);
    ~CRBClickRecoverFileDlg() override;
    // 1 recovered, 2 failed or cancelled (a failure that is no cancel says so first).
    int DoModal();
    CRecoveryProgress& Progress() { return m_progress; }
    void OnCancelPressed();
    void RefreshTexts();
    wxWindow* CancelButton() const;
    std::function<void(CRBClickRecoverFileDlg&)> onShown;

private:
    void Start();
    void OnTimer(wxTimerEvent&);

    IStorageDevice* m_device;
    CFileNode* m_node;
    std::string m_target;
    CRecoveryProgress m_progress;
    wxTimer m_timer;
    wxStaticText* m_remaining = nullptr;
    wxStaticText* m_current = nullptr;
    wxStaticText* m_percent = nullptr;
    wxGauge* m_gauge = nullptr;
    CSmallButtonTextCenterButtonPlus* m_cancel = nullptr;
};
