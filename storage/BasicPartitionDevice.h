#pragma once
// A window of sectors on another device (a partition of a disk, a region of an image).
#include "storage/StorageDevice.h"

#include <cstdint>

class CBasicPartitionDevice : public IStorageDevice {
public:
    // `inner` is not owned and must outlive the window.
    CBasicPartitionDevice(IStorageDevice* inner, std::uint64_t firstSector, std::uint64_t sectorCount);
    ~CBasicPartitionDevice() override = default;

    // Sector numbers are relative to the window. A read that runs past the window's end is
    // clipped and the tail of the buffer zeroed; one that starts at or past the end, or asks
    // for more sectors than the window has, fails.
    int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) override;
    std::uint64_t GetSectorCount() override { return m_sectorCount; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    std::uint64_t GetStartSector() const { return m_firstSector; }
    IStorageDevice* GetInnerDevice() const { return m_inner; }

private:
    IStorageDevice* m_inner;
    std::uint64_t m_firstSector;
    std::uint64_t m_sectorCount;
};
