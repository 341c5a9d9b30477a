#pragma once
// Plain rectangles and points for the controls' layout logic (left, top, right, bottom; right
// and bottom exclusive), independent of the window toolkit.
#include <algorithm>

namespace uigeo {

struct Point {
    int x = 0, y = 0;
    constexpr bool operator==(const Point&) const = default;
};

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    constexpr int Width() const { return right - left; }
    constexpr int Height() const { return bottom - top; }
    constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
    constexpr bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    constexpr bool operator==(const Rect&) const = default;
};

constexpr Rect MakeRect(int x, int y, int w, int h) { return Rect{x, y, x + w, y + h}; }

} // namespace uigeo
