#include "tests/support/LostWizardMachine.h"

#include "filesystems/probes/VolumeAnalyzers.h"
#include "platform/DriveLetters.h"
#include "tests/support/FixtureKit.h"

namespace testsupport {

const std::vector<LostPartitionRecipe>& LostWizardParts() {
    static const std::vector<LostPartitionRecipe> parts = {
        {63, kLostWizardCylinder - 63, LostFsKind::kFat16, "LOSTFAT16"},
        {kLostWizardCylinder, kLostWizardCylinder, LostFsKind::kNtfs, "Lost Ntfs"},
        {16 * 2048, 34 * 2048, LostFsKind::kFat32, "LOSTFAT32"},
    };
    return parts;
}

LostPartitionDisk LostWizardDisk() {
    return CachedLostPartitionDisk("lost-wizard-v1", kLostWizardDiskSectors, LostWizardParts());
}

LostWizardMachine::LostWizardMachine(const std::string& image, std::uint64_t sectors)
    : m_tree(ScratchDir("lost-wizard")) {
    m_tree.AddDisk({"sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
                    {{"vendor", "ATA     "}, {"model", "LOST DISK"}, {"rev", "1.0"}},
                    {{"size", std::to_string(sectors)}, {"removable", "0"}}, image, 8, 0});
    m_tree.SetMountInfo("20 1 0:5 / /proc rw - proc proc rw\n");
    m_tree.Install();
    RegisterVolumeProbes();
}

LostWizardMachine::~LostWizardMachine() {
    m_tree.Uninstall();
    platform::ClearDriveLetters();
}

} // namespace testsupport
