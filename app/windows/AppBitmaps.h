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
    kBmpHelpNormal = 600, kBmpHelpHover = 601, kBmpHelpPressed = 602, kBmpHelpDisabled = 603,
    kBmpDisk = 211, kBmpVolume = 212, kBmpFloppy = 213,
    kBmpPreviousRecovery = 352, kBmpImageFile = 353, kBmpFoundPartition = 354, kBmpUsb = 358,
    kBmpLostDisabled = 464, kBmpDeepDisabled = 465, kBmpDeletedDisabled = 466,
};

// The small tool buttons of the pages, four pictures each (normal, hover, pressed, disabled)
// from the first id on: a sign at the left, room for the caption right of it.
enum : int {
    kBmpOption = 161, kBmpRefresh = 165, kBmpDiskImage = 169,   // device pages
    kBmpThumbnail = 173, kBmpDetails = 487,                      // the file page's view toggle
    kBmpDeepScanRecovery = 517,                                  // the lost-partition page (wide)
    kBmpFindFile = 610, kBmpSearchFiles = 614, kBmpPreview = 618,
    kBmpSelectAll = 622, kBmpDeselectAll = 626, kBmpState = 630,  // the file page
};

// Makes the pictures reachable through LoadBitmapResource (once per process).
void RegisterAppBitmaps();

} // namespace appres
