#pragma once
// Which picture an owner-drawn button shows, and which frame of a strip a caption button
// draws. No window code.

enum class ButtonPicture { Normal, Hover, Pressed, Disabled };

// Pressed (when a pressed picture exists), else disabled (when a disabled picture exists),
// else hovered (when a hover picture exists), else normal.
ButtonPicture ChooseButtonPicture(bool pressed, bool disabled, bool hovered, bool hasPressed, bool hasDisabled,
                                  bool hasHover);

// Frame of a caption button's strip: 3 disabled (4+ frames), 2 pressed (3+), 1 hovered (2+), 0.
int CaptionButtonFrame(bool disabled, bool pressed, bool hovered, unsigned frameCount);

// The error text a failed link shows for a result code (the table of the shell's codes).
#include <string>
std::string HyperlinkErrorText(int code);
