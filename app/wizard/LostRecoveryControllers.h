#pragma once
// Lost Partition Recovery's first two steps. Step 1 (the disk page) lists the disks, the opened
// disk images and the saved result; on Next it searches the chosen disk for partitions, keeps
// those the disk's own partition table does not show and hands them to step 2. Step 2 (the
// found-partition page) builds the chosen partition's quick tree, or deep-scans the whole disk
// ("Full scan"), which also starts at once when no lost partition was found.
//
// A found partition's device is a window on step 1's disk device, so every way out of the
// mode resets the later steps before step 1 frees its disks.
#include "app/wizard/CompleteRecoveryScanPartitionController.h"
#include "app/wizard/PageController.h"
#include "carving/partition/FoundPartitionInfo.h"
#include "recovery/ScanStateSections.h"
#include "storage/PartitionTable.h"
#include "storage/VolumeEnumeration.h"
#include "ui/views/DeviceListView.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AppContext;
class CFileSystemNode;
class CPartitionSearcher;
class IDIRBuildCallback;
class IStorageDevice;

// One row of the disk page: a disk (kind 0) or an opened image (kind 1).
using LostDiskItem = DiskRecord;

// ---------------------------------------------------------------------------------------------
// Free operations of the search.

// Runs the lost-partition search over the item's device with the FAT and NTFS recognisers
// (EXT2/EXT3 partitions are not searched for) under the search dialog, and appends what it
// found, in the order found, to `found`. A cancelled search gives what was found until then.
void SearchPartitionsWithDialog(AppContext& context, CPartitionSearcher& searcher, const LostDiskItem& item,
                                FoundPartitionList& found);
// Moves into `out` the found partitions whose first sector is the first sector of no entry of
// `table`; the others are freed with their windows.
void MergeFoundPartitions(FoundPartitionList& found, const PartitionList& table, FoundPartitionList& out);
// The search, then the merge with the disk's own partition table (GPT, or the MBR and a file
// system on the whole disk; a dynamic disk's table is not read): `out` gets only the partitions
// the table does not show.
void RunLostPartitionSearch(AppContext& context, const LostDiskItem& item, FoundPartitionList& out);

// The quick scan of a found partition's file system on its window device; null for a type
// without one or when nothing was found.
FileTreePtr QuickScanByType(const FoundPartitionInfo& partition, IDIRBuildCallback* progress);

// ---------------------------------------------------------------------------------------------

class CLostRecoveryDiskDeviceSelectController : public CWizardPageControllerBase {
public:
    explicit CLostRecoveryDiskDeviceSelectController(AppContext& context);
    ~CLostRecoveryDiskDeviceSelectController() override;

    void Activate() override;
    void Home() override;
    void Back() override;
    void Next() override;
    int RestoreState(IRSData* store) override;
    int SaveState(IRSData* store) override;
    int GetControllerType() const override { return kControllerLostRecoveryDisk; }
    int GetScanKind() const override { return kScanLostPartition; }
    // {0, selected item}.
    void GetSource(RecoverySource& out) const override;
    // Frees the volumes and the disks (the opened images stay).
    void Reset() override;

    void RefreshDeviceList();
    // The open-disk-image wizard; the chosen ".edi" is opened and listed.
    void OpenDiskImage();
    // Opens an ".edi" and lists it (AddImageRecord, AddImageRow). Null when it is open already
    // or its slice files are not sound (with the message).
    LostDiskItem* AddDiskImage(const std::string& path);
    void RemoveSelectedImage();
    // Remembers the selected row's item for the image operations; true with an item.
    bool SelectCurrentRow();
    // The same, true only for an image.
    bool IsSelectedImage();
    // The saved-result row: removed with the last lost-partition state file.
    void RemoveSavedStateRow();

