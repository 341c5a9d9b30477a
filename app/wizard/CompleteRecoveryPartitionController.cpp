#include "app/wizard/CompleteRecoveryPartitionController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryScanPartitionController.h"
#include "app/wizard/DeepScanRun.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/DiskRightsNote.h"
#include "app/wizard/ImageOpenWarning.h"
#include "app/wizard/RecoveryStateFiles.h"
#include "logging/Log.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// {3C8A51E2-7D40-4B9F-A1C6-58E2F09B7D14}: how step 1's source was opened: u32 0 a listed
// volume or image, 1 a plain image file opened with Ctrl+O, 2 a block-compressed image opened
// with Ctrl+O.
constexpr RSGuid kDeepScanSourceSection{
    0x3C8A51E2, 0x7D40, 0x4B9F, {0xA1, 0xC6, 0x58, 0xE2, 0xF0, 0x9B, 0x7D, 0x14}};
enum SourceOpening : std::uint32_t {
    kSourceListed = 0,
    kSourcePlainImage = 1,
    kSourceBlockImage = 2
};

// The program's own block images first (and chosen), then the other image kinds.
constexpr const char* kRawImageFilter =
    "Disk Image File(*.edi)|*.edi|ImageFile(*.vlv)|*.vlv|Raw Image File(*.*)|*.*";

void CopyText(char* to, std::size_t size, const std::string& text) {
    std::snprintf(to, size, "%s", text.c_str());
}

std::string FileNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasEdiExtension(const std::string& path) {
    const std::string name = FileNameOf(path);
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "edi";
}

const char* FileSystemNameOf(std::uint32_t type) {
    return type <= FILESYSTEM_EXT3 ? uifmt::GetFileSystemDisplayName(type) : "UNKNOWN";
}

} // namespace

CCompleteRecoveryPartitionDeviceSelectController::CCompleteRecoveryPartitionDeviceSelectController(
    AppContext& context, ISheet* sheet)
    : CWizardPageControllerBase(sheet, kPageCompleteRecoveryPartition), m_context(context) {}

CCompleteRecoveryPartitionDeviceSelectController::
    ~CCompleteRecoveryPartitionDeviceSelectController() {
    Reset();
    DeleteImages();
}

void CCompleteRecoveryPartitionDeviceSelectController::GetSource(RecoverySource& out) const {
    out = RecoverySource{};
    out.kind = 1;
    out.pointer = m_source;
    out.device = m_source ? m_source->pStorageDevice : nullptr;
}

void CCompleteRecoveryPartitionDeviceSelectController::Activate() {
    if (m_promotePending) {
        PromoteRecoveryStateFile(m_context, this);
        m_promotePending = false;
    }
    SaveControllerStatus(m_context, this);
    RefreshDeviceList();
    CWizardPageControllerBase::Activate();
}

void CCompleteRecoveryPartitionDeviceSelectController::Home() {
    Reset();
    DeleteImages();
    if (IWizardPageController* previous = GetPrevious())
        previous->Home();
}

void CCompleteRecoveryPartitionDeviceSelectController::Back() {
    Reset();
    DeleteImages();
    if (IWizardPageController* previous = GetPrevious())
        previous->Activate();
}

void CCompleteRecoveryPartitionDeviceSelectController::FreeVolumes() {
    if (VolumeListHolds(m_volumes, m_source))
        m_source = nullptr;
    if (VolumeListHolds(m_volumes, m_selectedItem))
        m_selectedItem = nullptr;
    m_context.Devices().FreeVolumes(m_volumes);
    m_volumes.clear();
    m_context.Devices().FreeDisks(m_disks);
    m_disks.clear();
}

void CCompleteRecoveryPartitionDeviceSelectController::Reset() {
    FreeVolumes();
    CloseRawImage();
    m_source = nullptr;
}

void CCompleteRecoveryPartitionDeviceSelectController::CloseRawImage() {
    if (!m_rawImage)
        return;
    if (m_source == m_rawImage.get())
        m_source = nullptr;
    m_rawImage.reset();
}

