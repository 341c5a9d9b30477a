#include "carving/ReadAheadSectorCache.h"

#include <algorithm>
#include <cstring>
#include <system_error>

CReadAheadSectorCache::CReadAheadSectorCache(IStorageDevice* inner, std::uint32_t sectorsPerWindow)
    : m_inner(inner), m_sectorsPerWindow(sectorsPerWindow ? sectorsPerWindow : 1),
      m_sectorCount(inner ? inner->GetSectorCount() : 0) {
    m_windows = m_sectorCount / m_sectorsPerWindow + (m_sectorCount % m_sectorsPerWindow ? 1 : 0);
}

CReadAheadSectorCache::~CReadAheadSectorCache() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool CReadAheadSectorCache::Start() {
    if (m_started || !m_inner)
        return m_started;
    for (Slot& s : m_slots)
        s.bytes.assign(std::size_t{m_sectorsPerWindow} * kSectorSize, 0);
    try {
        m_thread = std::thread([this] { Loader(); });
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
    for (std::uint64_t w = 0; w < m_windows; ++w) {
        Slot& slot = m_slots[w % kSlots];
        {
            // Window w takes the slot of window w - 3, which the reader no longer needs once it
            // works on window w - 1 or later.
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stop || w < m_current + 2; });
            if (m_stop)
                return;
            slot.loaded = false;
            slot.window = w;
        }
        const std::uint64_t first = w * m_sectorsPerWindow;
        const std::uint64_t n = std::min<std::uint64_t>(m_sectorsPerWindow, m_sectorCount - first);
        const bool ok = ReadInner(slot.bytes.data(), first, n) == 1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            slot.sectors = n;
            slot.ok = ok;
            slot.loaded = true;
        }
        m_changed.notify_all();
    }
}

int CReadAheadSectorCache::LoadCacheWindow(std::uint64_t index) {
    if (!m_started || index >= m_windows) {
        m_view[0] = m_view[1] = nullptr;
        return 0;
    }
    const Slot* current = nullptr;
    const Slot* previous = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_current = index;
        m_changed.notify_all();
        Slot& slot = m_slots[index % kSlots];
        m_changed.wait(lock, [&] { return slot.window == index && slot.loaded; });
        current = slot.ok ? &slot : nullptr;
        if (index > 0) {
            const Slot& prev = m_slots[(index - 1) % kSlots];
            if (prev.window == index - 1 && prev.loaded && prev.ok)
                previous = &prev;
        }
    }
    m_view[0] = previous;
    m_view[1] = current;
    return current ? 1 : 0;
}

int CReadAheadSectorCache::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!m_inner || !buffer)
        return 0;
    if (count == 0)
        return 1;
    // Served from memory when the windows in view hold every sector asked for.
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint64_t at = first;
    const std::uint64_t end = first + count;
    if (end > first) {
        for (const Slot* s : m_view) {
            if (!s || at >= end)
                continue;
            const std::uint64_t ws = s->window * m_sectorsPerWindow;
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
