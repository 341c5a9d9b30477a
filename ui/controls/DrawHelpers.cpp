#include "ui/controls/DrawHelpers.h"

#include "platform/AppPaths.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/html/helpctrl.h>

#include <map>

void BeginOffscreenPaint(wxDC& target, int width, int height, OffscreenPaint& rec) {
    rec.target = &target;
    rec.bitmap = wxBitmap(std::max(1, width), std::max(1, height));
    rec.memory = std::make_unique<wxMemoryDC>(rec.bitmap);
}

void EndOffscreenPaint(OffscreenPaint& rec) {
    if (!rec.memory || !rec.target)
        return;
    rec.target->Blit(0, 0, rec.bitmap.GetWidth(), rec.bitmap.GetHeight(), rec.memory.get(), 0, 0);
    rec.memory->SelectObject(wxNullBitmap);
    rec.memory.reset();
    rec.bitmap = wxNullBitmap;
}

wxBitmap SubBitmapInside(const wxBitmap& bitmap, const wxRect& rect) {
    if (!bitmap.IsOk() || rect.width <= 0 || rect.height <= 0 || rect.x < 0 || rect.y < 0 ||
        rect.width > bitmap.GetWidth() - rect.x || rect.height > bitmap.GetHeight() - rect.y)
        return wxBitmap();
    if (bitmap.GetMask())
        return wxBitmap(bitmap.ConvertToImage().GetSubImage(rect));
    return bitmap.GetSubBitmap(rect);
}

void DrawBitmap(const wxBitmap& bitmap, wxDC& dc) {
    if (bitmap.IsOk())
        dc.DrawBitmap(bitmap, 0, 0, true);
}

void DrawTransparentBitmap(wxDC& dc, const wxBitmap& bitmap, int x, int y, const wxColour& transparent) {
    if (!bitmap.IsOk())
        return;
    wxBitmap masked(bitmap.ConvertToImage());
    masked.SetMask(new wxMask(masked, transparent));
    dc.DrawBitmap(masked, x, y, true);
}

void DrawTransparentBitmapEx(wxDC& dc, const wxBitmap& bitmap, int x, int y, int width, int height, int keyX,
                             int keyY) {
    if (!bitmap.IsOk() || width <= 0 || height <= 0)
        return;
    wxImage image = bitmap.ConvertToImage();
    if (keyX < 0 || keyY < 0 || keyX >= image.GetWidth() || keyY >= image.GetHeight())
        return;
    const unsigned char kr = image.GetRed(keyX, keyY), kg = image.GetGreen(keyX, keyY),
                        kb = image.GetBlue(keyX, keyY);
    const wxColour fill = dc.GetTextBackground().IsOk() ? dc.GetTextBackground() : *wxWHITE;
    image.Replace(kr, kg, kb, fill.Red(), fill.Green(), fill.Blue());
    width = std::min(width, image.GetWidth());
    height = std::min(height, image.GetHeight());
    dc.DrawBitmap(wxBitmap(image.GetSubImage(wxRect(0, 0, width, height))), x, y, false);
}

void DrawGradient(wxDC& dc, const wxRect& rect, const wxColour& top, const wxColour& bottom) {
    if (rect.width <= 0 || rect.height <= 0)
        return;
    dc.GradientFillLinear(rect, top, bottom, wxSOUTH);
}

namespace {
void Fill(wxDC& dc, int x, int y, int w, int h, const wxColour& c) {
    if (w <= 0 || h <= 0)
        return;
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(c));
    dc.DrawRectangle(x, y, w, h);
}
// A gradient between corners (left, top) and (right, bottom).
void GradientCorners(wxDC& dc, int l, int t, int r, int b, const wxColour& c1, const wxColour& c2) {
    DrawGradient(dc, wxRect(l, t, r - l, b - t), c1, c2);
}
} // namespace

void DrawSkinFrame(wxDC& dc, int w, int h, int T) {
    const wxColour panel(241, 241, 241);
    Fill(dc, 0, 0, w, h, wxColour(59, 64, 74));
    Fill(dc, 5, 1, w - 10, h - 2, panel);
    Fill(dc, 3, 2, w - 6, h - 4, panel);
    Fill(dc, 2, 3, w - 4, h - 6, panel);
    Fill(dc, 1, 5, w - 2, h - 10, panel);
    Fill(dc, 5, 1, w - 10, 30, panel);
    const wxColour g1(228, 228, 228), g2(200, 200, 200);
    GradientCorners(dc, 3, 2, w - 6 + 3, 30, g1, g2);
    GradientCorners(dc, 2, 3, w - 4 + 2, 30, g1, g2);
    GradientCorners(dc, 1, 5, w - 2 + 1, 30, g1, g2);
    Fill(dc, 1, 30, w - 2, 1, wxColour(176, 180, 183));
    Fill(dc, 1, 31, w - 2, 1, panel);
    Fill(dc, T, 0, 1, 19, wxColour(100, 103, 112));
    Fill(dc, w - T, 0, 1, 19, wxColour(100, 103, 112));
    Fill(dc, T, 19, 1, 1, wxColour(170, 174, 178));
    Fill(dc, w - T, 19, 1, 1, wxColour(170, 174, 178));
    Fill(dc, T + 1, 0, w - 2 * T, 1, wxColour(128, 132, 140));
    Fill(dc, T + 1, 1, w - 2 * T, 1, wxColour(109, 113, 122));
    Fill(dc, T + 1, 2, w - 2 * T, 1, wxColour(91, 95, 104));
    GradientCorners(dc, T + 1, 3, w - T, 22, wxColour(80, 85, 94), wxColour(82, 86, 95));
    Fill(dc, T + 2, 22, w - 2 * T - 2, 1, wxColour(233, 234, 236));
    const struct {
        int x1, x2, y;
        wxColour c;
    } px[] = {{T + 1, w - T - 1, 20, wxColour(155, 157, 163)},
              {T + 1, w - T - 1, 21, wxColour(229, 230, 233)},
              {T + 2, w - T - 2, 21, wxColour(193, 194, 198)}};
    for (const auto& p : px) {
        Fill(dc, p.x1, p.y, 1, 1, p.c);
        Fill(dc, p.x2, p.y, 1, 1, p.c);
    }
}

