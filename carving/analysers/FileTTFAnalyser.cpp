#include "carving/analysers/FileTTFAnalyser.h"

#include <cstring>

namespace {
const std::uint8_t kVersion[4] = {0x00, 0x01, 0x00, 0x00};
constexpr std::uint32_t kMaxTables = 31; // the directory then fits in the first sector
const char kKnownTags[][5] = {"DSIG", "cmap", "glyf", "head", "hhea", "hmtx", "loca",
                              "maxp", "name", "post", "OS/2", "cvt ", "EBDT", "EBLC",
                              "EBSC", "fpgm", "gasp", "hdmx", "kern", "LTSH", "prep",
                              "PCLT", "VDMX", "vhea", "vmtx"};

bool KnownTag(const std::uint8_t* tag) {
    for (const char* known : kKnownTags)
        if (std::memcmp(tag, known, 4) == 0)
            return true;
    return false;
}
} // namespace

int FileTTFAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const ByteSpan s(sector, kSectorSize);
    if (!s.matches(0, kVersion, sizeof(kVersion)))
        return 0;
    const std::uint32_t n = s.be16(4);
    if (n < 1 || n > kMaxTables)
        return 0;
    std::uint32_t known = 0;
    std::uint64_t size = 12 + 16ull * n;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t e = 12 + 16 * i; // tag, checksum, offset, length
        if (KnownTag(sector + e))
            ++known;
        size += (std::uint64_t(s.be32(e + 12)) + 3) / 4 * 4;
    }
    if (2 * known < n) // at least half of the tags known
        return 0;
    record->m_u32FileType = kTypeId;
    record->m_u64Size = size;
    return 1;
}
