#include "app/windows/WizardSheet.h"

#include "ui/controls/ScrollWnd.h"

#include "app/windows/AppBitmaps.h"
#include "app/windows/DeepScanPages.h"
#include "app/windows/Links.h"
#include "app/windows/DeleteRecoveryPage.h"
#include "app/windows/FileSelectPage.h"
#include "app/windows/SaveFilePage.h"
#include "app/windows/SaveResultPage.h"
#include "app/wizard/DeepScanButton.h"
#include "app/windows/LostRecoveryWindows.h"
#include "ui/controls/AboutDlg.h"
#include "ui/controls/Bitmaps.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/arrstr.h>
#include <wx/dcbuffer.h>

namespace {
const wxColour kSheetGrey(241, 241, 241);
} // namespace

CTextCenterButtonPlus* CWizardSheetWnd::FooterButton(int id, int captionId) {
    auto* b = new CTextCenterButtonPlus(uires::kBmpCaptionNormal, uires::kBmpCaptionHover, uires::kBmpCaptionPressed,
                                        uires::kBmpCaptionDisabled, captionId);
    b->Create(this, id);
    m_buttons[id] = b;
    return b;
}

wxWindow* CWizardSheetWnd::Button(int id) const {
    auto it = m_buttons.find(id);
    return it == m_buttons.end() ? nullptr : it->second;
}

CWizardSheetWnd::CWizardSheetWnd(wxWindow* parent, AppContext& context)
    : wxWindow(parent, kIdSheet, wxDefaultPosition, wxDefaultSize, wxCLIP_CHILDREN | wxBORDER_NONE), m_context(context) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetBackgroundColour(kSheetGrey);
    m_headerBitmap = LoadBitmapResource(appres::kBmpHeader);
    m_footerBitmap = LoadBitmapResource(appres::kBmpFooter);

    m_pages[kPageRecoveryMode] = new CRecoveryModeSelectPage(this, context.ModeController());
    for (int i = 1; i < kPageCount; ++i) {
        const bool listPage = i == kPageDeleteRecoveryPartition || i == kPageCompleteRecoveryPartition ||
                              i == kPageLostRecoveryDisk || i == kPageLostRecoveryPartition ||
                              i == kPageCompleteRecoveryScanPartition || i == kPageLostRecoveryScanPartition;
        if (CWizardPage* page = CreateLostRecoveryPage(this, context, i))  // Lost Partition Recovery
            m_pages[i] = page;
        else
            m_pages[i] = listPage ? new CDeviceSelectPage(this, i) : new CWizardPage(this, i);
    }
    CreateDeletedFileRecoveryPages();
    CreateDeepScanPages(this, context, m_pages);

    auto* help = new CTextIconButtonPlus(appres::kBmpHelpNormal, appres::kBmpHelpHover, appres::kBmpHelpPressed,
                                         appres::kBmpHelpDisabled, uistr::kHelpCaption);
    help->Create(this, kIdHelpButton);
    m_buttons[kIdHelpButton] = help;
    FooterButton(kIdHomeButton, uistr::kHomeCaption);
    FooterButton(kIdNextButton, uistr::kNextCaption);
    FooterButton(kIdBackButton, uistr::kBackCaption);
    FooterButton(kIdDeepScanButton, uistr::kDeepScanButtonCaption);
    // The two network buttons are the small ones (80 x 26), side by side under the page.
    for (auto [id, caption] : {std::pair{kIdFacebookButton, uistr::kFacebookCaption}, std::pair{kIdGooglePlusButton, uistr::kGooglePlusCaption}}) {
        auto* b = new CTextCenterButtonPlus(uires::kBmpSimpleNormal, uires::kBmpSimpleHover, uires::kBmpSimplePressed,
                                            uires::kBmpSimpleDisabled, caption);
        b->Create(this, id);
        m_buttons[id] = b;
    }
    for (int id : {kIdModeButton, kIdLanguageButton}) {
        CTextCenterButtonPlus* b = FooterButton(id, id == kIdModeButton ? uistr::kModeCaption : uistr::kLanguageCaption);
        b->Hide();
        b->Disable();
    }
    m_heading = new wxStaticText(this, kIdHeading, "", wxDefaultPosition, wxSize(400, 70), wxST_NO_AUTORESIZE);
    m_heading->SetFont(ui::PixelFont(17, 700, "Arial"));
    m_heading->SetForegroundColour(wxColour(40, 44, 52));
    m_heading->SetBackgroundColour(kSheetGrey);

    Bind(wxEVT_SIZE, &CWizardSheetWnd::OnSize, this);
    Bind(wxEVT_PAINT, &CWizardSheetWnd::OnPaint, this);
    Bind(wxEVT_BUTTON, &CWizardSheetWnd::OnButton, this);
    // The Help button's menu (commands of pages with the same numbers are not ours).
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
        if (e.GetEventObject() != this)
            return e.Skip();
        m_context.Services().OpenUrl(SupportPageAddress(m_context.Paths()));
    }, kIdHelpMenuHelp);
    Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
        if (e.GetEventObject() != this)
            return e.Skip();
        CAboutProfessionalDlg about;
        about.DoModal();
    }, kIdHelpMenuAbout);
    context.SetSheet(this);
    SetActivePage(kPageRecoveryMode);
}

