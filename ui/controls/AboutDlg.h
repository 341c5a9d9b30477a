#pragma once
// The skinned about box: product name, logo, the maker's web address as a link, and OK.
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/HyperLink.h"
#include "ui/controls/SkinDialog.h"

#include <wx/stattext.h>

class CAboutProfessionalDlg : public CSearchSuperDlg {
public:
    explicit CAboutProfessionalDlg(wxWindow* parent = nullptr);
    CHyperLink* Link() { return m_link; }
    CTextCenterButtonPlus* OkButton() { return m_ok; }
    CButtonPlus* CloseButton() { return m_close; }

protected:
    wxSize InitialClientSize() const override { return wxSize(490, 260); }
    void OnInitDialog() override;

private:
    CHyperLink* m_link = nullptr;
    CTextCenterButtonPlus* m_ok = nullptr;
    CButtonPlus* m_close = nullptr;
};
