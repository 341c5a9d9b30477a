#include "ui/views/wx/PropertiesDlg.h"

#include <wx/dcbuffer.h>

#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"

CPropertyListDlg::CPropertyListDlg(wxWindow* parent, int templateId, const wxString& title, const PropertyRows& rows)
    : CSkinnedViewDlg(templateId, parent, title, wxSize(444, 420), false) {
    CreateDialog();
    wxPanel* body = Body();
    m_list = new wxListCtrl(body, 1172, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    m_list->AppendColumn("Name", wxLIST_FORMAT_LEFT, 200);
    m_list->AppendColumn("Value", wxLIST_FORMAT_LEFT, 200);
    long i = 0;
    for (const PropertyRow& row : rows) {
        m_list->InsertItem(i, ui::FromUtf8(row.first));
        m_list->SetItem(i, 1, ui::FromUtf8(row.second));
        ++i;
    }
    m_ok = new CTextCenterButtonPlus(uires::kBmpCaptionNormal, uires::kBmpCaptionHover, uires::kBmpCaptionPressed,
                                     uires::kBmpCaptionDisabled, uistr::kOk);
    m_ok->Create(body, uires::MapControlId(uires::kIdOk));
    m_ok->SetFont(ui::PointFont(11, 700));
    m_ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultOk); });
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_list, 1, wxEXPAND | wxALL, 6);
    sizer->Add(m_ok, 0, wxALIGN_CENTER_HORIZONTAL | wxBOTTOM, 6);
    body->SetSizer(sizer);
    body->Layout();
}

CAttributesStates::CAttributesStates(wxWindow* parent) : CSearchSuperDlg(362, parent) {}

void CAttributesStates::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    // The legend paints its own skin (see OnPaint); this handler replaces the base's.
    Bind(wxEVT_PAINT, &CAttributesStates::OnPaint, this);
    m_close = new CButtonPlus(uires::kBmpCloseNormal, uires::kBmpCloseHover, uires::kBmpClosePressed,
                              uires::kBmpCloseDisabled);
    m_close->Create(this, 1156, wxPoint(c.x - 25, 7));
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndDialog(kResultCancel); });
    m_title = new wxStaticText(this, 1247, ui::FromUtf8(uistr::UiString(uistr::kProductName)),
                               wxPoint(c.x / 2 - 80, 1), wxSize(160, 29),
                               wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_title->SetFont(ui::PixelFont(14, 700));
    m_title->SetForegroundColour(*wxBLACK);
    CentreOnParent();
}

void CAttributesStates::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    const int w = s.x, h = s.y;
    dc.SetBackground(wxBrush(wxColour(59, 64, 74)));
    dc.Clear();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(0xF1, 0xF1, 0xF1)));
    dc.DrawRectangle(5, 1, w - 10, h - 2);
    dc.DrawRectangle(3, 2, w - 6, h - 4);
    dc.DrawRectangle(2, 3, w - 4, h - 6);
    dc.DrawRectangle(1, 5, w - 2, h - 10);
    dc.GradientFillLinear(wxRect(1, 1, w - 2, 29), wxColour(0xE4, 0xE4, 0xE4), wxColour(0xC8, 0xC8, 0xC8), wxSOUTH);
    dc.SetPen(wxPen(wxColour(0xB0, 0xB4, 0xB7)));
    dc.DrawLine(1, 30, w - 1, 30);
    dc.SetPen(wxPen(wxColour(0xF1, 0xF1, 0xF1)));
    dc.DrawLine(1, 31, w - 1, 31);
    dc.SetTextForeground(*wxBLACK);
    dc.SetFont(ui::PixelFont(14));
    // The legend: the deleted mark and the three name colours.
    int y = 44;
    dc.SetPen(wxPen(wxColour(200, 0, 0), 2));
    dc.DrawLine(14, y + 2, 24, y + 12);
    dc.DrawLine(24, y + 2, 14, y + 12);
    dc.DrawText("Deleted file", 36, y);
    y += 30;
    const struct { wxColour colour; const char* text; } rows[] = {
        {*wxBLACK, "Normal file"},
        {wxColour(0, 0, 255), "Compressed file"},
        {wxColour(0, 160, 0), "Encrypted file"},
    };
    for (const auto& r : rows) {
        dc.SetTextForeground(r.colour);
        dc.DrawText("Aa", 14, y);
        dc.SetTextForeground(*wxBLACK);
        dc.DrawText(r.text, 36, y);
        y += 30;
    }
    dc.DrawText("D  deleted   L  lost", 14, y);
    dc.DrawText("C  cross-linked", 14, y + 22);
}
