#pragma once
// The geometry of the space pie: how many degrees each amount takes, where the slices' edges
// meet the ellipse and which part of the rim lies below each slice. No window code.
#include "ui/controls/Geometry.h"
#include "ui/controls/Resources.h"

#include <cstdint>

struct PieSlice {
    int sweep = 0;                 // degrees
    uigeo::Point start, end;       // on the ellipse, relative to the pie's centre (y down)
    uigeo::Rect side;              // rim area below the slice (right/bottom inclusive)
    uires::Rgb top, sideColour;
};

struct PieGeometry {
    int rx = 0, ry = 0;
    bool hasPie = false;           // false when the three amounts add up to 0
    PieSlice slices[3];            // 0 free, 1 required, 2 used
};

// Radii of a client of w x h pixels: rx = w / 100 x 35, ry = h / 35 x 6.
void PieRadii(int w, int h, int& rx, int& ry);
// Computes the pie for the amounts. `previous` supplies the side rectangles kept by slices that
// start above the centre line (pass the last result, or a default one).
PieGeometry ComputePie(std::uint64_t freeBytes, std::uint64_t requiredBytes, std::uint64_t usedBytes, int w,
                       int h, const PieGeometry& previous);
