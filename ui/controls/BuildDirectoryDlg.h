#pragma once
// The directory-build progress dialog (stage text, bar, elapsed time, Cancel), the callback the
// engine's tree builders report to, the one-line waiting dialog, and the statistics panel of the
// recovering dialog.
#include "filesystems/DIRBuildCallback.h"
#include "ui/controls/BuildProgressState.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include <string>

// A progress bar drawn by the program (GTK ignores bar colours).
class CProgressBar : public wxWindow {
public:
    CProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);
    void SetRange(int maxValue);
    void SetPos(int pos);
    int GetRange() const { return m_max; }
    int GetPos() const { return m_pos; }
    void SetColours(const wxColour& bar, const wxColour& background);

private:
    void OnPaint(wxPaintEvent&);
    int m_max = 100;
    int m_pos = 0;
    wxColour m_bar{97, 185, 228};
    wxColour m_background{242, 247, 250};
};

class CBuildDirectoryDlg : public CSearchSuperDlg {
public:
    // Template 135 (directory builds) or 398 (loading a file for preview).
    explicit CBuildDirectoryDlg(int templateId = uires::kDlgBuildDirectory);
    ~CBuildDirectoryDlg() override;

    // Creates the modeless dialog (no parent), centred and shown.
    bool CreateModeless();

    // UI-thread forms of the callback's operations.
    int BeginStage(const char* text, std::int32_t total);
    int ResetProgress();
    int Poll();

    // Where the build writes; safe from any thread.
    CBuildProgressState& State() { return m_state; }
    bool IsCancelled() const { return m_state.Cancelled(); }
    // The operation cannot be stopped: the Cancel command does nothing (and the button hides).
    void SetNoCancel(bool noCancel);
    bool QuestionOpen() const { return m_questionOpen; }

    // Copies the build's state to the controls; `force` skips the 500 ms limit.
    void RefreshFromState(bool force);

    CButtonPlus* CancelButton() { return m_cancel; }
    CProgressBar* ProgressBar() { return m_progress; }
    wxStaticText* StageText() { return m_stageText; }
    wxStaticText* ElapsedText() { return m_elapsed; }

protected:
    wxSize InitialClientSize() const override { return wxSize(420, 170); }
    void OnInitDialog() override;
    void OnEscape() override;

private:
    void OnCancel(wxCommandEvent&);
    void OnTimer(wxTimerEvent&);
    void OnCharHookKeys(wxKeyEvent&);
    void AskAbort();

    CBuildProgressState m_state;
    wxStaticText* m_stageText = nullptr;
    CProgressBar* m_progress = nullptr;
    wxStaticText* m_elapsedLabel = nullptr;
    wxStaticText* m_elapsed = nullptr;
    wxStaticText* m_remainingLabel = nullptr;
    wxStaticText* m_remaining = nullptr;
    CButtonPlus* m_cancel = nullptr;
    wxTimer m_timer;
    std::uint32_t m_lastRefresh = 0;
    std::uint32_t m_shownSerial = 0;
    bool m_questionOpen = false;
    bool m_noCancel = false;
    bool m_polling = false;
};

// The engine's directory-build callback bound to a progress dialog. The build may call it on its
// worker thread: there it only writes the dialog's state (atomics), and the dialog shows it from
// a timer; on the UI thread it also lets pending events run.
class CDIRBuildCallback : public IDIRBuildCallback {
public:
    explicit CDIRBuildCallback(CBuildDirectoryDlg* dialog) : m_dialog(dialog) {}
    int BeginStage(const char* text, std::int32_t total) override;
    int StepBy(std::int32_t count) override;
    int SetPos(std::int32_t position) override;
    int Reset() override;
    int Poll() override;

private:
    CBuildDirectoryDlg* m_dialog;
};

// "Please wait" without progress or cancel; the busy cursor is shown while it exists.
class CWaitingDlg : public CSearchSuperDlg {
public:
    explicit CWaitingDlg(wxWindow* parent = nullptr);
    ~CWaitingDlg() override;
    // Creates the modeless window (centred) and shows it.
    bool CreateModeless();
    std::string text;
    wxStaticText* TextStatic() { return m_text; }

protected:
    wxSize InitialClientSize() const override { return wxSize(360, 90); }
    void OnInitDialog() override;
    void OnEscape() override {}

private:
    wxStaticText* m_text = nullptr;
    bool m_busy = false;
};

class CFileNode;

// Statistics of a running recovery, filled by the recovering dialog.
class CBuildDirectoryChildDlg : public wxPanel {
public:
    CBuildDirectoryChildDlg(CFileNode* node, int value, const std::string& text);
    bool Create(wxWindow* parent, const wxPoint& pos = wxDefaultPosition);
    // Shows the members in the controls.
    void UpdateData();

    CFileNode* node;
    int value;
    std::string ownerText;
    int recoveredFiles = 0;
    int selectedFiles = 0;
    std::string recoveredSize, totalSize, remainingTime, elapsedTime, recoveringName;

    wxStaticText* Value(int controlId);

private:
    wxStaticText* m_values[7] = {};
};
