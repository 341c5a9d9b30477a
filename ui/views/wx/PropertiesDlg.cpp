#include "ui/views/wx/PropertiesDlg.h"

#include <wx/dcbuffer.h>

CPropertyListDlg::CPropertyListDlg(wxWindow* parent, const wxString& title, const PropertyRows& rows)
    : wxDialog(parent, wxID_ANY, title, wxDefaultPosition, wxSize(440, 420),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER) {
    m_list = new wxListCtrl(this, 1172, wxDefaultPosition, wxDefaultSize, wxLC_REPORT | wxLC_SINGLE_SEL);
    m_list->AppendColumn("Name", wxLIST_FORMAT_LEFT, 200);
    m_list->AppendColumn("Value", wxLIST_FORMAT_LEFT, 200);
    long i = 0;
    for (const PropertyRow& row : rows) {
        m_list->InsertItem(i, wxString::FromUTF8(row.first));
        m_list->SetItem(i, 1, wxString::FromUTF8(row.second));
        ++i;
    }
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_list, 1, wxEXPAND | wxALL, 6);
    sizer->Add(CreateButtonSizer(wxOK), 0, wxEXPAND | wxALL, 6);
    SetSizer(sizer);
    CentreOnParent();
}

CAttributesStates::CAttributesStates(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "", wxDefaultPosition, wxSize(222, 264), wxBORDER_NONE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_close = new wxButton(this, 1156, "Close", wxPoint(222 - 70, 230), wxSize(60, 26));
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { EndModal(wxID_CANCEL); });
    Bind(wxEVT_PAINT, &CAttributesStates::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CAttributesStates::OnLeftDown, this);
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
    wxFont bold = GetFont().Bold();
    dc.SetFont(bold);
    const wxString title = "File States";
    dc.DrawText(title, (w - dc.GetTextExtent(title).x) / 2, 8);
    dc.SetFont(GetFont());
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

void CAttributesStates::OnLeftDown(wxMouseEvent& e) {
    if (e.GetPosition().y <= 30) {
        // Dragging the title band moves the window.
        const wxPoint start = ClientToScreen(e.GetPosition()) - GetPosition();
        CaptureMouse();
        while (wxGetMouseState().LeftIsDown()) {
            Move(wxGetMousePosition() - start);
            wxYield();
        }
        if (HasCapture())
            ReleaseMouse();
        return;
    }
    e.Skip();
}
