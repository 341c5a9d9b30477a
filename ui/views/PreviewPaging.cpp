#include "ui/views/PreviewPaging.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/TextEncoding.h"

CPreviewFile::~CPreviewFile() { Close(); }

bool CPreviewFile::Open(const std::string& path) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kMaxPreviewFileSize) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_size = static_cast<std::uint64_t>(st.st_size);
    m_start = 0;
    m_buffer.clear();
    if (m_size > 0 && !Fetch(0, 1)) {
        Close();
        return false;
    }
    return true;
}

void CPreviewFile::Close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_start = 0;
    m_buffer.clear();
    m_buffer.shrink_to_fit();
}

const std::uint8_t* CPreviewFile::Fetch(std::uint64_t offset, std::size_t length) {
    if (m_fd < 0 || length == 0 || length > kPreviewWindowSize || offset > m_size ||
        length > m_size - offset)
        return nullptr;
    if (offset >= m_start && offset + length <= m_start + m_buffer.size())
        return m_buffer.data() + (offset - m_start);
    // Keep a little before the offset, so short steps back do not re-read.
    const std::uint64_t back = std::min<std::uint64_t>(offset, 64);
    const std::uint64_t start = offset - back;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kPreviewWindowSize, m_size - start));
    m_buffer.resize(want);
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::pread(m_fd, m_buffer.data() + got, want - got,
                                  static_cast<off_t>(start + got));
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    m_buffer.resize(got);
    m_start = start;
    if (offset + length > m_start + m_buffer.size())
        return nullptr;
    return m_buffer.data() + (offset - m_start);
}

namespace {
bool IsContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }
} // namespace

std::vector<std::uint64_t> BuildTextLineIndex(CPreviewFile& file, const PreviewProgress& progress) {
    std::vector<std::uint64_t> index{0};
    const std::uint64_t size = file.Size();
    const std::uint64_t stepBytes = size >= 20 ? size / 20 : 0;
    int step = 0;
    std::uint64_t lineStart = 0;
    for (std::uint64_t i = 0; i < size; ++i) {
        if (stepBytes && progress) {
            const int now = static_cast<int>(std::min<std::uint64_t>(20, i / stepBytes));
            if (now > step) {
                step = now;
                if (!progress(step))
                    break;
            }
        }
        const std::uint8_t* b = file.Fetch(i, 1);
        if (!b)
            break;
        if (*b == '\n') {
            if (i + 1 < size)
                index.push_back(i + 1);
            lineStart = i + 1;
            continue;
        }
        if (i + 1 - lineStart < kMaxPreviewLineBytes || i + 1 >= size)
            continue;
        // The line is full: break after this byte, unless the next byte continues a UTF-8
        // sequence; then break before the sequence's lead byte (at most three steps back).
        std::uint64_t brk = i + 1;
        const std::uint8_t* nextByte = file.Fetch(brk, 1);
        if (!nextByte)
            break;
        const std::uint8_t next = *nextByte;
        if (IsContinuation(next)) {
            std::uint64_t p = brk;
            for (int k = 0; k < 3 && p > lineStart + 1; ++k) {
                const std::uint8_t* c = file.Fetch(p - 1, 1);
                if (!c)
                    break;
                --p;
                if (!IsContinuation(*c)) {
                    // p is the lead byte: break before it when it starts a real sequence.
                    const std::uint8_t* seq = file.Fetch(p, std::min<std::uint64_t>(4, size - p));
                    if (seq && Utf8SequenceLength(seq, std::min<std::uint64_t>(4, size - p)) > brk - p)
                        brk = p;
                    break;
                }
            }
        }
        if (next == '\n' && brk == i + 1) {
            // A '\n' right at the limit ends the line by itself.
            continue;
        }
        index.push_back(brk);
        lineStart = brk;
        i = brk - 1;
    }
    if (index.back() < size)
        index.push_back(size);
    if (progress && stepBytes && step < 20)
        progress(20);
    return index;
}

std::uint64_t TextOffsetToLine(const std::vector<std::uint64_t>& index, std::uint64_t offset) {
    if (index.size() < 2 || offset >= index.back())
        return 0;
    std::uint64_t lo = 0, hi = index.size() - 1;
    while (hi - lo > 1) {
        const std::uint64_t mid = (lo + hi) / 2;
        if (offset < index[mid])
            hi = mid;
        else
            lo = mid;
    }
    return lo;
}

