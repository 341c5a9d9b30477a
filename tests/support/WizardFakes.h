#pragma once
// The wizard without windows for headless tests: a sheet that keeps the sheet's model and the
// pages it was asked to show, and device sources with no disks.
#include "app/wizard/AppContext.h"
#include "app/wizard/DeviceSource.h"
#include "app/wizard/SheetModel.h"
#include "app/wizard/WizardTypes.h"

#include <vector>

namespace testsupport {

class FakeSheet : public ISheet {
public:
    explicit FakeSheet(AppContext& ctx) : m_ctx(ctx) {}
    void SetActivePage(int index) override {
        model.SetActivePage(index, m_ctx.ModeController().GetMode());
        shown.push_back(index);
    }
    int GetActivePage() const override { return model.ActivePage(); }
    CWizardSheetModel model;
    std::vector<int> shown;

private:
    AppContext& m_ctx;
};

class NoDevices : public IDeviceSource {
public:
    void CollectDisks(DiskList&) override {}
    void CollectVolumes(VolumeList&, DiskList&) override {}
    void FreeVolumes(VolumeList&) override {}
    void FreeDisks(DiskList&) override {}
};

// A machine whose disks all refuse the user (no rights to read them).
class RefusedDisks : public NoDevices {
public:
    bool DisksNeedRights() const override { return true; }
};

} // namespace testsupport
