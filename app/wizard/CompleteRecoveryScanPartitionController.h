#pragma once
// Deep Scan Recovery, step 2 (page 7): holds what the deep scan found (search controllers,
// scored partitions, carved files), lists the partitions for ticking, and on Next builds the
// trees of the one to four ticked partitions under "Root" and hands them to the file page.
#include "app/wizard/DeepScanRun.h"
#include "app/wizard/PageController.h"
#include "app/wizard/ScanPartitionList.h"

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

    // The page's list (the window's, or the built-in model without a window).
    void SetListView(IScanPartitionListView* view) { m_view = view ? view : &m_model; }
    IScanPartitionListView& ListView() { return *m_view; }
    CScanPartitionListModel& Model() { return m_model; }
    // An option box of a row was toggled.
    void OnPartitionOptionToggled(int row, int cell, int box, bool ticked);

    const DeepScanResults& Results() const { return m_results; }

protected:
    CCompleteRecoveryScanPartitionDeviceSelectController(AppContext& context, ISheet* sheet, const StepTraits& traits);
    // The chain's source device (the scanned volume, disk or image).
    IStorageDevice* SourceDevice() const;
    // Shows the scanned device above the layout picture.
    virtual void ShowSourceDevice();
    IScanPartitionListView& View() const { return *m_view; }

private:
    // The record chosen on step 1 (kind 1), or null.
    const VolumeRecord* SourceRecord() const;
    void ShowResults();

    AppContext& m_context;
    StepTraits m_traits;
    DeepScanResults m_results;
    CScanPartitionListModel m_model;
    IScanPartitionListView* m_view = &m_model;
};

// The text of a volume row and of the layout picture's source: "%c : %s  (%s)".
std::string VolumeRowText(const VolumeRecord& record);
