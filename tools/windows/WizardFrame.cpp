#include "tools/windows/WizardFrame.h"
#include "ui/controls/StringTable.h"

#include "tools/ImageWizardModel.h"
#include "ui/controls/Resources.h"
#include "ui/controls/UiCommon.h"

namespace {
const wxColour kPageBackground(241, 241, 241);
}

CToolWizardFrame::CToolWizardFrame(int templateId, wxWindow* parent, ToolUiHooks hooks)
    : CSearchSuperDlg(templateId, parent), m_hooks(std::move(hooks)) {}

wxStaticText* PageText(wxWindow* page, const char* text, int x, int y, int width, bool bold) {
    auto* t = new wxStaticText(page, wxID_ANY, wxString::FromUTF8(text), wxPoint(x, y),
                               width > 0 ? wxSize(width, -1) : wxDefaultSize,
                               width > 0 ? wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END : 0);
    t->SetFont(ui::PixelFont(14, bold ? 700 : 400));
    return t;
}

CTextCenterButtonPlus* KitButton(wxWindow* parent, const char* caption, wxPoint at, bool large) {
    using namespace uires;
    auto* b = new CTextCenterSimpleButtonPlus(0, 1, 1);
    if (large)
        b->SetBitmaps(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed, kBmpCaptionDisabled);
    b->Create(parent, wxID_ANY, at);
    b->SetCaption(wxString::FromUTF8(caption));
    b->SetFont(ui::PixelFont(13));
    return b;
}

void CToolWizardFrame::BuildFrame(int pages, int bannerHeight, int pageHeight) {
    using namespace uires;
    const wxSize c = GetClientSize();
    Centre();
    ApplyShape();
    EnableSkin(106, wxRect(8, 2, c.x - 8, 28));

    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, wxID_ANY, wxPoint(c.x - 25, 7));
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnClosePressed(); });

    auto* bannerPanel = new wxPanel(this, wxID_ANY, wxPoint(5, 35), wxSize(c.x - 10, bannerHeight));
    bannerPanel->SetBackgroundColour(kPageBackground);
    m_banner = new wxStaticText(bannerPanel, wxID_ANY, wxString(), wxPoint(20, bannerHeight / 2 - 10),
                                wxSize(c.x - 50, 22), wxST_NO_AUTORESIZE);
    m_banner->SetFont(ui::PointFont(12, 700));

    const int top = 35 + bannerHeight;
    for (int i = 0; i < pages; ++i) {
        auto* page = new wxPanel(this, wxID_ANY, wxPoint(5, top), wxSize(c.x - 10, pageHeight));
        page->SetBackgroundColour(kPageBackground);
        page->Hide();
        m_pages.push_back(page);
    }

    struct Slot {
        CTextCenterButtonPlus** member;
        int captionId;
        int x;
    } slots[] = {{&m_back, uistr::kBackCaption, c.x - 330},
                 {&m_next, uistr::kNextCaption, c.x - 220},
                 {&m_cancel, uistr::kCancel, c.x - 110}};
    for (const Slot& s : slots) {
        auto* b = new CTextCenterButtonPlus(kBmpCaptionNormal, kBmpCaptionHover, kBmpCaptionPressed,
                                            kBmpCaptionDisabled, s.captionId);
        b->Create(this, wxID_ANY, wxPoint(s.x, c.y - 45));
        *s.member = b;
    }
    m_next->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnNext(); });
    m_back->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBack(); });
    m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancelPressed(); });
    m_back->Enable(false);

    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_F1)
            m_hooks.Help(kHelpTopic);
        else
            e.Skip();  // Enter presses the focused button; Escape goes to OnEscape
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
        if (IgnoresSystemClose() && e.CanVeto()) {
            e.Veto();
            return;
        }
        OnCancelPressed();
    });
}

void CToolWizardFrame::ShowPage(int index) {
    for (wxPanel* page : m_pages) page->Hide();
    m_shown = index;
    if (index >= 0 && index < static_cast<int>(m_pages.size())) m_pages[static_cast<std::size_t>(index)]->Show();
}

void CToolWizardFrame::SetBanner(int textId) {
    m_banner->SetLabel(wxString::FromUTF8(uistr::LoadUiString(textId)));
    m_banner->GetParent()->Refresh();
}
