#include "storage/StorageDeviceWithCache.h"

#include "platform/DebugOutput.h"
#include "storage/ImageFileDevice.h"

#include <algorithm>
#include <cstring>

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* inner)
    : m_inner(inner), m_buffer(static_cast<std::size_t>(kDefaultSectorsPerWindow) * kSectorSize) {}

std::uint64_t CStorageDeviceWithCache::GetSectorCount() {
    return m_inner ? m_inner->GetSectorCount() : 0;
}

int CStorageDeviceWithCache::SetCacheSize(std::uint32_t sectorsPerWindow) {
    std::vector<std::uint8_t>().swap(m_buffer);
    m_buffer.assign(static_cast<std::size_t>(sectorsPerWindow) * kSectorSize, 0);
    m_sectorsPerWindow = sectorsPerWindow;
    m_window = kNoWindow;
    m_windowSectors = 0;
    return 1;
}

bool CStorageDeviceWithCache::IsWindowInRange(std::uint64_t index) {
    if (!m_inner || m_sectorsPerWindow == 0)
        return false;
    const std::uint64_t total = m_inner->GetSectorCount();
    const std::uint64_t windows = total / m_sectorsPerWindow + (total % m_sectorsPerWindow ? 1 : 0);
    return index < windows;
}

int CStorageDeviceWithCache::LoadCacheWindow(std::uint64_t index) {
    if (!m_inner) {
        platform::DebugOutput("NULL == m_pStorageDevice!\n");
        return 0;
    }
    // One size query per window: on a file or a block device each costs a system call.
    const std::uint64_t total = m_inner->GetSectorCount();
    const std::uint64_t W = m_sectorsPerWindow;
    if (W == 0 || index >= total / W + (total % W ? 1 : 0))
        return 0;
    const std::uint64_t first = index * W; // index < windows, so this cannot overflow
    const std::uint64_t n = std::min<std::uint64_t>(W, total - first);
    // Whatever happens, no stale bytes stay behind the window: the part past the device's
    // end is zeroed, and so is all of it when the read fails.
    std::fill(m_buffer.begin() + static_cast<std::ptrdiff_t>(n * kSectorSize), m_buffer.end(), 0);
    if (!m_inner->ReadSectors(m_buffer.data(), first, n)) {
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        m_window = kNoWindow;
        m_windowSectors = 0;
        return 0;
    }
    m_window = index;
    m_windowSectors = n;
    return 1;
}

int CStorageDeviceWithCache::ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) {
    if (!m_inner || !buffer || !storage_detail::SectorRangeFits(first, count))
        return 0;
    if (m_window == kNoWindow)
        return m_inner->ReadSectors(buffer, first, count);
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::uint64_t S = m_window * m_sectorsPerWindow;
    const std::uint64_t E = S + m_windowSectors; // only sectors that were really loaded
    if (first >= S) {
        std::uint64_t copied = 0;
        if (first < E) {
            copied = std::min(first + count, E) - first;
            std::memcpy(out, m_buffer.data() + (first - S) * kSectorSize,
                        static_cast<std::size_t>(copied * kSectorSize));
            if (copied == count)
                return 1;
        }
        return m_inner->ReadSectors(out + copied * kSectorSize, first + copied, count - copied);
    }
    const std::uint64_t before = std::min(count, S - first);
    const int r1 = m_inner->ReadSectors(out, first, before);
    if (before == count)
        return r1;
    const int r2 = m_inner->ReadSectors(out + before * kSectorSize, S, count - before);
    return (r1 && r2) ? 1 : 0;
}
