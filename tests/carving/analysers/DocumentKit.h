#pragma once
// Helpers of the document-analyser tests: a file placed on an in-memory device, matched and
// sized the way the RAW search and the RAW tree do it.
#include "carving/analysers/RawFileAnalyser.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <string>
#include <vector>

namespace dockit {

using Bytes = std::vector<std::uint8_t>;

struct Carved {
    int matched = 0;
    int result = -1;              // ComputeFileSize's result (-1: not called)
    std::uint32_t type = 0;       // file-type id after sizing
    std::uint64_t headerSize = 0; // size written by MatchHeader
    std::uint64_t size = 0;       // size after sizing
};

// Puts `file` at sector `start` of a device, `tail` right behind its last byte and zeros
// after that (the device holds `spare` sectors past the data), then matches the first sector
// and, on a match, sizes the file.
inline Carved Carve(IRawFileAnalyser& a, const Bytes& file, const Bytes& tail = {},
                    std::uint64_t start = 3, std::uint64_t spare = 4) {
    const std::uint64_t bytes = file.size() + tail.size();
    testsupport::MemoryDevice dev(start + (bytes + 511) / 512 + spare);
    std::memcpy(dev.Sector(start), file.data(), file.size());
    if (!tail.empty())
        std::memcpy(dev.Sector(start) + file.size(), tail.data(), tail.size());
    Carved c;
    CRawFileInfo r;
    c.matched = a.MatchHeader(dev.Sector(start), &r);
    c.type = r.m_u32FileType;
    c.headerSize = r.m_u64Size;
    if (!c.matched)
        return c;
    r.m_u64StartSector = start;
    c.result = a.ComputeFileSize(&r, &dev);
    c.type = r.m_u32FileType;
    c.size = r.m_u64Size;
    return c;
}

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, static_cast<std::uint16_t>(v));
    Put16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
inline void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
    Put32(b, at, static_cast<std::uint32_t>(v));
    Put32(b, at + 4, static_cast<std::uint32_t>(v >> 32));
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

// Sets ScanOptions.MaxRawFileSize for the life of the object.
class ScopedMaxRawFileSize {
public:
    explicit ScopedMaxRawFileSize(std::uint64_t limit);
    ~ScopedMaxRawFileSize();

private:
    std::uint64_t m_saved;
};

} // namespace dockit
