#include "ui/controls/MessageBoxDlg.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/StringTable.h"

CMessageBoxDlg::CMessageBoxDlg() : CSearchSuperDlg(uires::kDlgMessageBox, nullptr) {}

int CMessageBoxDlg::ShowMessage(int k, std::uint16_t b, const char* h, const char* m) {
    buttons = b;
    kind = k;
    message = m ? m : "";
    heading = h ? h : "";
    return DoModal();
}

void CMessageBoxDlg::OnInitDialog() {
    using namespace uires;
    const wxSize c = GetClientSize();
    Centre();
    ApplyShape();
    EnableSkin(131);

    m_icon = new wxStaticBitmap(this, MapControlId(kIdIconStatic), wxNullBitmap, wxPoint(30, 100), wxSize(48, 48));
    if (const int id = MessageBoxIconBitmap(kind))
        m_icon->SetBitmap(LoadBitmapResource(id));

    const wxFont headingFont = ui::PointFont(11);
    const wxFont messageFont = ui::PointFont(11);
    const wxFont buttonFont = ui::PointFont(13);

    m_heading = new wxStaticText(this, MapControlId(kIdHeadingStatic), ui::FromUtf8(heading), wxPoint(30, 60),
                                 wxSize(c.x - 80, 30), wxST_NO_AUTORESIZE);
    m_heading->SetFont(headingFont);
    m_heading->Show(!heading.empty());

    m_title = new wxStaticText(this, MapControlId(kIdTitleStatic), ui::FromUtf8(uistr::UiString(uistr::kProductName)),
                               wxPoint(c.x / 2 - 92, 0), wxSize(184, 22), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_title->SetFont(headingFont);
    m_title->SetForegroundColour(*wxWHITE);

    m_message = new wxStaticText(this, MapControlId(kIdMessageStatic), wxString(), wxPoint(108, 115),
                                 wxSize(c.x - 128, c.y - 175), wxST_NO_AUTORESIZE);
    m_message->SetFont(messageFont);
    m_message->SetLabelText(ui::FromUtf8(message));
    m_message->Wrap(c.x - 128);

    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, MapControlId(kIdCloseButton), wxPoint(c.x - 25, 7));

    struct ButtonSlot {
        CTextCenterButtonPlus** member;
        int id;
        int caption;
    } slots[] = {{&m_ok, kIdOk, uistr::kOk},
                 {&m_cancel, kIdCancel, uistr::kCancel},
                 {&m_yes, kIdYesButton, uistr::kYes},
                 {&m_no, kIdNoButton, uistr::kNo}};
    const MessageBoxLayout layout = LayoutMessageBox(c.x, c.y, buttons, 95, 39, 22);
    for (int i = 0; i < MessageBoxLayout::Count; ++i) {
        auto* b = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed,
                                            kBmpCaptionDisabled, slots[i].caption);
        b->Create(this, MapControlId(slots[i].id));
        b->SetFont(buttonFont);
        b->MoveTo(layout.pos[i].x, layout.pos[i].y);
        b->Show(layout.visible[i]);
        *slots[i].member = b;
    }
    Bind(wxEVT_BUTTON, &CMessageBoxDlg::OnButton, this);
}

void CMessageBoxDlg::OnButton(wxCommandEvent& e) {
    using namespace uires;
    const int id = e.GetId();
    if (id == MapControlId(kIdOk) || id == MapControlId(kIdYesButton))
        EndDialog(kResultOk);
    else if (id == MapControlId(kIdCancel) || id == MapControlId(kIdNoButton) || id == MapControlId(kIdCloseButton))
        EndDialog(kResultCancel);
    else
        e.Skip();
}

int ShowMessageBox(int kind, const std::string& message, std::uint16_t buttons) {
    CMessageBoxDlg box;
    return box.ShowMessage(kind, buttons, nullptr, message.c_str());
}
