#include "filesystems/ntfs/NtfsStandardContent.h"

#include <cstring>
#include <vector>

namespace {

struct AttrDefEntry {
    const char* name;
    std::uint32_t type;
    std::uint32_t flags;
    std::int64_t minSize;
    std::int64_t maxSize;
};

// The attribute definitions of an NTFS 3.1 volume; each takes 160 bytes (UTF-16 name padded
// to 128 bytes, type, display rule, collation rule, flags, minimum and maximum size), and the
// table is padded with zeros to 2560 bytes.
constexpr AttrDefEntry kAttrDefs[] = {
    {"$STANDARD_INFORMATION", 0x10, 0x40, 48, 72},
    {"$ATTRIBUTE_LIST", 0x20, 0x80, 0, -1},
    {"$FILE_NAME", 0x30, 0x42, 68, 578},
    {"$OBJECT_ID", 0x40, 0x40, 0, 256},
    {"$SECURITY_DESCRIPTOR", 0x50, 0x80, 0, -1},
    {"$VOLUME_NAME", 0x60, 0x40, 2, 256},
    {"$VOLUME_INFORMATION", 0x70, 0x40, 12, 12},
    {"$DATA", 0x80, 0x00, 0, -1},
    {"$INDEX_ROOT", 0x90, 0x40, 0, -1},
    {"$INDEX_ALLOCATION", 0xA0, 0x80, 0, -1},
    {"$BITMAP", 0xB0, 0x80, 0, -1},
    {"$REPARSE_POINT", 0xC0, 0x80, 0, 16384},
    {"$EA_INFORMATION", 0xD0, 0x40, 8, 8},
    {"$EA", 0xE0, 0x00, 0, 65536},
    {"$LOGGED_UTILITY_STREAM", 0x100, 0x80, 0, 65536},
};

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::vector<std::uint8_t> BuildAttrDef() {
    std::vector<std::uint8_t> out(kNtfsAttrDefBytes, 0);
    std::uint8_t* e = out.data();
    for (const AttrDefEntry& d : kAttrDefs) {
        for (std::size_t i = 0; d.name[i]; ++i)
            e[2 * i] = static_cast<std::uint8_t>(d.name[i]);
        Put32(e + 0x80, d.type);
        Put32(e + 0x8C, d.flags);
        Put64(e + 0x90, static_cast<std::uint64_t>(d.minSize));
        Put64(e + 0x98, static_cast<std::uint64_t>(d.maxSize));
        e += 160;
    }
    return out;
}

// Upper-case mapping as ranges: `count` code units from `first`, `stride` apart, each mapped
// to itself plus `delta` (mod 65536). Every other code unit maps to itself.
struct UpCaseRange {
    std::uint16_t first;
    std::uint16_t count;
    std::uint8_t stride;
    std::uint16_t delta;
};

constexpr UpCaseRange kUpCaseRanges[] = {
    {0x0061, 26, 1, 0xFFE0}, {0x00E0, 23, 1, 0xFFE0}, {0x00F8, 7, 1, 0xFFE0},
    {0x00FF, 1, 1, 0x0079}, {0x0101, 24, 2, 0xFFFF}, {0x0133, 3, 2, 0xFFFF},
    {0x013A, 8, 2, 0xFFFF}, {0x014B, 23, 2, 0xFFFF}, {0x017A, 3, 2, 0xFFFF},
    {0x0180, 1, 1, 0x00C3}, {0x0183, 2, 2, 0xFFFF}, {0x0188, 1, 1, 0xFFFF}, {0x018C, 1, 1, 0xFFFF},
    {0x0192, 1, 1, 0xFFFF}, {0x0195, 1, 1, 0x0061}, {0x0199, 1, 1, 0xFFFF}, {0x019A, 1, 1, 0x00A3},
    {0x019E, 1, 1, 0x0082}, {0x01A1, 3, 2, 0xFFFF}, {0x01A8, 1, 1, 0xFFFF}, {0x01AD, 1, 1, 0xFFFF},
    {0x01B0, 1, 1, 0xFFFF}, {0x01B4, 2, 2, 0xFFFF}, {0x01B9, 1, 1, 0xFFFF}, {0x01BD, 1, 1, 0xFFFF},
    {0x01BF, 1, 1, 0x0038}, {0x01C6, 1, 1, 0xFFFE}, {0x01C9, 1, 1, 0xFFFE}, {0x01CC, 1, 1, 0xFFFE},
    {0x01CE, 7, 2, 0xFFFF}, {0x01DC, 1, 1, 0xFFFF}, {0x01DD, 1, 1, 0xFFB1}, {0x01DF, 9, 2, 0xFFFF},
    {0x01F3, 1, 1, 0xFFFE}, {0x01F5, 1, 1, 0xFFFF}, {0x01F9, 20, 2, 0xFFFF},
    {0x0223, 9, 2, 0xFFFF}, {0x023C, 1, 1, 0xFFFF}, {0x0242, 1, 1, 0xFFFF}, {0x0247, 4, 2, 0xFFFF},
    {0x024F, 1, 1, 0xFFFF}, {0x0250, 1, 1, 0x2A1F}, {0x0251, 1, 1, 0x2A1C}, {0x0253, 1, 1, 0xFF2E},
    {0x0254, 1, 1, 0xFF32}, {0x0256, 2, 1, 0xFF33}, {0x0259, 1, 1, 0xFF36}, {0x025B, 1, 1, 0xFF35},
    {0x0260, 1, 1, 0xFF33}, {0x0263, 1, 1, 0xFF31}, {0x0268, 1, 1, 0xFF2F}, {0x0269, 1, 1, 0xFF2D},
    {0x026B, 1, 1, 0x29F7}, {0x026F, 1, 1, 0xFF2D}, {0x0271, 1, 1, 0x29FD}, {0x0272, 1, 1, 0xFF2B},
    {0x0275, 1, 1, 0xFF2A}, {0x027D, 1, 1, 0x29E7}, {0x0280, 1, 1, 0xFF26}, {0x0283, 1, 1, 0xFF26},
    {0x0288, 1, 1, 0xFF26}, {0x0289, 1, 1, 0xFFBB}, {0x028A, 2, 1, 0xFF27}, {0x028C, 1, 1, 0xFFB9},
    {0x0292, 1, 1, 0xFF25}, {0x0371, 2, 2, 0xFFFF}, {0x0377, 1, 1, 0xFFFF}, {0x037B, 3, 1, 0x0082},
    {0x03AC, 1, 1, 0xFFDA}, {0x03AD, 3, 1, 0xFFDB}, {0x03B1, 17, 1, 0xFFE0},
    {0x03C3, 9, 1, 0xFFE0}, {0x03CC, 1, 1, 0xFFC0}, {0x03CD, 2, 1, 0xFFC1}, {0x03D7, 1, 1, 0xFFF8},
    {0x03D9, 12, 2, 0xFFFF}, {0x03F2, 1, 1, 0x0007}, {0x03F8, 1, 1, 0xFFFF},
    {0x03FB, 1, 1, 0xFFFF}, {0x0430, 32, 1, 0xFFE0}, {0x0450, 16, 1, 0xFFB0},
    {0x0461, 17, 2, 0xFFFF}, {0x048B, 27, 2, 0xFFFF}, {0x04C2, 6, 2, 0xFFFF},
    {0x04CE, 1, 1, 0xFFFF}, {0x04CF, 1, 1, 0xFFF1}, {0x04D1, 42, 2, 0xFFFF},
    {0x0561, 38, 1, 0xFFD0}, {0x1D79, 1, 1, 0x8A04}, {0x1D7D, 1, 1, 0x0EE6},
    {0x1E01, 75, 2, 0xFFFF}, {0x1EA1, 47, 2, 0xFFFF}, {0x1EFF, 1, 1, 0xFFFF},
    {0x1F00, 8, 1, 0x0008}, {0x1F10, 6, 1, 0x0008}, {0x1F20, 8, 1, 0x0008}, {0x1F30, 8, 1, 0x0008},
    {0x1F40, 6, 1, 0x0008}, {0x1F51, 4, 2, 0x0008}, {0x1F60, 8, 1, 0x0008}, {0x1F70, 2, 1, 0x004A},
    {0x1F72, 4, 1, 0x0056}, {0x1F76, 2, 1, 0x0064}, {0x1F78, 2, 1, 0x0080}, {0x1F7A, 2, 1, 0x0070},
    {0x1F7C, 2, 1, 0x007E}, {0x1F80, 8, 1, 0x0008}, {0x1F90, 8, 1, 0x0008}, {0x1FA0, 8, 1, 0x0008},
    {0x1FB0, 2, 1, 0x0008}, {0x1FB3, 1, 1, 0x0009}, {0x1FC3, 1, 1, 0x0009}, {0x1FD0, 2, 1, 0x0008},
    {0x1FE0, 2, 1, 0x0008}, {0x1FE5, 1, 1, 0x0007}, {0x1FF3, 1, 1, 0x0009}, {0x214E, 1, 1, 0xFFE4},
    {0x2170, 16, 1, 0xFFF0}, {0x2184, 1, 1, 0xFFFF}, {0x24D0, 26, 1, 0xFFE6},
    {0x2C30, 47, 1, 0xFFD0}, {0x2C61, 1, 1, 0xFFFF}, {0x2C65, 1, 1, 0xD5D5},
    {0x2C66, 1, 1, 0xD5D8}, {0x2C68, 3, 2, 0xFFFF}, {0x2C73, 1, 1, 0xFFFF}, {0x2C76, 1, 1, 0xFFFF},
    {0x2C81, 50, 2, 0xFFFF}, {0x2D00, 38, 1, 0xE3A0}, {0xA641, 16, 2, 0xFFFF},
    {0xA663, 6, 2, 0xFFFF}, {0xA681, 12, 2, 0xFFFF}, {0xA723, 7, 2, 0xFFFF},
    {0xA733, 31, 2, 0xFFFF}, {0xA77A, 2, 2, 0xFFFF}, {0xA77F, 5, 2, 0xFFFF},
    {0xA78C, 1, 1, 0xFFFF}, {0xFF41, 26, 1, 0xFFE0},
};

std::vector<std::uint8_t> BuildUpCase() {
    std::vector<std::uint8_t> out(kNtfsUpCaseBytes);
    std::vector<std::uint16_t> table(65536);
    for (std::uint32_t i = 0; i < 65536; ++i)
        table[i] = static_cast<std::uint16_t>(i);
    for (const UpCaseRange& r : kUpCaseRanges)
        for (std::uint32_t k = 0; k < r.count; ++k) {
            const std::uint32_t c = r.first + k * r.stride;
            table[c] = static_cast<std::uint16_t>(c + r.delta);
        }
    for (std::uint32_t i = 0; i < 65536; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(table[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(table[i] >> 8);
    }
    return out;
}

} // namespace

const std::uint8_t* NtfsStandardAttrDef() {
    static const std::vector<std::uint8_t> table = BuildAttrDef();
    return table.data();
}

const std::uint8_t* NtfsStandardUpCase() {
    static const std::vector<std::uint8_t> table = BuildUpCase();
    return table.data();
}

int NtfsUpCaseSectorStartingWith(std::uint16_t first) {
    static const std::vector<std::int16_t> index = [] {
        std::vector<std::int16_t> out(65536, -1);
        const std::uint8_t* table = NtfsStandardUpCase();
        for (int n = 0; n < static_cast<int>(kNtfsUpCaseSectors); ++n) {
            const std::uint16_t c = static_cast<std::uint16_t>(table[n * 512] | table[n * 512 + 1] << 8);
            if (out[c] == -1)
                out[c] = static_cast<std::int16_t>(n);
        }
        return out;
    }();
    return index[first];
}
