#include "app/windows/RecoveryDialogs.h"

#include "app/wizard/UiServices.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

namespace {

enum RecoveringIds : int {
    kIdRemaining = 1010,
    kIdElapsed = 1011,
    kIdFilesDone = 1006,
    kIdFilesTotal = 1007,
    kIdBytesDone = 1008,
    kIdBytesTotal = 1009,
    kIdCurrentFile = 1012,
    kIdDetails = 1174,
    kIdProgress = 1016,
    kIdShowDetails = 1156,
    kIdHideDetails = 1167,
};

const wxColour kRecoveringBack(241, 241, 241);
const wxColour kSingleBack(236, 233, 216);
constexpr int kRefreshMs = 1000;
constexpr int kSingleRefreshMs = 500;

wxString Text(const std::string& s) { return ui::FromUtf8(s); }

CSmallButtonTextCenterButtonPlus* MakeCancel(wxWindow* parent, const char* caption) {
    auto* b = new CSmallButtonTextCenterButtonPlus;
    b->Create(parent, wxID_CANCEL);
    b->SetCaption(caption);
    return b;
}

} // namespace

// ---- Recovering dialog -----------------------------------------------------------------------

CRecoveringDlg::CRecoveringDlg(wxWindow* parent, CFileNode* root, IStorageDevice* device, const std::string& outputFolder)
    : wxDialog(parent, wxID_ANY, "Recovering...", wxDefaultPosition, wxSize(460, 330), wxCAPTION),
      m_root(root),
      m_device(device),
      m_output(outputFolder),
      m_timer(this, 1) {
    SetBackgroundColour(kRecoveringBack);
    SetFont(ui::PixelFont(14, 400));
    Value(kIdRemaining, 1192, "Remaining Time:", 16)->SetLabel("00:00:00");
    Value(kIdElapsed, 1193, "Elapsed Time:", 40)->SetLabel("00:00:00");
    m_gauge = new wxGauge(this, kIdProgress, 1, wxPoint(20, 70), wxSize(420, 18), wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_gauge->SetForegroundColour(wxColour(97, 185, 228));
    m_gauge->SetBackgroundColour(wxColour(242, 248, 250));
    m_detailsBox = new wxCheckBox(this, kIdDetails, "Information extend", wxPoint(20, 100));
    m_detailsBox->SetValue(true);
    const std::size_t before = GetChildren().size();
    Value(kIdFilesDone, 1188, "Recovered Files:", 130);
    Value(kIdFilesTotal, 1189, "Selected Files:", 154);
    Value(kIdBytesDone, 1190, "Recovered Data Size:", 178);
    Value(kIdBytesTotal, 1191, "Total Data Size:", 202);
    Value(kIdCurrentFile, 1194, "Recovering File Name:", 226);
    for (std::size_t i = before; i < GetChildren().size(); ++i)
        m_detailWindows.push_back(GetChildren()[i]);
    m_cancel = MakeCancel(this, "Cancel");
    m_cancel->MoveTo(460 - 20 - m_cancel->GetSize().x, 330 - 40 - m_cancel->GetSize().y);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelPressed(); }, wxID_CANCEL);
    Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) { ShowDetails(e.IsChecked()); }, kIdDetails);
    Bind(wxEVT_TIMER, &CRecoveringDlg::OnTimer, this);
    Bind(wxEVT_CHAR_HOOK, &CRecoveringDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) {
        if (e.CanVeto())
            e.Veto();  // the dialog ends itself when the recovery returns
    });
    CentreOnParent();
}

CRecoveringDlg::~CRecoveringDlg() { m_timer.Stop(); }

wxStaticText* CRecoveringDlg::Value(int id, int labelId, const char* label, int y) {
    new wxStaticText(this, labelId, label, wxPoint(20, y), wxSize(170, 20));
    return new wxStaticText(this, id, "", wxPoint(195, y), wxSize(245, 20), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
}

wxString CRecoveringDlg::TextOf(int id) const {
    auto* w = dynamic_cast<wxStaticText*>(FindWindow(id));
    return w ? w->GetLabel() : wxString();
}

wxWindow* CRecoveringDlg::CancelButton() const { return m_cancel; }

int CRecoveringDlg::DoModal() {
    CallAfter([this] { Start(); });
    return ShowModal();
}

void CRecoveringDlg::Start() {
    if (m_started)
        return;
    m_started = true;
    FileTreeCounters c;
    if (auto* folder = dynamic_cast<CFileSystemNode*>(m_root))
        folder->GetCounters(&c);
    m_scale = RecoveringProgressScale(c.checkedBytes);
    m_gauge->SetRange(static_cast<int>(std::min<std::int64_t>(m_scale.range, INT32_MAX)));
    m_progress.SetTotals(static_cast<int>(c.checkedFiles), c.checkedBytes);
    RefreshTexts();
    m_timer.Start(kRefreshMs);
    if (onShown)
        onShown(*this);
    m_outcome = RunRecoveryWalk(m_root, m_device, m_output, m_progress);
    m_timer.Stop();
    RefreshTexts();
    EndModal(1);
}

void CRecoveringDlg::RefreshTexts() {
    const std::uint64_t total = m_progress.TotalBytes();
    const std::uint64_t done = m_progress.BytesDone();
    m_gauge->SetValue(static_cast<int>(std::min<std::int64_t>(m_scale.Position(done), m_gauge->GetRange())));
    const std::int64_t elapsed = m_progress.ElapsedMs();
    auto set = [this](int id, const std::string& text) {
        if (auto* w = dynamic_cast<wxStaticText*>(FindWindow(id)))
            if (w->GetLabel() != Text(text))
                w->SetLabel(Text(text));
    };
    set(kIdElapsed, ClockText(static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed, 0) / 1000)));
    const std::string remaining = RecoveringRemainingText(total, done, elapsed);
    set(kIdRemaining, remaining.empty() ? uistr::UiString(uistr::kCalculating) : remaining);
    set(kIdFilesDone, std::to_string(m_progress.FilesDone()));
    set(kIdFilesTotal, std::to_string(m_progress.TotalFiles()));
    set(kIdBytesDone, RecoverySizeText(done, false));
    set(kIdBytesTotal, RecoverySizeText(total, false));
    set(kIdCurrentFile, m_progress.CurrentFile());
}

