#pragma once
// Deep Scan Recovery, step 1 (page 2): lists the volumes of every disk, the opened disk images
// and the saved result of an earlier deep scan; Next deep-scans the chosen row (or restores the
// saved result). Ctrl+O opens a raw image file that becomes the scanned source at once; it is
// not listed, and it stays open (owned here) until Reset.
#include "app/wizard/PageController.h"
#include "storage/VolumeEnumeration.h"
#include "ui/views/DeviceListView.h"

#include <memory>
#include <string>

class AppContext;

class CCompleteRecoveryPartitionDeviceSelectController : public CWizardPageControllerBase {
public:
    CCompleteRecoveryPartitionDeviceSelectController(AppContext& context, ISheet* sheet);
    ~CCompleteRecoveryPartitionDeviceSelectController() override;

    void Activate() override;
    void Home() override;
    void Back() override;
    void Next() override;
    void Reset() override;
    int SaveState(IRSData* store) override;
    int RestoreState(IRSData* store) override;
    int GetControllerType() const override { return kControllerCompleteRecoveryPartition; }
    int GetScanKind() const override { return kScanDeep; }
    void GetSource(RecoverySource& out) const override;

    // The page's list (the window's, or the built-in model without a window).
    void SetListView(IDeviceListView* view) { m_view = view ? view : &m_model; }
    IDeviceListView& ListView() { return *m_view; }

    void RefreshDeviceList();
    // Remembers the selected row's item for the image commands; true when it has one.
    bool SelectCurrentRow();
    // The same, true only for an image row.
    bool IsSelectedImage();
    // Removes the selected image row and closes its image.
    void RemoveSelectedImage();
    // Ctrl+O: a raw or block-compressed image file, scanned at once.
    void OpenRawImageFile();
    // Removes the "Previous Recovery..." row when it is selected, and its file.
    void RemoveSavedStateRow();
    // Opens a block-compressed image (".edi") and lists it; null when it cannot be opened
    // (the user was told why).
    VolumeRecord* AddImage(const std::string& path);

    bool HasSavedState() const { return m_hasSavedState; }
    const VolumeList& Volumes() const { return m_volumes; }
    const VolumeList& Images() const { return m_images; }
    const VolumeRecord* SelectedSource() const { return m_source; }

    // The description of a saved result for a record ("Results for ...").
    static std::string ResultDescription(const VolumeRecord& record);

private:
    void FreeVolumes();
    void AddSavedStateRow();
    void InitVolumeDeviceSelectCtrl();
    void AddImageRow(VolumeRecord* image);
    VolumeRecord* AddImageRecord(std::uint64_t sectors, const std::string& displayName,
                                 const std::string& path);
    void DeleteImages();
    void CloseRawImage();
    // Opens `path` as a plain image (compressed false) or as the program's own block image.
    std::unique_ptr<VolumeRecord> OpenImageRecord(const std::string& path, bool compressed) const;

    AppContext& m_context;
    CModelDeviceListView m_model;
    IDeviceListView* m_view = &m_model;
    VolumeList m_volumes;
    DiskList m_disks;
    VolumeList m_images; // image-form records
    std::uint32_t m_nextImageId = 0;
    VolumeRecord* m_selectedItem = nullptr;
    VolumeRecord* m_source = nullptr;
    std::unique_ptr<VolumeRecord> m_rawImage; // opened with Ctrl+O
    bool m_rawImageCompressed = false;
    bool m_hasSavedState = false;
    bool m_promotePending = true;
};

// Installs the two Deep Scan Recovery steps (pages 2 and 7) into the context.
void InstallDeepScanSteps(AppContext& context);
