#pragma once
// Resource ids of the control kit (bitmaps, dialogs, controls) and the mapping of the program's
// control ids onto window ids that do not collide with the toolkit's own.
#include <cstdint>

namespace uires {

// Bitmaps (drawn by Bitmaps.cpp).
enum : int {
    kBmpCaptionNormal = 153,
    kBmpCaptionHover = 154,
    kBmpCaptionDisabled = 156,
    kBmpCaptionPressed = 214,
    kBmpCancelPressed = 337,
    kBmpCancelNormal = 338,
    kBmpCancelHover = 339,
    kBmpCancelDisabled = 340,
    kBmpSimpleDisabled = 380,
    kBmpSimplePressed = 381,
    kBmpSimpleHover = 382,
    kBmpSimpleNormal = 383,
    kBmpLogo = 400,
    kBmpBestFitDisabled = 429,
    kBmpBestFitPressed = 430,
    kBmpBestFitNormal = 431,
    kBmpBestFitHover = 432,
    kBmpActualSizeDisabled = 433,
    kBmpActualSizePressed = 434,
    kBmpActualSizeNormal = 435,
    kBmpActualSizeHover = 436,
    kBmpCloseHover = 448,
    kBmpCloseNormal = 449,
    kBmpClosePressed = 450,
    kBmpCloseDisabled = 451,
    kBmpIconWarning = 504,
    kBmpIconError = 505,
    kBmpIconInformation = 506,
    kBmpIconSuccess = 507,
    kBmpIconQuestion = 508,
    kBmpSmallOkNormal = 509,
    kBmpSmallOkPressed = 510,
};

// Dialog templates.
enum : int {
    kDlgSearchSuper = 105,
    kDlgBuildDirectory = 135,
    kDlgWaiting = 265,
    kDlgBuildDirectoryChild = 317,
    kDlgFileSave = 355,
    kDlgAbout = 396,
    kDlgLoadingFile = 398,
    kDlgMessageBox = 515,
    kDlgCheckboxPrompt = 516,
};

// Control ids as the program names them.
enum : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdAboutClose = 8,
    kIdListHeader = 1002,
    kIdElapsedValue = 1009,
    kIdRemainingValueChild = 1010,
    kIdProgressBar = 1014,
    kIdStageText = 1015,
    kIdCloseButton = 1159,
    kIdRemainingLabel = 1170,
    kIdDontShowAgain = 1174,
    kIdFolderLink = 1175,
    kIdSummaryLine = 1176,
    kIdRecoveredFiles = 1179,
    kIdSelectedFiles = 1180,
    kIdRecoveredSize = 1181,
    kIdTotalSize = 1182,
    kIdRecoveringName = 1183,
    kIdOutcomeText = 1184,
    kIdRemainingValue = 1195,
    kIdElapsedText = 1204,
    kIdNoButton = 1210,
    kIdWebLink = 1219,
    kIdLogo = 1220,
    kIdWaitingText = 1226,
    kIdIconStatic = 1227,
    kIdPromptIcon = 1228,
    kIdPromptText = 1229,
    kIdYesButton = 1230,
    kIdHeadingStatic = 1231,
    kIdMessageStatic = 1232,
    kIdTitleStatic = 1242,
    kIdAboutTitle = 1243,
    kIdTabPage = 1314,
};

// Messages to owners.
enum : int {
    kMsgGridRightButton = 2024,   // grid: right button released on a row
    kMsgSelectionChanged = 2025,  // tab strip: a tab was selected or closed
};

// The toolkit reserves 4999..5999 for its stock ids and uses 5100/5101 for OK/Cancel; the
// program's ids 1 and 2 are its OK and Cancel. Ids in the reserved range move above it.
constexpr int kToolkitLowestId = 4999;
constexpr int kToolkitHighestId = 5999;
constexpr int kToolkitOkId = 5100;
constexpr int kToolkitCancelId = 5101;
constexpr int kRelocatedIdBase = 16000;

constexpr int MapControlId(int id) {
    if (id == kIdOk)
        return kToolkitOkId;
    if (id == kIdCancel)
        return kToolkitCancelId;
    if (id >= kToolkitLowestId && id <= kToolkitHighestId)
        return kRelocatedIdBase + (id - kToolkitLowestId);
    return id;
}

// A colour as the program writes it: 0x00BBGGRR.
struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    constexpr bool operator==(const Rgb&) const = default;
};
constexpr Rgb FromColorRef(std::uint32_t colorref) {
    return Rgb{static_cast<std::uint8_t>(colorref & 0xFF), static_cast<std::uint8_t>((colorref >> 8) & 0xFF),
               static_cast<std::uint8_t>((colorref >> 16) & 0xFF)};
}
constexpr std::uint32_t ToColorRef(Rgb c) {
    return static_cast<std::uint32_t>(c.r) | (static_cast<std::uint32_t>(c.g) << 8) |
           (static_cast<std::uint32_t>(c.b) << 16);
}

} // namespace uires
