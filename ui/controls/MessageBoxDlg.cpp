#include "ui/controls/MessageBoxDlg.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/StringTable.h"

#include <wx/dcclient.h>
#include <wx/gdicmn.h>

#include <algorithm>

CMessageBoxDlg::CMessageBoxDlg() : CSearchSuperDlg(uires::kDlgMessageBox, nullptr) {}

int CMessageBoxDlg::ShowMessage(int k, std::uint16_t b, const char* h, const char* m) {
    buttons = b;
    kind = k;
    message = m ? m : "";
    heading = h ? h : "";
    return DoModal();
}

wxSize CMessageBoxDlg::FitMessage(const wxFont& font, wxString* wrapped) {
    // The message's own lines are kept where they fit a box up to kMaxWidth wide (or the
    // screen, less a margin); longer lines wrap at words. The box grows from 445 x 250 to the
    // text: the message stands at x 108, with 20 pixels right of it and 60 below it.
    constexpr int kMaxWidth = 900;
    wxClientDC dc(this);
    dc.SetFont(font);
    const wxString text = ui::FromUtf8(message);
    const int screenWidth = wxGetDisplaySize().x;
    const int widest = std::max(317, std::min(kMaxWidth, screenWidth > 0 ? screenWidth - 80 : kMaxWidth) - 128);
    const int natural = text.empty() ? 0 : dc.GetMultiLineTextExtent(text).x;
    const int textWidth = std::clamp(natural, 317, widest);
    *wrapped = ui::WrapText(dc, text, textWidth);
    const wxSize extent = wrapped->empty() ? wxSize(0, 0) : dc.GetMultiLineTextExtent(*wrapped);
    return wxSize(std::max(445, std::max(textWidth, extent.x) + 128), std::max(250, extent.y + 175));
}

void CMessageBoxDlg::OnInitDialog() {
    using namespace uires;
    const wxFont headingFont = ui::PointFont(11);
    const wxFont messageFont = ui::PointFont(11);
    const wxFont buttonFont = ui::PointFont(13);
    wxString wrapped;
    SetClientSize(FitMessage(messageFont, &wrapped));
    const wxSize c = GetClientSize();
    Centre();
    ApplyShape();
    EnableSkin(131);

    m_icon = new wxStaticBitmap(this, MapControlId(kIdIconStatic), wxNullBitmap, wxPoint(30, 100), wxSize(48, 48));
    if (const int id = MessageBoxIconBitmap(kind))
        m_icon->SetBitmap(LoadBitmapResource(id));

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
    m_message->SetLabelText(wrapped);

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
    // The buttons share one size: the picture's, or more where a caption needs it.
    wxSize button(95, 39);
    for (int i = 0; i < MessageBoxLayout::Count; ++i) {
        auto* b = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed,
                                            kBmpCaptionDisabled, slots[i].caption);
        b->Create(this, MapControlId(slots[i].id));
        b->SetFont(buttonFont);
        button.x = std::max(button.x, b->GetButtonSize().x);
        button.y = std::max(button.y, b->GetButtonSize().y);
        *slots[i].member = b;
    }
    const MessageBoxLayout layout = LayoutMessageBox(c.x, c.y, buttons, button.x, button.y, 22);
    for (int i = 0; i < MessageBoxLayout::Count; ++i) {
        CTextCenterButtonPlus* b = *slots[i].member;
        b->SetSize(layout.pos[i].x, layout.pos[i].y, button.x, button.y);
        b->Show(layout.visible[i]);
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
