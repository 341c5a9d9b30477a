#pragma once
// The wizard's page windows: the base that paints the page band, the recovery-mode page with
// its three large buttons, and the base of the device and volume pages.
#include "app/wizard/RecoveryModeController.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/views/wx/DeviceSelectCtrl.h"

#include <wx/wx.h>

// A page's small tool button: its four pictures from `firstBitmap` on (AppBitmaps.h), its
// caption from the string table.
CTextSmallIconButtonPlus* CreateToolButton(wxWindow* parent, int id, int firstBitmap, int captionId);

class CWizardPage : public wxWindow {
public:
    CWizardPage(wxWindow* parent, int index);
    int Index() const { return m_index; }
    virtual int GetHelpContextId() const;
    // Places the page's children for a client of cx x cy.
    virtual void LayoutPage(int, int) {}
    // Draws the page's own background over the band.
    virtual void Paint(wxDC&) {}
    // Ctrl+O on the page (only the Deep Scan device page acts on it).
    virtual void OnOpenImage() {}
    // The heading the sheet shows over the page: the step's own unless the page knows better.
    virtual int HeadingId(int stepHeading) const { return stepHeading; }

private:
    void OnSize(wxSizeEvent& e);
    void OnPaintEvent(wxPaintEvent&);
    int m_index;
};

// Pages with a device list (volumes, disks, found partitions).
class CDeviceSelectPage : public CWizardPage {
public:
    static constexpr int kListId = 1200;
    CDeviceSelectPage(wxWindow* parent, int index);
    CDeviceSelectCtrl* List() const { return m_list; }
    void LayoutPage(int cx, int cy) override;
    void Paint(wxDC& dc) override;
    virtual void PaintHeader(wxDC&) {}

private:
    CDeviceSelectCtrl* m_list = nullptr;
};

class CRecoveryModeSelectPage : public CWizardPage, public IButtonHoverListener {
public:
    static constexpr int kButtonIds[3] = {1000, 1001, 1002};
    CRecoveryModeSelectPage(wxWindow* parent, CRecoveryModeSelectController& controller);
    void LayoutPage(int cx, int cy) override;
    void Paint(wxDC& dc) override;
    CButtonPlus* ModeButton(int mode) const { return m_buttons[mode]; }
    const wxString& Prompt() const { return m_prompt; }

    // IButtonHoverListener: the page's prompt follows the button under the pointer.
    void OnHoverStarted(int id, const wxString& hoverText) override;
    void OnHoverEnded(int id) override;

private:
    void OnButton(wxCommandEvent& e);
    CRecoveryModeSelectController& m_controller;
    CButtonPlus* m_buttons[3] = {};
    wxString m_prompt;
};
