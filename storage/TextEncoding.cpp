#include "storage/TextEncoding.h"

#include "storage/ByteSpan.h"

namespace {

template <typename UnitAt>
std::string Encode(std::size_t count, unsigned flags, UnitAt unitAt) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t u = unitAt(i);
        if (u == 0 && (flags & kUtf16StopAtNul))
            break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const std::uint32_t lo = unitAt(i + 1);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if ((u >= 0xD800 && u <= 0xDFFF) ||
            ((flags & kUtf16NoncharactersAsUnderscore) && (u == 0xFFFE || u == 0xFFFF)))
            out += '_';
        else
            AppendUtf8(out, u);
    }
    return out;
}

} // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Utf16UnitsToUtf8(const std::uint16_t* units, std::size_t count, unsigned flags) {
    if (!units)
        return {};
    return Encode(count, flags, [units](std::size_t i) { return units[i]; });
}

std::string Utf16LeToUtf8(const void* bytes, std::size_t count, unsigned flags) {
    if (!bytes)
        return {};
    const ByteSpan span(bytes, 2 * count);
    return Encode(count, flags, [&span](std::size_t i) { return span.u16(2 * i); });
}

std::size_t Utf8SequenceLength(const std::uint8_t* b, std::size_t n) {
    if (n == 0)
        return 0;
    const std::uint8_t c = b[0];
    if (c < 0x80)
        return 1;
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (n < len)
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((b[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b[k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return len;
}
