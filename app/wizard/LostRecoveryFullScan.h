#pragma once
// Lost Partition Recovery's full scan: the deep scan of the whole disk, then its found
// partitions on the scan-partition step, or the carved files straight on the file page.
class AppContext;
class IStorageDevice;
class IWizardPageController;

// `caller` becomes the previous step of the step that follows.
void RunLostFullScan(AppContext& context, IWizardPageController* caller, IStorageDevice* disk);
