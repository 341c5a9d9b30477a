#pragma once
// Small helpers of the analysers that size text files by scanning them (RTF, HTML, PDF, EPS).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "carving/analysers/RawFileReader.h"

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

// Whether a byte may follow an end-of-file comment in text that goes on (a PDF's incremental
// update, the next of several embedded PostScript files).
constexpr bool IsLineText(std::uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) || b == '\r' || b == '\n';
}

enum class PercentScan {
    Decided,    // the marker callback has sized the file
    PastCap,    // the scan passed the cap
    OutOfBytes, // the bytes ran out (the device's end, or the edge of the search's ring)
};

// Steps through a PostScript or PDF text from offset `x` to each '%' (the byte that starts their
// comments and markers), up to `cap`, and asks `marker(offset, bytes)` (the bytes from the '%',
// at least 10 where the file holds them) where to go on: an offset behind the '%', or 0 once it
// has decided. On return `x` is where the scan stopped.
template <typename Marker>
PercentScan ScanPercentMarkers(RawFileReader& reader, std::uint64_t& x, std::uint64_t cap,
                               Marker marker) {
    for (;;) {
        if (x > cap)
            return PercentScan::PastCap;
        ByteSpan s = reader.Read(x);
        if (s.empty())
            return PercentScan::OutOfBytes;
        const std::size_t span =
            static_cast<std::size_t>(std::min<std::uint64_t>(s.size(), cap - x + 1));
        const void* pct = std::memchr(s.data(), '%', span);
        if (!pct) {
            x += span;
            continue;
        }
        const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(pct) - s.data());
        x += at;
        // Read again only where fewer than 10 bytes are at hand.
        s = s.size() - at >= 10 ? s.from(at) : reader.Read(x);
        const std::uint64_t next = marker(x, s);
        if (next == 0)
            return PercentScan::Decided;
        x = next;
    }
}

// The size a scan that `marker` did not decide ends with: behind the last end comment seen
// (`lastEnd`, 0 for none), else where the scan passed the cap; 0 (give up) where the bytes ran
// out before any end comment, or at the edge of the search's ring (`window`), beyond which the
// file may go on.
inline std::uint64_t PercentScanSize(PercentScan how, std::uint64_t x, std::uint64_t lastEnd,
                                     bool window) {
    if (how == PercentScan::PastCap)
        return lastEnd ? lastEnd : x;
    return window ? 0 : lastEnd;
}
