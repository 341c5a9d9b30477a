#include "ui/controls/FrameRim.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/Resources.h"

#include <algorithm>

int RimEdgesAt(const wxSize& size, const wxPoint& p, int rim, int corner) {
    if (p.x < 0 || p.y < 0 || p.x >= size.x || p.y >= size.y)
        return 0;
    const bool nearLeft = p.x < rim, nearRight = p.x >= size.x - rim;
    const bool nearTop = p.y < rim, nearBottom = p.y >= size.y - rim;
    if (!nearLeft && !nearRight && !nearTop && !nearBottom)
        return 0;
    int edges = 0;
    // On the rim near a corner, both edges of that corner move.
    if (nearLeft || ((nearTop || nearBottom) && p.x < corner))
        edges |= kRimLeft;
    if (nearRight || ((nearTop || nearBottom) && p.x >= size.x - corner))
        edges |= kRimRight;
    if (nearTop || ((nearLeft || nearRight) && p.y < corner))
        edges |= kRimTop;
    if (nearBottom || ((nearLeft || nearRight) && p.y >= size.y - corner))
        edges |= kRimBottom;
    return edges;
}

wxRect RimDragRect(const wxRect& start, int edges, const wxPoint& delta, const wxSize& minimum) {
    int left = start.GetLeft(), top = start.GetTop();
    int right = start.GetLeft() + start.GetWidth(), bottom = start.GetTop() + start.GetHeight();
    if (edges & kRimLeft)
        left = std::min(left + delta.x, right - minimum.x);
    if (edges & kRimRight)
        right = std::max(right + delta.x, left + minimum.x);
    if (edges & kRimTop)
        top = std::min(top + delta.y, bottom - minimum.y);
    if (edges & kRimBottom)
        bottom = std::max(bottom + delta.y, top + minimum.y);
    return wxRect(left, top, right - left, bottom - top);
}

wxStockCursor RimCursor(int edges) {
    const bool h = edges & (kRimLeft | kRimRight), v = edges & (kRimTop | kRimBottom);
    if (h && v)
        return ((edges & kRimLeft) != 0) == ((edges & kRimTop) != 0) ? wxCURSOR_SIZENWSE : wxCURSOR_SIZENESW;
    if (h)
        return wxCURSOR_SIZEWE;
    if (v)
        return wxCURSOR_SIZENS;
    return wxCURSOR_NONE;
}

CRimResizer::CRimResizer(wxTopLevelWindow* window, int rim, const wxSize& minimum)
    : m_window(window), m_rim(rim), m_minimum(minimum) {}

void CRimResizer::Enable(bool enabled) {
    m_enabled = enabled;
    if (!enabled)
        m_edges = 0;
}

bool CRimResizer::OnDown(const wxMouseEvent& e) {
    if (!m_enabled)
        return false;
    const int edges = RimEdgesAt(m_window->GetSize(), e.GetPosition(), m_rim, 4 * m_rim);
    if (!edges)
        return false;
    m_edges = edges;
    m_start = m_window->ClientToScreen(e.GetPosition());
    m_startRect = m_window->GetRect();
    if (!m_window->HasCapture())
        m_window->CaptureMouse();
    return true;
}

bool CRimResizer::OnMotion(const wxMouseEvent& e) {
    if (!m_edges) {
        const int edges = m_enabled ? RimEdgesAt(m_window->GetSize(), e.GetPosition(), m_rim, 4 * m_rim) : 0;
        if (edges != m_shownCursor) {
            m_shownCursor = edges;
            m_window->SetCursor(edges ? wxCursor(RimCursor(edges)) : wxNullCursor);
        }
        return false;
    }
    const wxPoint delta = m_window->ClientToScreen(e.GetPosition()) - m_start;
    const wxRect r = RimDragRect(m_startRect, m_edges, delta, m_minimum);
    if (r != m_window->GetRect())
        m_window->SetSize(r);
    return true;
}

bool CRimResizer::OnUp(const wxMouseEvent&) {
    if (!m_edges)
        return false;
    m_edges = 0;
    if (m_window->HasCapture())
        m_window->ReleaseMouse();
    return true;
}

CXPMenu MakeSystemMenu(bool maximised) {
    CXPMenu menu;
    menu.Append(kSysRestore, "Restore", maximised);
    menu.Append(kSysMinimize, "Minimize");
    menu.Append(kSysMaximize, "Maximize", !maximised);
    menu.Append(kSysClose, "Close");
    return menu;
}

bool RunSystemCommand(int id, bool maximised, const SystemMenuActions& actions) {
    switch (id) {
    case kSysRestore:
        if (maximised)
            actions.toggleMaximise();
        return true;
    case kSysMaximize:
        if (!maximised)
            actions.toggleMaximise();
        return true;
    case kSysMinimize: actions.minimise(); return true;
    case kSysClose: actions.close(); return true;
    default: return false;
    }
}

wxBitmap CaptionIcon() {
    const wxBitmap logo = LoadBitmapResource(uires::kBmpLogo);
    if (!logo.IsOk())
        return wxBitmap();
    return wxBitmap(logo.ConvertToImage().Scale(16, 16, wxIMAGE_QUALITY_HIGH));
}
