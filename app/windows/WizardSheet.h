#pragma once
// The wizard sheet window: ten pages (one shown at a time), the heading, and the header and
// footer buttons. Its buttons go through the sheet controller to the current page's controller.
#include "app/wizard/AppContext.h"
#include "app/wizard/SheetModel.h"
#include "app/windows/WizardPage.h"
#include "ui/controls/ButtonPlus.h"

#include <wx/wx.h>

#include <map>

enum SheetControlId : int {
    kIdHelpButton = 1001,
    kIdHomeButton = 1003,
    kIdNextButton = 1004,
    kIdBackButton = 1005,
    kIdHelpMenuHelp = 1006,
    kIdHelpMenuAbout = 1007,
    kIdModeButton = 1011,
    kIdLanguageButton = 1012,
    kIdFacebookButton = 1023,
    kIdGooglePlusButton = 1024,
    kIdHeading = 1027,
    kIdDeepScanButton = 1041,
    kIdSheet = 1314,
};

class CWizardSheetWnd : public wxWindow, public ISheet {
public:
    CWizardSheetWnd(wxWindow* parent, AppContext& context);
    ~CWizardSheetWnd() override;

    // ISheet
    void SetActivePage(int index) override;
    int GetActivePage() const override { return m_model.ActivePage(); }

    CWizardPage* Page(int index) const { return m_pages[index]; }
    CWizardPage* CurrentPage() const { return m_pages[m_model.ActivePage()]; }
    const CWizardSheetModel& Model() const { return m_model; }
    // The sheet's own buttons by control id (page controls may use the same ids).
    wxWindow* Button(int id) const;
    wxStaticText* Heading() const { return m_heading; }

private:
    void OnSize(wxSizeEvent& e);
    void OnPaint(wxPaintEvent&);
    void OnButton(wxCommandEvent& e);
    void OnHelpMenu();
    void LayoutButtons();
    // Sizes the heading to the lines its text wraps into, centred in the header band.
    void PlaceHeading();
    CTextCenterButtonPlus* FooterButton(int id, int captionId);
    // Deleted File Recovery steps.
    void CreateDeletedFileRecoveryPages();
    std::map<int, CButtonPlus*> m_buttons;

    AppContext& m_context;
    CWizardSheetModel m_model;
    CWizardPage* m_pages[kPageCount] = {};
    wxStaticText* m_heading = nullptr;
    wxBitmap m_headerBitmap, m_footerBitmap;
};
