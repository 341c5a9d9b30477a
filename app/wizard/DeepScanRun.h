#pragma once
// The deep scan as the wizard runs it: the search controllers the scan options ask for, the
// intelligent search behind its progress dialog, the scoring of what it found, and the hand-over
// either to the step that lists the found partitions or, when none was found, straight to the
// file page with the "Raw Files" folder. Lost Partition Recovery's full scan uses the same.
#include "recovery/ScanStateSections.h"

#include <memory>
#include <vector>

class AppContext;
class CFileNode;
class CFileSystemNode;
class CRawFileList;
class IStorageDevice;
class IWizardPageController;
struct VolumeRecord;

// What one deep scan leaves behind; the step that lists the partitions owns it until Reset.
struct DeepScanResults {
    SearchControllerList controllers;     // FAT, NTFS, RAW (as the options ask)
    std::unique_ptr<CRawFileList> carved; // the carved files all controllers report into
    SearchedPartitionList partitions;     // scored, best first; the chosen ones marked 1

    DeepScanResults();
    ~DeepScanResults();
    DeepScanResults(DeepScanResults&&) noexcept;
    DeepScanResults& operator=(DeepScanResults&&) noexcept;
    std::vector<IFileSystemSearchController*> ControllerPointers() const;
    std::vector<CSearchedPartitionInfo*> PartitionPointers() const;
    // Frees everything (the carved list is cleared first).
    void Clear();
};

// The step that takes a scan's results (Deep Scan's partition step, Lost Partition Recovery's
// full-scan step).
class IDeepScanResultsStep {
public:
    virtual ~IDeepScanResultsStep() = default;
    // Takes ownership; shows the partitions and saves the recovery state.
    virtual void SetScanResults(DeepScanResults results) = 0;
};

// Appends the search controllers of the current scan options: FAT and NTFS unless "Recover RAW
// files only", then RAW when "Recover RAW files". The list may stay empty.
void BuildSearchControllers(SearchControllerList& list);

// Runs the intelligent search over `device` with `controllers` behind the deep-scan progress
// dialog, collects every controller's partitions into `found` (owned by the caller), scores,
// sorts and marks the best set. A cancelled search collects what was found until then.
void RunIntelligentSearch(AppContext& context, IStorageDevice* device,
                          const std::vector<IFileSystemSearchController*>& controllers,
                          SearchedPartitionList& found);

// Builds the "Raw Files" folder of `carved` on `device` behind the build-progress dialog and
// links it under `root` as its first child. False when nothing was built.
bool BuildRawFilesFolder(AppContext& context, CFileSystemNode* root, CRawFileList* carved,
                         IStorageDevice* device);

// Gives a built tree to the file page, with `caller` as its previous step, and shows it (the
// file page saves the recovery state once it holds the tree). The tree is freed when there is
// no file page to take it.
void HandTreeToFileSelection(AppContext& context, IWizardPageController* caller, FileTreePtr root);

// The whole deep scan of `device`: found partitions go to `next` (with `caller` as its previous
// step); without any, the carved files go to the file page, or "No files found!" is shown.
// `nothingFoundId` is the message when nothing at all was found (0: "No files found!").
void RunDeepScanOnDevice(AppContext& context, IStorageDevice* device, IWizardPageController* caller,
                         IWizardPageController* next, int nothingFoundId = 0);
// The same for a record of the device page (its device line goes to the activity log first).
void RunDeepScan(AppContext& context, const VolumeRecord& record, IWizardPageController* caller);