    // The page's list: the window's, or the controller's own model when no window is bound.
    void SetListView(IDeviceListView* view) { m_view = view ? view : &m_ownView; }
    IDeviceListView& List() const { return *m_view; }
    LostDiskItem* SelectedSource() const { return m_selected; }
    const std::vector<std::unique_ptr<LostDiskItem>>& Items() const { return m_items; }
    const DiskRecordList& Images() const { return m_images; }

private:
    void AddSavedStateRow();
    void AddDiskRow(IStorageDevice* disk);
    void AddImageRow(LostDiskItem* item);
    void DeleteImages();
    std::string DiskInformation(IStorageDevice* disk) const;

    AppContext& m_context;
    CModelDeviceListView m_ownView;
    IDeviceListView* m_view = &m_ownView;
    VolumeList m_volumes;
    DiskList m_disks;
    std::vector<std::unique_ptr<LostDiskItem>> m_items;  // disk rows (their devices are m_disks)
    DiskRecordList m_images;                             // image rows, each owning its device
    std::uint32_t m_nextImageId = 0;
    LostDiskItem* m_rowItem = nullptr;  // the selected row's item for image operations
    LostDiskItem* m_selected = nullptr; // the source of the search
    bool m_promotePending = true;       // the previous run's state file is promoted once
};

class CLostRecoveryPartitionDeviceSelectController : public CWizardPageControllerBase {
public:
    explicit CLostRecoveryPartitionDeviceSelectController(AppContext& context);
    ~CLostRecoveryPartitionDeviceSelectController() override;

    // An empty list starts the full scan at once (the page is not shown).
    void Activate() override;
    void Home() override;
    void Back() override;
    // RunFullScan when the full-scan switch is on, else BuildFoundPartitionTree.
    void Next() override;
    int RestoreState(IRSData* store) override;
    int SaveState(IRSData* store) override;
    int GetControllerType() const override { return kControllerLostRecoveryPartition; }
    // {2, chosen partition} when one is chosen, else the previous controller's.
    void GetSource(RecoverySource& out) const override;
    void Reset() override;

    void SetFullScan(bool on) { m_fullScan = on; }
    bool FullScan() const { return m_fullScan; }
    // Takes the partitions step 1 found; logs and lists them and saves the state.
    void SetFoundPartitions(FoundPartitionList partitions);
    void FillFoundPartitionRows();
    void BuildFoundPartitionTree();
    void RunFullScan();

    void SetListView(IDeviceListView* view) { m_view = view ? view : &m_ownView; }
    IDeviceListView& List() const { return *m_view; }
    const FoundPartitionList& Partitions() const { return m_partitions; }
    FoundPartitionInfo* Chosen() const { return m_chosen; }
    // The page clears its "Full scan" check box through this hook on Home and Back.
    void SetFullScanBoxHook(std::function<void(bool)> hook) { m_fullScanBox = std::move(hook); }

private:
    // The disk of step 1 (through the chain).
    LostDiskItem* SourceDisk() const;

    AppContext& m_context;
    CModelDeviceListView m_ownView;
    IDeviceListView* m_view = &m_ownView;
    bool m_fullScan = false;
    FoundPartitionList m_partitions;
    FoundPartitionInfo* m_chosen = nullptr;
    std::function<void(bool)> m_fullScanBox;
};

// Step 3 (page 8): the partitions of the full scan, ticked and built like Deep Scan Recovery's
// second step, over step 1's disk; up to four suggested partitions start ticked.
class CLostRecoveryScanPartitionDeviceSelectController : public CCompleteRecoveryScanPartitionDeviceSelectController {
public:
    explicit CLostRecoveryScanPartitionDeviceSelectController(AppContext& context);
    int GetControllerType() const override { return kControllerLostRecoveryScanPartition; }

protected:
    // The disk's row text (block type 1 for a USB disk, else 0), or the image's name (type 2).
    void ShowSourceDevice() override;
};

// Installs the Lost Partition Recovery steps (pages 3, 4 and 8) into the context.
void InstallLostPartitionRecoverySteps(AppContext& context);