void CCompleteRecoveryPartitionDeviceSelectController::DeleteImages() {
    if (VolumeListHolds(m_images, m_source))
        m_source = nullptr;
    if (VolumeListHolds(m_images, m_selectedItem))
        m_selectedItem = nullptr;
    m_images.clear();
}

void CCompleteRecoveryPartitionDeviceSelectController::RefreshDeviceList() {
    {
        std::unique_ptr<IWaitingNotice> waiting =
            m_context.Services().ShowWaiting(uistr::kPleaseWaitScanning);
        FreeVolumes();
        m_view->RemoveAllDevices();
        m_context.Devices().CollectDisks(m_disks);
        if (!m_disks.empty())
            m_context.Devices().CollectVolumes(m_volumes, m_disks);
        m_view->SetNote(DiskRightsNote(m_context, /*opensImagesHere=*/true));
        AddSavedStateRow();
    }
    InitVolumeDeviceSelectCtrl();
    for (const auto& image : m_images)
        AddImageRow(image.get());
}

void CCompleteRecoveryPartitionDeviceSelectController::AddSavedStateRow() {
    std::string description;
    m_hasSavedState = GetSavedResultInfo(m_context, this, description);
    if (!m_hasSavedState)
        return;
    DeviceListEntry entry;
    entry.kind = kDeviceKindPreviousRecovery;
    entry.name = uistr::UiString(uistr::kPreviousRecovery);
    entry.information = description;
    m_view->AddDevice(entry);
}

void CCompleteRecoveryPartitionDeviceSelectController::InitVolumeDeviceSelectCtrl() {
    LogElapsedTime timer(
        "CCompleteRecoveryPartitionDeviceSelectController::InitVolumeDeviceSelectCtrl");
    for (const auto& r : m_volumes) {
        DeviceListEntry entry;
        entry.kind = CDeleteRecoveryPartitionDeviceSelectController::VolumeRowKind(*r);
        entry.sectorCount = r->pStorageDevice ? r->pStorageDevice->GetSectorCount() : 0;
        entry.name = CDeleteRecoveryPartitionDeviceSelectController::VolumeRowName(*r);
        entry.information = r->szParentDisk;
        entry.itemData = r.get();
        m_view->AddDevice(entry);
    }
}

void CCompleteRecoveryPartitionDeviceSelectController::AddImageRow(VolumeRecord* image) {
    DeviceListEntry entry;
    entry.kind = kDeviceKindImageFile;
    entry.sectorCount = image->u64ImageSectorCount;
    entry.name = uistr::UiString(uistr::kImageFilePrefix) + image->szImageDisplayName;
    entry.itemData = image;
    m_view->AddDevice(entry);
}

std::unique_ptr<VolumeRecord>
CCompleteRecoveryPartitionDeviceSelectController::OpenImageRecord(const std::string& path,
                                                                  bool compressed) const {
    std::unique_ptr<IStorageDevice> device;
    if (compressed) {
        auto image = std::make_unique<CImageFileDeviceWithDecompress>(path.c_str());
        if (!image->CheckSliceFiles())
            return nullptr;
        device = std::move(image);
    } else {
        device = std::make_unique<CImageFileDevice>(path.c_str());
    }
    const std::uint64_t sectors = device->GetSectorCount();
    if (sectors == 0)
        return nullptr;
    auto record = std::make_unique<VolumeRecord>();
    record->form = 1;
    record->fileSystemType = FILESYSTEM_UNKNOWN;
    record->u64ImageSectorCount = sectors;
    CopyText(record->szImageDisplayName, sizeof record->szImageDisplayName, FileNameOf(path));
    CopyText(record->szImagePath, sizeof record->szImagePath, path);
    record->AdoptDevice(std::move(device));
    return record;
}

