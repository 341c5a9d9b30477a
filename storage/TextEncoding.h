#pragma once
// The one UTF-8 encoder: UTF-16 names read from disk (NTFS names, FAT long names, EFS texts),
// and single code points for the code-page tables and the document previews. Never fails: an
// unpaired surrogate becomes '_'.
#include <cstddef>
#include <cstdint>
#include <string>

enum Utf16ToUtf8Flags : unsigned {
    kUtf16StopAtNul = 1,              // the text ends at the first zero unit
    kUtf16NoncharactersAsUnderscore = 2, // U+FFFE and U+FFFF (padding in FAT names) become '_'
};

// Appends code point `cp` (at most U+10FFFF, not a surrogate: callers pair or drop those) as
// UTF-8.
void AppendUtf8(std::string& out, std::uint32_t cp);

// Length of the valid UTF-8 sequence at bytes[0] (1..4), or 0 when there is none: a stray
// continuation byte, an overlong form, a surrogate, a code point past U+10FFFF or a sequence
// cut short by `available`.
std::size_t Utf8SequenceLength(const std::uint8_t* bytes, std::size_t available);

// `count` units given in host order.
std::string Utf16UnitsToUtf8(const std::uint16_t* units, std::size_t count, unsigned flags = 0);
// `count` units stored little-endian at any alignment (2 * count bytes).
std::string Utf16LeToUtf8(const void* bytes, std::size_t count, unsigned flags = 0);
