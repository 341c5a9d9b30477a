#pragma once
// The chunk ring of the deep scan: the device is read once, window by window (a window is a
// search chunk), into a ring of windows in one block of memory, where the readers read them in
// place (Chunk) or, through ReadSectors, copy from them.
//
// With Start a loader thread of its own reads the windows ahead of the readers, a batch of
// windows with one device read; without it, WaitWindow reads the batch on the caller's thread.
// The readers learn of new windows a batch at a time, so a hand-over costs one wake-up per
// batch, not per window. A window's slot is reused only once the owner has released it, so
// several readers at different windows can share the ring, and a reader may look back at the
// windows it has not released.
//
// Window k lies in slot k mod Slots(); the slots follow one another in memory, and in front of
// slot 0 lies a head room that holds the sectors before slot 0's window, so that every window
// has the kHeadSectors device sectors before it right in front of it (as long as the windows
// they belong to are not released).
#include "filesystems/FileSystemSearchController.h"
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
    static constexpr std::uint32_t kHeadSectors = 16;

    // `inner` is not owned and must outlive the cache. The ring has at least `slots` slots (at
    // least 3, and whole batches), read `batch` windows at a time.
    CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow,
                          std::uint32_t slots = 3, std::uint32_t batch = 1);
    ~CReadAheadSectorCache() override;
    CReadAheadSectorCache(const CReadAheadSectorCache&) = delete;
    CReadAheadSectorCache& operator=(const CReadAheadSectorCache&) = delete;

    // A thread that works on window j (SetReaderWindow) reads windows j - 1 and j from memory
    // when they were read whole; anything else goes to the device.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_sectorCount; }
    int Open() override { return m_inner ? 1 : 0; }
    int Close() override { return m_inner ? 1 : 0; }

    // False when the ring's memory could not be had (nothing can be read then).
    bool IsReady() const { return m_ready; }
    // Starts the loader (false when no thread could be made: the readers then read the
    // windows themselves).
    bool Start();
    // Windows below `window` are no longer needed: their slots may be loaded again.
    void ReleaseBefore(std::uint64_t window);
    // Waits until window `index` is in the ring (reading it on this thread when there is no
    // loader); 1 when it was read whole. The window must not have been released.
    int WaitWindow(std::uint64_t index);
    // The calling thread now works on window `index` (it reads index - 1 and index from memory).
    void SetReaderWindow(std::uint64_t index);
    // One reader walking alone: releases what lies before index - 1, waits for the window and
    // makes it this thread's. 1 when it was read whole.
    int LoadCacheWindow(std::uint64_t index);
    // Window `index` in place, after WaitWindow; `kept` windows before it are promised to stay
    // until it is released.
    SearchChunk Chunk(std::uint64_t index, std::uint32_t kept) const;

    std::uint32_t Slots() const { return m_slotCount; }
    std::uint64_t Windows() const { return m_windows; }

private:
    struct Slot {
        std::atomic<std::uint64_t> window{~std::uint64_t(0)};
        std::atomic<bool> whole{false};
        std::uint64_t sectors = 0;
    };

    void Loader();
    // Reads the batch that begins at window `w` into its slots; false when stopped.
    bool LoadBatch(std::uint64_t w);
    // Waits until the slots of windows [w, end) are free; false when stopped.
    bool WaitForRoom(std::uint64_t end);
    int ReadInner(void* buffer, std::uint64_t first, std::uint64_t count);
    std::uint8_t* SlotBytes(std::uint64_t window) const;
    const Slot* Loaded(std::uint64_t window) const;

    IStorageDevice* m_inner;
    std::uint32_t m_sectorsPerWindow;
    std::uint32_t m_batch;
    std::uint32_t m_slotCount;
    std::uint64_t m_sectorCount;
    std::uint64_t m_windows;
    std::uint64_t m_headSectors; // head room in front of slot 0
    std::unique_ptr<std::uint8_t[]> m_memory;
    std::uint8_t* m_ring = nullptr; // slot 0
    std::vector<Slot> m_slots;
    bool m_ready = false;

    std::mutex m_mutex;
    std::condition_variable m_loadedChanged;   // readers wait here
    std::condition_variable m_releasedChanged; // the loader waits here
    std::atomic<std::uint64_t> m_loaded{0};    // windows [0, m_loaded) have been read
    std::uint64_t m_releasedBefore = 0;
    int m_readersWaiting = 0;
    bool m_loaderWaiting = false;
    bool m_stop = false;
    bool m_started = false;
    std::thread m_thread;
    std::mutex m_deviceMutex; // one device read at a time
    std::mutex m_loadMutex;   // one batch load at a time
};
