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
    {kCalculating, "Calculating..."},
    {kQuitSearchingQuestion, "Are you sure to quit searching?"},
    {kSelectFilesToSave, "Please select files to save."},
    {kChoosePartitionToRecover, "Please choose a partition to recover."},
    {kPleaseSelectFirstSuggested, "Please select the first suggested partition for recovery!"},
    {kSameDriveCaution, "CAUTION! Please do not save the found files \nto the same drive where files get lost because this can reduce the chance of \nsuccessful recovery.\n\nAre you sure to save found files to the same drive?"},
    {kTargetNoDisk, "No disk in the drive!"},
    {kTargetNoSuchDrive, "The specific drive does not exist!"},
    {kTargetNotFormatted, "The drive is not formatted!"},
    {kTargetInvalidPath, "Invalid path name!"},
    {kTargetRamDisk, "The drive is a RAM disk!"},
    {kTargetNotReady, "The drive is not ready!"},
    {kTargetNotWritable, "The drive is not writable!"},
    {kTargetBadPath, "Invalid path name!"},
    {kTargetBadParameter, "Invalid parameter!"},
    {kTargetBadSymbol, "Invalid symbol!"},
    {kTargetTooLong, "Path too long!"},
    {kTargetEmpty, "Please select a folder to save the selected found files!"},
    {kUnknownError, "Unknown error!"},
    {kEncryptedNeedsNtfs, "Encrypted file must be recovered on the NTFS partition,\nplease select other drive."},
    {kSearchFilesCaption, "Search files"},
    {kSelectDiskHeading, "Select a disk you want to recover and click NEXT:"},
    {kSelectPartitionHeading, "Select a partition and click NEXT to recover:"},
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
    {kPathCaption, "Path"},
    {kSelectSavePathHeading, "Select path to save files:"},
    {kNotEnoughFreeSpace, "There is not enough free space, please select another drive."},
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
    {kExitNow, "Exit now?"},
    {kFailedToRecoverFile, "Failed to recover this file."},
    {kQuitRecoveringQuestion, "Quit recovering?"},
    {kSelectFilesHeading, "Select files and click NEXT to recover:"},
    {kSelectFileToPreview, "Please select a file to preview!"},
    {kCannotPreviewFile, "Cannot preview this file."},
    {kCannotPreviewDirectory, "Cannot preview directory."},
    {kCannotPreviewEncrypted, "Cannot preview encrypted file."},
    {kCannotPreviewOver100M, "Cannot preview a file over 100M."},
    {kNoFileSelected, "No file selected"},
    {kInvalidOfficeDocument, "Invalid Word or Excel document."},
    {kSelectFileToRecover, "Please select a file to recover!"},
    {kSameDriveFileCaution, "CAUTION! Please do not recover the file \nto the same drive where files get lost because this can reduce the chance of \nsuccessful recovery.\n\nAre you sure to recover files to the same drive?"},
    {kNotEnoughSpaceForFile, "Not enough space available, please select another drive."},
    {kRecoverComplete, "Recover Complete!"},
    {kEncryptedFileNeedsNtfs, "Encrypted file must be recovered on the NTFS partition, please select another drive."},
    {kImageFileRowPrefix, "Image File, "},
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
    {kFindFileCaption, "Find File"},
    {kPreviewCaption, "Preview"},
    {kThumbnailCaption, "Thumbnail"},
    {kDetailsCaption, "Details"},
    {kSelectAllCaption, "Select All"},
    {kDeselectAllCaption, "Deselect All"},
    {kStateCaption, "State"},
    {kBackToFileListCaption, "Back To File List"},
    {kYes, "Yes"},
    {kNo, "NO"},
    {kOk, "OK"},
    {kCancel, "Cancel"},
    {kSelectScanModeHeading, "Select Scan Mode"},
    {kOpenSavedPathCaption, "Open Saved Path"},
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
    {kDeepScanHint, "If the files are not found here, please go to \"Deep Scan Recovery\"!"},
    {kNoFilesGoDeepScan, "No files found, please go to Deep Scan Recovery mode!"},
    {kTotalInFiles, "Total %s in %d files"},
    {kSelectedInFiles, "Selected %s in %d files"},
    {kYouHaveSelected, "You have %s selected in %d files"},
    {kRecoveringTitle, "Recovering..."},
    {kRecoverCaption, "Recover"},
    {kDeletedFilesFolder, "Deleted Files"},
    {kAbortCaption, "Abort"},
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
