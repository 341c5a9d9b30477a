#pragma once
// A sector cache for a reader that walks a device window by window: while the reader works on
// window j, a loader thread of its own reads window j + 1 from the device. The windows j - 1 and
// j stay readable from memory (by several threads at once); any other read goes to the device.
#include "storage/StorageDevice.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class CReadAheadSectorCache : public IStorageDevice {
public:
    // `inner` is not owned and must outlive the cache.
    CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow);
    ~CReadAheadSectorCache() override;
    CReadAheadSectorCache(const CReadAheadSectorCache&) = delete;
    CReadAheadSectorCache& operator=(const CReadAheadSectorCache&) = delete;

    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_sectorCount; }
    int Open() override { return m_inner ? 1 : 0; }
    int Close() override { return m_inner ? 1 : 0; }

    // Starts the loader (false when no thread could be made: reads then go to the device).
    bool Start();
    // Makes window `index` the current one, waiting until the loader has read it. Call with
    // ascending indices, from one thread, while no other thread reads. 1 when it was loaded.
    int LoadCacheWindow(std::uint64_t index);

private:
    struct Slot {
        std::uint64_t window = ~std::uint64_t(0);
        std::uint64_t sectors = 0; // sectors of the window on the device
        bool loaded = false;
        bool ok = false;
        std::vector<std::uint8_t> bytes;
    };
    static constexpr std::uint32_t kSlots = 3;

    void Loader();
    int ReadInner(void* buffer, std::uint64_t first, std::uint64_t count);

    IStorageDevice* m_inner;
    std::uint32_t m_sectorsPerWindow;
    std::uint64_t m_sectorCount;
    std::uint64_t m_windows;
    Slot m_slots[kSlots];

    std::mutex m_mutex; // guards the slots' states and the loader's position
    std::condition_variable m_changed;
    std::uint64_t m_current = 0; // window the reader works on
    bool m_stop = false;
    bool m_started = false;
    std::thread m_thread;
    std::mutex m_deviceMutex; // one device read at a time

    // The reader's view: windows current - 1 and current, as they were when made current.
    const Slot* m_view[2] = {nullptr, nullptr};
};
