#include "ui/views/RtfReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/views/PreviewPaging.h"

std::string RtfDocument::PlainText() const {
    std::string out;
    for (const RtfRun& r : runs)
        out += r.text;
    return out;
}

namespace {

struct State {
    bool bold = false, italic = false, underline = false;
    int halfPoints = 24;
    int colorIndex = 0;
    int uc = 1;
    bool skip = false;     // inside a destination that holds no text
    bool colorTable = false;
};

void AppendUtf8(std::string& s, std::uint32_t cp) {
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool IsSkippedDestination(const std::string& w) {
    static const char* const kSkip[] = {
        "fonttbl",  "stylesheet", "info",     "pict",       "object",        "header",
        "footer",   "headerl",    "headerr",  "headerf",    "footerl",       "footerr",
        "footerf",  "footnote",   "listtable", "listoverridetable", "rsidtbl", "generator",
        "xmlnstbl", "themedata",  "colorschememapping", "latentstyles", "datastore",
        "filetbl",  "revtbl",     "pgdsctbl", "mmathPr",    "fldinst",       "bkmkstart",
        "bkmkend",  "objdata",    "nonshppict", "shppict"};
    for (const char* s : kSkip)
        if (w == s)
            return true;
    return false;
}

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Reader {
public:
    Reader(const std::uint8_t* d, std::size_t n, RtfDocument* out, std::size_t maxOutput)
        : m_d(d), m_n(n), m_out(out), m_max(maxOutput) {}

    void Run() {
        std::vector<State> stack;
        State st;
        std::size_t skipDepth = 0; // groups opened while skipping (beyond the limit)
        std::size_t pendingSkip = 0; // characters still to drop after \uN
        std::uint32_t highSurrogate = 0;
        int red = 0, green = 0, blue = 0;
        bool groupStart = false; // just after '{': a \* or a destination word may follow
        while (m_i < m_n && !m_out->truncated) {
            const std::uint8_t c = m_d[m_i];
            if (c == '{') {
                ++m_i;
                if (stack.size() >= kRtfMaxDepth) {
                    ++skipDepth;
                    continue;
                }
                stack.push_back(st);
                groupStart = true;
                continue;
            }
            if (c == '}') {
                ++m_i;
                if (skipDepth) {
                    --skipDepth;
                    continue;
                }
                if (stack.empty())
                    break; // the document's own group ended
                st = stack.back();
                stack.pop_back();
                groupStart = false;
                continue;
            }
            if (skipDepth) {
                ++m_i;
                continue;
            }
            if (c == '\\') {
                const bool atGroupStart = groupStart;
                groupStart = false;
                ++m_i;
                if (m_i >= m_n)
                    break;
                const std::uint8_t e = m_d[m_i];
                if (e == '*') {
                    ++m_i;
                    if (atGroupStart)
                        st.skip = true;
                    continue;
                }
                if (e == '\'') {
                    ++m_i;
                    int v = -1;
                    if (m_i + 1 < m_n + 0 && m_i + 2 <= m_n) {
                        const int h = HexValue(m_d[m_i]), l = HexValue(m_d[m_i + 1]);
                        if (h >= 0 && l >= 0)
                            v = h * 16 + l;
                    }
                    if (v < 0)
                        continue;
                    m_i += 2;
                    if (pendingSkip) {
                        --pendingSkip;
                        continue;
                    }
                    if (!st.skip && !st.colorTable)
                        Emit(st, Cp1252ToUtf8(static_cast<std::uint8_t>(v)));
                    continue;
                }
                if (!std::isalpha(e)) {
                    // Control symbols.
                    ++m_i;
                    if (pendingSkip) {
                        --pendingSkip;
                        continue;
                    }
                    if (st.skip || st.colorTable)
                        continue;
                    if (e == '\\' || e == '{' || e == '}')
                        Emit(st, std::string(1, static_cast<char>(e)));
                    else if (e == '~')
                        Emit(st, "\xC2\xA0");
                    else if (e == '\n' || e == '\r')
                        Emit(st, "\n");
                    else if (e == '-' || e == '_')
                        Emit(st, e == '_' ? "-" : "");
                    continue;
                }
                std::string word;
                while (m_i < m_n && std::isalpha(m_d[m_i]) && word.size() < 32)
                    word += static_cast<char>(m_d[m_i++]);
                while (m_i < m_n && std::isalpha(m_d[m_i]))
                    ++m_i; // an over-long word is cut
                bool hasParam = false;
                long long param = 0;
                bool negative = false;
                if (m_i < m_n && m_d[m_i] == '-') {
                    negative = true;
                    ++m_i;
                }
                int digits = 0;
                while (m_i < m_n && std::isdigit(m_d[m_i])) {
                    if (digits < 10)
                        param = param * 10 + (m_d[m_i] - '0');
                    ++digits;
                    ++m_i;
                }
                hasParam = digits > 0;
                if (negative)
                    param = -param;
                if (m_i < m_n && m_d[m_i] == ' ')
                    ++m_i;
                if (word == "u" && hasParam) {
                    std::uint32_t cp = static_cast<std::uint32_t>(param < 0 ? param + 65536 : param) & 0xFFFF;
                    pendingSkip = static_cast<std::size_t>(std::max(0, st.uc));
                    if (st.skip || st.colorTable)
                        continue;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        highSurrogate = cp;
                        continue;
                    }
                    if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        if (!highSurrogate)
                            continue;
                        cp = 0x10000 + ((highSurrogate - 0xD800) << 10) + (cp - 0xDC00);
                    }
                    highSurrogate = 0;
                    std::string s;
                    AppendUtf8(s, cp);
                    Emit(st, s);
                    continue;
                }
                if (pendingSkip) {
                    // A control word counts as one skipped character.
                    --pendingSkip;
                    continue;
                }
                if (atGroupStart && IsSkippedDestination(word)) {
                    st.skip = true;
                    continue;
                }
                if (word == "colortbl" && atGroupStart) {
                    st.colorTable = true;
                    red = green = blue = 0;
                    continue;
                }
                if (st.colorTable) {
                    const int v = static_cast<int>(std::clamp<long long>(param, 0, 255));
                    if (word == "red")
                        red = v;
                    else if (word == "green")
                        green = v;
                    else if (word == "blue")
                        blue = v;
                    continue;
                }
                if (word == "uc" && hasParam)
                    st.uc = static_cast<int>(std::clamp<long long>(param, 0, 10));
                else if (word == "b")
                    st.bold = !hasParam || param != 0;
                else if (word == "i")
                    st.italic = !hasParam || param != 0;
                else if (word == "ul")
                    st.underline = !hasParam || param != 0;
                else if (word == "ulnone")
                    st.underline = false;
                else if (word == "plain") {
                    st.bold = st.italic = st.underline = false;
                    st.halfPoints = 24;
                    st.colorIndex = 0;
                } else if (word == "fs" && hasParam)
                    st.halfPoints = static_cast<int>(std::clamp<long long>(param, 2, 3276));
                else if (word == "cf" && hasParam)
                    st.colorIndex = static_cast<int>(std::clamp<long long>(param, 0, 1 << 16));
                else if (!st.skip && (word == "par" || word == "line" || word == "sect" ||
                                      word == "row"))
                    Emit(st, "\n");
                else if (!st.skip && (word == "tab" || word == "cell"))
                    Emit(st, "\t");
                else if (!st.skip && word == "emdash")
                    Emit(st, "\xE2\x80\x94");
                else if (!st.skip && word == "endash")
                    Emit(st, "\xE2\x80\x93");
                else if (!st.skip && word == "bullet")
                    Emit(st, "\xE2\x80\xA2");
                else if (!st.skip && word == "lquote")
                    Emit(st, "\xE2\x80\x98");
                else if (!st.skip && word == "rquote")
                    Emit(st, "\xE2\x80\x99");
                else if (!st.skip && word == "ldblquote")
                    Emit(st, "\xE2\x80\x9C");
                else if (!st.skip && word == "rdblquote")
                    Emit(st, "\xE2\x80\x9D");
                continue;
            }
            groupStart = false;
            ++m_i;
            if (c == '\r' || c == '\n')
                continue;
            if (st.colorTable) {
                if (c == ';') {
                    m_colors.push_back((std::uint32_t(red) << 16) | (std::uint32_t(green) << 8) |
                                       std::uint32_t(blue));
                    red = green = blue = 0;
                }
                continue;
            }
            if (pendingSkip) {
                --pendingSkip;
                continue;
            }
            if (st.skip)
                continue;
            if (c < 0x80) {
                Emit(st, std::string(1, static_cast<char>(c)));
            } else {
                // Raw 8-bit text: UTF-8 when it is, else the code page's character.
                const std::size_t len = Utf8SequenceLength(m_d + m_i - 1, m_n - (m_i - 1));
                if (len > 1) {
                    Emit(st, std::string(reinterpret_cast<const char*>(m_d + m_i - 1), len));
                    m_i += len - 1;
                } else {
                    Emit(st, Cp1252ToUtf8(c));
                }
            }
        }
    }

private:
    void Emit(const State& st, const std::string& text) {
        if (text.empty())
            return;
        if (m_size + text.size() > m_max) {
            m_out->truncated = true;
            return;
        }
        m_size += text.size();
        const bool hasColor = st.colorIndex > 0 &&
                              static_cast<std::size_t>(st.colorIndex) < m_colors.size();
        const std::uint32_t color = hasColor ? m_colors[st.colorIndex] : 0;
        // Entry 0 of the table is the "auto" colour (the empty entry before the first ';').
        if (!m_out->runs.empty()) {
            RtfRun& last = m_out->runs.back();
            if (last.bold == st.bold && last.italic == st.italic &&
                last.underline == st.underline && last.halfPoints == st.halfPoints &&
                last.hasColor == hasColor && last.color == color) {
                last.text += text;
                return;
            }
        }
        RtfRun run;
        run.text = text;
        run.bold = st.bold;
        run.italic = st.italic;
        run.underline = st.underline;
        run.halfPoints = st.halfPoints;
        run.hasColor = hasColor;
        run.color = color;
        m_out->runs.push_back(std::move(run));
    }

