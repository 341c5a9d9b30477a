#pragma once
// Where the message box puts its buttons, and what each ends the box with. No window code.
#include "ui/controls/Geometry.h"

#include <cstdint>

enum MessageBoxFlags : std::uint16_t { kMbOk = 0x01, kMbYes = 0x02, kMbCancel = 0x04, kMbNo = 0x08 };
enum MessageBoxKind : int { kMbWarning = 0, kMbError = 1, kMbInformation = 2, kMbSuccess = 3, kMbQuestion = 4 };

struct MessageBoxLayout {
    enum Button { Ok, Cancel, Yes, No, Count };
    bool visible[Count] = {};
    uigeo::Point pos[Count];
    uigeo::Point close;
    int visibleCount = 0;
};

// Buttons of `buttonW` x `buttonH` in a client of w x h. One visible button is centred, the
// pairs OK/Cancel and Yes/NO stand 20 pixels either side of the centre, 10 pixels above the
// bottom; anything else keeps the template's places (one row, in the order OK, Cancel, Yes, NO).
MessageBoxLayout LayoutMessageBox(int w, int h, std::uint16_t buttons, int buttonW, int buttonH, int closeW);
// The bitmap id of an icon kind, 0 for a kind without a picture.
int MessageBoxIconBitmap(int kind);
