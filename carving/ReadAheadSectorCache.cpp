#include "carving/ReadAheadSectorCache.h"
#include "platform/ThreadStart.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace {
// The window the calling thread works on, for the cache that set it.
thread_local const void* t_cache = nullptr;
thread_local std::uint64_t t_window = 0;
} // namespace

CReadAheadSectorCache::CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow,
                                             std::uint32_t slots)
    : m_inner(inner), m_sectorsPerWindow(sectorsPerWindow ? sectorsPerWindow : 1),
      m_sectorCount(inner ? inner->GetSectorCount() : 0) {
    m_windows = m_sectorCount / m_sectorsPerWindow + (m_sectorCount % m_sectorsPerWindow ? 1 : 0);
    for (std::uint32_t i = 0; i < std::max<std::uint32_t>(slots, 3); ++i)
        m_slots.push_back(std::make_unique<Slot>());
}

CReadAheadSectorCache::~CReadAheadSectorCache() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (t_cache == this)
        t_cache = nullptr;
}

bool CReadAheadSectorCache::Start() {
    if (m_started || !m_inner)
        return m_started;
    for (auto& s : m_slots)
        s->bytes.assign(std::size_t{m_sectorsPerWindow} * kSectorSize, 0);
    try {
        m_thread = platform::StartThread([this] { Loader(); });
    } catch (const std::system_error&) {
        return false;
    }
    m_started = true;
    return true;
}

int CReadAheadSectorCache::ReadInner(void* buffer, std::uint64_t first, std::uint64_t count) {
    std::lock_guard<std::mutex> lock(m_deviceMutex);
    return m_inner->ReadSectors(buffer, first, count);
}

void CReadAheadSectorCache::Loader() {
    const std::uint64_t ring = m_slots.size();
    for (std::uint64_t w = 0; w < m_windows; ++w) {
        Slot& slot = *m_slots[w % ring];
        {
            // Window w takes the slot of window w - ring, which must have been released.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || w < m_releasedBefore + ring; });
            if (m_stop)
                return;
        }
        slot.state.store(0, std::memory_order_relaxed);
        slot.window.store(w, std::memory_order_release);
        const std::uint64_t first = w * m_sectorsPerWindow;
        const std::uint64_t n = std::min<std::uint64_t>(m_sectorsPerWindow, m_sectorCount - first);
        const bool ok = ReadInner(slot.bytes.data(), first, n) == 1;
        slot.sectors = n;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.state.store(ok ? 1 : 2, std::memory_order_release);
        }
        m_changed.notify_all();
    }
}

void CReadAheadSectorCache::ReleaseBefore(std::uint64_t window) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (window <= m_releasedBefore)
            return;
        m_releasedBefore = window;
    }
    m_changed.notify_all();
}

int CReadAheadSectorCache::WaitWindow(std::uint64_t index) {
    if (!m_started || index >= m_windows)
        return 0;
    Slot& slot = *m_slots[index % m_slots.size()];
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] {
        return slot.window.load(std::memory_order_acquire) == index &&
               slot.state.load(std::memory_order_acquire) != 0;
    });
    return slot.state.load(std::memory_order_acquire) == 1 ? 1 : 0;
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

const CReadAheadSectorCache::Slot* CReadAheadSectorCache::Loaded(std::uint64_t window) const {
    const Slot& slot = *m_slots[window % m_slots.size()];
    if (slot.window.load(std::memory_order_acquire) != window ||
        slot.state.load(std::memory_order_acquire) != 1)
        return nullptr;
    return &slot;
}

int CReadAheadSectorCache::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!m_inner || !buffer)
        return 0;
    if (count == 0)
        return 1;
    const std::uint64_t end = first + count;
    if (m_started && t_cache == this && end > first) {
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
            std::memcpy(out + (at - first) * kSectorSize, s->bytes.data() + (at - ws) * kSectorSize,
                        static_cast<std::size_t>(n * kSectorSize));
            at += n;
        }
        if (at == end)
            return 1;
    }
    return ReadInner(buffer, first, count);
}
