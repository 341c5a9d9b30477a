#pragma once
// One device read from several threads (the thumbnail worker, the preview, a single-file
// recovery): every call goes through one lock per wrapped device.
#include <cstdint>
#include <mutex>

#include "storage/StorageDevice.h"

class CSerialDevice : public IStorageDevice {
public:
    // `device` is not owned and must outlive the wrapper.
    explicit CSerialDevice(IStorageDevice* device) : m_device(device) {}

    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_device ? m_device->ReadSectors(buffer, firstSector, sectorCount) : 0;
    }
    std::uint64_t GetSectorCount() override {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_device ? m_device->GetSectorCount() : 0;
    }
    int Open() override {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_device ? m_device->Open() : 0;
    }
    int Close() override {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_device ? m_device->Close() : 0;
    }
    IStorageDevice* Inner() const { return m_device; }

private:
    IStorageDevice* m_device;
    std::mutex m_lock;
};
