#include "storage/DeviceList.h"
#include "storage/VolumeProbe.h"
#include "tests/support/MemoryDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int g_liveProbes = 0;

class FakeProbe : public IVolume {
public:
    FakeProbe(std::uint32_t type, std::uint64_t total, const char* label) {
        ++g_liveProbes;
        m_fileSystemType = type;
        m_u64TotalSectors = total;
        SetVolumeLabel(label);
    }
    ~FakeProbe() override { --g_liveProbes; }
};

// Recognises FAT16 only when the sector starts with 'F'; always appends an unknown probe first.
void FakeFactory(VolumeProbeList& probes, IStorageDevice* device, std::uint64_t first) {
    std::uint8_t sector[kSectorSize] = {};
    const bool fat = device->ReadSectors(sector, first, 1) && sector[0] == 'F';
    probes.push_back(new FakeProbe(FILESYSTEM_UNKNOWN, 0, ""));
    probes.push_back(fat ? new FakeProbe(FILESYSTEM_FAT16, 777, std::string(150, 'L').c_str())
                         : new FakeProbe(FILESYSTEM_UNKNOWN, 0, ""));
}

std::uint32_t FakeClassifier(const std::uint8_t* sector, std::size_t) {
    return sector[0] == 'F' ? FILESYSTEM_FAT16 : FILESYSTEM_UNKNOWN;
}

struct HookGuard {
    VolumeAnalyzerFactory factory = GetVolumeAnalyzerFactory();
    BootSectorClassifier classifier = GetBootSectorClassifier();
    ~HookGuard() { SetVolumeProbeHooks(factory, classifier); }
};

} // namespace

TEST(VolumeProbeHook, WithoutInstalledProbesNothingIsRecognised) {
    HookGuard guard;
    SetVolumeProbeHooks(nullptr, nullptr);
    testsupport::MemoryDevice disk(8);
    disk.Sector(0)[0] = 'F';
    VolumeProbeResult result;
    EXPECT_FALSE(ProbeVolume(&disk, 0, result));
    EXPECT_EQ(result.fileSystemType, FILESYSTEM_UNKNOWN);
    EXPECT_EQ(ClassifyBootSector(disk.Sector(0), kSectorSize), FILESYSTEM_UNKNOWN);
    EXPECT_EQ(FindVolumeAnalyzer(VolumeProbeList{}), nullptr);
}

TEST(VolumeProbeHook, FirstRecognisingProbeWinsElseLastAndAllAreFreed) {
    HookGuard guard;
    SetVolumeProbeHooks(FakeFactory, FakeClassifier);
    testsupport::MemoryDevice disk(8);
    disk.Sector(3)[0] = 'F';

    VolumeProbeList probes;
    CreateVolumeAnalyzersThroughHook(probes, &disk, 3);
    ASSERT_EQ(probes.size(), 2u);
    EXPECT_EQ(FindVolumeAnalyzer(probes), probes[1]);
    char label[100];
    std::memset(label, 'x', sizeof(label));
    probes[1]->GetVolumeLabel(label, 10); // copies exactly 10 bytes
    EXPECT_EQ(std::string(label, 11), std::string(10, 'L') + "x");
    DeleteDeviceList(probes);
    EXPECT_TRUE(probes.empty());
    EXPECT_EQ(g_liveProbes, 0);

    VolumeProbeResult result;
    ASSERT_TRUE(ProbeVolume(&disk, 3, result));
    EXPECT_EQ(result.fileSystemType, FILESYSTEM_FAT16);
    EXPECT_EQ(result.totalSectors, 777u);
    EXPECT_EQ(std::string(result.label), std::string(99, 'L')); // cut, always terminated
    EXPECT_FALSE(ProbeVolume(&disk, 2, result));
    EXPECT_EQ(g_liveProbes, 0);
    EXPECT_EQ(ClassifyBootSector(disk.Sector(3), kSectorSize), FILESYSTEM_FAT16);
    EXPECT_EQ(ClassifyBootSector(disk.Sector(3), 100), FILESYSTEM_UNKNOWN);
}
