#include "app/wizard/SheetModel.h"

#include "ui/controls/StringTable.h"

int PageHelpContextId(int index) {
    static const int ids[kPageCount] = {15, 16, 50, 51, 51, 27, 25, 50, 51, 23};
    return index >= 0 && index < kPageCount ? ids[index] : 0;
}

SheetFooter CWizardSheetModel::FooterFor(int index, int mode) {
    SheetFooter f;
    if (index == kPageRecoveryMode) {
        f.network = true;
    } else if (index == kPageSaveResult) {
        f.home = f.back = true;
    } else {
        f.home = f.next = f.back = true;
    }
    f.deepScan = index == kPageFileSelect && mode == kModeDeletedFile;
    return f;
}

int CWizardSheetModel::HeadingFor(int index) {
    using namespace uistr;
    switch (index) {
    case kPageRecoveryMode: return kSelectScanModeHeading;
    case kPageDeleteRecoveryPartition:
    case kPageCompleteRecoveryPartition:
    case kPageLostRecoveryPartition: return kSelectPartitionHeading;
    case kPageLostRecoveryDisk: return kSelectDiskHeading;
    case kPageSaveResult: return kSavingCompletedHeading;
    case kPageSaveFile: return kSelectSavePathHeading;
    case kPageCompleteRecoveryScanPartition:
    case kPageLostRecoveryScanPartition: return kPleaseSelectFirstSuggested;
    case kPageFileSelect: return kSelectFilesHeading;
    default: return 0;
    }
}

void CWizardSheetModel::SetActivePage(int index, int mode) {
    if (index < 0 || index >= kPageCount)
        return;
    m_index = index;
    m_footer = FooterFor(index, mode);
    m_heading = HeadingFor(index);
}
