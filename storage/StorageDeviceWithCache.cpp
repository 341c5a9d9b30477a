#include "storage/StorageDeviceWithCache.h"

#include "platform/DebugOutput.h"
#include "storage/ImageFileDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

std::uint8_t* AllocateWindow(std::size_t bytes) {
    constexpr std::size_t kPage = 4096;
    const std::size_t rounded = (bytes + kPage - 1) / kPage * kPage;
    auto* p = static_cast<std::uint8_t*>(std::aligned_alloc(kPage, rounded ? rounded : kPage));
    if (!p)
        throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return p;
}

} // namespace

CStorageDeviceWithCache::CStorageDeviceWithCache(IStorageDevice* inner) : m_inner(inner) {
    SetCacheSize(kDefaultSectorsPerWindow);
}

std::uint64_t CStorageDeviceWithCache::GetSectorCount() {
    return m_inner ? m_inner->GetSectorCount() : 0;
}

std::uint64_t CStorageDeviceWithCache::DeviceSectors(bool ask) {
    if (ask || !m_deviceSectorsKnown) {
        m_deviceSectors = m_inner->GetSectorCount();
        m_deviceSectorsKnown = true;
    }
    return m_deviceSectors;
}

int CStorageDeviceWithCache::SetCacheSize(std::uint32_t sectorsPerWindow) {
    m_buffer.reset();
    m_bufferBytes = static_cast<std::size_t>(sectorsPerWindow) * kSectorSize;
    m_buffer.reset(AllocateWindow(m_bufferBytes));
    m_sectorsPerWindow = sectorsPerWindow;
    m_window = kNoWindow;
    m_windowSectors = 0;
    return 1;
}

bool CStorageDeviceWithCache::IsWindowInRange(std::uint64_t index) {
    if (!m_inner || m_sectorsPerWindow == 0)
        return false;
    auto inRange = [&](std::uint64_t total) {
        return index < total / m_sectorsPerWindow + (total % m_sectorsPerWindow ? 1 : 0);
    };
    return inRange(DeviceSectors(false)) || inRange(DeviceSectors(true));
}

bool CStorageDeviceWithCache::ReadWindow(std::uint64_t index, std::uint64_t total) {
    const std::uint64_t W = m_sectorsPerWindow;
    const std::uint64_t first = index * W; // index < windows, so this cannot overflow
    const std::uint64_t n = std::min<std::uint64_t>(W, total - first);
    // Whatever happens, no stale bytes stay behind the window: the part past the device's
    // end is zeroed, and so is all of it when the read fails.
    std::uint8_t* buffer = m_buffer.get();
    std::memset(buffer + n * kSectorSize, 0, m_bufferBytes - n * kSectorSize);
    if (!m_inner->ReadSectors(buffer, first, n)) {
        std::memset(buffer, 0, m_bufferBytes);
        return false;
    }
    m_window = index;
    m_windowSectors = n;
    return true;
}

int CStorageDeviceWithCache::LoadCacheWindow(std::uint64_t index) {
    if (!m_inner) {
        platform::DebugOutput("NULL == m_pStorageDevice!\n");
        return 0;
    }
    if (m_sectorsPerWindow == 0 || !IsWindowInRange(index))
        return 0;
    const std::uint64_t before = DeviceSectors(false);
    if (ReadWindow(index, before))
        return 1;
    m_window = kNoWindow;
    m_windowSectors = 0;
    // The device may have changed size since it was asked: ask again, and read again only when
    // the window's extent changed with it.
    const std::uint64_t now = DeviceSectors(true);
    const std::uint64_t W = m_sectorsPerWindow;
    auto extent = [&](std::uint64_t total) { return index * W < total ? std::min(W, total - index * W) : 0; };
    if (extent(now) == 0 || extent(now) == extent(before))
        return 0;
    return ReadWindow(index, now) ? 1 : 0;
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
            std::memcpy(out, m_buffer.get() + (first - S) * kSectorSize,
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