void DrawSkinTitle(wxDC& dc, const wxRect& rect) {
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(wxColour(238, 237, 237));
    dc.SetFont(ui::PixelFont(14, 700));
    ui::DrawTextIn(dc, ui::FromUtf8(uistr::UiString(uistr::kProductName)), rect, ui::kTextCenter | ui::kTextVCenter);
}

bool ApplySkinShape(wxNonOwnedWindow* window) {
    const wxSize size = window->GetClientSize();
    wxGraphicsPath path = wxGraphicsRenderer::GetDefaultRenderer()->CreatePath();
    path.AddRoundedRectangle(0, 0, size.x + 1, size.y + 1, 4.5);
    return window->SetShape(path);
}

namespace {
// Moves one borderless window while the left button is held in its caption band.
class DragStrip : public wxEvtHandler {
public:
    explicit DragStrip(wxTopLevelWindow* w) : m_window(w) {
        w->Bind(wxEVT_LEFT_DOWN, &DragStrip::OnDown, this);
        w->Bind(wxEVT_MOTION, &DragStrip::OnMotion, this);
        w->Bind(wxEVT_LEFT_UP, &DragStrip::OnUp, this);
        w->Bind(wxEVT_MOUSE_CAPTURE_LOST, &DragStrip::OnLost, this);
        w->Bind(wxEVT_DESTROY, &DragStrip::OnDestroy, this);
    }

private:
    void OnDown(wxMouseEvent& e) {
        if (e.GetPosition().y > 30) {
            e.Skip();
            return;
        }
        m_offset = m_window->ClientToScreen(e.GetPosition()) - m_window->GetPosition();
        m_dragging = true;
        if (!m_window->HasCapture())
            m_window->CaptureMouse();
    }
    void OnMotion(wxMouseEvent& e) {
        if (m_dragging && e.LeftIsDown())
            m_window->Move(m_window->ClientToScreen(e.GetPosition()) - m_offset);
        e.Skip();
    }
    void OnUp(wxMouseEvent& e) {
        if (m_dragging) {
            m_dragging = false;
            if (m_window->HasCapture())
                m_window->ReleaseMouse();
            return;
        }
        e.Skip();
    }
    void OnLost(wxMouseCaptureLostEvent&) { m_dragging = false; }
    void OnDestroy(wxWindowDestroyEvent& e) {
        e.Skip();
        if (e.GetEventObject() == m_window) {
            m_window->Unbind(wxEVT_LEFT_DOWN, &DragStrip::OnDown, this);
            m_window->Unbind(wxEVT_MOTION, &DragStrip::OnMotion, this);
            m_window->Unbind(wxEVT_LEFT_UP, &DragStrip::OnUp, this);
            m_window->Unbind(wxEVT_MOUSE_CAPTURE_LOST, &DragStrip::OnLost, this);
            m_window->Unbind(wxEVT_DESTROY, &DragStrip::OnDestroy, this);
            delete this;
        }
    }
    wxTopLevelWindow* m_window;
    wxPoint m_offset;
    bool m_dragging = false;
};
} // namespace

void EnableDragStrip(wxTopLevelWindow* window) { new DragStrip(window); }

bool ShowHelpTopic(int contextId) {
    const std::string dir = platform::ResourceDir();
    for (const char* name : {"brulin.chm", "brulin.htb", "brulin.zip"}) {
        const std::string path = dir + name;
        if (!wxFileExists(ui::FromUtf8(path)))
            continue;
        static wxHtmlHelpController* controller = nullptr;
        if (!controller)
            controller = new wxHtmlHelpController(wxHF_DEFAULT_STYLE);
        if (!controller->AddBook(wxFileName(ui::FromUtf8(path))))
            return false;
        return controller->Display(contextId);
    }
    return false;
}

CVscrollwnd::CVscrollwnd(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxScrollBar(parent, id, pos, size, wxSB_VERTICAL) {
    Bind(wxEVT_SCROLL_TOP, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_BOTTOM, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_LINEUP, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_LINEDOWN, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_PAGEUP, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_PAGEDOWN, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_THUMBTRACK, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_THUMBRELEASE, &CVscrollwnd::OnScroll, this);
    Bind(wxEVT_SCROLL_CHANGED, &CVscrollwnd::OnScroll, this);
}

void CVscrollwnd::OnScroll(wxScrollEvent& event) {
    if (wxWindow* parent = GetParent()) {
        m_lastThumb = event.GetPosition();
        wxScrollEvent copy(event);
        copy.SetEventObject(this);
        wxPostEvent(parent, copy);
    }
    event.Skip();
}
