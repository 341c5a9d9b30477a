#include "app/windows/RecoveryDialogs.h"

#include "app/wizard/UiServices.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcbuffer.h>

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

CSmallButtonTextCenterButtonPlus* MakeButton(wxWindow* parent, int id, const char* caption) {
    auto* b = new CSmallButtonTextCenterButtonPlus;
    b->Create(parent, id);
    b->SetCaption(caption);
    return b;
}

CSmallButtonTextCenterButtonPlus* MakeCancel(wxWindow* parent, const char* caption) {
    return MakeButton(parent, wxID_CANCEL, caption);
}

// The recovering dialog's skin: the title tab's inset and the top of the body below the caption.
constexpr int kTabInset = 141;
constexpr int kTop = 30;

} // namespace

// ---- Recovering dialog -----------------------------------------------------------------------

CRecoveringDlg::CRecoveringDlg(wxWindow* parent, CFileNode* root, IStorageDevice* device, const std::string& outputFolder)
    : CSearchSuperDlg(134, parent),
      m_root(root),
      m_device(device),
      m_output(outputFolder),
      m_timer(this, 1) {
    SetBackgroundColourOfSkin(kRecoveringBack);
}

void CRecoveringDlg::OnInitDialog() {
    SetTitle("Recovering...");
    EnableSkin(kTabInset);
    ApplyShape();
    SetFont(ui::PixelFont(14, 400));
    Value(kIdRemaining, 1192, "Remaining Time:", kTop + 16)->SetLabel("00:00:00");
    Value(kIdElapsed, 1193, "Elapsed Time:", kTop + 40)->SetLabel("00:00:00");
    m_gauge = new wxGauge(this, kIdProgress, 1, wxPoint(20, kTop + 70), wxSize(420, 18), wxGA_HORIZONTAL | wxGA_SMOOTH);
    m_gauge->SetForegroundColour(wxColour(97, 185, 228));
    m_gauge->SetBackgroundColour(wxColour(242, 248, 250));
    m_detailsBox = new wxCheckBox(this, kIdDetails, "Information extend", wxPoint(20, kTop + 100));
    m_detailsBox->SetValue(true);
    const std::size_t before = GetChildren().size();
    Value(kIdFilesDone, 1188, "Recovered Files:", kTop + 130);
    Value(kIdFilesTotal, 1189, "Selected Files:", kTop + 154);
    Value(kIdBytesDone, 1190, "Recovered Data Size:", kTop + 178);
    Value(kIdBytesTotal, 1191, "Total Data Size:", kTop + 202);
    Value(kIdCurrentFile, 1194, "Recovering File Name:", kTop + 226);
    for (std::size_t i = before; i < GetChildren().size(); ++i)
        m_detailWindows.push_back(GetChildren()[i]);
    m_cancel = MakeCancel(this, "Cancel");
    m_showDetails = MakeButton(this, kIdShowDetails, "Details >>");
    m_hideDetails = MakeButton(this, kIdHideDetails, "<< Details");
    m_showDetails->Hide();
    PlaceButtons();
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelPressed(); }, wxID_CANCEL);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowDetails(true); }, kIdShowDetails);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ShowDetails(false); }, kIdHideDetails);
    Bind(wxEVT_CHECKBOX, [this](wxCommandEvent& e) { ShowDetails(e.IsChecked()); }, kIdDetails);
    Bind(wxEVT_TIMER, &CRecoveringDlg::OnTimer, this);
    Bind(wxEVT_CHAR_HOOK, &CRecoveringDlg::OnCharHook, this);
    Bind(wxEVT_PAINT, &CRecoveringDlg::OnPaint, this);
    Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) {
        if (e.CanVeto())
            e.Veto();  // the dialog ends itself when the recovery returns
    });
    CentreOnParent();
}

void CRecoveringDlg::OnPaint(wxPaintEvent&) {
    // The kit's skin with this dialog's title in the tab.
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    DrawSkinFrame(dc, s.x, s.y, kTabInset);
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(wxColour(238, 237, 237));
    dc.SetFont(ui::PixelFont(14, 700));
    ui::DrawTextIn(dc, GetTitle(), wxRect(kTabInset + 2, 2, s.x - 2 * kTabInset - 4, 19),
                   ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
}

void CRecoveringDlg::PlaceButtons() {
    const wxSize c = GetClientSize();
    m_cancel->MoveTo(c.x - 20 - m_cancel->GetSize().x, c.y - 16 - m_cancel->GetSize().y);
    for (CSmallButtonTextCenterButtonPlus* b : {m_showDetails, m_hideDetails})
        b->MoveTo(20, c.y - 16 - b->GetSize().y);
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
wxWindow* CRecoveringDlg::ShowDetailsButton() const { return m_showDetails; }
wxWindow* CRecoveringDlg::HideDetailsButton() const { return m_hideDetails; }

int CRecoveringDlg::DoModal() {
    if (!CreateDialog())
        return -1;
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
    Refresh();
    m_cancel->Disable();
}

void CRecoveringDlg::ShowDetails(bool show) {
    if (show == m_details)
        return;
    m_details = show;
    m_detailsBox->SetValue(show);
    for (wxWindow* w : m_detailWindows)
        w->Show(show);
    m_showDetails->Show(!show);
    m_hideDetails->Show(show);
    SetClientSize(kWidth, show ? kHeightWithDetails : kHeightWithoutDetails);
    PlaceButtons();
    ApplyShape();
    Refresh();
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
