#pragma once
// The main program's pictures (mode buttons, device kinds, header and footer bands, help
// button), drawn by code and served by resource id through LoadBitmapResource.
namespace appres {

enum : int {
    kBmpHeader = 132,
    kBmpDeletedNormal = 139, kBmpDeletedHover = 140, kBmpDeletedPressed = 141,
    kBmpDeepNormal = 142, kBmpDeepHover = 143, kBmpDeepPressed = 144,
    kBmpLostNormal = 145, kBmpLostHover = 146, kBmpLostPressed = 147,
    kBmpFooter = 148,
    kBmpHelpNormal = 170, kBmpHelpHover = 171, kBmpHelpPressed = 172, kBmpHelpDisabled = 173,
    kBmpDisk = 211, kBmpVolume = 212, kBmpFloppy = 213,
    kBmpPreviousRecovery = 352, kBmpImageFile = 353, kBmpFoundPartition = 354, kBmpUsb = 358,
    kBmpLostDisabled = 464, kBmpDeepDisabled = 465, kBmpDeletedDisabled = 466,
};

// Makes the pictures reachable through LoadBitmapResource (once per process).
void RegisterAppBitmaps();

} // namespace appres
