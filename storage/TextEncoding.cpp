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
