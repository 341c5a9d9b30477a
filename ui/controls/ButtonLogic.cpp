#include "ui/controls/ButtonLogic.h"

#include "ui/controls/StringTable.h"

#include <cstdio>

ButtonPicture ChooseButtonPicture(bool pressed, bool disabled, bool hovered, bool hasPressed, bool hasDisabled,
                                  bool hasHover) {
    if (pressed && hasPressed)
        return ButtonPicture::Pressed;
    if (disabled && hasDisabled)
        return ButtonPicture::Disabled;
    if (hovered && hasHover)
        return ButtonPicture::Hover;
    return ButtonPicture::Normal;
}

int CaptionButtonFrame(bool disabled, bool pressed, bool hovered, unsigned frameCount) {
    if (disabled && frameCount > 3)
        return 3;
    if (pressed && frameCount > 2)
        return 2;
    if (hovered && frameCount >= 2)
        return 1;
    return 0;
}

std::string HyperlinkErrorText(int code) {
    int id = 0;
    switch (code) {
    case 0: id = uistr::kLinkOutOfMemory; break;
    case 2: id = uistr::kLinkFileNotFound; break;
    case 3: id = uistr::kLinkPathNotFound; break;
    case 5: id = uistr::kLinkAccessDenied; break;
    case 8: id = uistr::kLinkNotEnoughMemory; break;
    case 11: id = uistr::kLinkBadExe; break;
    case 26: id = uistr::kLinkSharingViolation; break;
    case 27: id = uistr::kLinkAssociationIncomplete; break;
    case 28: id = uistr::kLinkDdeTimeout; break;
    case 29: id = uistr::kLinkDdeFailed; break;
    case 30: id = uistr::kLinkDdeBusy; break;
    case 31: id = uistr::kLinkNoAssociation; break;
    case 32: id = uistr::kLinkDllNotFound; break;
    default: break;
    }
    std::string text = uistr::UiString(uistr::kUnableToOpenHyperlink);
    if (id) {
        text += uistr::UiString(id);
    } else {
        char buf[80];
        std::snprintf(buf, sizeof buf, uistr::LoadUiString(uistr::kUnknownLinkError), code);
        text += buf;
    }
    return text;
}
