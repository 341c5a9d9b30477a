#include "app/windows/MainFrame.h"

#include "logging/Log.h"
#include "platform/FileTypeMap.h"
#include "ui/controls/Bitmaps.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcbuffer.h>
#include <wx/display.h>
#include <wx/graphics.h>

#include <chrono>

wxDEFINE_EVENT(EVT_SHOW_HELP_TOPIC, wxCommandEvent);

CChildView::CChildView(wxWindow* parent, AppContext& context)
    : wxWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxCLIP_CHILDREN | wxCLIP_SIBLINGS | wxBORDER_NONE) {
    m_sheet = new CWizardSheetWnd(this, context);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
        m_sheet->SetSize(GetClientSize());
        e.Skip();
    });
}

CMainFrame::CMainFrame(AppContext& context)
    : wxFrame(nullptr, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kProductName)), wxDefaultPosition, MinimumFrameSize(),
              wxBORDER_NONE | wxFRAME_SHAPED | wxMINIMIZE_BOX | wxMAXIMIZE_BOX | wxCLOSE_BOX | wxSYSTEM_MENU |
                  wxCLIP_CHILDREN),
      m_context(context) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    for (const char* name : {"min-button.bmp", "max-button.bmp", "close-button.bmp", "restore-button.bmp"})
        m_buttonImages.push_back(LoadSkinBitmap(name));
    m_background = LoadSkinBitmap("mainbg.png");
    m_titleBack = LoadSkinBitmap("titlebk.png");
    m_icon = CaptionIcon();

    const int ids[3] = {kIdMinimizeButton, kIdMaximizeButton, kIdCloseButtonFrame};
    for (int i = 0; i < 3; ++i) {
        auto b = std::make_unique<CDUIButton>();
        b->strip = &m_buttonImages[static_cast<std::size_t>(i)];
        b->frameCount = 4;
        b->commandId = ids[i];
        b->owner = this;
        m_buttons[ids[i]] = std::move(b);
    }

    m_view = new CChildView(this, context);
    SetSizeHints(MinimumFrameSize());
    SetSize(MinimumFrameSize());
    Centre();

    const auto start = std::chrono::steady_clock::now();
    BuildFileTypeList();
    ReleaseTrace("Enum register file used time :%f Second",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

    wxAcceleratorEntry keys[] = {wxAcceleratorEntry(wxACCEL_CTRL, 'O', kCmdOpenImage),
                                 wxAcceleratorEntry(wxACCEL_NORMAL, WXK_F1, kCmdPageHelp)};
    SetAcceleratorTable(wxAcceleratorTable(2, keys));

    Bind(wxEVT_PAINT, &CMainFrame::OnPaint, this);
    Bind(wxEVT_SIZE, &CMainFrame::OnSize, this);
    Bind(wxEVT_MOTION, &CMainFrame::OnMouse, this);
    Bind(wxEVT_LEFT_DOWN, &CMainFrame::OnMouse, this);
    Bind(wxEVT_LEFT_UP, &CMainFrame::OnMouse, this);
    Bind(wxEVT_LEFT_DCLICK, &CMainFrame::OnMouse, this);
    Bind(wxEVT_LEAVE_WINDOW, &CMainFrame::OnLeave, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &CMainFrame::OnCaptureLost, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_BUTTON, &CMainFrame::OnCaptionCommand, this);
    Bind(EVT_SHOW_HELP_TOPIC, &CMainFrame::OnHelpTopic, this);
    Bind(wxEVT_MENU, &CMainFrame::OnMenuCommand, this);
    for (int id : {kSysRestore, kSysMinimize, kSysMaximize, kSysClose})
        Bind(wxEVT_MENU, &CMainFrame::OnSystemCommand, this, id);
    LayoutCaption();
}

