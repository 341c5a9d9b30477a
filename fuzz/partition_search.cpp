// Runs the lost-partition search (FAT, NTFS and EXT2/EXT3 recognisers, every candidate
// sequence) over a small disk made of the fuzz input repeated, so every candidate sector and
// every structure a recogniser follows lands on fuzzed bytes. Odd-sized inputs search with 240
// heads as well.
#include "carving/partition/PartitionSearcher.h"
#include "fuzz/RepeatingDevice.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

class CheckingCallback : public IPartitionSearchCallback {
public:
    explicit CheckingCallback(std::uint64_t sectors) : m_sectors(sectors) {}
    int PumpMessages() override { return 0; }
    void StepProgress() override { ++m_steps; }
    int IsCancelled() override { return 0; }
    void SetStage(int) override {}
    void AddProgress() override {}
    void SetRange(std::uint64_t, std::uint64_t last) override { m_last = last; }
    void SetPosition(int) override {}
    void OnPartitionFound(const FoundPartitionInfo* found) override {
        // Every report lies inside the disk, carries its window and a terminated label.
        if (found->u64FirstSector >= m_sectors || found->u64SectorCount == 0 ||
            found->u64SectorCount > m_sectors - found->u64FirstSector || !found->pDevice ||
            found->pDevice->GetSectorCount() != found->u64SectorCount ||
            strnlen(found->szVolumeLabel, sizeof found->szVolumeLabel) ==
                sizeof found->szVolumeLabel)
            __builtin_trap();
        // Every other report is taken over, the rest is left to the search to free.
        if (++m_found % 2)
            (void)found->TakeCopy();
    }
    std::uint64_t Steps() const { return m_steps; }
    std::uint64_t Last() const { return m_last; }

private:
    std::uint64_t m_sectors;
    std::uint64_t m_steps = 0, m_last = 0, m_found = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > 128 * 1024)
        return 0;
    constexpr std::uint64_t kSectors = 3 * 16065 + 100;
    RepeatingDevice device(data, size, kSectors);
    CPartitionSearcher searcher;
    searcher.SetDevice(&device);
    searcher.AddPartitionFileSystemController(&searcher.FatController());
    searcher.AddPartitionFileSystemController(&searcher.NtfsController());
    searcher.AddPartitionFileSystemController(&searcher.Ext2Controller());
    searcher.AddPartitionSearchAlgorithms(size % 2 ? 240 : 255);
    CheckingCallback callback(kSectors);
    searcher.SearchOnThisThread(&callback);
    if (!searcher.IsDone() || callback.Steps() != callback.Last())
        __builtin_trap();
    return 0;
}
