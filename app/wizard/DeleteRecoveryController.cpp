#include "app/wizard/DeleteRecoveryController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/DiskRightsNote.h"
#include "app/wizard/FileSelectController.h"
#include "app/wizard/FileTreeRoots.h"
#include "app/wizard/ImageOpenWarning.h"
#include "app/wizard/SaveFileController.h"
#include "filesystems/probes/QuickScan.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "storage/VolumeNames.h"
#include "storage/VolumeProbe.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"
#include "ui/views/DeviceViewModel.h"

#include <cstdio>
#include <cstring>

CDeleteRecoveryPartitionDeviceSelectController::CDeleteRecoveryPartitionDeviceSelectController(AppContext& context,
                                                                                               ISheet* sheet)
    : CWizardPageControllerBase(sheet, kPageDeleteRecoveryPartition), m_context(context) {}

CDeleteRecoveryPartitionDeviceSelectController::~CDeleteRecoveryPartitionDeviceSelectController() {
    Reset();
}

void CDeleteRecoveryPartitionDeviceSelectController::FreeScannedTree() {
    m_scanned.reset();
}

void CDeleteRecoveryPartitionDeviceSelectController::FreeLists() {
    m_view->RemoveAllDevices();
    m_selected = m_chosen = nullptr;
    m_context.Devices().FreeVolumes(m_volumes);
    m_volumes.clear();
    m_context.Devices().FreeDisks(m_disks);
    m_disks.clear();
}

void CDeleteRecoveryPartitionDeviceSelectController::Reset() {
    FreeLists();
    FreeScannedTree();
}

void CDeleteRecoveryPartitionDeviceSelectController::Activate() {
    InitVolumeDeviceSelectCtrl();
    FreeScannedTree();
    CWizardPageControllerBase::Activate();
}

void CDeleteRecoveryPartitionDeviceSelectController::GetSource(RecoverySource& out) const {
    out = RecoverySource{};
    if (m_chosen) {
        out.kind = 1;
        out.pointer = m_chosen;
        out.device = m_chosen->pStorageDevice;
    }
}

std::string CDeleteRecoveryPartitionDeviceSelectController::VolumeRowName(const VolumeRecord& record) {
    const char letter = record.cDriveLetter >= 'A' && record.cDriveLetter <= 'Z' ? record.cDriveLetter : '*';
    const char* fs = record.fileSystemType > 5 ? "UNKNOWN" : GetFileSystemName(record.fileSystemType);
    char text[256];
    std::snprintf(text, sizeof text, "%c : %s  (%s)", letter, record.szVolumeLabel, fs);
    return text;
}

int CDeleteRecoveryPartitionDeviceSelectController::VolumeRowKind(const VolumeRecord& record) {
    if (record.isFloppy)
        return kDeviceKindFloppy;
    return record.isUsb ? kDeviceKindUsb : kDeviceKindVolume;
}

void CDeleteRecoveryPartitionDeviceSelectController::InitVolumeDeviceSelectCtrl() {
    auto waiting = m_context.Services().ShowWaiting(uistr::kPleaseWaitScanning);
    FreeLists();
    m_context.Devices().CollectDisks(m_disks);
    if (!m_disks.empty())
        m_context.Devices().CollectVolumes(m_volumes, m_disks);
    m_view->SetNote(DiskRightsNote(m_context, /*opensImagesHere=*/false));
    waiting.reset();
    for (const auto& record : m_volumes) {
        if (!record || !record->pStorageDevice || record->fileSystemType == FILESYSTEM_UNKNOWN)
            continue;
        // Listed when the device reads (volumes are opened read-only; mounted or not, with a
        // letter or not).
        std::uint8_t sector[kSectorSize];
        if (record->pStorageDevice->ReadSectors(sector, 0, 1) != 1)
            continue;
        DeviceListEntry row;
        row.kind = VolumeRowKind(*record);
        row.name = VolumeRowName(*record);
        row.sectorCount = record->pStorageDevice->GetSectorCount();
        row.information = record->szParentDisk;
        row.itemData = record.get();
        m_view->AddDevice(row);
    }
    for (auto& image : m_images) {
        DeviceListEntry row;
        row.kind = kDeviceKindImageFile;
        row.name = uistr::UiString(uistr::kImageFileRowPrefix) + image->szImageDisplayName;
        row.sectorCount = image->u64ImageSectorCount;
        row.itemData = image.get();
        m_view->AddDevice(row);
    }
}