VolumeRecord* CCompleteRecoveryPartitionDeviceSelectController::AddImageRecord(
    std::uint64_t sectors, const std::string& displayName, const std::string& path) {
    for (const auto& r : m_images) {
        if (path == r->szImagePath) {
            m_context.Services().MessageBox(uistr::kImageFileIsOpen, kMbInformation, kMbOk);
            return nullptr;
        }
    }
    std::unique_ptr<VolumeRecord> record = OpenImageRecord(path, true);
    if (!record) {
        m_context.Services().MessageBox(uistr::kInvalidImageFile, kMbWarning, kMbOk);
        return nullptr;
    }
    WarnIfImageDataMissing(m_context.Services(), record->pStorageDevice);
    record->u32ImageId = m_nextImageId++;
    if (sectors)
        record->u64ImageSectorCount = sectors;
    if (!displayName.empty())
        CopyText(record->szImageDisplayName, sizeof record->szImageDisplayName, displayName);
    return m_images.emplace_back(std::move(record)).get();
}

VolumeRecord* CCompleteRecoveryPartitionDeviceSelectController::AddImage(const std::string& path) {
    CImageFileDeviceWithDecompress probe(path.c_str());
    const std::uint64_t sectors = probe.GetSectorCount();
    if (sectors == 0) {
        m_context.Services().MessageBox(uistr::kImageDestroyed, kMbInformation, kMbOk);
        return nullptr;
    }
    char source[260] = {};
    probe.GetSourceName(source);
    VolumeRecord* record = AddImageRecord(sectors, source[0] ? source : FileNameOf(path), path);
    if (record)
        AddImageRow(record);
    return record;
}

bool CCompleteRecoveryPartitionDeviceSelectController::SelectCurrentRow() {
    m_selectedItem = nullptr;
    const int index = m_view->GetSelectedIndex();
    if (index < 0)
        return false;
    m_selectedItem = static_cast<VolumeRecord*>(m_view->GetDeviceData(index));
    return m_selectedItem != nullptr;
}

bool CCompleteRecoveryPartitionDeviceSelectController::IsSelectedImage() {
    return SelectCurrentRow() && m_selectedItem->form == 1;
}

void CCompleteRecoveryPartitionDeviceSelectController::RemoveSelectedImage() {
    if (!IsSelectedImage())
        return;
    VolumeRecord* image = m_selectedItem;
    m_selectedItem = nullptr;
    for (auto it = m_images.begin(); it != m_images.end();) {
        if ((*it)->u32ImageId == image->u32ImageId) {
            if (m_source == it->get())
                m_source = nullptr;
            it = m_images.erase(it);
        } else {
            ++it;
        }
    }
    // The list is rebuilt from what is left (rows keep pointers to their records).
    m_view->RemoveAllDevices();
    AddSavedStateRow();
    InitVolumeDeviceSelectCtrl();
    for (const auto& r : m_images)
        AddImageRow(r.get());
}

void CCompleteRecoveryPartitionDeviceSelectController::RemoveSavedStateRow() {
    const int index = m_view->GetSelectedIndex();
    if (index < 0 || m_view->GetDeviceData(index))
        return;
    DeleteSavedRecoveryState(m_context, this);
    m_view->RemoveAllDevices();
    AddSavedStateRow();
    InitVolumeDeviceSelectCtrl();
    for (const auto& r : m_images)
        AddImageRow(r.get());
}

void CCompleteRecoveryPartitionDeviceSelectController::OpenRawImageFile() {
    const std::string path = m_context.Services().OpenFileDialog(kRawImageFilter);
    if (path.empty())
        return;
    CloseRawImage();
    // The program's own block image is read through its blocks; anything else as plain sectors.
    bool compressed = false;
    std::unique_ptr<VolumeRecord> record;
    if (HasEdiExtension(path)) {
        record = OpenImageRecord(path, true);
        compressed = record != nullptr;
    }
    if (!record)
        record = OpenImageRecord(path, false);
    if (!record) {
        m_context.Services().MessageBox(uistr::kInvalidImageFile, kMbWarning, kMbOk);
        return;
    }
    WarnIfImageDataMissing(m_context.Services(), record->pStorageDevice);
    m_rawImage = std::move(record);
    m_rawImageCompressed = compressed;
    m_source = m_rawImage.get();
    RunDeepScan(m_context, *m_source, this);
}

