#pragma once
// A bounded reader of rich text: groups, paragraphs, tabs, bold, italic, underline, font size,
// the colour table, \'hh in the document's code page (Windows-1252 unless \ansicpg names
// another; only 1252 is mapped, others fall back to it) and \uN with \ucN. Destinations that
// hold no body text (\*, font table, style sheet, info, pictures, objects, ...) are skipped, and
// so is the data of \binN (bounded by the input's end).
// Nesting depth and output size are limited, so no input can exhaust the stack or memory.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RtfRun {
    std::string text; // UTF-8; paragraphs end in "\n", tabs are "\t"
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int halfPoints = 24;     // font size in half points (\fsN)
    bool hasColor = false;
    std::uint32_t color = 0; // 0xRRGGBB from the colour table
};

struct RtfDocument {
    std::vector<RtfRun> runs;
    bool truncated = false; // the output limit was reached
    std::string PlainText() const;
};

constexpr std::size_t kRtfMaxDepth = 200;
constexpr std::size_t kRtfMaxOutput = 16u << 20;

// Reads the document; false when the bytes do not start with "{\rtf".
bool ReadRtf(const std::uint8_t* data, std::size_t size, RtfDocument* out,
             std::size_t maxOutput = kRtfMaxOutput);

// Whether a file looks like rich text: longer than 4 bytes, starting with "{\rtf" (any case in
// the first four characters), and its last byte that is not 0, '\n' or '\r' (within the last
// 512 bytes) is '}'. Any read error gives false.
bool IsRtfFile(const std::string& path);