void CMainFrame::LayoutCaption() {
    const wxSize s = GetSize();
    const int ids[3] = {kIdMinimizeButton, kIdMaximizeButton, kIdCloseButtonFrame};
    for (int i = 0; i < 3; ++i)
        m_buttons[ids[i]]->SetRect(wxRect(s.x - 69 + 22 * i, 7, 22, 22));
    m_buttons[kIdMaximizeButton]->strip = &m_buttonImages[m_zoomed ? 3 : 1];
    m_view->SetSize(kBorder, kCaptionHeight, std::max(0, s.x - 2 * kBorder), std::max(0, s.y - kCaptionHeight - kBorder));
    ApplySkinShape(this);
}

void CMainFrame::OnSize(wxSizeEvent& e) {
    if (!IsIconized()) {
        LayoutCaption();
        Refresh();
    }
    // Not skipped: the frame's default handler would stretch the child view over the caption.
    (void)e;
}

void CMainFrame::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize s = GetSize();
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
    if (!gc)
        return;
    if (m_background.IsOk()) {
        // The image's caption rows along the caption, its other rows over the borders.
        const int bw = m_background.GetWidth(), bh = m_background.GetHeight();
        auto drawPart = [&](const wxRect& part, double x, double y, double w, double h) {
            const wxBitmap piece = SubBitmapInside(m_background, part);
            if (piece.IsOk())
                gc->DrawBitmap(piece, x, y, w, h);
        };
        if (bh > kCaptionHeight) {
            drawPart(wxRect(0, 0, bw, kCaptionHeight), 0, 0, s.x, kCaptionHeight);
            drawPart(wxRect(0, kCaptionHeight, bw, bh - kCaptionHeight), 0, kCaptionHeight, s.x,
                     std::max(0, s.y - kCaptionHeight));
        } else {
            gc->DrawBitmap(m_background, 0, 0, s.x, s.y);
        }
        // The caption's ends come from the image's own ends.
        if (bw > 100 && bh >= kCaptionHeight) {
            drawPart(wxRect(0, 0, 50, kCaptionHeight), 0, 0, 50, kCaptionHeight);
            drawPart(wxRect(bw - 50, 0, 50, kCaptionHeight), s.x - 50, 0, 50, kCaptionHeight);
        }
    } else {
        gc->SetBrush(gc->CreateLinearGradientBrush(0, 0, 0, kCaptionHeight, wxColour(70, 110, 160), wxColour(40, 70, 115)));
        gc->SetPen(*wxTRANSPARENT_PEN);
        gc->DrawRectangle(0, 0, s.x, s.y);
    }
    if (m_icon.IsOk())
        gc->DrawBitmap(m_icon, IconRect().x, IconRect().y, 16, 16);
    if (m_titleBack.IsOk())
        gc->DrawBitmap(m_titleBack, (s.x - 266) / 2, 0, m_titleBack.GetWidth(), m_titleBack.GetHeight());
    gc->SetFont(ui::PixelFont(18, 400, "Arial"), *wxWHITE);
    double tw = 0, th = 0;
    gc->GetTextExtent(GetTitle(), &tw, &th);
    gc->DrawText(GetTitle(), (s.x - tw) / 2, (kCaptionHeight - th) / 2);
    for (auto& [id, b] : m_buttons)
        b->Draw(*gc);
}

int CMainFrame::ButtonAt(const wxPoint& p) const {
    for (const auto& [id, b] : m_buttons)
        if (b->rect.Contains(p))
            return id;
    return -1;
}

void CMainFrame::SetHover(int id) {
    if (id == m_hoverId)
        return;
    for (auto& [bid, b] : m_buttons)
        b->hover = bid == id;
    m_hoverId = id;
    RefreshRect(wxRect(0, 0, GetSize().x, kCaptionHeight));
}

