#include "app/wizard/CompleteRecoveryScanPartitionController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/FileTreeRoots.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "carving/IntelligentSearch.h"
#include "carving/records/RawFileInfo.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "recovery/RSData.h"
#include "storage/VolumeEnumeration.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

#include <cstdio>

namespace {

constexpr int kMaxPartitionsToBuild = 4;

} // namespace

namespace {
CCompleteRecoveryScanPartitionDeviceSelectController::StepTraits DeepScanTraits() {
    return {kPageCompleteRecoveryScanPartition, 1, uistr::kGoBackToDeviceList, uistr::kChooseDeviceToRecover,
            uistr::kNoPartitionTicked, uistr::kSelectFirstSuggestedPartition, false};
}
} // namespace

CCompleteRecoveryScanPartitionDeviceSelectController::CCompleteRecoveryScanPartitionDeviceSelectController(
    AppContext& context, ISheet* sheet)
    : CCompleteRecoveryScanPartitionDeviceSelectController(context, sheet, DeepScanTraits()) {}

CCompleteRecoveryScanPartitionDeviceSelectController::CCompleteRecoveryScanPartitionDeviceSelectController(
    AppContext& context, ISheet* sheet, const StepTraits& traits)
    : CWizardPageControllerBase(sheet, traits.pageIndex), m_context(context), m_traits(traits) {
    SetPane(nullptr);
}

void CCompleteRecoveryScanPartitionDeviceSelectController::SetPane(IFoundPartitionPane* pane) {
    m_pane = pane ? pane : &m_ownPane;
    m_pane->PartitionList().SetOptionNotify(
        [this](const PartitionOptionToggle& t) { OnPartitionOptionToggled(t); });
}