void CRecoveringDlg::OnTimer(wxTimerEvent&) { RefreshTexts(); }

void CRecoveringDlg::OnCancelPressed() {
    if (m_progress.Cancelled())
        return;
    CMessageBoxDlg box;
    if (box.ShowMessage(kMbQuestion, kMbYes | kMbNo, nullptr, uistr::LoadUiString(uistr::kQuitRecoveringQuestion)) !=
        kAnswerYes)
        return;
    m_progress.Cancel();
    SetTitle(ui::FromUtf8(uistr::UiString(uistr::kCancelling)));
    m_cancel->Disable();
}

void CRecoveringDlg::ShowDetails(bool show) {
    if (show == m_details)
        return;
    m_details = show;
    m_detailsBox->SetValue(show);
    for (wxWindow* w : m_detailWindows)
        w->Show(show);
    const int height = show ? 330 : 330 - 150 + 70;
    SetSize(GetSize().x, height);
    m_cancel->MoveTo(460 - 20 - m_cancel->GetSize().x, height - 40 - m_cancel->GetSize().y);
}

void CRecoveringDlg::OnCharHook(wxKeyEvent& e) {
    // Neither Enter nor Esc closes the dialog.
    if (e.GetKeyCode() == WXK_ESCAPE || e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER)
        return;
    e.Skip();
}

// ---- Single-file dialog ----------------------------------------------------------------------

CRBClickRecoverFileDlg::CRBClickRecoverFileDlg(wxWindow* parent, IStorageDevice* device, CFileNode* node,
                                               const std::string& targetPath)
    : wxDialog(parent, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kRecoveringTitle)), wxDefaultPosition,
               wxSize(400, 170), wxCAPTION),
      m_device(device),
      m_node(node),
      m_target(targetPath),
      m_timer(this, 1) {
    SetBackgroundColour(kSingleBack);
    SetFont(ui::PixelFont(14, 400));
    new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kRemainingTimeLabel)), wxPoint(16, 14));
    m_remaining = new wxStaticText(this, 1186, ui::FromUtf8(uistr::UiString(uistr::kCalculating)), wxPoint(140, 14),
                                   wxSize(200, 20));
    m_current = new wxStaticText(this, 1187, ui::FromUtf8(uistr::UiString(uistr::kRecoverCaption)), wxPoint(16, 40),
                                 wxSize(360, 20), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    m_gauge = new wxGauge(this, 1016, 100, wxPoint(16, 70), wxSize(310, 18), wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_percent = new wxStaticText(this, 1185, "0%", wxPoint(334, 70), wxSize(50, 20));
    m_cancel = MakeCancel(this, uistr::LoadUiString(uistr::kAbortCaption));
    m_cancel->MoveTo(400 - 16 - m_cancel->GetSize().x, 170 - 40 - m_cancel->GetSize().y);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelPressed(); }, wxID_CANCEL);
    Bind(wxEVT_TIMER, &CRBClickRecoverFileDlg::OnTimer, this);
    Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) {
        if (e.CanVeto())
            e.Veto();
    });
    CentreOnParent();
}

CRBClickRecoverFileDlg::~CRBClickRecoverFileDlg() { m_timer.Stop(); }

wxWindow* CRBClickRecoverFileDlg::CancelButton() const { return m_cancel; }

int CRBClickRecoverFileDlg::DoModal() {
    CallAfter([this] { Start(); });
    return ShowModal();
}

void CRBClickRecoverFileDlg::Start() {
    if (m_node && m_node->m_pProperties)
        m_current->SetLabel(ui::FromUtf8(m_node->m_pProperties->GetName()));
    m_timer.Start(kSingleRefreshMs);
    if (onShown)
        onShown(*this);
    bool failed = false;
    const int result = RunSingleFileRecovery(m_node, m_device, m_target, m_progress, &failed);
    m_timer.Stop();
    RefreshTexts();
    if (result == 1) {
        m_gauge->SetValue(100);
        EndModal(1);
        return;
    }
    if (failed) {
        CMessageBoxDlg box;
        box.ShowMessage(kMbWarning, kMbOk, nullptr, uistr::LoadUiString(uistr::kFailedToRecoverFile));
    }
    EndModal(2);
}

void CRBClickRecoverFileDlg::RefreshTexts() {
    const std::uint64_t total = m_progress.TotalBytes();
    const std::uint64_t done = m_progress.BytesDone();
    const int percent = SingleFilePercent(total, done);
    m_gauge->SetValue(percent);
    m_percent->SetLabel(wxString::Format("%d%%", percent));
    const std::string remaining = SingleFileRemainingText(total, done, m_progress.ElapsedMs());
    m_remaining->SetLabel(ui::FromUtf8(remaining.empty() ? uistr::UiString(uistr::kCalculating) : remaining));
}

void CRBClickRecoverFileDlg::OnTimer(wxTimerEvent&) { RefreshTexts(); }

void CRBClickRecoverFileDlg::OnCancelPressed() {
    m_progress.Cancel();
    SetTitle(ui::FromUtf8(uistr::UiString(uistr::kCancelling)));
    m_cancel->Disable();
}
