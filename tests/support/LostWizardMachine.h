#pragma once
// A machine for Lost Partition Recovery's wizard tests: one disk whose partition table was
// wiped, holding FAT16 at sector 63, NTFS at a cylinder boundary (mkntfs -p) and FAT32 at a
// 1 MiB boundary, presented through a fake system tree as the machine's only disk.
#include "tests/support/FakeSystemTree.h"
#include "tests/support/LostPartitionDisks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

constexpr std::uint64_t kLostWizardCylinder = 16065;
constexpr std::uint64_t kLostWizardDiskSectors = 51 * 2048;

const std::vector<LostPartitionRecipe>& LostWizardParts();
// The disk with its table and the same disk wiped (made once per build tree).
LostPartitionDisk LostWizardDisk();

// Installs a fake system tree whose only disk "sda" ("ATA LOST DISK") reads `image`, and the
// volume probes; uninstalls it when destroyed.
class LostWizardMachine {
public:
    explicit LostWizardMachine(const std::string& image, std::uint64_t sectors = kLostWizardDiskSectors);
    ~LostWizardMachine();
    LostWizardMachine(const LostWizardMachine&) = delete;
    LostWizardMachine& operator=(const LostWizardMachine&) = delete;

private:
    FakeSystemTree m_tree;
};

} // namespace testsupport