std::uint64_t TextLineToOffset(const std::vector<std::uint64_t>& index, std::uint64_t line) {
    if (index.size() < 2 || line >= index.size() - 1)
        return 0;
    return index[line];
}

std::uint64_t ClampFirstLine(std::uint64_t first, std::uint64_t rows, std::uint64_t count) {
    if (first + rows > count)
        first = count > rows ? count - rows : 0;
    return first;
}

std::string Cp1252ToUtf8(std::uint8_t byte) {
    static const char16_t kHigh[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    std::uint32_t cp = byte;
    if (byte >= 0x80 && byte < 0xA0)
        cp = kHigh[byte - 0x80];
    if (cp == 0)
        return {};
    std::string out;
    AppendUtf8(out, cp);
    return out;
}

std::string DecodeDisplayText(const std::uint8_t* bytes, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;) {
        const std::uint8_t c = bytes[i];
        if (c < 0x1E) {
            out += ' ';
            ++i;
            continue;
        }
        const std::size_t n = Utf8SequenceLength(bytes + i, length - i);
        if (n > 0) {
            out.append(reinterpret_cast<const char*>(bytes + i), n);
            i += n;
        } else {
            const std::string s = Cp1252ToUtf8(c);
            out += s.empty() ? std::string(".") : s;
            ++i;
        }
    }
    return out;
}

std::string TextPage(CPreviewFile& file, const std::vector<std::uint64_t>& index,
                     std::uint64_t first, std::uint64_t rows) {
    if (index.size() < 2)
        return {};
    const std::uint64_t count = index.size() - 1;
    first = ClampFirstLine(first, rows, count);
    std::string out;
    for (std::uint64_t k = first; k < std::min(first + rows, count); ++k) {
        const std::uint64_t len = index[k + 1] - index[k];
        const std::uint8_t* b = len ? file.Fetch(index[k], static_cast<std::size_t>(len)) : nullptr;
        if (b) {
            // The line's own '\n' (and a '\r' before it) ends it.
            std::size_t n = static_cast<std::size_t>(len);
            if (n && b[n - 1] == '\n')
                --n;
            if (n && b[n - 1] == '\r')
                --n;
            out += DecodeDisplayText(b, n);
        }
        out += '\n';
    }
    return out;
}

std::uint64_t HexRowCount(std::uint64_t size) { return (size + kHexRowBytes - 1) / kHexRowBytes; }

const char kHexHeading[] = "Offset  \t\t\t0\t1\t2\t3\t4\t5\t6\t7\t8\t9\tA\tB\tC\tD\tE\tF\n";

std::string HexRow(CPreviewFile& file, std::uint64_t row) {
    const std::uint64_t a = row * kHexRowBytes;
    if (a >= file.Size())
        return {};
    const std::size_t c =
        static_cast<std::size_t>(std::min<std::uint64_t>(kHexRowBytes, file.Size() - a));
    const std::uint8_t* b = file.Fetch(a, c);
    if (!b)
        return {};
    char buf[24]; // room for a whole 64-bit offset, though a preview file holds at most 100 MiB
    std::snprintf(buf, sizeof buf, "%08llX\t\t", static_cast<unsigned long long>(a));
    std::string out = buf;
    const bool full = a + kHexRowBytes < file.Size();
    for (std::size_t k = 0; k < c; ++k) {
        std::snprintf(buf, sizeof buf, "%02X", b[k]);
        out += buf;
        if (!full || k + 1 < c)
            out += '\t';
    }
    if (!full)
        for (std::size_t k = c; k < kHexRowBytes; ++k)
            out += " \t";
    out += "\t\t";
    for (std::size_t k = 0; k < c; ++k) {
        if (b[k] < 0x1E || b[k] == 0x7F) {
            out += '.';
        } else {
            const std::string s = Cp1252ToUtf8(b[k]);
            out += s.empty() ? std::string(".") : s;
        }
    }
    out += "\t\n";
    return out;
}

std::string HexPage(CPreviewFile& file, std::uint64_t first, std::uint64_t rows) {
    const std::uint64_t count = HexRowCount(file.Size());
    std::string out = kHexHeading;
    if (count == 0)
        return out;
    first = ClampFirstLine(first, rows, count);
    for (std::uint64_t r = first; r < std::min(first + rows, count); ++r)
        out += HexRow(file, r);
    return out;
}