CWizardSheetWnd::~CWizardSheetWnd() {
    if (m_context.Sheet() == this)
        m_context.SetSheet(nullptr);
}

void CWizardSheetWnd::SetActivePage(int index) {
    if (index < 0 || index >= kPageCount)
        return;
    const int old = m_model.ActivePage();
    m_model.SetActivePage(index, m_context.ModeController().GetMode());
    const wxSize s = GetClientSize();
    for (int i = 0; i < kPageCount; ++i)
        m_pages[i]->Show(i == index);
    m_pages[index]->SetSize(0, 72, s.x, std::max(0, s.y - 132));
    if (old != index)
        m_pages[old]->SetSize(0, 0, 0, 0);
    const SheetFooter& f = m_model.Footer();
    Button(kIdHomeButton)->Show(f.home);
    Button(kIdNextButton)->Show(f.next);
    Button(kIdBackButton)->Show(f.back);
    Button(kIdFacebookButton)->Show(f.network);
    Button(kIdGooglePlusButton)->Show(f.network);
    Button(kIdDeepScanButton)->Show(f.deepScan);
    Button(kIdDeepScanButton)->Enable(f.deepScan);
    m_heading->SetLabel(ui::FromUtf8(uistr::UiString(m_pages[index]->HeadingId(m_model.HeadingId()))));
    PlaceHeading();
    m_pages[index]->Refresh();
    Refresh();
}

void CWizardSheetWnd::LayoutButtons() {
    const wxSize s = GetClientSize();
    // Buttons grown to their captions keep their anchors: the right-hand ones stay inside the
    // sheet, the centred ones centred, and the left-hand row does not overlap.
    auto button = [this](int id) -> CButtonPlus* {
        auto it = m_buttons.find(id);
        return it == m_buttons.end() ? nullptr : dynamic_cast<CButtonPlus*>(it->second);
    };
    auto width = [&](int id) { return button(id) ? button(id)->GetButtonSize().x : 0; };
    auto place = [&](int id, int x, int y) {
        if (CButtonPlus* b = button(id))
            b->MoveTo(x, y);
    };
    place(kIdHelpButton, std::min(s.x - 110, s.x - width(kIdHelpButton) - 10), 13);
    PlaceButtonRow({{button(kIdHomeButton), 10}, {button(kIdDeepScanButton), 110}}, s.y - 50);
    place(kIdNextButton, std::min(s.x - 105, s.x - width(kIdNextButton) - 10), s.y - 50);
    place(kIdBackButton, (s.x - std::max(95, width(kIdBackButton))) / 2, s.y - 50);
    place(kIdFacebookButton, std::min(s.x / 2 - 78, s.x / 2 - 2 - width(kIdFacebookButton)), s.y - 40);
    place(kIdGooglePlusButton, s.x / 2 + 3, s.y - 40);
    PlaceHeading();
}

