#pragma once
// Paging of a preview file as text and as hex rows, holding at most 1 MiB of it at a time.
// Text is shown as UTF-8; a byte that is not part of valid UTF-8 shows as its Windows-1252
// character. A line ends after '\n' or after at most 160 bytes, a break that would split a
// UTF-8 sequence moving back to the sequence's first byte.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr std::uint64_t kMaxPreviewFileSize = 0x6400000; // 100 MiB
constexpr std::size_t kPreviewWindowSize = 0x100000;     // 1 MiB
constexpr std::uint32_t kMaxPreviewLineBytes = 160;
constexpr std::uint32_t kHexRowBytes = 16;

// A read-only file seen through a window of at most 1 MiB.
class CPreviewFile {
public:
    CPreviewFile() = default;
    ~CPreviewFile();
    CPreviewFile(const CPreviewFile&) = delete;
    CPreviewFile& operator=(const CPreviewFile&) = delete;

    // Opens the file; false (and nothing held) when it cannot be read or is larger than
    // 100 MiB (exactly 100 MiB is accepted).
    bool Open(const std::string& path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    std::uint64_t Size() const { return m_size; }
    // Pointer to `length` bytes at `offset`, re-reading the window around it when needed; null
    // when they cannot all be read.
    const std::uint8_t* Fetch(std::uint64_t offset, std::size_t length);
    // How many bytes the window holds now (for tests).
    std::size_t WindowBytes() const { return m_buffer.size(); }

private:
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::uint64_t m_start = 0;
    std::vector<std::uint8_t> m_buffer;
};

// Step callback of the line-index build: 0..20; return false to stop early (the index then
// ends at the last break found, and the rest of the file is one last line).
using PreviewProgress = std::function<bool(int step)>;

// Line starts of the whole file: first 0, last the file size; lines = entries - 1. An empty
// file gives {0}.
std::vector<std::uint64_t> BuildTextLineIndex(CPreviewFile& file,
                                              const PreviewProgress& progress = {});
// Line holding `offset` (bisection; 0 for an offset at or past the end).
std::uint64_t TextOffsetToLine(const std::vector<std::uint64_t>& index, std::uint64_t offset);
// First byte of `line` (0 when past the count).
std::uint64_t TextLineToOffset(const std::vector<std::uint64_t>& index, std::uint64_t line);

// The first line shown for a request of `first` with `rows` rows of `count`: pulled back so a
// page is full where it can be.
std::uint64_t ClampFirstLine(std::uint64_t first, std::uint64_t rows, std::uint64_t count);

// One line's bytes as UTF-8 display text: control bytes below 0x1E become blanks, bytes that
// are not valid UTF-8 show as Windows-1252 characters.
std::string DecodeDisplayText(const std::uint8_t* bytes, std::size_t length);
// The UTF-8 form of one Windows-1252 byte ("" for the five undefined ones).
std::string Cp1252ToUtf8(std::uint8_t byte);

// Text of the page of lines [first, first + rows), each line followed by "\n".
std::string TextPage(CPreviewFile& file, const std::vector<std::uint64_t>& index,
                     std::uint64_t first, std::uint64_t rows);

// Hex rows: ceil(size / 16).
std::uint64_t HexRowCount(std::uint64_t size);
extern const char kHexHeading[];
// One row: offset, the bytes as hex, then the characters (below 0x1E as '.').
std::string HexRow(CPreviewFile& file, std::uint64_t row);
// The heading followed by the rows [first, first + rows).
std::string HexPage(CPreviewFile& file, std::uint64_t first, std::uint64_t rows);
