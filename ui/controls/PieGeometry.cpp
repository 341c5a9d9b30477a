#include "ui/controls/PieGeometry.h"

#include <algorithm>
#include <cmath>

void PieRadii(int w, int h, int& rx, int& ry) {
    rx = static_cast<int>(static_cast<double>(w) / 100.0 * 35.0);
    ry = static_cast<int>(static_cast<double>(h) / 35.0 * 6.0);
}

PieGeometry ComputePie(std::uint64_t freeBytes, std::uint64_t requiredBytes, std::uint64_t usedBytes, int w,
                       int h, const PieGeometry& previous) {
    PieGeometry g;
    PieRadii(w, h, g.rx, g.ry);
    const uires::Rgb tops[3] = {uires::FromColorRef(0xFF00FF), uires::FromColorRef(0x05C9D3),
                                uires::FromColorRef(0xFF0000)};
    const uires::Rgb sides[3] = {uires::FromColorRef(0x800080), uires::FromColorRef(0x03787E),
                                 uires::FromColorRef(0x800000)};
    for (int i = 0; i < 3; ++i) {
        g.slices[i].top = tops[i];
        g.slices[i].sideColour = sides[i];
        g.slices[i].side = previous.slices[i].side;
    }
    // The total in long double: three 64-bit amounts may exceed 2^64 together.
    const long double total = static_cast<long double>(freeBytes) + static_cast<long double>(requiredBytes) +
                              static_cast<long double>(usedBytes);
    if (total == 0)
        return g;
    g.hasPie = true;
    const std::uint64_t amounts[3] = {freeBytes, requiredBytes, usedBytes};
    int sum = 0;
    for (int i = 0; i < 3; ++i) {
        const float share = static_cast<float>(static_cast<long double>(amounts[i]) / total);
        g.slices[i].sweep = static_cast<int>(share * 360.0f + 0.5f);
        sum += g.slices[i].sweep;
    }
    // Rounding leftovers go to the used-space slice; it never goes below 0 degrees, the rest of
    // an excess comes off the largest slice, so the sweeps always add up to 360.
    g.slices[2].sweep += 360 - sum;
    if (g.slices[2].sweep < 0) {
        const int excess = -g.slices[2].sweep;
        g.slices[2].sweep = 0;
        PieSlice& largest = g.slices[0].sweep >= g.slices[1].sweep ? g.slices[0] : g.slices[1];
        largest.sweep -= excess;
    }

    uigeo::Point start{g.rx, 0};
    int running = 0;
    for (int i = 0; i < 3; ++i) {
        PieSlice& s = g.slices[i];
        running += s.sweep;
        const double a = running * 3.141592653589 / 180.0;
        int ex = static_cast<int>(std::cos(a) * g.rx);
        ex = ex < 0 ? ex - 1 : ex + 1;
        ex = std::max(-g.rx, std::min(g.rx, ex));
        const int ey = static_cast<int>(std::sin(a) * g.ry);
        s.start = start;
        s.end = uigeo::Point{ex, ey};
        start = s.end;

        const int sx = s.start.x, sy = s.start.y;
        if (sy < 0)
            continue;   // keeps its previous rectangle
        int left, top, bottom;
        if ((sx <= 0 && ex > 0) || (sx > 0 && ex <= 0)) {
            if (ey <= 0) {
                left = -g.rx;
                top = 0;
            } else {
                left = ex;
                top = std::min(ey, sy);
            }
            bottom = g.ry + 12;
        } else if (sx <= 0 && ex <= 0) {
            if (ey <= 0) {
                left = -g.rx;
                top = 0;
            } else {
                left = ex;
                top = ey;
            }
            bottom = sy + 12;
        } else {
            if (ey <= 0 && s.sweep > 1) {
                left = -g.rx;
                top = 0;
                bottom = g.ry + 12;
            } else {
                left = ex;
                top = sy;
                bottom = ey + 12;
            }
        }
        s.side = uigeo::Rect{left, top, sx, bottom};
    }
    return g;
}
