#pragma once
// The frame shared by the image wizards: a skinned dialog with a banner, one panel per page
// shown one at a time, and the Next, Back and Cancel buttons with the caption close button.
#include "tools/windows/ToolDialogs.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

#include <vector>

class CToolWizardFrame : public CSearchSuperDlg {
public:
    // F1 opens this help topic.
    static constexpr int kHelpTopic = kHelpDiskImage;

    CToolWizardFrame(int templateId, wxWindow* parent, ToolUiHooks hooks);

    wxPanel* Page(int index) const { return m_pages[static_cast<std::size_t>(index)]; }
    int ShownPage() const { return m_shown; }
    CTextCenterButtonPlus* NextButton() const { return m_next; }
    CTextCenterButtonPlus* BackButton() const { return m_back; }
    CTextCenterButtonPlus* CancelButton() const { return m_cancel; }
    CButtonPlus* CloseButton() const { return m_close; }
    wxString BannerText() const { return m_banner->GetLabel(); }

    virtual void OnNext() = 0;
    virtual void OnBack() = 0;
    virtual void OnCancelPressed() = 0;
    virtual void OnClosePressed() { OnCancelPressed(); }

protected:
    wxSize InitialClientSize() const override { return wxSize(520, 330); }
    // Builds the frame with `pages` empty panels; the derived dialog fills them.
    void BuildFrame(int pages, int bannerHeight, int pageHeight);
    void ShowPage(int index);
    void SetBanner(int textId);
    // Escape asks to cancel, as the Cancel button does, unless the shown page swallows it.
    void OnEscape() override {
        if (!PageSwallowsEscape(m_shown)) OnCancelPressed();
    }
    virtual bool PageSwallowsEscape(int /*page*/) const { return false; }
    // While true, closing the window from outside (the window manager) does nothing; otherwise it
    // asks to cancel like Escape.
    virtual bool IgnoresSystemClose() const { return false; }

    ToolUiHooks m_hooks;

private:
    std::vector<wxPanel*> m_pages;
    int m_shown = 0;
    wxStaticText* m_banner = nullptr;
    CTextCenterButtonPlus* m_next = nullptr;
    CTextCenterButtonPlus* m_back = nullptr;
    CTextCenterButtonPlus* m_cancel = nullptr;
    CButtonPlus* m_close = nullptr;
};

// A captioned push button of the control kit (the small picture set, or the caption-button set
// when `large`), sending wxEVT_BUTTON when clicked.
CTextCenterButtonPlus* KitButton(wxWindow* parent, const char* caption, wxPoint at, bool large = false);

// A static text on a page.
wxStaticText* PageText(wxWindow* page, const char* text, int x, int y, int width = -1, bool bold = false);
