#pragma once
// The ring of the RAW search: the last N chunks that the search read, as a sector device
// numbered like the searched device, so that analysers can size a file from memory. Reads are
// served only inside the held window.
//
// The ring has one slot more than it holds: the search reads each new chunk straight into that
// incoming slot, analyses it there, sizes the files waiting in the window, and then commits the
// slot, which drops the oldest chunk. No chunk is copied.
//
// The ring can also be a view of a larger ring of chunks that someone else fills (Attach): the
// chunk of each slot is then already there when it is committed.
#include <cstdint>
#include <memory>

#include "carving/analysers/RawFileReader.h"
#include "storage/StorageDevice.h"

class CBufferStorageDevice : public IStorageDevice, public IInMemorySectorWindow {
public:
    CBufferStorageDevice() = default;
    ~CBufferStorageDevice() override = default;

    // 1 when every requested sector lies in the held window; 0 otherwise (also when not set up).
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    // The number of sectors held (not an end sector).
    std::uint64_t GetSectorCount() override { return m_ready ? m_held : 0; }
    int Open() override { return 1; }
    // Frees the storage; the ring is not ready until the next Setup.
    int Close() override;
    const std::uint8_t* PeekSectors(std::uint64_t first, std::uint64_t* contiguous) override;

    // Makes the ring empty, for `chunkCount` chunks of `chunkSectors` sectors, starting at
    // `windowStart` (storage of the same size is reused). False (and not ready) for a chunk size
    // or count of 0 or a ring too big.
    bool Setup(std::uint64_t windowStart, std::uint32_t chunkSectors, std::uint32_t chunkCount);
    bool IsReady() const { return m_ready; }
    bool IsFull() const { return m_ready && m_held == m_ringSectors; }
    std::uint64_t GetWindowStart() const { return m_windowStart; }

    // Makes the ring an empty view, for `chunkCount` chunks of `chunkSectors` sectors starting
    // at `windowStart`, of `storage`: `storageSlots` chunk slots (more than chunkCount), the
    // window's first chunk in slot `firstSlot`. The storage is not owned and must stay while
    // the view is used. False (and not ready) for sizes that do not fit.
    bool Attach(std::uint64_t windowStart, std::uint32_t chunkSectors, std::uint32_t chunkCount,
                const std::uint8_t* storage, std::uint32_t storageSlots, std::uint32_t firstSlot);
    bool IsAttached() const { return m_ready && m_view; }
    const std::uint8_t* GetStorage() const { return m_view ? m_view : m_storage.get(); }
    std::uint64_t GetStorageSectors() const { return m_storageSectors; }
    // The slot the next chunk goes into (chunk-size sectors), or null when not ready or a view.
    std::uint8_t* GetIncomingSlot();
    // The slot number of the next chunk.
    std::uint32_t GetIncomingSlotIndex() const;
    // Makes the incoming slot the newest chunk; once full, the oldest chunk leaves the window.
    int CommitIncoming();
    // Copies a chunk of chunk-size sectors in and commits it. 0 when not ready.
    int AppendChunk(const void* chunk);

private:
    std::uint64_t SlotOffsetOf(std::uint64_t sector) const; // in sectors, within the storage

    std::unique_ptr<std::uint8_t[]> m_storage;
    const std::uint8_t* m_view = nullptr; // the storage of a view
    std::uint64_t m_windowStart = 0;
    std::uint64_t m_held = 0;         // sectors in the window
    std::uint32_t m_oldestSlot = 0;   // physical slot of the window's first chunk
    std::uint32_t m_chunkSectors = 0;
    std::uint32_t m_chunkCount = 0;   // chunks the window holds
    std::uint64_t m_ringSectors = 0;  // chunk size x chunk count
    std::uint32_t m_storageSlots = 0;   // one slot more, or the view's slots
    std::uint64_t m_storageSectors = 0;
    bool m_ready = false;
};