void CMainFrame::OnMouse(wxMouseEvent& e) {
    const wxPoint p = e.GetPosition();
    const int id = ButtonAt(p);
    // The rim first: a press on it resizes the frame (not while maximised).
    if (e.LeftDown() && id < 0 && !m_dragging && m_rim.OnDown(e))
        return;
    if ((e.Moving() || e.Dragging()) && !m_dragging && m_rim.OnMotion(e))
        return;
    if (e.LeftUp() && m_rim.OnUp(e))
        return;
    if (e.Moving() || e.Dragging()) {
        if (m_dragging) {
            Move(ClientToScreen(p) - m_dragOffset);
            return;
        }
        SetHover(id);
        return;
    }
    if (e.LeftDClick() && p.y < kCaptionHeight && id < 0) {
        ToggleZoom();
        return;
    }
    if (e.LeftDown()) {
        if (id >= 0) {
            m_buttons[id]->pressed = true;
            RefreshRect(m_buttons[id]->rect);
        } else if (IconRect().Contains(p)) {
            ShowSystemMenu();
        } else if (p.y < kCaptionHeight && !m_zoomed) {
            m_dragging = true;
            m_dragOffset = ClientToScreen(p) - GetPosition();
            CaptureMouse();
        }
        return;
    }
    if (e.LeftUp()) {
        if (m_dragging) {
            m_dragging = false;
            if (HasCapture())
                ReleaseMouse();
            return;
        }
        for (auto& [bid, b] : m_buttons) {
            if (bid == id)
                b->OnLButtonUp();  // posts the command
            b->pressed = false;
        }
        Refresh();
    }
}

void CMainFrame::OnLeave(wxMouseEvent& e) {
    if (!m_dragging)
        SetHover(-1);
    e.Skip();
}

void CMainFrame::OnCaptureLost(wxMouseCaptureLostEvent&) {
    m_dragging = false;
    m_rim.OnCaptureLost();
}

void CMainFrame::ShowSystemMenu() {
    MakeSystemMenu(m_zoomed).Popup(this, ClientToScreen(IconRect().GetBottomLeft() + wxPoint(0, 1)));
}

void CMainFrame::OnSystemCommand(wxCommandEvent& e) {
    if (e.GetEventObject() != this ||
        !RunSystemCommand(e.GetId(), m_zoomed, {[this] { ToggleZoom(); }, [this] { MinimiseWindow(); }, [this] { Close(); }}))
        e.Skip();
}

void CMainFrame::ToggleZoom() {
    if (m_zoomed) {
        m_zoomed = false;
        SetSize(m_normalRect);
    } else {
        m_normalRect = GetRect();
        m_zoomed = true;
        const int display = wxDisplay::GetFromWindow(this);
        wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
        area.width -= 1;
        SetSize(area);
    }
    m_rim.Enable(!m_zoomed);
    LayoutCaption();
    Refresh();
}

void CMainFrame::OnCaptionCommand(wxCommandEvent& e) {
    switch (e.GetId()) {
    case kIdMinimizeButton: MinimiseWindow(); break;
    case kIdMaximizeButton: ToggleZoom(); break;
    case kIdCloseButtonFrame: Close(); break;
    default: e.Skip(); break;
    }
}

void CMainFrame::OnClose(wxCloseEvent& e) {
    if (e.CanVeto() &&
        m_context.Services().MessageBox(uistr::kExitNow, kMbWarning, kMbYes | kMbNo) != kAnswerYes) {
        e.Veto();
        return;
    }
    Destroy();
}

void CMainFrame::OnHelpTopic(wxCommandEvent& e) { m_context.Services().ShowHelpTopic(e.GetInt()); }

void CMainFrame::OnMenuCommand(wxCommandEvent& e) {
    if (e.GetId() == kCmdOpenImage) {
        if (CWizardPage* page = Sheet()->CurrentPage())
            page->OnOpenImage();
    } else if (e.GetId() == kCmdPageHelp) {
        // F1: the help topic of the page it was pressed on.
        m_context.SheetController().ShowHelp();
    } else {
        e.Skip();
    }
}
