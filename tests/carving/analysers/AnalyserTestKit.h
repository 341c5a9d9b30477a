#pragma once
// Planting a file in an in-memory device and asking the whole registry about it, as the RAW
// search and the RAW tree do: the first analyser that accepts the file's first sector takes
// it, and sizes it when the header gave no size.
#include "carving/RawFileAnalyserRegistry.h"
#include "filesystems/FileProperties.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace analysertest {

using Bytes = std::vector<std::uint8_t>;

struct Outcome {
    bool matched = false;
    std::string analyser; // class name of the analyser that took the sector
    std::uint32_t fileType = 0;
    std::uint64_t headerSize = 0; // what MatchHeader wrote
    int sized = -1;               // ComputeFileSize's result (-1: not called)
    std::uint64_t size = 0;       // the final size
};

inline std::string ClassName(const IRawFileAnalyser& a) {
    for (const char* name : GetRegisteredAnalyserNames()) {
        std::unique_ptr<IRawFileAnalyser> probe = CreateAnalyserByName(name);
        if (!probe)
            continue;
        const IRawFileAnalyser& made = *probe;
        if (typeid(made) == typeid(a) && made.GetTypeId() == a.GetTypeId())
            return name; // one class may serve two types (MPEG-4 and 3GPP)
    }
    return "?";
}

// A device of `file` at sector `start`, behind and after it `junk` bytes of pattern (or zeros).
inline std::unique_ptr<testsupport::MemoryDevice> Plant(const Bytes& file, std::uint64_t start,
                                                       std::size_t after, bool zeros = false) {
    const std::size_t total = start * 512 + file.size() + after;
    Bytes image = zeros ? Bytes(total, 0) : testsupport::PatternBytes(total, 0x5EED);
    std::memcpy(image.data() + start * 512, file.data(), file.size());
    return std::make_unique<testsupport::MemoryDevice>(std::move(image));
}

// Offers the first sector to the full registry, then sizes on the device like the RAW tree.
inline Outcome CarveAt(testsupport::MemoryDevice& dev, std::uint64_t start) {
    static RawFileAnalyserList list;
    if (list.Empty())
        CreateAllRawFileAnalysers(&list);
    Outcome out;
    CRawFileInfo r;
    const int at = MatchSectorByWalk(list, dev.Sector(start), &r);
    if (at < 0)
        return out;
    IRawFileAnalyser* a = list.At(static_cast<std::size_t>(at));
    out.matched = true;
    out.analyser = ClassName(*a);
    out.fileType = r.m_u32FileType;
    out.headerSize = r.m_u64Size;
    r.m_u64StartSector = start;
    if (r.m_u64Size == 0)
        out.sized = a->ComputeFileSize(&r, &dev);
    out.size = r.m_u64Size;
    return out;
}

inline Outcome Carve(const Bytes& file, std::uint64_t start = 5, std::size_t after = 64 * 1024,
                     bool zeros = false) {
    auto dev = Plant(file, start, after, zeros);
    return CarveAt(*dev, start);
}

// Sets ScanOptions.MaxRawFileSize for one scope.
class ScopedCap {
public:
    explicit ScopedCap(std::uint64_t cap) : m_saved(GetScanOptions().MaxRawFileSize) {
        GetScanOptions().MaxRawFileSize = cap;
    }
    ~ScopedCap() { GetScanOptions().MaxRawFileSize = m_saved; }

private:
    std::uint64_t m_saved;
};

// Little- and big-endian writers for hand-built headers.
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
inline void PutBe16(Bytes& b, std::size_t at, std::uint16_t v) {
    if (b.size() < at + 2)
        b.resize(at + 2);
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}
inline void PutBe32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutBe16(b, at, static_cast<std::uint16_t>(v >> 16));
    PutBe16(b, at + 2, static_cast<std::uint16_t>(v));
}
inline void PutBytes(Bytes& b, std::size_t at, const void* p, std::size_t n) {
    if (b.size() < at + n)
        b.resize(at + n);
    std::memcpy(b.data() + at, p, n);
}
inline void PutText(Bytes& b, std::size_t at, const char* s) { PutBytes(b, at, s, std::strlen(s)); }

} // namespace analysertest
