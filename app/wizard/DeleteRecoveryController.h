#pragma once
// The first step of Deleted File Recovery (page 1): the volumes of the machine and the opened
// disk images are listed; Next runs the quick scan of the chosen volume's own file system,
// keeps its deleted entries in a "Deleted Files" folder under a new root, and hands that tree
// to the file selection step.
#include "app/wizard/PageController.h"
#include "filesystems/FileNode.h"
#include "storage/VolumeEnumeration.h"
#include "ui/views/DeviceListView.h"

#include <memory>
#include <string>
#include <vector>

class AppContext;

class CDeleteRecoveryPartitionDeviceSelectController : public CWizardPageControllerBase {
public:
    CDeleteRecoveryPartitionDeviceSelectController(AppContext& context, ISheet* sheet);
    ~CDeleteRecoveryPartitionDeviceSelectController() override;

    // The list the rows go to: the page's window, or (by default) a list without a window.
    void SetListView(IDeviceListView* view) { m_view = view ? view : &m_ownView; }
    IDeviceListView& ListView() const { return *m_view; }

    void Activate() override;
    void Next() override;
    void Reset() override;
    int GetScanKind() const override { return kScanDeletedFile; }
    void GetSource(RecoverySource& out) const override;

    // Fills the list: every volume whose device reads (its letter, or '*' without one; volumes
    // of unknown file systems are left out), then the image rows.
    void InitVolumeDeviceSelectCtrl();
    // An opened disk image as a row of its own (kept across Reset); false when it cannot be
    // opened.
    bool AddImage(const std::string& path, const std::string& displayName);
    // The row's record chosen for the image commands; whether a row is selected.
    bool SelectCurrent();
    bool IsImageSelected() const;
    // The image commands of the page's "Disk Image" and "Option" buttons (hidden on this page):
    // an image of the selected volume (listed when the wizard asks for it), an opened image as a
    // new row, the selected image row removed, and the advanced settings.
    void CreateImageOfSelection();
    void OpenDiskImage();
    void DeleteImage();
    void ShowOptions();
    const VolumeList& Images() const { return m_images; }

    // The quick scan of a record's file system; null when there is none or on cancel.
    FileTreePtr QuickScanVolume(const VolumeRecord& record, bool* cancelled);
    // The row texts.
    static std::string VolumeRowName(const VolumeRecord& record);
    static int VolumeRowKind(const VolumeRecord& record);

    const VolumeList& Volumes() const { return m_volumes; }
    CFileSystemNode* ScannedTree() const { return m_scanned.get(); }

private:
    void FreeScannedTree();
    void FreeLists();

    AppContext& m_context;
    CModelDeviceListView m_ownView;
    IDeviceListView* m_view = &m_ownView;
    VolumeList m_volumes;
    DiskList m_disks;
    VolumeList m_images;
    std::uint32_t m_nextImageId = 1;
    std::uint32_t m_nextImageType = 7;
    VolumeRecord* m_selected = nullptr;  // for the image commands
    VolumeRecord* m_chosen = nullptr;    // by Next
    // The last scan; the "Deleted Files" tree handed to the file page holds it too.
    SharedFileTree m_scanned;
};

CDeleteRecoveryPartitionDeviceSelectController* GetDeleteRecoveryPartitionDeviceSelectController();

// Installs the Deleted File Recovery steps (volume, file selection, save, result) in `context`.
void InstallDeletedFileRecoverySteps(AppContext& context);
