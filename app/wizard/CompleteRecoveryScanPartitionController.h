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
    // What Lost Partition Recovery's twin of this step (page 8) does differently.
    struct StepTraits {
        int pageIndex = kPageCompleteRecoveryScanPartition;
        std::uint32_t autoCheckLimit = 1;  // partitions marked by the scan that start ticked
        int backQuestionId = 0;            // Back asks this first
        int emptyListId = 0;               // Next on an empty list (0: does nothing)
        int noneTickedId = 0;
        int tooManyId = 0;
        bool progressPerPartition = false; // a build-progress dialog of its own per partition
    };
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

protected:
    CCompleteRecoveryScanPartitionDeviceSelectController(AppContext& context, ISheet* sheet, const StepTraits& traits);
    // The chain's source device (the scanned volume, disk or image).
    IStorageDevice* SourceDevice() const;
    // Shows the scanned device above the layout picture.
    virtual void ShowSourceDevice();

private:
    // The record chosen on step 1 (kind 1), or null.
    const VolumeRecord* SourceRecord() const;
    void ShowResults();

    AppContext& m_context;
    StepTraits m_traits;
    DeepScanResults m_results;
    CModelFoundPartitionPane m_ownPane;
    IFoundPartitionPane* m_pane = nullptr;
};
