#include "carving/ReadAheadSectorCache.h"
#include "platform/ThreadStart.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <system_error>

namespace {
// The window the calling thread works on, for the cache that set it.
thread_local const void* t_cache = nullptr;
thread_local std::uint64_t t_window = 0;

constexpr std::uint64_t kMaxRingBytes = std::uint64_t(1) << 32;

std::uint32_t RingSlots(std::uint32_t slots, std::uint32_t batch) {
    const std::uint32_t n = std::max<std::uint32_t>(slots, 3);
    return (n + batch - 1) / batch * batch; // whole batches: a batch never wraps
}
} // namespace

CReadAheadSectorCache::CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow,
                                             std::uint32_t slots, std::uint32_t batch)
    : m_inner(inner), m_sectorsPerWindow(sectorsPerWindow ? sectorsPerWindow : 1),
      m_batch(batch ? batch : 1), m_slotCount(RingSlots(slots, m_batch)),
      m_sectorCount(inner ? inner->GetSectorCount() : 0), m_slots(m_slotCount) {
    m_windows = m_sectorCount / m_sectorsPerWindow + (m_sectorCount % m_sectorsPerWindow ? 1 : 0);
    m_headSectors = std::min<std::uint64_t>(kHeadSectors,
                                            std::uint64_t(m_slotCount - 1) * m_sectorsPerWindow);
    const std::uint64_t sectors = m_headSectors + std::uint64_t(m_slotCount) * m_sectorsPerWindow;
    if (!m_inner || sectors > kMaxRingBytes / kSectorSize)
        return;
    m_memory.reset(new (std::nothrow) std::uint8_t[sectors * kSectorSize]);
    if (!m_memory)
        return;
    m_ring = m_memory.get() + m_headSectors * kSectorSize;
    m_ready = true;
}

CReadAheadSectorCache::~CReadAheadSectorCache() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_releasedChanged.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (t_cache == this)
        t_cache = nullptr;
}

bool CReadAheadSectorCache::Start() {
    if (m_started || !m_ready)
        return m_started;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = true; // before the loader asks
    }
    try {
        m_thread = platform::StartThread([this] { Loader(); });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = false;
        return false;
    }
    return true;
}

int CReadAheadSectorCache::ReadInner(void* buffer, std::uint64_t first, std::uint64_t count) {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    return m_inner->ReadSectors(buffer, first, count);
}

std::uint8_t* CReadAheadSectorCache::SlotBytes(std::uint64_t window) const {
    return m_ring + (window % m_slotCount) * m_sectorsPerWindow * kSectorSize;
}

bool CReadAheadSectorCache::WaitForRoom(std::uint64_t end) {
    // Window w takes the slot of window w - slots, which must have been released.
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_started) // the reader itself loads: nobody else could release
        return end <= m_releasedBefore + m_slotCount;
    while (!m_stop && end > m_releasedBefore + m_slotCount) {
        m_loaderWaiting = true;
        m_releasedChanged.wait(lock);
        m_loaderWaiting = false;
    }
    return !m_stop;
}

bool CReadAheadSectorCache::LoadBatch(std::uint64_t w) {
    const std::uint64_t end = std::min<std::uint64_t>(w + m_batch, m_windows);
    if (!WaitForRoom(end))
        return false;
    const std::uint64_t W = m_sectorsPerWindow;
    if (w % m_slotCount == 0 && w > 0) {
        // Slot 0 comes after the ring's last slots: their tail goes into the head room.
        std::memcpy(m_ring - m_headSectors * kSectorSize,
                    m_ring + (std::uint64_t(m_slotCount) * W - m_headSectors) * kSectorSize,
                    static_cast<std::size_t>(m_headSectors * kSectorSize));
    }
    for (std::uint64_t k = w; k < end; ++k)
        m_slots[k % m_slotCount].window.store(~std::uint64_t(0), std::memory_order_relaxed);
    const std::uint64_t first = w * W;
    const std::uint64_t sectors = std::min<std::uint64_t>((end - w) * W, m_sectorCount - first);
    std::uint8_t* bytes = SlotBytes(w);
    // One read for the batch; when it fails, window by window, then sector by sector, with
    // zeros for what cannot be read.
    const bool batchRead = ReadInner(bytes, first, sectors) == 1;
    for (std::uint64_t k = w; k < end; ++k) {
        Slot& slot = m_slots[k % m_slotCount];
        const std::uint64_t f = k * W;
        const std::uint64_t n = std::min<std::uint64_t>(W, m_sectorCount - f);
        std::uint8_t* out = SlotBytes(k);
        bool whole = batchRead;
        if (!whole && end - w > 1)
            whole = ReadInner(out, f, n) == 1;
        if (!whole)
            for (std::uint64_t i = 0; i < n; ++i)
                if (ReadInner(out + i * kSectorSize, f + i, 1) != 1)
                    std::memset(out + i * kSectorSize, 0, kSectorSize);
        if (n < W) // the device's last window: zeros up to the window's size
            std::memset(out + n * kSectorSize, 0, static_cast<std::size_t>((W - n) * kSectorSize));
        slot.sectors = n;
        slot.whole.store(whole, std::memory_order_relaxed);
        slot.window.store(k, std::memory_order_release);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loaded.store(end, std::memory_order_release);
        if (m_readersWaiting)
            m_loadedChanged.notify_all();
    }
    return true;
}

