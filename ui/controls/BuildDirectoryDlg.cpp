#include "ui/controls/BuildDirectoryDlg.h"

#include "logging/Log.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiRuntime.h"

#include <wx/dcbuffer.h>
#include <wx/thread.h>

using namespace uires;

CProgressBar::CProgressBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxWindow::Create(parent, id, pos, size, wxBORDER_NONE);
    Bind(wxEVT_PAINT, &CProgressBar::OnPaint, this);
}

void CProgressBar::SetRange(int maxValue) {
    m_max = std::max(0, maxValue);
    Refresh();
}

void CProgressBar::SetPos(int pos) {
    if (pos != m_pos) {
        m_pos = pos;
        Refresh();
    }
}

void CProgressBar::SetColours(const wxColour& bar, const wxColour& background) {
    m_bar = bar;
    m_background = background;
    Refresh();
}

void CProgressBar::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    dc.SetPen(wxPen(wxColour(176, 180, 183)));
    dc.SetBrush(wxBrush(m_background));
    dc.DrawRectangle(0, 0, s.x, s.y);
    if (m_max > 0 && m_pos > 0) {
        const int filled = static_cast<int>(static_cast<long long>(s.x - 2) * std::min(m_pos, m_max) / m_max);
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(m_bar));
        dc.DrawRectangle(1, 1, filled, s.y - 2);
    }
}

CBuildDirectoryDlg::CBuildDirectoryDlg(int templateId) : CSearchSuperDlg(templateId, nullptr) {
    SetBackgroundColourOfSkin(wxColour(241, 241, 241));
}

CBuildDirectoryDlg::~CBuildDirectoryDlg() { m_timer.Stop(); }

bool CBuildDirectoryDlg::CreateModeless() {
    if (!CreateDialog())
        return false;
    Show();
    Update();
    return true;
}

void CBuildDirectoryDlg::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(141, wxRect(8, 2, c.x - 8, 28));
    m_stageText = new wxStaticText(this, kIdStageText, wxString(), wxPoint(20, 44),
                                   wxSize(c.x - 40, std::min(24, std::max(20, GetCharHeight() + 2))),
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_progress = new CProgressBar(this, kIdProgressBar, wxPoint(20, 68), wxSize(c.x - 40, 18));
    m_progress->SetColours(wxColour(97, 185, 228), wxColour(242, 247, 250));
    m_elapsedLabel = new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kElapsedTimeLabel)),
                                      wxPoint(20, 96));
    // The value stands after its label, however wide the font makes the label.
    const int valueX = std::max(120, m_elapsedLabel->GetPosition().x + m_elapsedLabel->GetBestSize().x + 6);
    m_elapsed = new wxStaticText(this, kIdElapsedText, "00:00:00", wxPoint(valueX, 96),
                                 wxSize(100, std::max(20, m_elapsedLabel->GetBestSize().y)), wxST_NO_AUTORESIZE);
    m_remainingLabel = new wxStaticText(this, kIdRemainingLabel, ui::FromUtf8(uistr::UiString(uistr::kRemainingTimeLabel)),
                                        wxPoint(230, 96));
    m_remaining = new wxStaticText(this, kIdRemainingValue, wxString(), wxPoint(330, 96));
    m_remainingLabel->Hide();
    m_remaining->Hide();
    m_cancel = new CButtonPlus(kBmpCancelNormal, kBmpCancelHover, kBmpCancelPressed, kBmpCancelDisabled);
    m_cancel->Create(this, MapControlId(kIdCancel));
    m_cancel->MoveTo((c.x - m_cancel->GetButtonSize().x) / 2, c.y - m_cancel->GetButtonSize().y - 8);
    Bind(wxEVT_BUTTON, &CBuildDirectoryDlg::OnCancel, this, MapControlId(kIdCancel));
    Bind(wxEVT_CHAR_HOOK, &CBuildDirectoryDlg::OnCharHookKeys, this);
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, &CBuildDirectoryDlg::OnTimer, this);
    m_timer.Start(250);
    m_lastRefresh = CBuildProgressState::NowMs();
    Centre();
}

void CBuildDirectoryDlg::SetNoCancel(bool noCancel) {
    m_noCancel = noCancel;
    if (m_cancel)
        m_cancel->Show(!noCancel);
}

int CBuildDirectoryDlg::BeginStage(const char* text, std::int32_t total) {
    m_state.BeginStage(text, total, CBuildProgressState::NowMs());
    LogInfo("%s", text ? text : "");
    RefreshFromState(true);
    return Poll();
}

int CBuildDirectoryDlg::ResetProgress() {
    m_state.Reset();
    return Poll();
}

int CBuildDirectoryDlg::Poll() {
    if (m_state.Cancelled())
        return -1;
    if (wxIsMainThread()) {
        m_polling = true;
        PumpUiEvents();
        m_polling = false;
        RefreshFromState(false);
    }
    return m_state.Cancelled() ? -1 : 0;
}

void CBuildDirectoryDlg::RefreshFromState(bool force) {
    if (!m_progress)
        return;
    const std::uint32_t now = CBuildProgressState::NowMs();
    const std::uint32_t serial = m_state.StageSerial();
    const bool newStage = serial != m_shownSerial;
    if (m_progress->GetRange() != m_state.RangeMax() || newStage)
        m_progress->SetRange(m_state.RangeMax());
    m_progress->SetPos(m_state.Position());
    if (!force && !newStage && now - m_lastRefresh <= 500)
        return;
    m_lastRefresh = now;
    m_shownSerial = serial;
    m_stageText->SetLabelText(ui::FromUtf8(uifmt::DisplayName(m_state.StageText())));
    m_elapsed->SetLabelText(newStage ? wxString("00:00:00") : ui::FromUtf8(m_state.ElapsedText(now)));
}

