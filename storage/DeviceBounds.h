#pragma once
// What a device holds from a given sector on: the bound every size read from a disk or a saved
// state is cut to before anything is read or written for it.
#include <algorithm>
#include <cstdint>

#include "storage/StorageDevice.h"

// Bytes a device of `deviceSectors` sectors holds from `startSector` to its end; 0 when the
// start lies at or past the end.
constexpr std::uint64_t BytesToDeviceEnd(std::uint64_t deviceSectors, std::uint64_t startSector) {
    if (startSector >= deviceSectors)
        return 0;
    const std::uint64_t sectors = deviceSectors - startSector;
    return sectors > UINT64_MAX / kSectorSize ? UINT64_MAX : sectors * kSectorSize;
}

// `size` bytes starting at `startSector`, cut to what the device holds from there.
constexpr std::uint64_t CapSizeToDevice(std::uint64_t size, std::uint64_t deviceSectors,
                                        std::uint64_t startSector) {
    return std::min(size, BytesToDeviceEnd(deviceSectors, startSector));
}
