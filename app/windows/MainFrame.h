#pragma once
// The main window: a borderless, rounded frame whose caption, border and caption buttons the
// program paints from the skin images in "info", with the child view that holds the wizard sheet.
// It is resized by dragging any edge or corner of its rim; its icon opens the window menu.
#include "app/wizard/AppContext.h"
#include "app/windows/WizardSheet.h"
#include "ui/controls/DUIButton.h"
#include "ui/controls/FrameRim.h"

#include <wx/wx.h>

#include <map>
#include <memory>

// Asks the main window to open a help topic (the event's int is the topic id).
wxDECLARE_EVENT(EVT_SHOW_HELP_TOPIC, wxCommandEvent);

enum MainFrameId : int {
    kIdMinimizeButton = 1008,
    kIdMaximizeButton = 1009,
    kIdCloseButtonFrame = 1010,
    kCmdOpenImage = 32777,
    kCmdPageHelp = 32778,
};

class CChildView : public wxWindow {
public:
    CChildView(wxWindow* parent, AppContext& context);
    CWizardSheetWnd* Sheet() const { return m_sheet; }

private:
    CWizardSheetWnd* m_sheet;
};

class CMainFrame : public wxFrame {
public:
    static constexpr int kCaptionHeight = 30;
    static constexpr int kBorder = 2;
    static constexpr int kClientWidth = 953;
    static constexpr int kClientHeight = 650;

    explicit CMainFrame(AppContext& context);

    CChildView* ChildView() const { return m_view; }
    CWizardSheetWnd* Sheet() const { return m_view->Sheet(); }
    // The smallest frame: a client area of 953 x 650.
    static wxSize MinimumFrameSize() { return wxSize(kClientWidth + 2 * kBorder, kClientHeight + kCaptionHeight + kBorder); }

    bool IsZoomed() const { return m_zoomed; }
    // The middle caption button shows the restore picture (while maximised).
    bool ShowsRestoreImage() const { return m_buttons.at(kIdMaximizeButton)->strip == &m_buttonImages[3]; }
    void ToggleZoom();
    const CDUIButton& CaptionButton(int id) const { return *m_buttons.at(id); }
    // The caption button at a point of the window, -1 for none.
    int ButtonAt(const wxPoint& p) const;
    // Where the window icon is drawn (a press opens its menu).
    static wxRect IconRect() { return wxRect(15, 13, 16, 16); }
    // The icon's menu at the icon (Restore, Minimize, Maximize, Close).
    void ShowSystemMenu();

protected:
    // The minimise button and the icon menu's Minimize.
    virtual void MinimiseWindow() { Iconize(true); }

private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent& e);
    void OnMouse(wxMouseEvent& e);
    void OnLeave(wxMouseEvent& e);
    void OnCaptureLost(wxMouseCaptureLostEvent&);
    void OnClose(wxCloseEvent& e);
    void OnCaptionCommand(wxCommandEvent& e);
    void OnHelpTopic(wxCommandEvent& e);
    void OnMenuCommand(wxCommandEvent& e);
    void OnSystemCommand(wxCommandEvent& e);
    void LayoutCaption();
    void SetHover(int id);

    AppContext& m_context;
    CChildView* m_view = nullptr;
    std::vector<wxBitmap> m_buttonImages;  // min, max, close, restore
    wxBitmap m_background, m_titleBack, m_icon;
    std::map<int, std::unique_ptr<CDUIButton>> m_buttons;
    int m_hoverId = -1;
    bool m_zoomed = false;
    wxRect m_normalRect;
    bool m_dragging = false;
    wxPoint m_dragOffset;
    CRimResizer m_rim{this, 4, MinimumFrameSize()};
};