    const std::uint8_t* m_d;
    std::size_t m_n;
    std::size_t m_i = 0;
    RtfDocument* m_out;
    std::size_t m_max;
    std::size_t m_size = 0;
    std::vector<std::uint32_t> m_colors; // the table; entry 0 is the "auto" colour
};

} // namespace

bool ReadRtf(const std::uint8_t* data, std::size_t size, RtfDocument* out, std::size_t maxOutput) {
    *out = RtfDocument();
    if (!data || size < 5 || data[0] != '{' || std::strncmp(reinterpret_cast<const char*>(data) + 1, "\\rtf", 4) != 0)
        return false;
    // Skip the document's own opening brace: the reader's outer level is the document group.
    Reader reader(data + 1, size - 1, out, maxOutput);
    reader.Run();
    return true;
}

bool IsRtfFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool result = false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 4) {
        char head[4];
        const off_t size = st.st_size;
        const std::size_t tailLen = static_cast<std::size_t>(std::min<off_t>(size, 512));
        std::vector<unsigned char> tail(tailLen);
        if (::pread(fd, head, 4, 0) == 4 &&
            ::pread(fd, tail.data(), tailLen, size - static_cast<off_t>(tailLen)) ==
                static_cast<ssize_t>(tailLen)) {
            const bool start = head[0] == '{' && head[1] == '\\' &&
                               std::tolower(static_cast<unsigned char>(head[2])) == 'r' &&
                               std::tolower(static_cast<unsigned char>(head[3])) == 't';
            std::size_t k = tailLen;
            while (k > 0 && (tail[k - 1] == 0 || tail[k - 1] == '\n' || tail[k - 1] == '\r'))
                --k;
            result = start && k > 0 && tail[k - 1] == '}';
        }
    }
    ::close(fd);
    return result;
}
