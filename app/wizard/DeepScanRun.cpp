#include "app/wizard/DeepScanRun.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeepScanProgress.h"
#include "app/wizard/FileSelectController.h"
#include "app/wizard/FileTreeRoots.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "carving/IntelligentSearch.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "storage/VolumeEnumeration.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

DeepScanResults::DeepScanResults() = default;
DeepScanResults::~DeepScanResults() {
    Clear();
}
DeepScanResults::DeepScanResults(DeepScanResults&&) noexcept = default;
DeepScanResults& DeepScanResults::operator=(DeepScanResults&&) noexcept = default;

std::vector<IFileSystemSearchController*> DeepScanResults::ControllerPointers() const {
    std::vector<IFileSystemSearchController*> out;
    for (const auto& c : controllers)
        out.push_back(c.get());
    return out;
}

std::vector<CSearchedPartitionInfo*> DeepScanResults::PartitionPointers() const {
    std::vector<CSearchedPartitionInfo*> out;
    for (const auto& p : partitions)
        out.push_back(p.get());
    return out;
}

void DeepScanResults::Clear() {
    partitions.clear();
    controllers.clear();
    if (carved)
        carved->Clear();
    carved.reset();
}

// The program's window layer shows its own dialog; without one the model alone keeps the
// figures.
std::unique_ptr<IDeepScanProgress> IUiServices::CreateDeepScanProgress() {
    return std::make_unique<CDeepScanProgressModel>();
}

void BuildSearchControllers(SearchControllerList& list) {
    const ScanOptions& options = GetScanOptions();
    if (!options.RecoverRawFilesOnly) {
        list.push_back(CreateSearchControllerByKind(SEARCH_CONTROLLER_FAT));
        list.push_back(CreateSearchControllerByKind(SEARCH_CONTROLLER_NTFS));
    }
    if (options.RecoverRawFiles)
        list.push_back(CreateSearchControllerByKind(SEARCH_CONTROLLER_RAW));
    std::erase(list, nullptr);
}

void RunIntelligentSearch(AppContext& context, IStorageDevice* device,
                          const std::vector<IFileSystemSearchController*>& controllers,
                          SearchedPartitionList& found) {
    if (!device)
        return;
    std::vector<CSearchedPartitionInfo*> collected;
    {
        CIntelligentSearchController search;
        search.SetDevice(device);
        for (IFileSystemSearchController* c : controllers)
            search.AddController(c);
        std::unique_ptr<IDeepScanProgress> progress = context.Services().CreateDeepScanProgress();
        search.Search(progress.get());
        for (IFileSystemSearchController* c : controllers)
            c->CollectSearchedPartitions(collected);
    }
    ScoreSearchedPartitions(collected);
    SortSearchedPartitions(collected);
    SelectBestSearchedPartitions(collected, device->GetSectorCount());
    for (CSearchedPartitionInfo* p : collected)
        found.emplace_back(p);
}

bool BuildRawFilesFolder(AppContext& context, CFileSystemNode* root, CRawFileList* carved,
                         IStorageDevice* device) {
    if (!root || !carved || !device)
        return false;
    FileTreePtr folder;
    {
        std::unique_ptr<IBuildProgress> progress = context.Services().CreateBuildProgress();
        CRawFileTreeBuilder builder;
        folder =
            BuildRawFileTree(progress.get(), nullptr, &builder, device, carved->GetIterator(), 1);
    }
    if (!folder)
        return false;
    root->AddChild(folder.release());
    return true;
}

void HandTreeToFileSelection(AppContext& context, IWizardPageController* caller, FileTreePtr root) {
    auto* files = dynamic_cast<CFileSelectController*>(context.Controller(kPageFileSelect));
    if (!files)
        return;
    if (!files->saveRecoveryStates)
        files->saveRecoveryStates = [&context](CFileSelectController& c) {
            SaveRecoveryStates(context, &c);
        };
    files->SetPrevious(caller);
    files->SetFileTree(std::move(root));
    files->Activate();
}

void RunDeepScanOnDevice(AppContext& context, IStorageDevice* device, IWizardPageController* caller,
                         IWizardPageController* next, int nothingFoundId) {
    if (!device)
        return;
    DeepScanResults results;
    BuildSearchControllers(results.controllers);
    results.carved = std::make_unique<CRawFileList>();
    const std::vector<IFileSystemSearchController*> controllers = results.ControllerPointers();
    SetControllersResultSink(controllers, results.carved.get());
    RunIntelligentSearch(context, device, controllers, results.partitions);

    auto* receiver = dynamic_cast<IDeepScanResultsStep*>(next);
    if (!results.partitions.empty() && receiver) {
        next->SetPrevious(caller);
        receiver->SetScanResults(std::move(results));
        next->Activate();
        return;
    }

    LogRecoveryStage(kStageNoPartitionRawTree);
    FileTreePtr root = CreateFileTreeRoot();
    BuildRawFilesFolder(context, root.get(), results.carved.get(), device);
    root->RecountCounters();
    results.Clear();
    // An empty "Raw Files" folder is no find.
    if (root->m_pFirstChild && root->m_counters.files > 0) {
        HandTreeToFileSelection(context, caller, std::move(root));
        return;
    }
    LogRecoveryStage(kStageNoRawFiles);
    root.reset();
    context.Services().MessageBox(nothingFoundId ? nothingFoundId : static_cast<int>(uistr::kNoFilesFound), kMbInformation, kMbOk);
}

void RunDeepScan(AppContext& context, const VolumeRecord& record, IWizardPageController* caller) {
    if (record.form == 1)
        LogScanImageDevice(record.szImageDisplayName, record.szImagePath, false);
    else
        LogScanDevice(record, false);
    RunDeepScanOnDevice(context, record.pStorageDevice, caller,
                        context.Controller(kPageCompleteRecoveryScanPartition));
}
