#pragma once
// Deep Scan Recovery, step 2 (page 7): holds what the deep scan found (search controllers,
// scored partitions, carved files), lists the partitions for ticking, and on Next builds the
// trees of the one to four ticked partitions under "Root" and hands them to the file page.
#include "app/wizard/DeepScanRun.h"
#include "app/wizard/PageController.h"
#include "ui/views/FoundPartitionList.h"

class AppContext;
class IStorageDevice;
struct VolumeRecord;

class CCompleteRecoveryScanPartitionDeviceSelectController : public CWizardPageControllerBase,
                                                             public IDeepScanResultsStep {
public:
    CCompleteRecoveryScanPartitionDeviceSelectController(AppContext& context, ISheet* sheet);
    ~CCompleteRecoveryScanPartitionDeviceSelectController() override;

    void Activate() override;
    void Back() override;
    void Next() override;
    void Reset() override;
    int SaveState(IRSData* store) override;
    int RestoreState(IRSData* store) override;
    int GetControllerType() const override { return kControllerCompleteRecoveryScanPartition; }

    void SetScanResults(DeepScanResults results) override;

    // The page's partition list and layout picture (the window's, or models without a window).
    void SetPane(IFoundPartitionPane* pane);
    IFoundPartitionPane& Pane() { return *m_pane; }
    CFoundPartitionListModel& List() { return m_pane->PartitionList(); }
    // An option box of a row was toggled: the partition's FAT copy or $MFT choice follows.
    void OnPartitionOptionToggled(const PartitionOptionToggle& toggle);

    const DeepScanResults& Results() const { return m_results; }

private:
    // The record chosen on step 1 (kind 1), or null.
    const VolumeRecord* SourceRecord() const;
    IStorageDevice* SourceDevice() const;
    void ShowResults();

    AppContext& m_context;
    DeepScanResults m_results;
    CModelFoundPartitionPane m_ownPane;
    IFoundPartitionPane* m_pane = nullptr;
};