void CWizardSheetWnd::PlaceHeading() {
    // The heading sits right of the header picture, centred in the 70-pixel band; a long text
    // wraps at word boundaries, so the control is as tall as the lines it takes.
    constexpr int kWidth = 400;
    const wxString text = m_heading->GetLabel();
    int lines = 0;
    for (const wxString& paragraph : wxSplit(text, '\n', '\0')) {
        ++lines;
        int used = 0;
        for (const wxString& word : wxSplit(paragraph, ' ', '\0')) {
            const int w = m_heading->GetTextExtent(used ? " " + word : word).x;
            if (used && used + w > kWidth) {
                ++lines;
                used = m_heading->GetTextExtent(word).x;
            } else {
                used += w;
            }
        }
    }
    lines = std::clamp(lines, 1, 3);
    const int textHeight = std::min(68, lines * m_heading->GetCharHeight() + 4);
    m_heading->SetSize(20 + (m_headerBitmap.IsOk() ? m_headerBitmap.GetWidth() : 0),
                       1 + (70 - textHeight) / 2, kWidth, textHeight);
}

void CWizardSheetWnd::OnSize(wxSizeEvent& e) {
    const wxSize s = GetClientSize();
    m_pages[m_model.ActivePage()]->SetSize(0, 73, s.x, std::max(0, s.y - 133));
    LayoutButtons();
    Refresh();
    e.Skip();
}

void CWizardSheetWnd::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kSheetGrey));
    dc.DrawRectangle(0, 0, s.x, s.y);
    dc.SetPen(wxPen(wxColour(176, 180, 183)));
    dc.DrawLine(0, 0, s.x, 0);
    dc.SetPen(wxPen(wxColour(131, 131, 135)));
    dc.DrawLine(0, 73, s.x, 73);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(196, 199, 204)));
    dc.DrawRectangle(1, 74, std::max(0, s.x - 2), std::max(0, s.y - 60 - 74));
    dc.SetPen(wxPen(wxColour(131, 131, 135)));
    dc.DrawLine(0, s.y - 61, s.x, s.y - 61);
    if (m_headerBitmap.IsOk())
        dc.DrawBitmap(m_headerBitmap, 0, 10, true);
    if (m_footerBitmap.IsOk())
        dc.DrawBitmap(m_footerBitmap, s.x / 2 - 338, s.y - 43, true);
}

void CWizardSheetWnd::OnHelpMenu() {
    // The flat menu under the Help button; the choice comes back as a menu command.
    CXPMenu menu;
    menu.Append(kIdHelpMenuHelp, uistr::UiString(uistr::kHelpCaption));
    menu.Append(kIdHelpMenuAbout, uistr::UiString(uistr::kAboutCaption));
    wxWindow* help = Button(kIdHelpButton);
    menu.Popup(this, help->ClientToScreen(wxPoint(0, help->GetSize().y)));
}

void CWizardSheetWnd::OnButton(wxCommandEvent& e) {
    CWizardSheetController& sheet = m_context.SheetController();
    switch (e.GetId()) {
    case kIdHomeButton: sheet.OnHomeButton(); break;
    case kIdNextButton: sheet.Next(); break;
    case kIdBackButton: sheet.Back(); break;
    case kIdHelpButton: OnHelpMenu(); break;
    case kIdDeepScanButton: DeepScanDeletedFileSelection(m_context); break;
    case kIdFacebookButton: m_context.Services().OpenUrl(kFacebookPageAddress); break;
    case kIdGooglePlusButton: m_context.Services().OpenUrl(kGooglePlusPageAddress); break;
    default: e.Skip(); break;
    }
}

// ---- Deleted File Recovery steps: their pages, when their controllers are installed ----
void CWizardSheetWnd::CreateDeletedFileRecoveryPages() {
    auto replace = [this](int index, CWizardPage* page) {
        m_pages[index]->Destroy();
        m_pages[index] = page;
        page->Hide();
    };
    if (auto* c = dynamic_cast<CDeleteRecoveryPartitionDeviceSelectController*>(m_context.Controller(kPageDeleteRecoveryPartition)))
        replace(kPageDeleteRecoveryPartition, new CDeleteRecoveryPartitionDeviceSelectPage(this, *c));
    if (auto* c = dynamic_cast<CFileSelectController*>(m_context.Controller(kPageFileSelect)))
        replace(kPageFileSelect, new CFileSelectPage(this, *c));
    if (auto* c = dynamic_cast<CSaveFileController*>(m_context.Controller(kPageSaveFile)))
        replace(kPageSaveFile, new CSaveFilePage(this, *c));
    if (auto* c = dynamic_cast<CSaveResultController*>(m_context.Controller(kPageSaveResult)))
        replace(kPageSaveResult, new CSaveResultPage(this, *c));
}
