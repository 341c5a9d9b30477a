#include "app/wizard/DiskRightsNote.h"

#include "app/wizard/AppContext.h"
#include "ui/controls/StringTable.h"

std::string DiskRightsNote(const AppContext& context, bool opensImagesHere) {
    if (!context.Devices().DisksNeedRights())
        return std::string();
    switch (context.rootFallback) {
    case RootFallback::Refused:
        return uistr::UiString(uistr::kRootStartRefused);
    case RootFallback::NoAgent:
        return uistr::UiString(uistr::kRootStartNoAgent);
    case RootFallback::NoPkexec:
        return uistr::UiString(uistr::kRootStartNoPkexec);
    case RootFallback::Failed:
        return uistr::UiString(uistr::kRootStartFailed);
    case RootFallback::NoAction:
        return uistr::UiString(uistr::kRootStartNoAction);
    case RootFallback::None:
        break;
    }
    return uistr::UiString(opensImagesHere ? uistr::kNoDiskRightsOpenImage : uistr::kNoDiskRightsDeepScanImage);
}
