#include "ui/controls/AboutDlg.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/StringTable.h"

#include <wx/statbmp.h>

using namespace uires;

CAboutProfessionalDlg::CAboutProfessionalDlg(wxWindow* parent) : CSearchSuperDlg(kDlgAbout, parent) {}

void CAboutProfessionalDlg::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(141);
    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, MapControlId(kIdAboutClose), wxPoint(c.x - 25, 7));
    m_ok = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed, kBmpCaptionDisabled,
                                     uistr::kOk);
    m_ok->Create(this, MapControlId(kIdOk));
    m_ok->SetFont(ui::PointFont(13, 700));
    m_ok->MoveTo((c.x - m_ok->GetButtonSize().x) / 2, c.y - m_ok->GetButtonSize().y - 10);
    new wxStaticBitmap(this, kIdLogo, LoadBitmapResource(kBmpLogo), wxPoint(30, 50));
    auto* name = new wxStaticText(this, kIdSummaryLine, ui::FromUtf8(uistr::UiString(uistr::kProductName)),
                                  wxPoint(110, 60));
    name->SetFont(ui::PointFont(14, 700));
    name->SetSize(name->GetBestSize());
    new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kLatestProductInfo)), wxPoint(30, 130));
    const std::string site = uistr::UiString(uistr::kMakerWebAddress);
    m_link = new CHyperLink(CHyperLink::kUrlMode);
    m_link->SetURL(site);
    m_link->Create(this, kIdWebLink, ui::FromUtf8(site), wxPoint(30, 155));
    m_link->SetUnderline(1);
    auto* title = new wxStaticText(this, kIdAboutTitle, ui::FromUtf8(uistr::UiString(uistr::kProductName)),
                                   wxPoint(c.x / 2 - 102, 0), wxSize(204, 22), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    title->SetFont(ui::PointFont(11));
    title->SetForegroundColour(*wxWHITE);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent& e) {
        if (e.GetId() == MapControlId(kIdOk) || e.GetId() == MapControlId(kIdAboutClose))
            EndDialog(kResultOk);
        else
            e.Skip();
    });
    Centre();
}
