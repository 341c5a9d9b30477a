#include "app/windows/DeepScanDialog.h"

#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

namespace {

CIntelligentSearchingDialog* g_current = nullptr;

// The layout of the full dialog; hidden statistics move the bar and Cancel up to here.
constexpr int kCountersTop = 44;
constexpr int kCollapsedBottom = 150;

} // namespace

const char* const CIntelligentSearchingDialog::kCounterLabels[8] = {
    "Partition Tables:",  "FAT Boot Records:",  "FAT Folders:",      "FAT Folder Parts:",
    "NTFS Boot Records:", "NTFS File Records:", "Files Identified:", "Total Files Found:",
};

CIntelligentSearchingDialog* CurrentDeepScanDialog() {
    return g_current;
}

CIntelligentSearchingDialog::CIntelligentSearchingDialog(CDeepScanProgressModel& model,
                                                         wxWindow* parent)
    : CSearchSuperDlg(129, parent), m_model(model) {}

CIntelligentSearchingDialog::~CIntelligentSearchingDialog() {
    m_timer.Stop();
    if (g_current == this)
        g_current = nullptr;
}

bool CIntelligentSearchingDialog::CreateModeless() {
    if (!CreateDialog())
        return false;
    if (m_ended)
        return true;
    g_current = this;
    Show();
    Update();
    return true;
}

void CIntelligentSearchingDialog::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(141, wxRect(8, 2, c.x - 8, 28));
    SetBackgroundColourOfSkin(wxColour(241, 241, 241));
    new wxStaticText(this, wxID_ANY, "Elapsed Time:", wxPoint(20, 40));
    m_elapsed = new wxStaticText(this, kIdElapsed, "00:00:00", wxPoint(120, 40), wxSize(100, 18),
                                 wxST_NO_AUTORESIZE);
    new wxStaticText(this, wxID_ANY, "Remaining Time:", wxPoint(280, 40));
    m_remaining = new wxStaticText(this, kIdRemaining, "00:00:00", wxPoint(405, 40),
                                   wxSize(120, 18), wxST_NO_AUTORESIZE);
    for (int i = 0; i < 8; ++i) {
        const int column = i / 4, line = i % 4;
        const int x = 20 + column * 260, y = kCountersTop + 24 + line * 22;
        m_labels[i] = new wxStaticText(this, 1196 + i, kCounterLabels[i], wxPoint(x, y));
        m_counters[i] = new wxStaticText(this, kIdFirstCounter + i, "0", wxPoint(x + 140, y),
                                         wxSize(90, 18), wxST_NO_AUTORESIZE);
    }
    m_bar = new CProgressBar(this, kIdProgress, wxPoint(20, 0), wxSize(c.x - 40, 18));
    m_bar->SetColours(wxColour(97, 185, 228), wxColour(242, 247, 250));
    m_cancel = new CButtonPlus(uires::kBmpCancelNormal, uires::kBmpCancelHover,
                               uires::kBmpCancelPressed, uires::kBmpCancelDisabled);
    m_cancel->Create(this, kIdCancelSearch);
    m_show = new CTextCenterButtonPlus(uires::kBmpSimpleNormal, uires::kBmpSimpleHover,
                                       uires::kBmpSimplePressed, uires::kBmpSimpleDisabled, 0);
    m_show->Create(this, kIdShowStatistics);
    m_show->SetCaption(">>");
    m_hide = new CTextCenterButtonPlus(uires::kBmpSimpleNormal, uires::kBmpSimpleHover,
                                       uires::kBmpSimplePressed, uires::kBmpSimpleDisabled, 0);
    m_hide->Create(this, kIdHideStatistics);
    m_hide->SetCaption("<<");
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { AskCancel(); }, kIdCancelSearch);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { ShowStatistics(true); }, kIdShowStatistics);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { ShowStatistics(false); }, kIdHideStatistics);
    Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER ||
            e.GetKeyCode() == WXK_ESCAPE)
            return; // Enter and Esc never close the dialog
        e.Skip();
    });
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { OnSecond(); });
    ShowStatistics(true);
    Centre();
    if (!StartTimer()) {
        CMessageBoxDlg box;
        box.ShowMessage(kMbInformation, kMbOk, nullptr,
                        uistr::LoadUiString(uistr::kFailedToSetTimer));
        // Without its clock the dialog cannot show anything: it ends, the search goes on.
        m_ended = true;
        Detach();
        Hide();
    }
}

