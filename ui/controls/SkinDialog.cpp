#include "ui/controls/SkinDialog.h"

#include "ui/controls/DrawHelpers.h"

#include <wx/dcbuffer.h>

CSearchSuperDlg::CSearchSuperDlg() : CSearchSuperDlg(uires::kDlgSearchSuper, nullptr) {}

// Each dialog builds its own controls: the template id names its layout and is not kept.
CSearchSuperDlg::CSearchSuperDlg(int /*templateId*/, wxWindow* parent) : m_parent(parent) {}

CSearchSuperDlg::~CSearchSuperDlg() = default;

bool CSearchSuperDlg::CreateDialog() {
    if (m_initialised)
        return true;
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    if (!wxDialog::Create(m_parent, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                          wxBORDER_NONE | wxFRAME_SHAPED | (m_resizable ? wxRESIZE_BORDER : 0)))
        return false;
    SetBackgroundColour(m_background);
    SetClientSize(InitialClientSize());
    SetEscapeId(wxID_NONE);
    Bind(wxEVT_PAINT, &CSearchSuperDlg::OnPaint, this);
    Bind(wxEVT_CHAR_HOOK, &CSearchSuperDlg::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &CSearchSuperDlg::OnClose, this);
    EnableDragStrip(this);
    m_initialised = true;
    OnInitDialog();
    return true;
}

int CSearchSuperDlg::DoModal() {
    if (!CreateDialog())
        return -1;
    return ShowModal();
}

void CSearchSuperDlg::EndDialog(int result) {
    if (IsModal())
        EndModal(result);
    else {
        SetReturnCode(result);
        Hide();
    }
}

void CSearchSuperDlg::EnableSkin(int tabInset, const wxRect& titleRect) {
    m_tabInset = tabInset;
    m_titleRect = titleRect;
    // Controls that clear their own background take the skin's inner panel colour.
    SetBackgroundColour(wxColour(241, 241, 241));
    Refresh();
}

void CSearchSuperDlg::ApplyShape() { ApplySkinShape(this); }

void CSearchSuperDlg::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    if (m_tabInset < 0) {
        dc.SetBackground(wxBrush(m_background));
        dc.Clear();
        return;
    }
    DrawSkinFrame(dc, s.x, s.y, m_tabInset);
    if (!m_titleRect.IsEmpty())
        DrawSkinTitle(dc, m_titleRect);
}

void CSearchSuperDlg::OnCharHook(wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE) {
        OnEscape();
        return;
    }
    e.Skip();
}

void CSearchSuperDlg::OnClose(wxCloseEvent&) { EndDialog(kResultCancel); }