void CBuildDirectoryDlg::OnTimer(wxTimerEvent&) { RefreshFromState(false); }

void CBuildDirectoryDlg::OnCharHookKeys(wxKeyEvent& e) {
    // Enter never ends the dialog; Escape asks to abort unless the build itself is pumping.
    if (e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER)
        return;
    if (e.GetKeyCode() == WXK_ESCAPE) {
        if (!m_polling)
            OnEscape();
        return;
    }
    e.Skip();
}

void CBuildDirectoryDlg::OnEscape() { AskAbort(); }

void CBuildDirectoryDlg::OnCancel(wxCommandEvent&) { AskAbort(); }

void CBuildDirectoryDlg::AskAbort() {
    if (m_noCancel || m_questionOpen || m_state.Cancelled())
        return;
    m_questionOpen = true;
    CMessageBoxDlg box;
    if (box.ShowMessage(kMbQuestion, kMbYes | kMbNo, nullptr, uistr::LoadUiString(uistr::kAbortBuilding)) == kResultOk) {
        m_state.SetCancelled();
        m_cancel->Enable(false);
        SetTitle(ui::FromUtf8(uistr::UiString(uistr::kCancelling)));
    }
    m_questionOpen = false;
}

int CDIRBuildCallback::BeginStage(const char* text, std::int32_t total) {
    if (wxIsMainThread())
        return m_dialog->BeginStage(text, total);
    m_dialog->State().BeginStage(text, total, CBuildProgressState::NowMs());
    LogInfo("%s", text ? text : "");
    return Poll();
}

int CDIRBuildCallback::StepBy(std::int32_t count) {
    m_dialog->State().StepBy(count);
    return Poll();
}

int CDIRBuildCallback::SetPos(std::int32_t position) {
    m_dialog->State().SetPos(position);
    return Poll();
}

int CDIRBuildCallback::Reset() {
    m_dialog->State().Reset();
    return Poll();
}

int CDIRBuildCallback::Poll() {
    if (wxIsMainThread())
        return m_dialog->Poll();
    return m_dialog->State().Cancelled() ? -1 : 0;
}

CWaitingDlg::CWaitingDlg(wxWindow* parent)
    : CSearchSuperDlg(kDlgWaiting, parent), text(uistr::UiString(uistr::kPleaseWaitScanning)) {}

CWaitingDlg::~CWaitingDlg() {
    if (m_busy)
        wxEndBusyCursor();
}

bool CWaitingDlg::CreateModeless() {
    if (!CreateDialog())
        return false;
    Show();
    Update();
    return true;
}

void CWaitingDlg::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(91, wxRect(3, 2, c.x - 3, 28));
    m_text = new wxStaticText(this, kIdWaitingText, ui::FromUtf8(text), wxPoint(20, 44), wxSize(c.x - 40, 36),
                              wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_text->Wrap(c.x - 40);
    Centre();
    wxBeginBusyCursor();
    m_busy = true;
}

namespace {
const struct {
    int labelId;
    int controlId;
} kChildRows[] = {{uistr::kRecoveredFilesLabel, kIdRecoveredFiles},  {uistr::kSelectedFilesLabel, kIdSelectedFiles},
                  {uistr::kRecoveredDataSizeLabel, kIdRecoveredSize}, {uistr::kTotalDataSizeLabel, kIdTotalSize},
                  {uistr::kRemainingTimeLabel, kIdRemainingValueChild}, {uistr::kElapsedTimeLabel, kIdElapsedValue},
                  {uistr::kRecoveringFileNameLabel, kIdRecoveringName}};
}

CBuildDirectoryChildDlg::CBuildDirectoryChildDlg(CFileNode* n, int v, const std::string& t)
    : node(n), value(v), ownerText(t) {}

bool CBuildDirectoryChildDlg::Create(wxWindow* parent, const wxPoint& pos) {
    if (!wxPanel::Create(parent, wxID_ANY, pos, wxSize(400, 170)))
        return false;
    for (int i = 0; i < 7; ++i) {
        new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(kChildRows[i].labelId)), wxPoint(8, 6 + i * 22));
        m_values[i] = new wxStaticText(this, kChildRows[i].controlId, wxString(), wxPoint(170, 6 + i * 22),
                                       wxSize(220, 20), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    }
    UpdateData();
    return true;
}

void CBuildDirectoryChildDlg::UpdateData() {
    const std::string texts[7] = {std::to_string(recoveredFiles), std::to_string(selectedFiles), recoveredSize,
                                  totalSize, remainingTime, elapsedTime, uifmt::DisplayName(recoveringName)};
    for (int i = 0; i < 7; ++i)
        if (m_values[i])
            m_values[i]->SetLabelText(ui::FromUtf8(texts[i]));
}

wxStaticText* CBuildDirectoryChildDlg::Value(int controlId) {
    for (int i = 0; i < 7; ++i)
        if (kChildRows[i].controlId == controlId)
            return m_values[i];
    return nullptr;
}
