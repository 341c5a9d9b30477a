#include "ui/controls/ScrollMath.h"

#include <algorithm>

int ScrollBarState::Apply(ScrollCode code, int track) const {
    auto clamp = [this](int v) { return std::max(min, std::min(max, v)); };
    switch (code) {
    case ScrollCode::LineUp: return clamp(pos - 1);
    case ScrollCode::LineDown: return clamp(pos + 1);
    case ScrollCode::PageUp: return clamp(pos - page);
    case ScrollCode::PageDown: return clamp(pos + page);
    case ScrollCode::ThumbTrack: return clamp(track);
    case ScrollCode::Top: return min;
    case ScrollCode::Bottom: return max;
    case ScrollCode::ThumbPosition: break;
    }
    return pos;
}

int ScrollBarState::Wheel(int delta) const {
    if (page >= max)
        return -1;
    int v = std::max(min, std::min(max, pos - delta));
    v = std::min(v, max - page);
    return std::max(min, v);
}

bool ScrollBarShown(int contentExtent, int clientExtent) {
    if (contentExtent == -1)
        return false;
    return !(contentExtent > 0 && contentExtent < clientExtent);
}
