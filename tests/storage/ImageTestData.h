#pragma once
// Sector contents used by the codec and image tests.
#include "tests/support/FixtureKit.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace imagetest {

enum class Fill { Tagged, Zero, Text, Random, Mixed };

inline const char* FillName(Fill f) {
    switch (f) {
    case Fill::Tagged: return "tagged";
    case Fill::Zero: return "zero";
    case Fill::Text: return "text";
    case Fill::Random: return "random";
    default: return "mixed";
    }
}

// `sectors` sectors of the given kind; Mixed cycles through the others every 37 sectors.
inline std::vector<std::uint8_t> MakeSectors(Fill fill, std::uint64_t sectors, std::uint32_t seed = 7) {
    std::vector<std::uint8_t> out(sectors * 512);
    std::vector<std::uint8_t> random = testsupport::PatternBytes(out.size(), seed);
    static const char kText[] =
        "The quick brown fox jumps over the lazy dog while the recovery engine images sectors. ";
    for (std::uint64_t s = 0; s < sectors; ++s) {
        std::uint8_t* p = out.data() + s * 512;
        Fill f = fill == Fill::Mixed ? static_cast<Fill>((s / 37) % 4) : fill;
        switch (f) {
        case Fill::Tagged: {
            char tag[64];
            int n = std::snprintf(tag, sizeof tag, "SECTOR %08llu seed %u ", (unsigned long long)s, seed);
            for (int i = 0; i < 512; ++i)
                p[i] = static_cast<std::uint8_t>(tag[i % n]);
            break;
        }
        case Fill::Zero:
            break;
        case Fill::Text:
            for (int i = 0; i < 512; ++i)
                p[i] = static_cast<std::uint8_t>(kText[(s * 512 + i) % (sizeof kText - 1)]);
            break;
        default:
            std::memcpy(p, random.data() + s * 512, 512);
            break;
        }
    }
    return out;
}

// Whole file in one read (an empty vector when it cannot be read).
inline std::vector<std::uint8_t> LoadFile(const std::string& path) {
    std::vector<std::uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return out;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long size = std::ftell(f);
        if (size > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
            out.resize(static_cast<std::size_t>(size));
            out.resize(std::fread(out.data(), 1, out.size(), f));
        }
    }
    std::fclose(f);
    return out;
}

inline std::string DecodeScript() { return std::string(BRULIN_SOURCE_DIR) + "/tests/storage/image_decode.py"; }

}  // namespace imagetest
