#include "carving/analysers/RawFileReader.h"

#include <memory>

namespace {

// One block buffer per thread, owned by the reader that filled it last.
struct BlockBuffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    const RawFileReader* owner = nullptr;
    std::uint64_t block = 0;
    std::uint64_t validBytes = 0;
};

thread_local BlockBuffer t_buffer;

constexpr std::uint64_t kBufferSectors = kRawReaderBlockSectors + 1;

} // namespace

RawFileReader::RawFileReader(IStorageDevice* device, std::uint64_t firstSector)
    : m_device(device), m_window(dynamic_cast<IInMemorySectorWindow*>(device)),
      m_firstSector(firstSector) {}

RawFileReader::~RawFileReader() {
    if (t_buffer.owner == this)
        t_buffer.owner = nullptr;
}

ByteSpan RawFileReader::Read(std::uint64_t offset) {
    if (!m_device)
        return ByteSpan();
    const std::uint64_t sectorInFile = offset / kSectorSize;
    std::uint64_t sector = 0;
    if (__builtin_add_overflow(m_firstSector, sectorInFile, &sector))
        return ByteSpan();
    if (m_window) {
        std::uint64_t contiguous = 0;
        const std::uint8_t* p = m_window->PeekSectors(sector, &contiguous);
        if (!p || contiguous == 0)
            return ByteSpan();
        const std::uint64_t within = offset % kSectorSize;
        const std::uint64_t available = contiguous * kSectorSize - within;
        // Where the window wraps in memory, copy so the caller still gets a whole sector.
        if (available >= kSectorSize)
            return ByteSpan(p + within, static_cast<std::size_t>(available));
    }
    return ReadCopied(offset);
}

ByteSpan RawFileReader::Read(std::uint64_t offset, std::size_t length) {
    ByteSpan s = Read(offset);
    return s.has(0, length) ? ByteSpan(s.data(), length) : ByteSpan();
}

ByteSpan RawFileReader::ReadCopied(std::uint64_t offset) {
    BlockBuffer& b = t_buffer;
    if (!b.bytes)
        b.bytes.reset(new std::uint8_t[kBufferSectors * kSectorSize]);
    const std::uint64_t block = offset / kRawReaderBlockBytes;
    const std::uint64_t pos = offset % kRawReaderBlockBytes;
    if (b.owner != this || b.block != block) {
        std::uint64_t first = 0;
        if (__builtin_add_overflow(m_firstSector, block * kRawReaderBlockSectors, &first))
            return ByteSpan();
        std::uint64_t got = 0;
        if (m_device->ReadSectors(b.bytes.get(), first, kBufferSectors)) {
            got = kBufferSectors;
        } else {
            // Near the end of the device, or before an unreadable sector: keep the longest run
            // of sectors that can be read (found by halving).
            std::uint64_t lo = 0, hi = kBufferSectors - 1;
            while (lo < hi) {
                const std::uint64_t mid = (lo + hi + 1) / 2;
                if (m_device->ReadSectors(b.bytes.get(), first, mid))
                    lo = mid;
                else
                    hi = mid - 1;
            }
            if (lo > 0 && !m_device->ReadSectors(b.bytes.get(), first, lo))
                lo = 0;
            got = lo;
        }
        if (got == 0) {
            b.owner = nullptr;
            return ByteSpan();
        }
        b.owner = this;
        b.block = block;
        b.validBytes = got * kSectorSize;
    }
    if (pos >= b.validBytes)
        return ByteSpan();
    return ByteSpan(b.bytes.get() + pos, static_cast<std::size_t>(b.validBytes - pos));
}