CCompleteRecoveryScanPartitionDeviceSelectController::
    ~CCompleteRecoveryScanPartitionDeviceSelectController() {
    Reset();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Activate() {
    SaveControllerStatus(m_context, this);
    CWizardPageControllerBase::Activate();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Back() {
    if (m_context.Services().MessageBox(m_traits.backQuestionId, kMbQuestion, kMbYes | kMbNo) != kAnswerYes)
        return;
    CWizardPageControllerBase::Back();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Reset() {
    m_pane->PartitionList().DeleteAllPartitions();
    m_pane->ShowSource(LayoutSource{});
    m_pane->RefreshPane();
    m_results.Clear();
}

const VolumeRecord* CCompleteRecoveryScanPartitionDeviceSelectController::SourceRecord() const {
    RecoverySource source;
    GetSource(source);
    return source.kind == 1 ? static_cast<const VolumeRecord*>(source.pointer) : nullptr;
}

IStorageDevice* CCompleteRecoveryScanPartitionDeviceSelectController::SourceDevice() const {
    RecoverySource source;
    GetSource(source);
    return source.device;
}

void CCompleteRecoveryScanPartitionDeviceSelectController::ShowSourceDevice() {
    if (const VolumeRecord* record = SourceRecord()) {
        const std::uint64_t sectors = record->pStorageDevice ? record->pStorageDevice->GetSectorCount() : 0;
        LayoutSource layout;
        layout.sectorCount = sectors;
        if (record->form == 1) {
            layout.type = kLayoutSourceImage;
            layout.name = record->szImageDisplayName;
        } else {
            layout.type = kLayoutSourcePartition;
            layout.name = CDeleteRecoveryPartitionDeviceSelectController::VolumeRowName(*record);
        }
        m_pane->ShowSource(layout);
    }
}

void CCompleteRecoveryScanPartitionDeviceSelectController::ShowResults() {
    std::vector<SearchedPartitionRow> rows;
    for (const auto& p : m_results.partitions) {
        SearchedPartitionRow row;
        row.fileSystemType = p->m_fileSystemType;
        row.score = p->m_relativeScore;
        row.filesFound = p->m_u64EvidenceB;
        row.foldersFound = p->m_u64EvidenceA;
        row.firstSector = p->m_u64KeptFirstSector;
        row.dataAreaSector = p->m_u64FirstSector;
        row.sectorsPerCluster = p->m_sectorsPerCluster;
        row.totalSectors = p->GetSectorCount64();
        rows.push_back(row);
    }
    LogSearchedPartitionList(rows);
    ShowSourceDevice();
    FillPartitionList(*m_pane, m_results.PartitionPointers(), m_traits.autoCheckLimit);
    m_pane->RefreshPane();
}

void CCompleteRecoveryScanPartitionDeviceSelectController::SetScanResults(DeepScanResults results) {
    m_results.Clear();
    m_results = std::move(results);
    ShowResults();
    SaveRecoveryStatesWorker(m_context, this, nullptr);
}

void CCompleteRecoveryScanPartitionDeviceSelectController::OnPartitionOptionToggled(
    const PartitionOptionToggle& toggle) {
    ApplyPartitionOptionToggle(m_pane->PartitionList().GetPartitionAt(toggle.row), toggle);
}

void CCompleteRecoveryScanPartitionDeviceSelectController::Next() {
    IUiServices& ui = m_context.Services();
    CFoundPartitionListModel& list = m_pane->PartitionList();
    if (list.RowCount() == 0) {
        if (m_traits.emptyListId)
            ui.MessageBox(m_traits.emptyListId, kMbInformation, kMbOk);
        return;
    }
    const int checked = list.GetCheckedCount();
    if (checked == 0) {
        ui.MessageBox(m_traits.noneTickedId, kMbInformation, kMbOk);
        return;
    }
    if (checked > kMaxPartitionsToBuild) {
        ui.MessageBox(m_traits.tooManyId, kMbInformation, kMbOk);
        return;
    }
    IStorageDevice* device = SourceDevice();
    if (!device)
        return;
    FileTreePtr root = CreateFileTreeRoot();
    bool cancelled = false;
    {
        std::unique_ptr<IBuildProgress> shared;
        if (!m_traits.progressPerPartition)
            shared = ui.CreateBuildProgress();
        const std::vector<IFileSystemSearchController*> controllers = m_results.ControllerPointers();
        std::uint32_t built = 0;
        for (int row = 0; row < list.RowCount(); ++row) {
            const FoundPartitionRow* r = list.Record(row);
            if (!list.IsRowChecked(row) || !r || !r->partition)
                continue;
            std::unique_ptr<IBuildProgress> own;
            if (m_traits.progressPerPartition)
                own = ui.CreateBuildProgress();
            IBuildProgress* progress = own ? own.get() : shared.get();
            ReleaseTrace("Building directory tree on partition %d", row);
            if (FileTreePtr tree = BuildDirectoryTreeByController(controllers, r->partition, device,
                                                                  progress, built++))
                root->AddChild(tree.release());
            if (progress->Poll() == -1) {
                cancelled = true;
                break;
            }
        }
    }
    if (cancelled)
        return;
    root->RecountCounters();
    // Trees without a single file are no find.
    if (root->m_pFirstChild && root->m_counters.files > 0) {
        HandTreeToFileSelection(m_context, this, std::move(root));
        return;
    }
    ui.MessageBox(uistr::kNoFilesFound, kMbInformation, kMbOk);
}

int CCompleteRecoveryScanPartitionDeviceSelectController::SaveState(IRSData* store) {
    SaveSearchControllers(store, m_results.ControllerPointers());
    store->OpenSection(kFoundFileListSection);
    if (m_results.carved)
        SaveFoundFileList(store, *m_results.carved);
    else
        SaveFoundFileList(store, CRawFileList());
    store->CloseSection();
    SaveSearchedPartitions(store, m_results.PartitionPointers());
    return 1;
}

int CCompleteRecoveryScanPartitionDeviceSelectController::RestoreState(IRSData* store) {
    IStorageDevice* device = SourceDevice();
    if (!device)
        return 0;
    DeepScanResults loaded;
    LoadSearchControllers(store, loaded.controllers);
    loaded.carved = LoadFoundFileList(store);
    LoadSearchedPartitions(store, loaded.partitions);
    if (!loaded.carved)
        return 0;
    const std::uint64_t sectors = device->GetSectorCount();
    FitCarvedFilesToDevice(*loaded.carved, sectors, GetScanOptions().MaxRawFileSize);
    FitSearchedPartitionsToDevice(loaded.partitions, sectors);
    for (auto& c : loaded.controllers) {
        c->SetResultSink(loaded.carved.get());
        c->SetDevice(device);
    }
    m_results.Clear();
    m_results = std::move(loaded);
    ShowResults();
    return 1;
}
