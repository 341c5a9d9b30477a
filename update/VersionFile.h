#pragma once
// Reading the version file: an INI text read the way the Windows profile reader reads it, and
// the "Product Version" text. Both take bytes, never a file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pennat {

// A value handed out by the profile reader holds at most this many bytes (a 260-byte buffer
// with its terminating zero).
constexpr std::size_t kProfileValueMax = 259;

// Looks up `key` in `section` of the INI text data[0, size) as the Windows profile reader does:
// section and key names compare case-insensitively (ASCII), names and values are trimmed of
// blanks, one pair of matching surrounding quotes (" or ') is taken off a value, the first
// section of a name and the first key of a name in it count, lines starting with ';' are
// comments, lines end at CR or LF, and a leading UTF-8 byte-order mark is skipped. The value is
// cut to kProfileValueMax bytes. Returns false, with `value` empty, when the section or the key
// is missing.
bool GetProfileValue(const std::uint8_t* data, std::size_t size, std::string_view section,
                     std::string_view key, std::string& value);

// Reads "a.b.c.d": one to four decimal numbers of at most 65535 each, separated by single dots;
// missing trailing parts are 0. high = a << 16 | b, low = c << 16 | d. Returns false (outputs
// untouched) for anything else: empty text, empty parts, signs, blanks, other characters, more
// than four parts, a part above 65535.
bool ParseProductVersion(std::string_view text, std::uint32_t& high, std::uint32_t& low);

struct VersionFileInfo {
    std::uint32_t versionHigh = 0;
    std::uint32_t versionLow = 0;
    std::string description; // at most kProfileValueMax bytes
    std::string url;         // at most kProfileValueMax bytes
};

// Reads a version file: section "VERSION" with "Product Version" (required, see
// ParseProductVersion), "Description" and "URL" (empty when missing). Returns false, with
// `info` untouched, when the section or a valid "Product Version" is missing.
bool ParseVersionFile(const std::uint8_t* data, std::size_t size, VersionFileInfo& info);

} // namespace pennat
