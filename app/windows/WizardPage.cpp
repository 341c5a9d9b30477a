#include "app/windows/WizardPage.h"

#include "app/wizard/WizardTypes.h"
#include "app/windows/AppBitmaps.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcbuffer.h>

CWizardPage::CWizardPage(wxWindow* parent, int index)
    : wxWindow(parent, 1300 + index, wxDefaultPosition, wxDefaultSize, wxCLIP_CHILDREN | wxBORDER_NONE), m_index(index) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetBackgroundColour(wxColour(196, 199, 204));  // owner-drawn children paint their corners with it
    Bind(wxEVT_SIZE, &CWizardPage::OnSize, this);
    Bind(wxEVT_PAINT, &CWizardPage::OnPaintEvent, this);
}

CTextSmallIconButtonPlus* CreateToolButton(wxWindow* parent, int id, int firstBitmap, int captionId) {
    appres::RegisterAppBitmaps();
    auto* b = new CTextSmallIconButtonPlus(firstBitmap, firstBitmap + 1, firstBitmap + 2, firstBitmap + 3, captionId);
    b->Create(parent, id);
    return b;
}

int CWizardPage::GetHelpContextId() const { return PageHelpContextId(m_index); }

void CWizardPage::OnSize(wxSizeEvent& e) {
    const wxSize s = GetClientSize();
    LayoutPage(s.x, s.y);
    Refresh();
    e.Skip();
}

void CWizardPage::OnPaintEvent(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(196, 199, 204)));
    dc.DrawRectangle(0, 0, s.x, s.y);
    dc.SetPen(wxPen(wxColour(131, 131, 135)));
    dc.DrawLine(0, 0, s.x, 0);
    dc.DrawLine(0, s.y - 1, s.x, s.y - 1);
    Paint(dc);
}

CDeviceSelectPage::CDeviceSelectPage(wxWindow* parent, int index) : CWizardPage(parent, index) {
    m_list = new CDeviceSelectCtrl(this, kListId);
    m_list->LoadRowBitmaps(kDeviceRowBitmaps);
}

void CDeviceSelectPage::LayoutPage(int cx, int cy) {
    m_list->SetSize(49, 52, std::max(0, cx - 98), std::max(0, cy - 58));
}

void CDeviceSelectPage::Paint(wxDC& dc) {
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(196, 199, 204)));
    dc.DrawRoundedRectangle(43, 40, s.x - 86, s.y - 40, 5);
    dc.DrawRectangle(43, 60, s.x - 86, s.y - 60);
    PaintHeader(dc);
}

namespace {
struct ModeButtonDesc {
    int normal, hover, pressed, disabled, caption, description, prompt;
};
const ModeButtonDesc kModeButtons[3] = {
    {appres::kBmpDeletedNormal, appres::kBmpDeletedHover, appres::kBmpDeletedPressed, appres::kBmpDeletedDisabled,
     uistr::kDeletedRecoveryCaption, uistr::kDeletedRecoveryDescription, uistr::kDeletedRecoveryPrompt},
    {appres::kBmpDeepNormal, appres::kBmpDeepHover, appres::kBmpDeepPressed, appres::kBmpDeepDisabled,
     uistr::kDeepScanCaption, uistr::kDeepScanDescription, uistr::kDeepScanPrompt},
    {appres::kBmpLostNormal, appres::kBmpLostHover, appres::kBmpLostPressed, appres::kBmpLostDisabled,
     uistr::kLostPartitionCaption, uistr::kLostPartitionDescription, uistr::kLostPartitionPrompt},
};
} // namespace

CRecoveryModeSelectPage::CRecoveryModeSelectPage(wxWindow* parent, CRecoveryModeSelectController& controller)
    : CWizardPage(parent, kPageRecoveryMode), m_controller(controller),
      m_prompt(ui::FromUtf8(uistr::UiString(uistr::kModePagePrompt))) {
    for (int i = 0; i < 3; ++i) {
        const ModeButtonDesc& d = kModeButtons[i];
        auto* b = new CRecoveryModeButtonPlus(d.normal, d.hover, d.pressed, d.disabled, d.caption, d.description);
        b->Create(this, kButtonIds[i]);
        b->SetHoverListener(this);
        b->SetHoverText(ui::FromUtf8(uistr::UiString(d.prompt)));
        m_buttons[i] = b;
    }
    Bind(wxEVT_BUTTON, &CRecoveryModeSelectPage::OnButton, this);
}

void CRecoveryModeSelectPage::LayoutPage(int cx, int cy) {
    const int left = (cx - 880) / 2, top = (cy - 350) / 2;
    for (int i = 0; i < 3; ++i)
        if (m_buttons[i])
            m_buttons[i]->MoveTo(left + 300 * i, top);
}

void CRecoveryModeSelectPage::Paint(wxDC& dc) {
    // The prompt line above the buttons.
    const wxSize s = GetClientSize();
    dc.SetFont(ui::PixelFont(18, 700, "Arial"));
    dc.SetTextForeground(wxColour(60, 64, 72));
    const int top = std::max(0, (s.y - 350) / 2 - 34);
    ui::DrawTextIn(dc, m_prompt, wxRect(0, top, s.x, 30), ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine);
}

void CRecoveryModeSelectPage::OnHoverStarted(int, const wxString& hoverText) {
    m_prompt = hoverText;
    Refresh();
}

void CRecoveryModeSelectPage::OnHoverEnded(int) {
    m_prompt = ui::FromUtf8(uistr::UiString(uistr::kModePagePrompt));
    Refresh();
}

void CRecoveryModeSelectPage::OnButton(wxCommandEvent& e) {
    for (int i = 0; i < 3; ++i)
        if (e.GetId() == kButtonIds[i]) {
            m_controller.ChooseMode(i);
            GetParent()->Refresh();
            return;
        }
    e.Skip();
}
