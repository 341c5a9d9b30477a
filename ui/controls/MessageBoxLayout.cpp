#include "ui/controls/MessageBoxLayout.h"

#include "ui/controls/Resources.h"

MessageBoxLayout LayoutMessageBox(int w, int h, std::uint16_t buttons, int bw, int bh, int closeW) {
    MessageBoxLayout l;
    l.close = uigeo::Point{w - 25, 7};
    (void)closeW;
    const std::uint16_t flags[MessageBoxLayout::Count] = {kMbOk, kMbCancel, kMbYes, kMbNo};
    const int y = h - bh - 10;
    // The template's places: a row of four, centred.
    const int gap = 8;
    const int rowLeft = (w - (4 * bw + 3 * gap)) / 2;
    for (int i = 0; i < MessageBoxLayout::Count; ++i) {
        l.visible[i] = (buttons & flags[i]) != 0;
        l.pos[i] = uigeo::Point{rowLeft + i * (bw + gap), y};
        if (l.visible[i])
            ++l.visibleCount;
    }
    if (l.visibleCount == 1) {
        for (int i = 0; i < MessageBoxLayout::Count; ++i)
            if (l.visible[i])
                l.pos[i] = uigeo::Point{(w - bw) / 2, y};
    } else if (l.visibleCount == 2) {
        auto pair = [&](int left, int right) {
            if (l.visible[left] && l.visible[right]) {
                l.pos[left] = uigeo::Point{w / 2 - bw - 20, y};
                l.pos[right] = uigeo::Point{w / 2 + 20, y};
            }
        };
        pair(MessageBoxLayout::Ok, MessageBoxLayout::Cancel);
        pair(MessageBoxLayout::Yes, MessageBoxLayout::No);
    }
    return l;
}

int MessageBoxIconBitmap(int kind) {
    switch (kind) {
    case kMbWarning: return uires::kBmpIconWarning;
    case kMbError: return uires::kBmpIconError;
    case kMbInformation: return uires::kBmpIconInformation;
    case kMbSuccess: return uires::kBmpIconSuccess;
    case kMbQuestion: return uires::kBmpIconQuestion;
    default: return 0;
    }
}