void CIntelligentSearchingDialog::Place() {
    const int full = InitialClientSize().y;
    const int bottom = m_statisticsShown ? full : kCollapsedBottom;
    SetClientSize(wxSize(InitialClientSize().x, bottom));
    const int barTop = bottom - 76;
    m_bar->SetPosition(wxPoint(20, barTop));
    const wxSize cancel = m_cancel->GetButtonSize();
    m_cancel->MoveTo((InitialClientSize().x - cancel.x) / 2, bottom - cancel.y - 10);
    const wxSize toggle = m_show->GetButtonSize();
    m_show->MoveTo(InitialClientSize().x - toggle.x - 20, bottom - toggle.y - 10);
    m_hide->MoveTo(InitialClientSize().x - toggle.x - 20, bottom - toggle.y - 10);
    ApplyShape();
    Refresh();
}

void CIntelligentSearchingDialog::ShowStatistics(bool show) {
    m_statisticsShown = show;
    for (int i = 0; i < 8; ++i) {
        m_labels[i]->Show(show);
        m_counters[i]->Show(show);
    }
    m_show->Show(!show);
    m_hide->Show(show);
    Place();
}

void CIntelligentSearchingDialog::RefreshFromModel() {
    if (m_detached)
        return;
    const CDeepScanProgressModel::View v = m_model.Snapshot();
    m_bar->SetRange(static_cast<int>(std::min<std::uint64_t>(v.barMaximum, 1000)));
    m_bar->SetPos(static_cast<int>(std::min<std::uint64_t>(v.barPosition, 1000)));
    for (int i = 0; i < 8; ++i)
        m_counters[i]->SetLabelText(
            wxString::Format("%d", static_cast<int>(static_cast<std::uint32_t>(v.counters[i]))));
    m_elapsed->SetLabelText(ui::FromUtf8(v.elapsed));
    m_remaining->SetLabelText(ui::FromUtf8(v.remaining));
}

void CIntelligentSearchingDialog::Detach() {
    m_detached = true;
    m_timer.Stop();
    if (g_current == this)
        g_current = nullptr;
}

void CIntelligentSearchingDialog::OnSecond() {
    if (m_detached)
        return;
    m_model.Tick();
    RefreshFromModel();
}

void CIntelligentSearchingDialog::AskCancel() {
    if (m_detached || m_questionOpen || m_model.Cancelled())
        return;
    m_questionOpen = true;
    CMessageBoxDlg box;
    const bool yes =
        box.ShowMessage(kMbQuestion, kMbYes | kMbNo, uistr::LoadUiString(uistr::kSearchingHeading),
                        uistr::LoadUiString(uistr::kStopSearchingNow)) == kResultOk;
    m_questionOpen = false;
    if (!yes || m_detached)
        return;
    m_model.Cancel();
    m_cancel->Enable(false);
    SetTitle(ui::FromUtf8(uistr::UiString(uistr::kCancelling)));
}

CWxDeepScanProgress::CWxDeepScanProgress(wxWindow* main)
    : m_dialog(new CIntelligentSearchingDialog(m_model, main)), m_main(main) {
    if (m_main)
        m_main->Disable();
    m_dialog->CreateModeless();
}

CWxDeepScanProgress::~CWxDeepScanProgress() {
    m_dialog->Detach();
    m_dialog->Hide();
    m_dialog->Destroy();
    if (m_main) {
        m_main->Enable();
        m_main->Raise();
    }
}
