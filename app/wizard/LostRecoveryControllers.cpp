#include "app/wizard/LostRecoveryControllers.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DeepScanRun.h"
#include "app/wizard/DiskRightsNote.h"
#include "app/wizard/FileTreeRoots.h"
#include "app/wizard/ImageOpenWarning.h"
#include "app/wizard/LostPartitionSearchModel.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "carving/partition/PartitionSearcher.h"
#include "filesystems/FileNode.h"
#include "filesystems/probes/QuickScan.h"
#include "platform/DriveTable.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DeviceList.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/PartitionTable.h"
#include "storage/VolumeNames.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

void CopyText(char* out, std::size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

DiskLogInfo LogInfoOf(const LostDiskItem& item) {
    DiskLogInfo info;
    info.isImage = item.kind == DISKRECORD_IMAGE;
    info.isUsb = item.isUsb != 0;
    info.name = info.isImage ? item.szDisplayName : item.szText;
    info.imagePath = info.isImage ? item.szImagePath : "";
    return info;
}

std::vector<const FoundPartitionInfo*> View(const FoundPartitionList& list) {
    std::vector<const FoundPartitionInfo*> out;
    for (const auto& p : list)
        out.push_back(p.get());
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The search.

void SearchPartitionsWithDialog(AppContext& context, CPartitionSearcher& searcher, const LostDiskItem& item,
                                FoundPartitionList& found) {
    CLostPartitionSearchModel dialog;
    searcher.SetDevice(item.pDevice);
    searcher.AddPartitionFileSystemController(&searcher.FatController());
    searcher.AddPartitionFileSystemController(&searcher.NtfsController());
    searcher.AddPartitionSearchAlgorithms(static_cast<int>(item.headsPerCylinder));
    {
        // The dialog is up (and the main window disabled) while the search runs.
        std::unique_ptr<IWaitingNotice> shown = context.Services().ShowPartitionSearch(dialog);
        searcher.StartPartitionSearch(&dialog);
    }
    dialog.CopyFoundPartitions(found);
}

void MergeFoundPartitions(FoundPartitionList& found, const PartitionList& table, FoundPartitionList& out) {
    for (auto& p : found) {
        if (!p)
            continue;
        bool inTable = false;
        for (const auto& entry : table)
            if (entry && entry->u64FirstSector == p->u64FirstSector)
                inTable = true;
        if (inTable)
            p.reset();
        else
            out.push_back(std::move(p));
    }
    found.clear();
}

void RunLostPartitionSearch(AppContext& context, const LostDiskItem& item, FoundPartitionList& out) {
    FoundPartitionList found;
    {
        CPartitionSearcher searcher;
        SearchPartitionsWithDialog(context, searcher, item, found);
    }
    PartitionList table;
    if (item.pDevice && !IsDynamicDisk(item.pDevice)) {
        if (IsGptDisk(item.pDevice)) {
            ReadGptPartitions(item.pDevice, table);
        } else {
            ReadWholeDiskVolume(item.pDevice, table);
            ReadMbrPartitions(item.pDevice, table);
        }
    }
    MergeFoundPartitions(found, table, out);
}

FileTreePtr QuickScanByType(const FoundPartitionInfo& partition, IDIRBuildCallback* progress) {
    return QuickScanRecordedVolume(partition.pDevice.get(), partition.fileSystemType, progress);
}

// ---------------------------------------------------------------------------------------------
// Step 1: the disks.

CLostRecoveryDiskDeviceSelectController::CLostRecoveryDiskDeviceSelectController(AppContext& context)
    : CWizardPageControllerBase(context.Sheet(), kPageLostRecoveryDisk), m_context(context) {}

CLostRecoveryDiskDeviceSelectController::~CLostRecoveryDiskDeviceSelectController() {
    Reset();
    DeleteImages();
}

void CLostRecoveryDiskDeviceSelectController::Activate() {
    if (m_promotePending) {
        m_promotePending = false;
        PromoteRecoveryStateFile(m_context, this);
    }
    SaveControllerStatus(m_context, this);
    RefreshDeviceList();
    CWizardPageControllerBase::Activate();
}

void CLostRecoveryDiskDeviceSelectController::Home() {
    Reset();
    DeleteImages();
    if (IWizardPageController* previous = GetPrevious())
        previous->Home();
}

void CLostRecoveryDiskDeviceSelectController::Back() {
    Reset();
    DeleteImages();
    if (IWizardPageController* previous = GetPrevious())
        previous->Activate();
}

void CLostRecoveryDiskDeviceSelectController::GetSource(RecoverySource& out) const {
    out.kind = 0;
    out.pointer = m_selected;
    out.device = m_selected ? m_selected->pDevice : nullptr;
}

void CLostRecoveryDiskDeviceSelectController::Reset() {
    m_selected = nullptr;
    m_rowItem = nullptr;
    m_view->RemoveAllDevices();
    m_items.clear();
    m_context.Devices().FreeVolumes(m_volumes);
    m_volumes.clear();
    m_context.Devices().FreeDisks(m_disks);
    m_disks.clear();
}

void CLostRecoveryDiskDeviceSelectController::DeleteImages() {
    if (m_selected && m_selected->kind == DISKRECORD_IMAGE)
        m_selected = nullptr;
    m_rowItem = nullptr;
    m_images.clear();
}

void CLostRecoveryDiskDeviceSelectController::RefreshDeviceList() {
    {
        // Closed on every path, also when no disk is found.
        std::unique_ptr<IWaitingNotice> waiting = m_context.Services().ShowWaiting(uistr::kPleaseWaitScanning);
        Reset();
        m_context.Devices().CollectDisks(m_disks);
        if (!m_disks.empty())
            m_context.Devices().CollectVolumes(m_volumes, m_disks);
    }
    m_view->SetNote(DiskRightsNote(m_context, /*opensImagesHere=*/false));
    // Without a disk (a user who is not root) the saved result and the images are still listed.
    AddSavedStateRow();
    for (IStorageDevice* disk : m_disks)
        AddDiskRow(disk);
    for (auto& image : m_images)
        AddImageRow(image.get());
}

void CLostRecoveryDiskDeviceSelectController::AddSavedStateRow() {
    std::string description;
    if (!GetSavedResultInfo(m_context, this, description))
        return;
    DeviceListEntry row;
    row.kind = kDeviceKindPreviousRecovery;
    row.name = uistr::UiString(uistr::kPreviousRecoveryRow);
    row.information = description;
    m_view->AddDevice(row);
}

std::string CLostRecoveryDiskDeviceSelectController::DiskInformation(IStorageDevice* disk) const {
    std::string text;
    for (const auto& v : m_volumes) {
        bool onDisk = false;
        for (int i = 0; i < kMaxMemberExtents && v->members[i].pDisk; ++i)
            onDisk = onDisk || v->members[i].pDisk == disk;
        if (!onDisk)
            continue;
        const char letter = v->cDriveLetter ? v->cDriveLetter : '*';
        const char* fs = v->fileSystemType <= FILESYSTEM_EXT3 ? GetFileSystemName(v->fileSystemType) : "UNKNOWN";
        text += Printf("%c : %s  (%s)", letter, v->szVolumeLabel, fs);
        text += "\n";
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

void CLostRecoveryDiskDeviceSelectController::AddDiskRow(IStorageDevice* disk) {
    auto item = std::make_unique<LostDiskItem>();
    item->kind = DISKRECORD_DISK;
    item->pDevice = disk;
    item->headsPerCylinder = platform::kTracksPerCylinder;
    DiskDescriptor descriptor{};
    if (auto* physical = dynamic_cast<CDiskDevice*>(disk)) {
        item->headsPerCylinder = physical->GetTracksPerCylinder();
        if (physical->QueryDeviceDescriptor(&descriptor))
            item->isUsb = descriptor.busType == platform::kBusUsb ? 1 : 0;
    }
    CopyText(item->szText, sizeof item->szText, DiskDescriptionText(disk));

    DeviceListEntry row;
    row.kind = item->isUsb ? kDeviceKindUsb : kDeviceKindDisk;
    row.name = item->szText;
    row.sectorCount = disk->GetSectorCount();
    row.information = DiskInformation(disk);
    row.itemData = item.get();
    m_items.push_back(std::move(item));
    m_view->AddDevice(row);
}

void CLostRecoveryDiskDeviceSelectController::AddImageRow(LostDiskItem* item) {
    DeviceListEntry row;
    row.kind = kDeviceKindImageFile;
    row.name = uistr::UiString(uistr::kImageFileRowPrefix) + item->szDisplayName;
    row.sectorCount = item->u64SectorCount;
    row.itemData = item;
    m_view->AddDevice(row);
}

LostDiskItem* CLostRecoveryDiskDeviceSelectController::AddDiskImage(const std::string& path) {
    IUiServices& ui = m_context.Services();
    for (const auto& image : m_images)
        if (path == image->szImagePath) {
            ui.MessageBox(uistr::kLostImageAlreadyOpen, kMbInformation, kMbOk);
            return nullptr;
        }
    auto device = std::make_unique<CImageFileDeviceWithDecompress>(path.c_str());
    if (!device->CheckSliceFiles() || device->GetSectorCount() == 0) {
        ui.MessageBox(uistr::kLostImageInvalid, kMbWarning, kMbOk);
        return nullptr;
    }
    WarnIfImageDataMissing(ui, device.get());
    auto item = std::make_unique<LostDiskItem>();
    item->kind = DISKRECORD_IMAGE;
    item->headsPerCylinder = ReadImageHeadsPerCylinder(device->GetImageFile());
    item->imageId = m_nextImageId++;
    char name[260] = {};
    device->GetSourceName(name);
    name[sizeof name - 1] = 0;
    CopyText(item->szDisplayName, sizeof item->szDisplayName,
             name[0] ? std::string(name) : std::filesystem::path(path).filename().string());
    item->u64SectorCount = device->GetSectorCount();
    CopyText(item->szImagePath, sizeof item->szImagePath, path);
    item->pDevice = device.get();
    item->ownedDevice = std::move(device);
    LostDiskItem* raw = item.get();
    m_images.push_back(std::move(item));
    AddImageRow(raw);
    return raw;
}

void CLostRecoveryDiskDeviceSelectController::OpenDiskImage() {
    const std::string path = m_context.Services().ChooseDiskImage();
    if (!path.empty())
        AddDiskImage(path);
}

bool CLostRecoveryDiskDeviceSelectController::SelectCurrentRow() {
    const int row = m_view->GetSelectedIndex();
    m_rowItem = row >= 0 ? static_cast<LostDiskItem*>(m_view->GetDeviceData(row)) : nullptr;
    return m_rowItem != nullptr;
}

bool CLostRecoveryDiskDeviceSelectController::IsSelectedImage() {
    return SelectCurrentRow() && m_rowItem->kind == DISKRECORD_IMAGE;
}

void CLostRecoveryDiskDeviceSelectController::RemoveSelectedImage() {
    if (!IsSelectedImage())
        return;
    const std::uint32_t id = m_rowItem->imageId;
    // The list has no row removal of its own: it is filled again without the image's rows.
    for (auto it = m_images.begin(); it != m_images.end();) {
        if ((*it)->imageId == id) {
            if (m_selected == it->get())
                m_selected = nullptr;
            it = m_images.erase(it);
        } else {
            ++it;
        }
    }
    m_rowItem = nullptr;
    m_view->RemoveAllDevices();
    AddSavedStateRow();
    for (const auto& item : m_items) {
        DeviceListEntry row;
        row.kind = item->isUsb ? kDeviceKindUsb : kDeviceKindDisk;
        row.name = item->szText;
        row.sectorCount = item->pDevice->GetSectorCount();
        row.information = DiskInformation(item->pDevice);
        row.itemData = item.get();
        m_view->AddDevice(row);
    }
    for (auto& image : m_images)
        AddImageRow(image.get());
}

void CLostRecoveryDiskDeviceSelectController::RemoveSavedStateRow() {
    const int row = m_view->GetSelectedIndex();
    if (row < 0 || m_view->GetDeviceData(row))
        return;
    DeleteSavedRecoveryState(m_context, this);
    RefreshDeviceList();
}

void CLostRecoveryDiskDeviceSelectController::Next() {
    m_selected = nullptr;
    IUiServices& ui = m_context.Services();
    const int row = m_view->GetSelectedIndex();
    if (row < 0) {
        ui.MessageBox(uistr::kSelectDiskToRecover, kMbInformation, kMbOk);
        return;
    }
    auto* item = static_cast<LostDiskItem*>(m_view->GetDeviceData(row));
    if (!item) {
        LogRecoveryStage(kStageRestoringLast);
        if (!RestoreRecoveryStates(m_context, this)) {
            m_selected = nullptr;  // nothing stays half restored
            LogRecoveryStage(kStageRestoreLastFailed);
            ui.MessageBox(uistr::kFailedToLoadLostResult, kMbInformation, kMbOk);
        } else {
            LogRecoveryStage(kStageRestoreLastDone);
        }
        return;
    }
    m_selected = item;
    LogScanDisk(LogInfoOf(*item), true);
    FoundPartitionList found;
    RunLostPartitionSearch(m_context, *item, found);
    auto* next = dynamic_cast<CLostRecoveryPartitionDeviceSelectController*>(m_context.Controller(kPageLostRecoveryPartition));
    if (!next)
        return;
    next->SetPrevious(this);
    next->SetFoundPartitions(std::move(found));
    next->Activate();
}

int CLostRecoveryDiskDeviceSelectController::SaveState(IRSData* store) {
    if (!m_selected)
        return 1;
    const std::string text = m_selected->kind == DISKRECORD_IMAGE
                                 ? Printf("Results for \r\nImage File \"%s\"", m_selected->szDisplayName)
                                 : Printf("Results for \r\nDisk \"%s\"", m_selected->szText);
    SetSavedResultInfo(store, text);
    StoreDeviceIdentity(*m_selected, store);
    return 1;
}

int CLostRecoveryDiskDeviceSelectController::RestoreState(IRSData* store) {
    // The candidates: the disks listed now (copies that do not own their devices) and the
    // images opened in this run; an image the store names is opened again when absent.
    DiskRecordList candidates;
    for (const auto& item : m_items) {
        auto copy = std::make_unique<LostDiskItem>();
        copy->kind = item->kind;
        copy->pDevice = item->pDevice;
        copy->headsPerCylinder = item->headsPerCylinder;
        copy->isUsb = item->isUsb;
        std::memcpy(copy->szText, item->szText, sizeof copy->szText);
        candidates.push_back(std::move(copy));
    }
    const std::size_t disks = candidates.size();
    const std::size_t oldImages = m_images.size();
    for (auto& image : m_images)
        candidates.push_back(std::move(image));
    m_images.clear();
    LostDiskItem* found = nullptr;
    try {
        found = FindStoredDevice(store, candidates);
    } catch (...) {
        found = nullptr;
        for (std::size_t i = disks; i < candidates.size(); ++i)
            m_images.push_back(std::move(candidates[i]));
        throw;
    }
    LostDiskItem* selected = nullptr;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (i < disks) {
            if (candidates[i].get() == found)
                selected = m_items[i].get();
            continue;
        }
        LostDiskItem* image = candidates[i].get();
        if (i >= disks + oldImages) {  // opened again by the restore
            image->kind = DISKRECORD_IMAGE;
            image->imageId = m_nextImageId++;
            if (image->pDevice && image->u64SectorCount == 0)
                image->u64SectorCount = image->pDevice->GetSectorCount();
            if (image->pDevice && image->ownedDevice)
                if (auto* edi = dynamic_cast<CImageFileDeviceWithDecompress*>(image->ownedDevice.get()))
                    image->headsPerCylinder = ReadImageHeadsPerCylinder(edi->GetImageFile());
            AddImageRow(image);
        }
        if (image == found)
            selected = image;
        m_images.push_back(std::move(candidates[i]));
    }
    if (!selected)
        return 0;
    m_selected = selected;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Step 2: the found partitions.

CLostRecoveryPartitionDeviceSelectController::CLostRecoveryPartitionDeviceSelectController(AppContext& context)
    : CWizardPageControllerBase(context.Sheet(), kPageLostRecoveryPartition), m_context(context) {}

CLostRecoveryPartitionDeviceSelectController::~CLostRecoveryPartitionDeviceSelectController() { Reset(); }

LostDiskItem* CLostRecoveryPartitionDeviceSelectController::SourceDisk() const {
    RecoverySource source;
    if (IWizardPageController* previous = GetPrevious())
        previous->GetSource(source);
    return source.kind == 0 ? static_cast<LostDiskItem*>(source.pointer) : nullptr;
}

void CLostRecoveryPartitionDeviceSelectController::Activate() {
    if (m_partitions.empty()) {
        RunFullScan();
        return;
    }
    SaveControllerStatus(m_context, this);
    CWizardPageControllerBase::Activate();
}

void CLostRecoveryPartitionDeviceSelectController::Home() {
    Reset();
    if (IWizardPageController* previous = GetPrevious())
        previous->Home();
    if (m_fullScanBox)
        m_fullScanBox(false);
    SetFullScan(false);
}

void CLostRecoveryPartitionDeviceSelectController::Back() {
    Reset();
    if (IWizardPageController* previous = GetPrevious())
        previous->Activate();
    if (m_fullScanBox)
        m_fullScanBox(false);
    SetFullScan(false);
}

void CLostRecoveryPartitionDeviceSelectController::Next() {
    if (m_fullScan)
        RunFullScan();
    else
        BuildFoundPartitionTree();
}

void CLostRecoveryPartitionDeviceSelectController::GetSource(RecoverySource& out) const {
    if (m_chosen) {
        out.kind = 2;
        out.pointer = m_chosen;
        out.device = m_chosen->pDevice.get();
        return;
    }
    CWizardPageControllerBase::GetSource(out);
}

void CLostRecoveryPartitionDeviceSelectController::Reset() {
    m_chosen = nullptr;
    m_view->RemoveAllDevices();
    m_partitions.clear();
}

void CLostRecoveryPartitionDeviceSelectController::SetFoundPartitions(FoundPartitionList partitions) {
    m_chosen = nullptr;
    m_partitions = std::move(partitions);
    LogLostPartitionList(View(m_partitions));
    FillFoundPartitionRows();
    SaveRecoveryStatesWorker(m_context, this, nullptr);
}

void CLostRecoveryPartitionDeviceSelectController::FillFoundPartitionRows() {
    m_view->RemoveAllDevices();
    for (const auto& p : m_partitions) {
        DeviceListEntry row;
        row.kind = kDeviceKindFoundPartition;
        row.sectorCount = p->u64SectorCount;
        row.name = std::string(p->szVolumeLabel) + "-" + uifmt::GetFileSystemDisplayName(static_cast<std::uint32_t>(p->fileSystemType));
        row.itemData = p.get();
        m_view->AddDevice(row);
    }
}

void CLostRecoveryPartitionDeviceSelectController::BuildFoundPartitionTree() {
    IUiServices& ui = m_context.Services();
    const int row = m_view->GetSelectedIndex();
    auto* record = row >= 0 ? static_cast<FoundPartitionInfo*>(m_view->GetDeviceData(row)) : nullptr;
    if (!record) {
        ui.MessageBox(uistr::kChoosePartitionToRecover, kMbInformation, kMbOk);
        return;
    }
    m_chosen = record;
    if (!record->pDevice)
        return;
    WriteActivityLine(Printf("Building directory tree on partition %d", row));
    FileTreePtr tree;
    {
        std::unique_ptr<IBuildProgress> progress = ui.CreateBuildProgress();
        tree = QuickScanByType(*record, progress.get());
    }
    if (!tree) {
        LogRecoveryStage(kStageFoundNothing);
        ui.MessageBox(uistr::kNoFilesFound, kMbInformation, kMbOk);
        return;
    }
    FileTreePtr root = CreateFileTreeRoot();
    root->AddChild(tree.release());
    root->RecountCounters();
    if (m_context.showFullScanHint) {
        bool dontShow = false;
        ui.CheckBoxPrompt(uistr::kFullScanHint, kMbInformation, kMbOk, dontShow);
        m_context.showFullScanHint = !dontShow;
    }
    if (root->m_pFirstChild)
        HandTreeToFileSelection(m_context, this, std::move(root));
    else
        ui.MessageBox(uistr::kNoFilesFound, kMbInformation, kMbOk);
}

void CLostRecoveryPartitionDeviceSelectController::RunFullScan() {
    m_chosen = nullptr;
    LostDiskItem* disk = SourceDisk();
    if (!disk || !disk->pDevice)
        return;
    LogScanDisk(LogInfoOf(*disk), false);
    // Step 2 is the previous step of what follows only when it holds partitions (else it was
    // never shown).
    IWizardPageController* caller = m_partitions.empty() ? GetPrevious() : this;
    RunDeepScanOnDevice(m_context, disk->pDevice, caller, m_context.Controller(kPageLostRecoveryScanPartition),
                        uistr::kNoFilesOnDevice);
}

int CLostRecoveryPartitionDeviceSelectController::SaveState(IRSData* store) {
    return SaveFoundPartitionList(store, View(m_partitions), m_chosen);
}

int CLostRecoveryPartitionDeviceSelectController::RestoreState(IRSData* store) {
    LostDiskItem* disk = SourceDisk();
    FoundPartitionInfo* chosen = nullptr;
    LoadFoundPartitionList(store, m_partitions, &chosen, disk ? disk->pDevice : nullptr);
    m_chosen = chosen;
    LogLostPartitionList(View(m_partitions));
    FillFoundPartitionRows();
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Step 3: the partitions of the full scan.

namespace {
CCompleteRecoveryScanPartitionDeviceSelectController::StepTraits LostScanTraits() {
    CCompleteRecoveryScanPartitionDeviceSelectController::StepTraits traits;
    traits.pageIndex = kPageLostRecoveryScanPartition;
    traits.autoCheckLimit = 4;
    traits.backQuestionId = uistr::kGoBackToDeviceListQuestion;
    traits.emptyListId = 0;  // an empty list does nothing
    traits.noneTickedId = uistr::kChooseScanPartition;
    traits.tooManyId = uistr::kPleaseSelectFirstSuggested;
    traits.progressPerPartition = true;
    return traits;
}
} // namespace

CLostRecoveryScanPartitionDeviceSelectController::CLostRecoveryScanPartitionDeviceSelectController(AppContext& context)
    : CCompleteRecoveryScanPartitionDeviceSelectController(context, context.Sheet(), LostScanTraits()) {}

void CLostRecoveryScanPartitionDeviceSelectController::ShowSourceDevice() {
    RecoverySource source;
    GetSource(source);
    const auto* item = source.kind == 0 ? static_cast<const LostDiskItem*>(source.pointer) : nullptr;
    if (!item)
        return;
    LayoutSource layout;
    layout.sectorCount = item->pDevice ? item->pDevice->GetSectorCount() : 0;
    if (item->kind == DISKRECORD_IMAGE) {
        layout.type = kLayoutSourceImage;
        layout.name = item->szDisplayName;
    } else {
        layout.type = item->isUsb ? kLayoutSourceUsbDisk : kLayoutSourceDisk;
        layout.name = item->szText;
    }
    Pane().ShowSource(layout);
}

void InstallLostPartitionRecoverySteps(AppContext& context) {
    context.SetController(kPageLostRecoveryDisk, std::make_unique<CLostRecoveryDiskDeviceSelectController>(context));
    context.SetController(kPageLostRecoveryPartition,
                          std::make_unique<CLostRecoveryPartitionDeviceSelectController>(context));
    context.SetController(kPageLostRecoveryScanPartition,
                          std::make_unique<CLostRecoveryScanPartitionDeviceSelectController>(context));
}
