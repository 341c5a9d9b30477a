#include "app/wizard/DeepScanButton.h"

#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "recovery/ScanStateSections.h"
#include "storage/VolumeEnumeration.h"

#include <cstring>
#include <memory>

namespace {

int MemberCount(const VolumeRecord& r) {
    int n = 0;
    while (n < kMaxMemberExtents && r.members[n].u64SectorCount)
        ++n;
    return n;
}

bool SameDisk(IStorageDevice* a, IStorageDevice* b) {
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    auto ia = std::make_unique<std::uint8_t[]>(kDiskIdentitySize);
    auto ib = std::make_unique<std::uint8_t[]>(kDiskIdentitySize);
    return BuildDeviceDescriptor(a, ia.get()) && BuildDeviceDescriptor(b, ib.get()) &&
           std::memcmp(ia.get(), ib.get(), kDiskIdentitySize) == 0;
}

} // namespace

bool IsSameVolume(const VolumeRecord& a, const VolumeRecord& b) {
    if (a.form != b.form)
        return false;
    if (a.form == 1)
        return a.szImagePath[0] && std::strcmp(a.szImagePath, b.szImagePath) == 0;
    const int members = MemberCount(a);
    if (members == 0 || members != MemberCount(b) || a.isDynamic != b.isDynamic)
        return false;
    for (int i = 0; i < members; ++i) {
        const MemberExtent& x = a.members[i];
        const MemberExtent& y = b.members[i];
        if (x.u64FirstSector != y.u64FirstSector || x.u64SectorCount != y.u64SectorCount ||
            !SameDisk(x.pDisk, y.pDisk))
            return false;
    }
    return true;
}

void DeepScanDeletedFileSelection(AppContext& context) {
    if (context.ModeController().GetMode() != kModeDeletedFile)
        return;
    RecoverySource deleted;
    if (auto* step = GetDeleteRecoveryPartitionDeviceSelectController())
        step->GetSource(deleted);
    const auto* chosen =
        deleted.kind == 1 ? static_cast<const VolumeRecord*>(deleted.pointer) : nullptr;

    context.ModeController().SetMode(kModeDeepScan);
    context.ModeController().Next();
    auto* deep = dynamic_cast<CCompleteRecoveryPartitionDeviceSelectController*>(
        context.Controller(kPageCompleteRecoveryPartition));
    if (!deep || !chosen)
        return;
    IDeviceListView& list = deep->ListView();
    for (int row = 0; row < list.Count(); ++row) {
        const auto* record = static_cast<const VolumeRecord*>(list.GetDeviceData(row));
        if (record && IsSameVolume(*record, *chosen)) {
            list.SelectRow(row);
            context.SheetController().Next();
            return;
        }
    }
}