bool CDeleteRecoveryPartitionDeviceSelectController::AddImage(const std::string& path, const std::string& displayName) {
    auto device = std::make_unique<CImageFileDeviceWithDecompress>(path.c_str());
    if (device->GetSectorCount() == 0)
        return false;
    WarnIfImageDataMissing(m_context.Services(), device.get());
    auto record = std::make_unique<VolumeRecord>();
    record->form = 1;
    record->u32ImageId = m_nextImageId++;
    std::snprintf(record->szImageDisplayName, sizeof record->szImageDisplayName, "%s", displayName.c_str());
    std::snprintf(record->szImagePath, sizeof record->szImagePath, "%s", path.c_str());
    record->u64ImageSectorCount = device->GetSectorCount();
    // The file system is guessed from the name: "...(FAT32)" gives FAT32, "(NTFS)" NTFS.
    if (displayName.size() >= 3) {
        const std::string two = displayName.substr(displayName.size() - 3, 2);
        if (two == "16")
            m_nextImageType = FILESYSTEM_FAT16;
        else if (two == "12")
            m_nextImageType = FILESYSTEM_FAT12;
        else if (two == "32")
            m_nextImageType = FILESYSTEM_FAT32;
        else if (two == "FS")
            m_nextImageType = FILESYSTEM_NTFS;
    }
    record->fileSystemType = m_nextImageType;
    // An image whose name says nothing (the usual ".edi") is still scanned: its boot sector
    // tells the file system.
    VolumeProbeResult probed;
    if (ProbeVolume(device.get(), 0, probed) && probed.fileSystemType != FILESYSTEM_UNKNOWN)
        record->fileSystemType = probed.fileSystemType;
    record->AdoptDevice(std::move(device));
    m_images.push_back(std::move(record));
    DeviceListEntry row;
    row.kind = kDeviceKindImageFile;
    row.name = uistr::UiString(uistr::kImageFileRowPrefix) + m_images.back()->szImageDisplayName;
    row.sectorCount = m_images.back()->u64ImageSectorCount;
    row.itemData = m_images.back().get();
    m_view->AddDevice(row);
    return true;
}

bool CDeleteRecoveryPartitionDeviceSelectController::SelectCurrent() {
    const int index = m_view->GetSelectedIndex();
    m_selected = index >= 0 ? static_cast<VolumeRecord*>(m_view->GetDeviceData(index)) : nullptr;
    return m_selected != nullptr;
}

bool CDeleteRecoveryPartitionDeviceSelectController::IsImageSelected() const { return m_selected && m_selected->form == 1; }

namespace {
// The name an image row shows: the file name without its folder and extension.
std::string ImageDisplayName(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.resize(dot);
    return name;
}
} // namespace

void CDeleteRecoveryPartitionDeviceSelectController::CreateImageOfSelection() {
    if (!SelectCurrent() || IsImageSelected() || !m_selected->pStorageDevice)
        return;
    const VolumeRecord& record = *m_selected;
    const char letter = record.cDriveLetter >= 'A' && record.cDriveLetter <= 'Z' ? record.cDriveLetter : '*';
    const char* fs = record.fileSystemType > 5 ? "UNKNOWN" : GetFileSystemName(record.fileSystemType);
    char caption[300];
    std::snprintf(caption, sizeof caption, "%s (%c:\\ %s)", record.szVolumeLabel, letter, fs);
    const std::string path = m_context.Services().CreateImageOfSelected(record.pStorageDevice, caption, 255);
    if (!path.empty())
        AddImage(path, ImageDisplayName(path));
}

