#include "ui/controls/PieCtrl.h"

#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>

#include <cmath>
#include <cstdio>

bool CPieCtrl::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    const wxSize s(std::max(size.x, 180), std::max(size.y, 130));
    if (!wxWindow::Create(parent, id, pos, s, wxBORDER_NONE))
        return false;
    Bind(wxEVT_PAINT, &CPieCtrl::OnPaint, this);
    return true;
}

void CPieCtrl::SetAmounts(std::uint64_t f, std::uint64_t r, std::uint64_t u) {
    freeSpace = f;
    requiredSpace = r;
    usedSpace = u;
    Refresh();
}

void CPieCtrl::SetBackground(const wxColour& c) {
    background = c;
    Refresh();
}

namespace {

void SetPx(wxImage& img, int x, int y, const wxColour& c) {
    if (x >= 0 && y >= 0 && x < img.GetWidth() && y < img.GetHeight())
        img.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
}

void Line(wxImage& img, int x0, int y0, int x1, int y1, const wxColour& c) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1, dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        SetPx(img, x0, y0, c);
        if (x0 == x1 && y0 == y1)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

bool InEllipse(double x, double y, int rx, int ry) {
    return rx > 0 && ry > 0 && (x * x) / (double(rx) * rx) + (y * y) / (double(ry) * ry) <= 1.0;
}

} // namespace

