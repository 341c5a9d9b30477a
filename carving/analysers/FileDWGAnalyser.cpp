#include "carving/analysers/FileDWGAnalyser.h"

#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstring>

namespace {

// Tried in this order.
const char* const kVersions[] = {"AC1018", "AC1015", "AC1014", "AC1013", "AC1009", "AC1012"};

// R2004: the 16 bytes that stand at 128 and again 108 bytes before the end of the file.
const std::uint8_t kR2004Sentinel[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF,
                                         0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
constexpr std::uint64_t kR2004SentinelAt = 128;
constexpr std::uint64_t kR2004Tail = 108;
constexpr std::uint64_t kR2004Limit = 0x1F400000;
// R13 to R2000: the image sentinel the header's image seeker points to.
const std::uint8_t kImageSentinel[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                         0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};
constexpr std::uint32_t kMaxLocators = 100;

int Version(const std::uint8_t* p) {
    for (int i = 0; i < 6; ++i)
        if (std::memcmp(p, kVersions[i], 6) == 0 && p[6] == 0 && p[7] == 0)
            return i;
    return -1;
}

int SizeR2004(CRawFileInfo* record, RawFileReader& reader) {
    if (!reader.Read(kR2004SentinelAt, 16).matches(0, kR2004Sentinel, 16))
        return 0;
    const std::uint64_t limit = std::min<std::uint64_t>(GetScanOptions().MaxRawFileSize, kR2004Limit);
    std::uint64_t x = kR2004SentinelAt + 16;
    while (x <= limit) {
        ByteSpan s = reader.Read(x);
        if (s.size() < 16) {
            // Out of bytes: early on, or in the RAW search's ring, that says nothing.
            if (x <= 512 || reader.IsWindow())
                return 0;
            record->m_u64Size = x + s.size(); // the first byte that cannot be read
            return 1;
        }
        const std::uint64_t usable = std::min<std::uint64_t>(s.size() - 15, limit - x + 1);
        const void* hit = memmem(s.data(), static_cast<std::size_t>(usable) + 15, kR2004Sentinel, 16);
        if (hit) {
            record->m_u64Size = x + static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(hit) - s.data()) + kR2004Tail;
            return 1;
        }
        x += usable;
    }
    record->m_u64Size = x;
    return 1;
}

// R13 to R2000: the section locator with the greatest seeker ends the file.
int SizeR13(CRawFileInfo* record, RawFileReader& reader) {
    ByteSpan head = reader.Read(0, 25);
    if (head.empty())
        return 0;
    const std::uint64_t image = head.u32(13);
    const std::uint32_t count = head.u32(21);
    if (image == 0 || count < 1 || count > kMaxLocators)
        return 0;
    if (!reader.Read(image, 16).matches(0, kImageSentinel, 16))
        return 0;
    std::uint64_t seeker = 0, size = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        ByteSpan locator = reader.Read(25 + 9ull * i, 9); // number, seeker, size
        if (locator.empty())
            return 0;
        if (i == 0 || locator.u32(1) > seeker) {
            seeker = locator.u32(1);
            size = locator.u32(5);
        }
    }
    if (seeker == 0 || size == 0)
        return 0;
    record->m_u64Size = seeker + size;
    return 1;
}

} // namespace

int FileDWGAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    if (Version(sector) < 0)
        return 0;
    record->m_u32FileType = kTypeId;
    return 1;
}

int FileDWGAnalyser::ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) {
    RawFileReader reader(device, record->m_u64StartSector);
    ByteSpan head = reader.Read(0, 8);
    if (head.empty())
        return 0;
    const int version = Version(head.data());
    if (version == 0)
        return SizeR2004(record, reader);
    if (version < 0 || std::memcmp(head.data(), "AC1009", 6) == 0)
        return 0; // R11/R12 drawings carry nothing that gives their size
    return SizeR13(record, reader);
}
