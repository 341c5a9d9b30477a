// Sequential 1000-sector reads through a striped volume and a RAID-5 volume that has lost one
// member (every chunk of that member rebuilt from the others), beside plain reads of one member
// disk. The members are in memory, so the figures show the cost of the volume devices.
#include "storage/DynamicVolumeDevice.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr std::uint64_t kMemberSectors = 64 * 2048;  // 64 MiB per member
constexpr std::uint64_t kChunk = 1000;

class RamDisk : public IStorageDevice {
public:
    explicit RamDisk(std::uint32_t seed) : m_bytes(kMemberSectors * kSectorSize) {
        std::mt19937 rng(seed);
        for (auto& b : m_bytes)
            b = static_cast<std::uint8_t>(rng());
    }
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (first >= kMemberSectors || count > kMemberSectors - first)
            return 0;
        std::memcpy(buffer, m_bytes.data() + first * kSectorSize, count * kSectorSize);
        return 1;
    }
    std::uint64_t GetSectorCount() override { return kMemberSectors; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_bytes;
};

std::vector<std::unique_ptr<RamDisk>>& Disks() {
    static std::vector<std::unique_ptr<RamDisk>> disks = [] {
        std::vector<std::unique_ptr<RamDisk>> d;
        for (std::uint32_t i = 0; i < 3; ++i)
            d.push_back(std::make_unique<RamDisk>(i + 1));
        return d;
    }();
    return disks;
}

std::vector<DynamicMember> Members(std::size_t count) {
    std::vector<DynamicMember> members;
    for (std::size_t i = 0; i < count; ++i) {
        DynamicMember m;
        m.columnIndex = static_cast<std::uint32_t>(i);
        m.sectorCount = kMemberSectors;
        m.disk = Disks()[i].get();
        members.push_back(m);
    }
    return members;
}

DynamicVolumeInfo Info(std::uint64_t sectors) {
    DynamicVolumeInfo info;
    info.sectorCount = sectors;
    return info;
}

void ReadSequentially(benchmark::State& state, IStorageDevice* device) {
    std::vector<std::uint8_t> buffer(kChunk * kSectorSize);
    const std::uint64_t size = device->GetSectorCount();
    std::uint64_t position = 0;
    for (auto _ : state) {
        if (position + kChunk > size)
            position = 0;
        if (device->ReadSectors(buffer.data(), position, kChunk) != 1)
            state.SkipWithError("read failed");
        position += kChunk;
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kChunk * kSectorSize));
}

void BM_PlainMemberDisk(benchmark::State& state) { ReadSequentially(state, Disks()[0].get()); }

void BM_StripedVolume(benchmark::State& state) {
    auto device = CreateStripedVolumeDevice(DYNAMIC_VOLUME_STRIPED, Info(2 * kMemberSectors), Members(2));
    ReadSequentially(state, device.get());
}

void BM_Raid5VolumeDegraded(benchmark::State& state) {
    std::vector<DynamicMember> members = Members(3);
    members[1].disk = nullptr;
    auto device = CreateRaid5VolumeDevice(Info(2 * kMemberSectors), members);
    ReadSequentially(state, device.get());
}

BENCHMARK(BM_PlainMemberDisk);
BENCHMARK(BM_StripedVolume);
BENCHMARK(BM_Raid5VolumeDegraded);

} // namespace

BENCHMARK_MAIN();
