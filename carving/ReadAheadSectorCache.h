#pragma once
// A sector cache for readers that walk a device window by window: a loader thread of its own
// reads the windows ahead of the readers into a ring of slots. A reader thread that works on
// window j (SetReaderWindow) reads windows j - 1 and j from memory; anything else goes to the
// device. A slot is reused only once the owner has released its window, so several readers at
// different windows can share the ring.
#include "storage/StorageDevice.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CReadAheadSectorCache : public IStorageDevice {
public:
    // `inner` is not owned and must outlive the cache.
    CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow,
                          std::uint32_t slots = 3);
    ~CReadAheadSectorCache() override;
    CReadAheadSectorCache(const CReadAheadSectorCache&) = delete;
    CReadAheadSectorCache& operator=(const CReadAheadSectorCache&) = delete;

    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_sectorCount; }
    int Open() override { return m_inner ? 1 : 0; }
    int Close() override { return m_inner ? 1 : 0; }

    // Starts the loader (false when no thread could be made: reads then go to the device).
    bool Start();
    // Windows below `window` are no longer needed: their slots may be loaded again.
    void ReleaseBefore(std::uint64_t window);
    // Waits until the loader has read window `index`; 1 when it was read whole.
    int WaitWindow(std::uint64_t index);
    // The calling thread now works on window `index` (it reads index - 1 and index from memory).
    void SetReaderWindow(std::uint64_t index);
    // One reader walking alone: releases what lies before index - 1, waits for the window and
    // makes it this thread's. 1 when it was read whole.
    int LoadCacheWindow(std::uint64_t index);

private:
    struct Slot {
        std::atomic<std::uint64_t> window{~std::uint64_t(0)};
        std::atomic<int> state{0}; // 0 empty or loading, 1 loaded, 2 failed
        std::uint64_t sectors = 0;
        std::vector<std::uint8_t> bytes;
    };

    void Loader();
    int ReadInner(void* buffer, std::uint64_t first, std::uint64_t count);
    const Slot* Loaded(std::uint64_t window) const;

    IStorageDevice* m_inner;
    std::uint32_t m_sectorsPerWindow;
    std::uint64_t m_sectorCount;
    std::uint64_t m_windows;
    std::vector<std::unique_ptr<Slot>> m_slots;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_releasedBefore = 0;
    bool m_stop = false;
    bool m_started = false;
    std::thread m_thread;
    std::mutex m_deviceMutex; // one device read at a time
};