wxImage CPieCtrl::Render(int W, int H) {
    wxBitmap bitmap(std::max(1, W), std::max(1, H));
    {
        wxMemoryDC dc(bitmap);
        dc.SetPen(wxPen(background));
        dc.SetBrush(wxBrush(background));
        dc.DrawRectangle(0, 0, W, H);
        dc.SetPen(wxPen(ui::ColorRef(0xD3C5A5)));
        dc.DrawRectangle(10, 10, W - 20, H - 20);
        const wxFont font = ui::PointFont(8, 400, "Arial");
        dc.SetFont(font);
        dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
        dc.SetTextBackground(background);
        dc.SetTextForeground(*wxBLACK);
        const wxString title = ui::FromUtf8(uistr::UiString(uistr::kSelectedPartitionInformation));
        const wxSize ts = dc.GetTextExtent(title);
        dc.DrawText(title, 20, 10 - ts.y / 2);
        m_geometry = ComputePie(freeSpace, requiredSpace, usedSpace, W, H, m_geometry);
        const bool any = m_geometry.hasPie;
        const struct {
            int y;
            int slice;
            int textId;
            std::uint64_t amount;
        } rows[] = {{25, 2, uistr::kUsedSpaceLegend, usedSpace},
                    {40, 0, uistr::kFreeSpaceLegend, freeSpace},
                    {55, 1, uistr::kRequiredSpaceLegend, requiredSpace}};
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        for (const auto& r : rows) {
            char buf[128];
            std::snprintf(buf, sizeof buf, uistr::LoadUiString(r.textId),
                          uifmt::FormatSize(static_cast<std::int64_t>(std::min<std::uint64_t>(r.amount, INT64_MAX))).c_str());
            const wxString text = ui::FromUtf8(buf);
            const int h = dc.GetTextExtent(text).y;
            const wxColour c = ui::ToWx(m_geometry.slices[r.slice].top);
            int x = 25;
            if (any) {
                dc.SetPen(wxPen(ui::ColorRef(0x808080)));
                dc.SetBrush(wxBrush(c));
                dc.DrawRectangle(25, r.y, h - 5, h - 5);
                x = 25 + h - 5 + 10;
            }
            dc.SetTextForeground(c);
            dc.DrawText(text, x, r.y - 3);
        }
    }
    wxImage img = bitmap.ConvertToImage();
    if (!m_geometry.hasPie)
        return img;
    const int cx = W / 2, cy = H - H / 3, RX = m_geometry.rx, RY = m_geometry.ry;
    // Angle of a point on the tilted circle, clockwise on screen from the right, 0..360.
    auto angleOf = [&](double x, double y) {
        double a = std::atan2(y * RX / std::max(1, RY), x) * 180.0 / 3.141592653589;
        return a < 0 ? a + 360 : a;
    };
    auto sliceAt = [&](double a) {
        int acc = 0;
        for (int i = 0; i < 3; ++i) {
            acc += m_geometry.slices[i].sweep;
            if (a < acc)
                return i;
        }
        return 2;
    };
    const wxColour black(0, 0, 0), white(255, 255, 255);
    // Rim: the band below the lower half of the ellipse, 12 pixels deep, white first.
    for (int y = 0; y <= RY + 12; ++y)
        for (int x = -RX; x <= RX; ++x)
            if (!InEllipse(x, y, RX, RY) && InEllipse(x, y - 12, RX, RY))
                SetPx(img, cx + x, cy + y, white);
    // Then each slice's side colour on the white pixels of its side rectangle.
    for (int i = 0; i < 3; ++i) {
        const PieSlice& s = m_geometry.slices[i];
        const uigeo::Rect r = s.side;
        for (int y = std::min(r.top, r.bottom); y <= std::max(r.top, r.bottom); ++y)
            for (int x = std::min(r.left, r.right); x <= std::max(r.left, r.right); ++x) {
                const int px = cx + x, py = cy + y;
                if (px < 0 || py < 0 || px >= W || py >= H)
                    continue;
                if (img.GetRed(px, py) == 255 && img.GetGreen(px, py) == 255 && img.GetBlue(px, py) == 255 &&
                    !InEllipse(x, y, RX, RY) && InEllipse(x, y - 12, RX, RY))
                    SetPx(img, px, py, ui::ToWx(s.sideColour));
            }
    }
    // Top: slices of more than 2 degrees.
    for (int y = -RY; y <= RY; ++y)
        for (int x = -RX; x <= RX; ++x) {
            if (!InEllipse(x, y, RX, RY))
                continue;
            const int i = sliceAt(angleOf(x, y));
            if (m_geometry.slices[i].sweep > 2)
                SetPx(img, cx + x, cy + y, ui::ToWx(m_geometry.slices[i].top));
        }
    // Outlines: the ellipse, the rim's lower arc and sides, the slice edges.
    for (int y = -RY - 1; y <= RY + 13; ++y)
        for (int x = -RX - 1; x <= RX + 1; ++x) {
            const bool in = InEllipse(x, y, RX, RY);
            const bool edgeTop = in && (!InEllipse(x + 1, y, RX, RY) || !InEllipse(x - 1, y, RX, RY) ||
                                        !InEllipse(x, y + 1, RX, RY) || !InEllipse(x, y - 1, RX, RY));
            const bool inLow = InEllipse(x, y - 12, RX, RY);
            const bool edgeLow = inLow && y >= 12 && !InEllipse(x, y - 11, RX, RY);
            if (edgeTop || edgeLow)
                SetPx(img, cx + x, cy + y, black);
        }
    Line(img, cx - RX, cy, cx - RX, cy + 12, black);
    Line(img, cx + RX, cy, cx + RX, cy + 12, black);
    for (int i = 0; i < 3; ++i) {
        const PieSlice& s = m_geometry.slices[i];
        if (s.sweep > 2 && s.sweep < 360) {
            Line(img, cx, cy, cx + s.start.x, cy + s.start.y, black);
            Line(img, cx, cy, cx + s.end.x, cy + s.end.y, black);
        }
        if (s.end.y > 0)
            Line(img, cx + s.end.x, cy + s.end.y, cx + s.end.x, cy + s.end.y + 12, black);
    }
    return img;
}

void CPieCtrl::OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    const wxSize s = GetClientSize();
    dc.DrawBitmap(wxBitmap(Render(s.x, s.y)), 0, 0);
}
