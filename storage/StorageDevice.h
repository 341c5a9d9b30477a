#pragma once
// The one sector-device interface every reader of the system goes through.
#include <cstdint>

constexpr std::uint32_t kSectorSize = 512;

class IStorageDevice {
public:
    virtual ~IStorageDevice() = default;
    // Reads `sectorCount` whole 512-byte sectors starting at `firstSector` into `buffer`.
    // Returns 1 when every requested sector was delivered, 0 otherwise.
    virtual int ReadSectors(void* buffer, std::uint64_t firstSector, std::uint64_t sectorCount) = 0;
    virtual std::uint64_t GetSectorCount() = 0;
    virtual int Open() = 0;
    virtual int Close() = 0;
};
