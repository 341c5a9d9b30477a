#pragma once
// The bounded byte view through which analysers read a carved file from a device: byte offsets
// count from the file's first sector. Reads go to the device in blocks of 1024 sectors plus one
// sector of look-ahead, cached by block, so byte-wise scans and record walks cost one device
// read per 512 KiB. A device that holds its sectors in memory (the RAW search's ring) is read
// in place, without a copy.
#include <cstddef>
#include <cstdint>

#include "storage/ByteSpan.h"
#include "storage/StorageDevice.h"

// Implemented by a device that holds a window of another device's sectors in memory (the RAW
// search's ring of recent chunks).
class IInMemorySectorWindow {
public:
    virtual ~IInMemorySectorWindow() = default;
    // Pointer to sector `first` and, in *contiguous, how many sectors from there lie one after
    // the other in memory; null when the window does not hold `first`.
    virtual const std::uint8_t* PeekSectors(std::uint64_t first, std::uint64_t* contiguous) = 0;
};

constexpr std::uint64_t kRawReaderBlockSectors = 1024;
constexpr std::uint64_t kRawReaderBlockBytes = kRawReaderBlockSectors * kSectorSize;

class RawFileReader {
public:
    RawFileReader(IStorageDevice* device, std::uint64_t firstSector);
    ~RawFileReader();
    RawFileReader(const RawFileReader&) = delete;
    RawFileReader& operator=(const RawFileReader&) = delete;

    // The file's bytes from `offset` on, as many as are at hand (normally at least 512; fewer
    // only at the end of what the device holds), or an empty span when the byte at `offset`
    // cannot be read.
    ByteSpan Read(std::uint64_t offset);
    // Exactly `length` bytes (at most 512) at `offset`, or an empty span.
    ByteSpan Read(std::uint64_t offset, std::size_t length);

    // True when the device is only a window of the searched device (the RAW search's ring): an
    // offset that cannot be read there says nothing about where the file ends, so a walk that
    // would end the file at an unreadable offset should give up instead, leaving the file to be
    // sized on the real device.
    bool IsWindow() const { return m_window != nullptr; }
    std::uint64_t GetFirstSector() const { return m_firstSector; }

private:
    ByteSpan ReadCopied(std::uint64_t offset);

    IStorageDevice* m_device;
    IInMemorySectorWindow* m_window;
    std::uint64_t m_firstSector;
};
