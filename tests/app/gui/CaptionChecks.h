#pragma once
// Checks of the pages' captioned buttons as the screen shows them: every caption whole on one
// line in the font the button draws with, no button over the next, and each tool button with a
// picture of its own.
#include "tests/ui/controls/windows/Harness.h"
#include "ui/controls/ButtonPlus.h"
#include "ui/controls/UiCommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace uitest {

// The sign at a tool button's left (34 x 34 pixels), every third pixel, as shown on screen.
inline std::vector<std::uint32_t> SignPixels(wxWindow* button) {
    std::vector<std::uint32_t> out;
    for (int y = 6; y < 40; y += 3)
        for (int x = 2; x < 36; x += 3)
            out.push_back(ScreenPixel(button, wxPoint(x, y)).GetRGB());
    return out;
}

// A row of tool buttons (left to right): the shown ones hold their captions on one line right
// of the sign, stand apart, end inside their page and show different signs.
inline void ExpectToolButtonRow(const std::vector<CTextSmallIconButtonPlus*>& buttons) {
    int right = 0;
    std::vector<std::vector<std::uint32_t>> signs;
    for (CTextSmallIconButtonPlus* b : buttons) {
        if (!b || !b->IsShown())
            continue;
        SCOPED_TRACE(ui::ToUtf8(b->GetCaption()));
        const wxSize text = b->GetTextExtent(b->GetCaption());
        EXPECT_GE(b->GetSize().x, 38 + text.x);
        EXPECT_GE(b->GetSize().y, text.y);
        EXPECT_GE(b->GetPosition().x, right);
        EXPECT_LE(b->GetPosition().x + b->GetSize().x, b->GetParent()->GetClientSize().x);
        right = b->GetPosition().x + b->GetSize().x;
        std::vector<std::uint32_t> sign = SignPixels(b);
        EXPECT_EQ(std::find(signs.begin(), signs.end(), sign), signs.end()) << "the same picture as a button before it";
        signs.push_back(std::move(sign));
    }
}

// A caption button centred on its picture: the caption fits it on one line.
inline void ExpectCaptionFits(CTextCenterButtonPlus* b) {
    ASSERT_NE(b, nullptr);
    SCOPED_TRACE(ui::ToUtf8(b->GetCaption()));
    const wxSize text = b->GetTextExtent(b->GetCaption());
    EXPECT_GE(b->GetSize().x, text.x + 4);
    EXPECT_GE(b->GetSize().y, text.y);
}

} // namespace uitest