void CDeleteRecoveryPartitionDeviceSelectController::OpenDiskImage() {
    const std::string path = m_context.Services().ChooseDiskImage();
    if (!path.empty())
        AddImage(path, ImageDisplayName(path));
}

void CDeleteRecoveryPartitionDeviceSelectController::DeleteImage() {
    if (!SelectCurrent() || !IsImageSelected())
        return;
    VolumeRecord* doomed = m_selected;
    m_selected = nullptr;
    if (m_chosen == doomed)
        m_chosen = nullptr;
    // The list has no row removal of its own: the rows are laid again without the image.
    for (auto it = m_images.begin(); it != m_images.end(); ++it) {
        if (it->get() == doomed) {
            m_images.erase(it);
            break;
        }
    }
    InitVolumeDeviceSelectCtrl();
}

void CDeleteRecoveryPartitionDeviceSelectController::ShowOptions() { m_context.Services().ShowAdvancedSettings(); }

FileTreePtr
CDeleteRecoveryPartitionDeviceSelectController::QuickScanVolume(const VolumeRecord& record,
                                                                bool* cancelled) {
    *cancelled = false;
    if (!record.pStorageDevice || !CanQuickScanFileSystemType(record.fileSystemType))
        return nullptr;
    std::unique_ptr<IBuildProgress> progress = m_context.Services().CreateBuildProgress();
    FileTreePtr tree =
        QuickScanRecordedVolume(record.pStorageDevice, record.fileSystemType, progress.get());
    if (progress->Cancelled()) {
        *cancelled = true;
        return nullptr;
    }
    return tree;
}

void CDeleteRecoveryPartitionDeviceSelectController::Next() {
    IUiServices& ui = m_context.Services();
    const int index = m_view->GetSelectedIndex();
    auto* record = index >= 0 ? static_cast<VolumeRecord*>(m_view->GetDeviceData(index)) : nullptr;
    if (!record) {
        ui.MessageBox(uistr::kChoosePartitionToRecover, kMbInformation, kMbOk);
        return;
    }
    m_chosen = record;
    if (record->form == 1)
        LogScanImageDevice(record->szImageDisplayName, record->szImagePath, true);
    else
        LogScanDevice(*record, true);
    FreeScannedTree();
    bool cancelled = false;
    m_scanned = QuickScanVolume(*record, &cancelled);
    if (cancelled) {
        FreeScannedTree();
        LogRecoveryStage(kStageUserAbort);
        return;
    }
    if (!m_scanned) {
        LogRecoveryStage(kStageFoundNothing);
        ui.MessageBox(uistr::kNoFilesGoDeepScan, kMbInformation, kMbOk);
        return;
    }
    LogRecoveryStage(kStageSearchCompleted);
    FileTreePtr root = BuildDeletedFilesTree(m_scanned);
    if (m_context.showFileSelectHint) {
        bool dontShow = false;
        ui.CheckBoxPrompt(uistr::kDeepScanHint, kMbInformation, kMbOk, dontShow);
        if (dontShow)
            m_context.showFileSelectHint = false;
    }
    CFileSelectController* files = GetFileSelectController();
    if (!files)
        return;
    files->SetPrevious(this);
    files->SetFileTree(std::move(root));
    files->Activate();
}

CDeleteRecoveryPartitionDeviceSelectController* GetDeleteRecoveryPartitionDeviceSelectController() {
    return dynamic_cast<CDeleteRecoveryPartitionDeviceSelectController*>(GetWizardController(kPageDeleteRecoveryPartition));
}

void InstallDeletedFileRecoverySteps(AppContext& context) {
    context.SetController(kPageDeleteRecoveryPartition,
                          std::make_unique<CDeleteRecoveryPartitionDeviceSelectController>(context, context.Sheet()));
    context.SetController(kPageFileSelect, std::make_unique<CFileSelectController>(context, context.Sheet()));
    context.SetController(kPageSaveFile, std::make_unique<CSaveFileController>(context, context.Sheet()));
    context.SetController(kPageSaveResult, std::make_unique<CSaveResultController>(context, context.Sheet()));
}
