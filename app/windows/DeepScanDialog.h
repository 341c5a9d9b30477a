#pragma once
// The deep-scan progress dialog: bar, elapsed and remaining time, the eight statistics counters
// (shown or hidden by the two small buttons), and Cancel, which asks first. It shows the model
// that the search's worker writes; a one-second timer advances the clock and refreshes it.
#include "app/wizard/DeepScanProgress.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <wx/stattext.h>
#include <wx/timer.h>

class CIntelligentSearchingDialog : public CSearchSuperDlg {
public:
    enum : int {
        kIdProgress = 1000,
        kIdFirstCounter = 1001, // 1001 to 1008 in the order of the statistics block
        kIdElapsed = 1009,
        kIdRemaining = 1010,
        kIdShowStatistics = 1156,
        kIdHideStatistics = 1167,
        kIdCancelSearch = 1170,
    };
    static const char* const kCounterLabels[8];

    explicit CIntelligentSearchingDialog(CDeepScanProgressModel& model, wxWindow* parent = nullptr);
    ~CIntelligentSearchingDialog() override;

    // Creates the dialog modeless, centred and shown.
    bool CreateModeless();
    // Copies the model's figures to the controls.
    void RefreshFromModel();
    // One second passed: the clock and the texts.
    void OnSecond();
    void ShowStatistics(bool show);
    // Cancel: "Stop searching now?"; Yes cancels the search.
    void AskCancel();
    // The search ended: the dialog no longer reads the model (which may go before the window).
    void Detach();
    // The timer could not be set: the dialog was ended (hidden, no longer reading the model);
    // the search goes on and its owner still removes the window.
    bool Ended() const { return m_ended; }

    CProgressBar* Bar() const { return m_bar; }
    wxStaticText* Counter(int index) const { return m_counters[index]; }
    wxStaticText* Elapsed() const { return m_elapsed; }
    wxStaticText* Remaining() const { return m_remaining; }
    CButtonPlus* CancelButton() const { return m_cancel; }
    CButtonPlus* ShowButton() const { return m_show; }

protected:
    wxSize InitialClientSize() const override { return wxSize(540, 254); }
    void OnInitDialog() override;
    // Escape and Enter never end the search.
    void OnEscape() override {}
    // Starts the one-second timer; false when it cannot be set.
    virtual bool StartTimer() { return m_timer.Start(1000); }

private:
    void Place();
    CDeepScanProgressModel& m_model;
    CProgressBar* m_bar = nullptr;
    wxStaticText* m_counters[8] = {};
    wxStaticText* m_labels[8] = {};
    wxStaticText* m_elapsed = nullptr;
    wxStaticText* m_remaining = nullptr;
    CButtonPlus* m_cancel = nullptr;
    CTextCenterButtonPlus* m_show = nullptr;
    CTextCenterButtonPlus* m_hide = nullptr;
    wxTimer m_timer;
    bool m_statisticsShown = true;
    bool m_questionOpen = false;
    bool m_detached = false;
    bool m_ended = false;
};

// What the window layer hands the deep scan: the model, shown by the dialog while it exists,
// with the main window disabled.
class CWxDeepScanProgress : public IDeepScanProgress {
public:
    explicit CWxDeepScanProgress(wxWindow* main);
    ~CWxDeepScanProgress() override;
    void SetPosition(std::uint64_t chunk) override { m_model.SetPosition(chunk); }
    void SetRange(std::uint64_t first, std::uint64_t last) override {
        m_model.SetRange(first, last);
    }
    int IsCancelled() override { return m_model.IsCancelled(); }
    int PumpMessages() override { return 0; }
    void GetStatistics(IntelligentSearchStats* out) override { m_model.GetStatistics(out); }
    void SetStatistics(const IntelligentSearchStats* stats) override {
        m_model.SetStatistics(stats);
    }
    bool Cancelled() const override { return m_model.Cancelled(); }

private:
    CDeepScanProgressModel m_model;
    CIntelligentSearchingDialog* m_dialog;
    wxWindow* m_main;
};

// The dialog the deep scan shows now (null when none), for the window tests.
CIntelligentSearchingDialog* CurrentDeepScanDialog();
