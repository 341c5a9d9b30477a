#pragma once
// Small helpers of the analysers that size text files by scanning them (RTF, HTML).
#include <cstddef>
#include <cstdint>

// Whether a byte (or UTF-16 unit) can occur in a text file: anything but the control codes,
// of which tab, line and page breaks, SUB and ESC are allowed. Disk slack behind a file is
// mostly zeros or binary data, so the first byte that cannot be text ends a text scan.
constexpr bool CanBeTextUnit(std::uint32_t c) {
    if (c >= 0x20)
        return true;
    switch (c) {
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x1A:
    case 0x1B:
        return true;
    default:
        return false;
    }
}

constexpr std::uint32_t AsciiLower(std::uint32_t c) {
    return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

// Whether the `length` bytes at `p` equal the ASCII text `text` without regard to case.
inline bool EqualsNoCase(const std::uint8_t* p, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (AsciiLower(p[i]) != AsciiLower(static_cast<std::uint8_t>(text[i])))
            return false;
    return true;
}

// The same over little-endian UTF-16 units at `p`.
inline bool EqualsNoCase16(const std::uint8_t* p, const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint32_t c = p[2 * i] | (std::uint32_t(p[2 * i + 1]) << 8);
        if (AsciiLower(c) != AsciiLower(static_cast<std::uint8_t>(text[i])))
            return false;
    }
    return true;
}
