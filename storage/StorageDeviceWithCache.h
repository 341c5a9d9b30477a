#pragma once
// A one-window sector cache in front of another device: several readers analysing the same
// run of sectors cost one device read. The window is loaded only by LoadCacheWindow.
#include "storage/StorageDevice.h"

#include <cstdint>
#include <cstdlib>
#include <memory>

class CStorageDeviceWithCache : public IStorageDevice {
public:
    static constexpr std::uint32_t kDefaultSectorsPerWindow = 1000;
    static constexpr std::uint64_t kNoWindow = ~std::uint64_t(0);

    // `inner` is not owned and must outlive the cache.
    explicit CStorageDeviceWithCache(IStorageDevice* inner);
    ~CStorageDeviceWithCache() override = default;

    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override;
    int Open() override { return m_inner ? 1 : 0; }
    int Close() override { return m_inner ? 1 : 0; }

    // New window size in sectors; forgets the loaded window. Returns 1.
    int SetCacheSize(std::uint32_t sectorsPerWindow);
    // Loads window `index` (sectors index*W up to the window's end or the device's end).
    // Returns 1 when it was loaded; a failed read loads nothing (and forgets any window).
    int LoadCacheWindow(std::uint64_t index);
    // Whether window `index` lies on the device.
    bool IsWindowInRange(std::uint64_t index);

    std::uint64_t GetLoadedWindow() const { return m_window; }
    std::uint32_t GetSectorsPerWindow() const { return m_sectorsPerWindow; }

private:
    struct FreeBuffer {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    // The device's size, asked once and again only when a window seems to lie past it or a
    // load fails (each question costs a system call on a file or a disk).
    std::uint64_t DeviceSectors(bool ask);
    bool ReadWindow(std::uint64_t index, std::uint64_t total);

    IStorageDevice* m_inner;
    // Page-aligned, so the device reads land on whole pages.
    std::unique_ptr<std::uint8_t, FreeBuffer> m_buffer;
    std::size_t m_bufferBytes = 0;
    std::uint64_t m_deviceSectors = 0;
    bool m_deviceSectorsKnown = false;
    std::uint32_t m_sectorsPerWindow = kDefaultSectorsPerWindow;
    std::uint64_t m_window = kNoWindow;
    std::uint64_t m_windowSectors = 0; // sectors of the loaded window that lie on the device
};
