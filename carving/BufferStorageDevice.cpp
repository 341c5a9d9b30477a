#include "carving/BufferStorageDevice.h"

#include <cstring>
#include <new>

bool CBufferStorageDevice::Setup(std::uint64_t windowStart, std::uint32_t chunkSectors,
                                 std::uint32_t chunkCount) {
    m_ready = false;
    m_held = 0;
    m_oldestSlot = 0;
    if (chunkSectors == 0 || chunkCount == 0) {
        Close();
        return false;
    }
    const std::uint64_t ring = std::uint64_t(chunkSectors) * chunkCount;
    const std::uint64_t storage = ring + chunkSectors;
    if (storage > (std::uint64_t(1) << 40) / kSectorSize) {
        Close();
        return false;
    }
    // A ring of the same size is kept from the previous search (its pages are already mapped).
    // Only sectors inside the held window can be read, so the storage needs no clearing.
    if (!m_storage || storage != m_storageSectors) {
        m_storage.reset();
        m_storage.reset(new (std::nothrow) std::uint8_t[storage * kSectorSize]);
        if (!m_storage)
            return false;
    }
    m_view = nullptr;
    m_windowStart = windowStart;
    m_chunkSectors = chunkSectors;
    m_chunkCount = chunkCount;
    m_ringSectors = ring;
    m_storageSlots = chunkCount + 1;
    m_storageSectors = storage;
    m_ready = true;
    return true;
}

bool CBufferStorageDevice::Attach(std::uint64_t windowStart, std::uint32_t chunkSectors,
                                  std::uint32_t chunkCount, const std::uint8_t* storage,
                                  std::uint32_t storageSlots, std::uint32_t firstSlot) {
    m_ready = false;
    m_held = 0;
    if (!storage || chunkSectors == 0 || chunkCount == 0 || storageSlots <= chunkCount ||
        firstSlot >= storageSlots ||
        std::uint64_t(chunkSectors) * storageSlots > (std::uint64_t(1) << 40) / kSectorSize)
        return false;
    m_storage.reset(); // the view's storage takes the place of an own ring
    m_view = storage;
    m_windowStart = windowStart;
    m_oldestSlot = firstSlot;
    m_chunkSectors = chunkSectors;
    m_chunkCount = chunkCount;
    m_ringSectors = std::uint64_t(chunkSectors) * chunkCount;
    m_storageSlots = storageSlots;
    m_storageSectors = std::uint64_t(chunkSectors) * storageSlots;
    m_ready = true;
    return true;
}

int CBufferStorageDevice::Close() {
    m_storage.reset();
    m_view = nullptr;
    m_storageSectors = 0;
    m_ready = false;
    m_held = 0;
    m_oldestSlot = 0;
    return 1;
}

std::uint64_t CBufferStorageDevice::SlotOffsetOf(std::uint64_t sector) const {
    return (std::uint64_t(m_oldestSlot) * m_chunkSectors + (sector - m_windowStart)) %
           m_storageSectors;
}

int CBufferStorageDevice::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t n) {
    if (!m_ready || !buffer || first < m_windowStart || first - m_windowStart >= m_held ||
        n > m_held - (first - m_windowStart))
        return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t p = SlotOffsetOf(first);
    while (n > 0) {
        const std::uint64_t run = n < m_storageSectors - p ? n : m_storageSectors - p;
        std::memcpy(out, GetStorage() + p * kSectorSize, run * kSectorSize);
        out += run * kSectorSize;
        n -= run;
        p = 0;
    }
    return 1;
}

const std::uint8_t* CBufferStorageDevice::PeekSectors(std::uint64_t first,
                                                      std::uint64_t* contiguous) {
    if (!m_ready || first < m_windowStart || first - m_windowStart >= m_held)
        return nullptr;
    const std::uint64_t p = SlotOffsetOf(first);
    const std::uint64_t toWindowEnd = m_held - (first - m_windowStart);
    const std::uint64_t toStorageEnd = m_storageSectors - p;
    if (contiguous)
        *contiguous = toWindowEnd < toStorageEnd ? toWindowEnd : toStorageEnd;
    return GetStorage() + p * kSectorSize;
}

std::uint32_t CBufferStorageDevice::GetIncomingSlotIndex() const {
    if (!m_ready)
        return 0;
    const std::uint64_t heldChunks = m_held / m_chunkSectors;
    return static_cast<std::uint32_t>((m_oldestSlot + heldChunks) % m_storageSlots);
}

std::uint8_t* CBufferStorageDevice::GetIncomingSlot() {
    if (!m_ready || m_view)
        return nullptr;
    return m_storage.get() + std::uint64_t(GetIncomingSlotIndex()) * m_chunkSectors * kSectorSize;
}

int CBufferStorageDevice::CommitIncoming() {
    if (!m_ready)
        return 0;
    if (m_held < m_ringSectors) {
        m_held += m_chunkSectors;
    } else {
        m_oldestSlot = (m_oldestSlot + 1) % m_storageSlots;
        m_windowStart += m_chunkSectors;
    }
    return 1;
}

int CBufferStorageDevice::AppendChunk(const void* chunk) {
    std::uint8_t* slot = GetIncomingSlot();
    if (!slot || !chunk)
        return 0;
    std::memcpy(slot, chunk, std::uint64_t(m_chunkSectors) * kSectorSize);
    return CommitIncoming();
}
