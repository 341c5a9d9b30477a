#include "ui/controls/StringTable.h"

#include <algorithm>
#include <iterator>

namespace uistr {
namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by id (checked by the tests).
constexpr Entry kTable[] = {
    {kProductName, "Oxtavo Data Recovery"},
    {kImageFileRowPrefix, "Image File, "},
    {kCalculating, "Calculating..."},
    {kSelectDiskToRecover, "Please select a disk to recover."},
    {kFailedToLoadLastResult, "Failed to load last scanning result."},
    {kPreviousRecoveryRow, "Previous Recovery..."},
    {kChooseLostPartition, "Please choose a partition to recover."},
    {kGoBackToDeviceListQuestion, "Go back to device list?"},
    {kChooseScanPartition, "Please choose a partition to recover."},
    {kPleaseSelectFirstSuggested, "Please select the first suggested partition for recovery!"},
    {kFailedToSetTimer, "Warning! Failed to set the timer!"},
    {kSelectDiskHeading, "Select a disk you want to recover and click NEXT:"},
    {kSelectPartitionHeading, "Select a partition and click NEXT to recover:"},
    {kRecoverMenuItem, "Recover"},
    {kModePagePrompt, "   Oxtavo Data Recovery   "},
    {kDeletedRecoveryDescription, "Recover deleted files from emptied Recycle Bin if files are deleted by mistake or wiped accidentally."},
    {kDeepScanDescription, "Advanced recovery for any data loss like reformat, raw drive, drive is not formatted, and other data loss."},
    {kLostPartitionDescription, "Recover files from deleted partition or partition unrecognized etc.due to partition error, software failure etc."},
    {kDeletedRecoveryPrompt, "Deleted File Recovery"},
    {kDeepScanPrompt, "Deep Scan Recovery"},
    {kLostPartitionPrompt, "Lost Partition Recovery"},
    {kDeletedRecoveryCaption, "Deleted File Recovery"},
    {kDeepScanCaption, "Deep Scan Recovery"},
    {kLostPartitionCaption, "Lost Partition Recovery"},
    {kSelectSavePathHeading, "Select path to save files:"},
    {kSavingCompletedHeading, "Saving is completed"},
    {kHelpCaption, "Help"},
    {kAboutCaption, "About"},
    {kGoHomeQuestion, "Are you sure to go back to the home page?"},
    {kSelectedPartitionInformation, "Selected Partition Information"},
    {kAbortBuilding, "Abort Building?"},
    {kFilesFailedToRecover, "Files failed to recover successfully."},
    {kSomeFilesRecovered, "Some files are recovered successfully."},
    {kFilesNeedToRecover, "Files need to recover: "},
    {kTotalRecoveredFiles, ", total recovered files: "},
    {kSentenceEnd, "."},
    {kLinkOutOfMemory, "The operating system is out\nof memory or resources."},
    {kLinkPathNotFound, "The specified path is not found."},
    {kLinkFileNotFound, "The specified file is not found."},
    {kLinkBadExe, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {kLinkAccessDenied, "The operating system denied\naccess to the specific file."},
    {kLinkAssociationIncomplete, "The filename association is\nincomplete or invalid."},
    {kLinkDdeBusy, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
    {kLinkDdeFailed, "The DDE transaction is failed."},
    {kLinkDdeTimeout, "The DDE transaction could not\nbe completed because the request timed out."},
    {kLinkDllNotFound, "The specified dynamic-link library is not found."},
    {kLinkNoAssociation, "No application associated\nwith the given file name extension."},
    {kLinkNotEnoughMemory, "TNot enough memory to complete the operation."},
    {kLinkSharingViolation, "A sharing violation occurred."},
    {kUnableToOpenHyperlink, "Unable to open hyperlink:\n\n"},
    {kStopSearchingQuestion, "Are you sure to stop searching?"},
    {kExitNow, "Exit now?"},
    {kSelectFilesHeading, "Select files and click NEXT to recover:"},
    {kLostImageAlreadyOpen, "This image file is open!"},
    {kLostImageInvalid, "Invalid image file, please check it!"},
    {kAllFilesRecovered, "All files are recovered successfully."},
    {kNextCaption, "Next"},
    {kBackCaption, "Back"},
    {kHomeCaption, "Home"},
    {kModeCaption, "Mode"},
    {kLanguageCaption, "EN."},
    {kFacebookCaption, "Facebook"},
    {kGooglePlusCaption, "Google+"},
    {kOptionCaption, "Option"},
    {kRefreshCaption, "Refresh"},
    {kDiskImageCaption, "Disk Image"},
    {kYes, "Yes"},
    {kNo, "NO"},
    {kOk, "OK"},
    {kCancel, "Cancel"},
    {kSelectScanModeHeading, "Select Scan Mode"},
    {kNoFilesFound, "No files found!"},
    {kNoFilesOnDevice, "Oxtavo Data Recovery can not find any files on this device."},
    {kDeepScanButtonCaption, "Deep Scan"},

    {kDontShowAgain, "Don't show this message again."},
    {kPathInvalid, "Path Invalid!"},
    {kCancelling, "Cancelling..."},
    {kPleaseWaitScanning, "Please wait, scanning system..."},
    {kElapsedTimeLabel, "Elapsed Time:"},
    {kRemainingTimeLabel, "Remaining Time:"},
    {kFilesAreSavedIn, "Files are saved in:"},
    {kLatestProductInfo, "For the latest product information, please visit:"},
    {kUnknownLinkError, "Unknown Error (%d) occurred."},
    {kUsedSpaceLegend, "Used Space : %s"},
    {kFreeSpaceLegend, "Free Space : %s"},
    {kRequiredSpaceLegend, "Required Space : %s"},
    {kRecoveredFilesLabel, "Recovered Files:"},
    {kSelectedFilesLabel, "Selected Files:"},
    {kRecoveredDataSizeLabel, "Recovered Data Size:"},
    {kTotalDataSizeLabel, "Total Data Size:"},
    {kRecoveringFileNameLabel, "Recovering File Name:"},
    {kRemovableDrive, "Removable (%s)"},
    {kHomeFolder, "Home"},
    {kFileSystemRoot, "File System"},
    {kMakerWebAddress, "https://www.oxtavo.example/"},
    {kTooManyFilesWait, "Please wait a minute for there are too many files in the directory you selected."},
    {kFullScanHint, "If the files you need are not found, please select the \"Full scan\"."},
    {kFullScanCheckBox, "Full scan"},
};

} // namespace

const char* LoadUiString(int id) {
    auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                               [](const Entry& e, int key) { return e.id < key; });
    if (it == std::end(kTable) || it->id != id)
        return "";
    return it->text;
}

bool StringTableIsSorted() {
    return std::is_sorted(std::begin(kTable), std::end(kTable),
                          [](const Entry& a, const Entry& b) { return a.id < b.id; }) &&
           std::adjacent_find(std::begin(kTable), std::end(kTable), [](const Entry& a, const Entry& b) {
               return a.id == b.id;
           }) == std::end(kTable);
}

} // namespace uistr
