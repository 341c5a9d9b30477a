#pragma once
// The program's string table: every user-visible text of the window layer, UTF-8, keyed by its
// numeric id. Ids below 50000 are the program's resource ids; 50000 and above are texts that
// have no resource id of their own. Later window folders add their texts to the one table in
// StringTable.cpp.
#include <string>

namespace uistr {

enum : int {
    kProductName = 128,
    kPleaseSelectFirstSuggested = 146,
    kSelectDiskHeading = 185,
    kSelectPartitionHeading = 187,
    kModePagePrompt = 193,
    kDeletedRecoveryDescription = 195,
    kDeepScanDescription = 196,
    kLostPartitionDescription = 197,
    kDeletedRecoveryPrompt = 199,
    kDeepScanPrompt = 200,
    kLostPartitionPrompt = 201,
    kDeletedRecoveryCaption = 202,
    kDeepScanCaption = 203,
    kLostPartitionCaption = 204,
    kSelectSavePathHeading = 206,
    kSavingCompletedHeading = 210,
    kHelpCaption = 212,
    kAboutCaption = 213,
    kGoHomeQuestion = 214,
    kSelectedPartitionInformation = 215,
    kAbortBuilding = 216,
    kFilesFailedToRecover = 220,
    kSomeFilesRecovered = 221,
    kFilesNeedToRecover = 222,
    kTotalRecoveredFiles = 223,
    kSentenceEnd = 224,
    kLinkOutOfMemory = 225,
    kLinkPathNotFound = 226,
    kLinkFileNotFound = 227,
    kLinkBadExe = 228,
    kLinkAccessDenied = 229,
    kLinkAssociationIncomplete = 230,
    kLinkDdeBusy = 231,
    kLinkDdeFailed = 232,
    kLinkDdeTimeout = 233,
    kLinkDllNotFound = 234,
    kLinkNoAssociation = 235,
    kLinkNotEnoughMemory = 236,
    kLinkSharingViolation = 237,
    kUnableToOpenHyperlink = 238,
    kExitNow = 242,
    kSelectFilesHeading = 263,
    kAllFilesRecovered = 285,
    kNextCaption = 298,
    kBackCaption = 299,
    kHomeCaption = 300,
    kModeCaption = 301,
    kLanguageCaption = 303,
    kFacebookCaption = 315,
    kGooglePlusCaption = 316,
    kYes = 329,
    kNo = 330,
    kOk = 331,
    kCancel = 332,
    kSelectScanModeHeading = 345,
    kDeepScanButtonCaption = 403,

    kDontShowAgain = 50001,
    kPathInvalid = 50002,
    kCancelling = 50003,
    kPleaseWaitScanning = 50004,
    kElapsedTimeLabel = 50005,
    kRemainingTimeLabel = 50006,
    kFilesAreSavedIn = 50007,
    kLatestProductInfo = 50008,
    kUnknownLinkError = 50009,
    kUsedSpaceLegend = 50010,
    kFreeSpaceLegend = 50011,
    kRequiredSpaceLegend = 50012,
    kRecoveredFilesLabel = 50013,
    kSelectedFilesLabel = 50014,
    kRecoveredDataSizeLabel = 50015,
    kTotalDataSizeLabel = 50016,
    kRecoveringFileNameLabel = 50017,
    kRemovableDrive = 50018,
    kHomeFolder = 50019,
    kFileSystemRoot = 50020,
    kMakerWebAddress = 50021,
    kTooManyFilesWait = 50022,
};

// The text of `id`, or "" when the table has none.
const char* LoadUiString(int id);
// True when the table is sorted by id without duplicates (lookups need it).
bool StringTableIsSorted();
inline std::string UiString(int id) { return LoadUiString(id); }

} // namespace uistr