void CCompleteRecoveryPartitionDeviceSelectController::Next() {
    m_source = nullptr;
    CloseRawImage();
    const int index = m_view->GetSelectedIndex();
    if (index < 0) {
        m_context.Services().MessageBox(uistr::kSelectPartitionToRecover, kMbInformation, kMbOk);
        return;
    }
    if (auto* item = static_cast<VolumeRecord*>(m_view->GetDeviceData(index))) {
        m_source = item;
        if (item->pStorageDevice)
            RunDeepScan(m_context, *item, this);
        return;
    }
    LogRecoveryStage(kStageRestoringLast);
    if (!RestoreRecoveryStates(m_context, this)) {
        // Nothing of the saved result stays behind.
        CloseRawImage();
        m_source = nullptr;
        LogRecoveryStage(kStageRestoreLastFailed);
        m_context.Services().MessageBox(uistr::kFailedToLoadLastResult, kMbInformation, kMbOk);
        return;
    }
    LogRecoveryStage(kStageRestoreLastDone);
}

std::string
CCompleteRecoveryPartitionDeviceSelectController::ResultDescription(const VolumeRecord& record) {
    char text[400];
    if (record.form == 1)
        std::snprintf(text, sizeof text, "Results for \r\nImage File \"%s\"",
                      record.szImageDisplayName);
    else
        std::snprintf(text, sizeof text, "Results for \r\nPartition \"%c: %s (%s)\"",
                      record.cDriveLetter ? record.cDriveLetter : '*', record.szVolumeLabel,
                      FileSystemNameOf(record.fileSystemType));
    return text;
}

int CCompleteRecoveryPartitionDeviceSelectController::SaveState(IRSData* store) {
    if (!m_source)
        return 0;
    SetSavedResultInfo(store, ResultDescription(*m_source));
    std::uint32_t opening = kSourceListed;
    if (m_source == m_rawImage.get())
        opening = m_rawImageCompressed ? kSourceBlockImage : kSourcePlainImage;
    store->OpenSection(kDeepScanSourceSection);
    store->Write(&opening, sizeof opening);
    store->CloseSection();
    StoreVolumeIdentity(*m_source, store);
    return 1;
}

int CCompleteRecoveryPartitionDeviceSelectController::RestoreState(IRSData* store) {
    m_source = nullptr;
    CloseRawImage();
    std::uint32_t opening = 0;
    // Reads throw on a short or damaged section.
    store->OpenSection(kDeepScanSourceSection);
    store->Read(&opening, sizeof opening);
    store->CloseSection();
    if (opening > kSourceBlockImage)
        return 0;

    // The stored record itself, to check it before looking for it.
    std::uint8_t bytes[kVolumeRecordSize];
    VolumeRecord stored;
    store->OpenSection(kVolumeIdentitySection);
    store->Read(bytes, kVolumeRecordSize);
    store->CloseSection();
    if (!DecodeVolumeRecord(bytes, &stored))
        return 0;

    if (opening != kSourceListed) {
        if (stored.form != 1 || !stored.szImagePath[0])
            return 0;
        std::unique_ptr<VolumeRecord> record =
            OpenImageRecord(stored.szImagePath, opening == kSourceBlockImage);
        if (!record)
            return 0;
        m_rawImage = std::move(record);
        m_rawImageCompressed = opening == kSourceBlockImage;
        m_source = m_rawImage.get();
        return 1;
    }
    // A volume record without any member disk and drive letter names no volume at all.
    if (stored.form == 0 && !stored.members[0].u64SectorCount && !stored.cDriveLetter &&
        !stored.isFloppy)
        return 0;
    const std::size_t imagesBefore = m_images.size();
    VolumeRecord* found = FindStoredVolume(store, m_volumes, m_images);
    for (std::size_t i = imagesBefore; i < m_images.size(); ++i) {
        m_images[i]->u32ImageId = m_nextImageId++;
        AddImageRow(m_images[i].get());
    }
    m_source = found;
    return found ? 1 : 0;
}

void InstallDeepScanSteps(AppContext& context) {
    context.SetController(kPageCompleteRecoveryPartition,
                          std::make_unique<CCompleteRecoveryPartitionDeviceSelectController>(
                              context, context.Sheet()));
    context.SetController(kPageCompleteRecoveryScanPartition,
                          std::make_unique<CCompleteRecoveryScanPartitionDeviceSelectController>(
                              context, context.Sheet()));
}