void CReadAheadSectorCache::Loader() {
    for (std::uint64_t w = 0; w < m_windows; w += m_batch) {
        std::lock_guard<std::mutex> once(m_loadMutex);
        if (!LoadBatch(w))
            return;
    }
}

void CReadAheadSectorCache::ReleaseBefore(std::uint64_t window) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (window <= m_releasedBefore)
        return;
    m_releasedBefore = window;
    if (m_loaderWaiting)
        m_releasedChanged.notify_all();
}

int CReadAheadSectorCache::WaitWindow(std::uint64_t index) {
    if (!m_ready || index >= m_windows)
        return 0;
    if (m_loaded.load(std::memory_order_acquire) <= index) {
        if (m_started) {
            std::unique_lock<std::mutex> lock(m_mutex);
            ++m_readersWaiting;
            m_loadedChanged.wait(lock,
                                 [&] { return m_loaded.load(std::memory_order_relaxed) > index; });
            --m_readersWaiting;
        } else {
            // No loader: this thread reads the batches up to the window.
            std::lock_guard<std::mutex> once(m_loadMutex);
            for (std::uint64_t w = m_loaded.load(std::memory_order_acquire); w <= index;
                 w += m_batch)
                if (!LoadBatch(w))
                    return 0;
        }
    }
    const Slot& slot = m_slots[index % m_slotCount];
    return slot.window.load(std::memory_order_acquire) == index &&
                   slot.whole.load(std::memory_order_relaxed)
               ? 1
               : 0;
}

void CReadAheadSectorCache::SetReaderWindow(std::uint64_t index) {
    t_cache = this;
    t_window = index;
}

int CReadAheadSectorCache::LoadCacheWindow(std::uint64_t index) {
    if (index >= 1)
        ReleaseBefore(index - 1);
    const int r = WaitWindow(index);
    SetReaderWindow(index);
    return r;
}

SearchChunk CReadAheadSectorCache::Chunk(std::uint64_t index, std::uint32_t kept) const {
    SearchChunk c;
    const Slot& slot = m_slots[index % m_slotCount];
    if (!m_ready || slot.window.load(std::memory_order_acquire) != index)
        return c;
    c.first = index * m_sectorsPerWindow;
    c.count = slot.sectors;
    c.data = SlotBytes(index);
    c.headSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(m_headSectors, c.first));
    c.readWhole = slot.whole.load(std::memory_order_relaxed);
    c.ring = m_ring;
    c.ringChunks = m_slotCount;
    c.keptChunks = kept;
    return c;
}

const CReadAheadSectorCache::Slot* CReadAheadSectorCache::Loaded(std::uint64_t window) const {
    const Slot& slot = m_slots[window % m_slotCount];
    if (slot.window.load(std::memory_order_acquire) != window ||
        !slot.whole.load(std::memory_order_relaxed))
        return nullptr;
    return &slot;
}

int CReadAheadSectorCache::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!m_inner || !buffer)
        return 0;
    if (count == 0)
        return 1;
    const std::uint64_t end = first + count;
    if (m_ready && t_cache == this && end > first) {
        // Served from memory when the windows this thread may see hold every sector asked for.
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::uint64_t at = first;
        for (std::uint64_t w = t_window ? t_window - 1 : 0; w <= t_window && at < end; ++w) {
            const Slot* s = Loaded(w);
            if (!s)
                continue;
            const std::uint64_t ws = w * m_sectorsPerWindow;
            const std::uint64_t we = ws + s->sectors;
            if (at < ws || at >= we)
                continue;
            const std::uint64_t n = std::min(end, we) - at;
            std::memcpy(out + (at - first) * kSectorSize, SlotBytes(w) + (at - ws) * kSectorSize,
                        static_cast<std::size_t>(n * kSectorSize));
            at += n;
        }
        if (at == end)
            return 1;
    }
    return ReadInner(buffer, first, count);
}
