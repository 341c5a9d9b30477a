#include "ui/views/RtfReader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/TextEncoding.h"
#include "ui/views/PreviewPaging.h"

std::string RtfDocument::PlainText() const {
    std::string out;
    for (const RtfRun& r : runs)
        out += r.text;
    return out;
}

namespace {

// ---- Lexer: the bytes as tokens ------------------------------------------------------------

enum class TokenKind {
    End,        // no bytes left
    GroupOpen,  // '{'
    GroupClose, // '}'
    Word,       // control word: '\' letters, an optional signed number, one optional space
    Symbol,     // control symbol: '\' and one character that is not a letter
    Hex,        // \'hh
    BadHex,     // \' not followed by two hex digits (only the \' is taken)
    Binary,     // \binN and the N bytes of data after it
    Text,       // one character of body text
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string_view word;   // Word: the name (its first 32 letters)
    bool hasParam = false;   // Word: digits followed the name
    long long param = 0;     // Word: their value (the first 10 digits, with the sign)
    std::uint8_t value = 0;  // Symbol: the character; Hex: the byte
    std::string_view bytes;  // Text: one byte or one whole UTF-8 sequence; Binary: the data
};

constexpr std::size_t kMaxWordLetters = 32;
constexpr int kMaxParamDigits = 10;

bool IsLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Lexer {
public:
    Lexer(const std::uint8_t* d, std::size_t n) : m_d(d), m_n(n) {}

    // The next token; End once the bytes are used up. Every other token takes at least one
    // byte, and no token reaches past the end.
    Token Next() {
        if (m_i >= m_n)
            return {};
        const std::uint8_t c = m_d[m_i];
        if (c == '{' || c == '}') {
            ++m_i;
            return Make(c == '{' ? TokenKind::GroupOpen : TokenKind::GroupClose);
        }
        if (c == '\\')
            return Control();
        return TextCharacter();
    }

private:
    static Token Make(TokenKind kind) {
        Token t;
        t.kind = kind;
        return t;
    }

    std::string_view View(std::size_t from, std::size_t length) const {
        return {reinterpret_cast<const char*>(m_d + from), length};
    }

    Token Control() {
        ++m_i; // the backslash
        if (m_i >= m_n)
            return {};
        const std::uint8_t e = m_d[m_i];
        if (e == '\'')
            return HexEscape();
        if (IsLetter(e))
            return ControlWord();
        ++m_i;
        Token t = Make(TokenKind::Symbol);
        t.value = e;
        return t;
    }

    Token HexEscape() {
        ++m_i; // the quote
        if (m_i + 2 <= m_n) {
            const int h = HexValue(m_d[m_i]), l = HexValue(m_d[m_i + 1]);
            if (h >= 0 && l >= 0) {
                m_i += 2;
                Token t = Make(TokenKind::Hex);
                t.value = static_cast<std::uint8_t>(h * 16 + l);
                return t;
            }
        }
        return Make(TokenKind::BadHex);
    }

    Token ControlWord() {
        const std::size_t start = m_i;
        while (m_i < m_n && IsLetter(m_d[m_i]))
            ++m_i;
        Token t = Make(TokenKind::Word);
        t.word = View(start, std::min(m_i - start, kMaxWordLetters)); // an over-long word is cut
        const bool negative = m_i < m_n && m_d[m_i] == '-';
        if (negative)
            ++m_i;
        int digits = 0;
        for (; m_i < m_n && IsDigit(m_d[m_i]); ++m_i) {
            if (digits < kMaxParamDigits) {
                t.param = t.param * 10 + (m_d[m_i] - '0');
                ++digits;
            }
        }
        t.hasParam = digits > 0;
        if (negative)
            t.param = -t.param;
        if (m_i < m_n && m_d[m_i] == ' ')
            ++m_i;
        return t.word == "bin" ? BinaryData(t) : t;
    }

    // \binN: the next N bytes are data, whatever they hold; a count past the end takes the rest.
    Token BinaryData(const Token& word) {
        const std::size_t available = m_n - m_i;
        const std::size_t length =
            word.param > 0 ? static_cast<std::size_t>(
                                 std::min<unsigned long long>(word.param, available))
                           : 0;
        Token t = Make(TokenKind::Binary);
        t.bytes = View(m_i, length);
        m_i += length;
        return t;
    }

    // Raw text: a valid UTF-8 sequence is one character, any other byte is one by itself.
    Token TextCharacter() {
        std::size_t length = 1;
        if (m_d[m_i] >= 0x80)
            length = std::max<std::size_t>(1, Utf8SequenceLength(m_d + m_i, m_n - m_i));
        Token t = Make(TokenKind::Text);
        t.bytes = View(m_i, length);
        m_i += length;
        return t;
    }

    const std::uint8_t* m_d;
    std::size_t m_n;
    std::size_t m_i = 0;
};

// ---- Interpreter: tokens to runs of formatted text -----------------------------------------

struct State {
    bool bold = false, italic = false, underline = false;
    int halfPoints = 24;
    int colorIndex = 0;
    int uc = 1;
    bool skip = false;     // inside a destination that holds no text
    bool colorTable = false;
};

// Where a control word has its effect; anywhere else it is ignored.
enum class WordScope {
    GroupStart, // right after '{' (destinations)
    ColorTable, // inside the colour table
    Body,       // outside the colour table
};

class Interpreter {
public:
    Interpreter(RtfDocument* out, std::size_t maxOutput) : m_out(out), m_max(maxOutput) {}

    // Takes one token; false once the input or the document's own group has ended, or the
    // output limit was reached.
    bool Feed(const Token& t) {
        if (t.kind == TokenKind::End)
            return false;
        if (t.kind == TokenKind::GroupOpen) {
            OpenGroup();
            return true;
        }
        if (t.kind == TokenKind::GroupClose)
            return CloseGroup();
        if (m_skipDepth)
            return true;
        const bool atGroupStart = m_groupStart;
        m_groupStart = false;
        switch (t.kind) {
        case TokenKind::Word:
            OnWord(t, atGroupStart);
            break;
        case TokenKind::Symbol:
            OnSymbol(t.value, atGroupStart);
            break;
        case TokenKind::Hex:
            OnHex(t.value);
            break;
        case TokenKind::Binary:
            SkipOne(); // data is never text; with its \bin it is one character after \uN
            break;
        case TokenKind::Text:
            OnText(t.bytes);
            break;
        default:
            break;
        }
        return !m_out->truncated;
    }

private:
    using WordHandler = void (*)(Interpreter&, const Token&, const char* text);
    struct WordAction {
        std::string_view word;
        WordScope scope;
        WordHandler apply;
        const char* text; // what a word that stands for a character writes
    };
    static const WordAction kWords[];

    static const WordAction* FindWord(std::string_view word);

    void OpenGroup() {
        if (m_stack.size() >= kRtfMaxDepth) {
            ++m_skipDepth; // groups beyond the limit are read over, not kept
            return;
        }
        m_stack.push_back(m_st);
        m_groupStart = true;
    }

    bool CloseGroup() {
        if (m_skipDepth) {
            --m_skipDepth;
            return true;
        }
        if (m_stack.empty())
            return false; // the document's own group ended
        m_st = m_stack.back();
        m_stack.pop_back();
        m_groupStart = false;
        return true;
    }

    // After \uN the next uc characters are the stand-in for readers without Unicode: true
    // when this one is among them.
    bool SkipOne() {
        if (!m_pendingSkip)
            return false;
        --m_pendingSkip;
        return true;
    }

    bool Hidden() const { return m_st.skip || m_st.colorTable; }

    void OnWord(const Token& t, bool atGroupStart) {
        if (t.word == "u" && t.hasParam) {
            OnUnicode(t.param);
            return;
        }
        if (SkipOne())
            return; // a control word counts as one character
        const WordAction* a = FindWord(t.word);
        if (!a)
            return;
        const bool applies = a->scope == WordScope::GroupStart   ? atGroupStart
                             : a->scope == WordScope::ColorTable ? m_st.colorTable
                                                                 : !m_st.colorTable;
        if (applies)
            a->apply(*this, t, a->text);
    }

    void OnUnicode(long long param) {
        std::uint32_t cp = static_cast<std::uint32_t>(param < 0 ? param + 65536 : param) & 0xFFFF;
        m_pendingSkip = static_cast<std::size_t>(std::max(0, m_st.uc));
        if (Hidden())
            return;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            m_highSurrogate = cp;
            return;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            if (!m_highSurrogate)
                return; // a low surrogate alone is dropped
            cp = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (cp - 0xDC00);
        }
        m_highSurrogate = 0;
        std::string s;
        AppendUtf8(s, cp);
        Emit(s);
    }

    void OnSymbol(std::uint8_t symbol, bool atGroupStart) {
        if (symbol == '*') {
            if (atGroupStart)
                m_st.skip = true; // {\* marks a destination a reader may ignore
            return;
        }
        if (SkipOne() || Hidden())
            return;
        switch (symbol) {
        case '\\':
        case '{':
        case '}':
            Emit(std::string_view(reinterpret_cast<const char*>(&symbol), 1));
            break;
        case '~':
            Emit("\xC2\xA0"); // no-break space
            break;
        case '\n':
        case '\r':
            Emit("\n");
            break;
        case '_':
            Emit("-"); // no-break hyphen; '\-' (optional hyphen) writes nothing
            break;
        default:
            break;
        }
    }

    void OnHex(std::uint8_t byte) {
        if (SkipOne() || Hidden())
            return;
        Emit(Cp1252ToUtf8(byte));
    }

    void OnText(std::string_view ch) {
        if (ch == "\r" || ch == "\n")
            return;
        if (m_st.colorTable) {
            if (ch == ";")
                EndColor();
            return;
        }
        if (SkipOne() || m_st.skip)
            return;
        const auto first = static_cast<std::uint8_t>(ch[0]);
        if (ch.size() == 1 && first >= 0x80)
            Emit(Cp1252ToUtf8(first)); // not UTF-8: the code page's character
        else
            Emit(ch);
    }

    void EndColor() {
        m_colors.push_back((std::uint32_t(m_red) << 16) | (std::uint32_t(m_green) << 8) |
                           std::uint32_t(m_blue));
        m_red = m_green = m_blue = 0;
    }

    void Emit(std::string_view text) {
        if (text.empty())
            return;
        if (m_size + text.size() > m_max) {
            m_out->truncated = true;
            return;
        }
        m_size += text.size();
        // Entry 0 of the table is the "auto" colour (the empty entry before the first ';').
        const bool hasColor = m_st.colorIndex > 0 &&
                              static_cast<std::size_t>(m_st.colorIndex) < m_colors.size();
        const std::uint32_t color = hasColor ? m_colors[m_st.colorIndex] : 0;
        if (!m_out->runs.empty()) {
            RtfRun& last = m_out->runs.back();
            if (last.bold == m_st.bold && last.italic == m_st.italic &&
                last.underline == m_st.underline && last.halfPoints == m_st.halfPoints &&
                last.hasColor == hasColor && last.color == color) {
                last.text += text;
                return;
            }
        }
        RtfRun run;
        run.text = std::string(text);
        run.bold = m_st.bold;
        run.italic = m_st.italic;
        run.underline = m_st.underline;
        run.halfPoints = m_st.halfPoints;
        run.hasColor = hasColor;
        run.color = color;
        m_out->runs.push_back(std::move(run));
    }

    static bool Switch(const Token& t) { return !t.hasParam || t.param != 0; }
    static int Clamp(const Token& t, long long lo, long long hi) {
        return static_cast<int>(std::clamp<long long>(t.param, lo, hi));
    }

    // A destination that holds no body text: the rest of its group is read over.
    static WordAction Destination(std::string_view word) {
        return {word, WordScope::GroupStart,
                [](Interpreter& in, const Token&, const char*) { in.m_st.skip = true; }, nullptr};
    }
    // A word that stands for one character.
    static WordAction Character(std::string_view word, const char* text) {
        return {word, WordScope::Body,
                [](Interpreter& in, const Token&, const char* text) {
                    if (!in.m_st.skip)
                        in.Emit(text);
                },
                text};
    }

    RtfDocument* m_out;
    std::size_t m_max;
    std::size_t m_size = 0;
    State m_st;
    std::vector<State> m_stack;
    std::size_t m_skipDepth = 0;   // groups opened beyond the depth limit and not yet closed
    std::size_t m_pendingSkip = 0; // characters still to drop after \uN
    std::uint32_t m_highSurrogate = 0;
    bool m_groupStart = false;     // just after '{': a \* or a destination word may follow
    int m_red = 0, m_green = 0, m_blue = 0; // the colour being read
    std::vector<std::uint32_t> m_colors; // the table; entry 0 is the "auto" colour
};

// Destinations that hold no body text, then the colour table, formatting and the words that
// stand for a character. Words not listed are ignored.
const Interpreter::WordAction Interpreter::kWords[] = {
    Destination("fonttbl"), Destination("stylesheet"), Destination("info"), Destination("pict"),
    Destination("object"), Destination("header"), Destination("footer"), Destination("headerl"),
    Destination("headerr"), Destination("headerf"), Destination("footerl"), Destination("footerr"),
    Destination("footerf"), Destination("footnote"), Destination("listtable"),
    Destination("listoverridetable"), Destination("rsidtbl"), Destination("generator"),
    Destination("xmlnstbl"), Destination("themedata"), Destination("colorschememapping"),
    Destination("latentstyles"), Destination("datastore"), Destination("filetbl"),
    Destination("revtbl"), Destination("pgdsctbl"), Destination("mmathPr"), Destination("fldinst"),
    Destination("bkmkstart"), Destination("bkmkend"), Destination("objdata"),
    Destination("nonshppict"), Destination("shppict"),
    {"colortbl", WordScope::GroupStart,
     [](Interpreter& in, const Token&, const char*) {
         in.m_st.colorTable = true;
         in.m_red = in.m_green = in.m_blue = 0;
     },
     nullptr},
    {"red", WordScope::ColorTable,
     [](Interpreter& in, const Token& t, const char*) { in.m_red = Clamp(t, 0, 255); }, nullptr},
    {"green", WordScope::ColorTable,
     [](Interpreter& in, const Token& t, const char*) { in.m_green = Clamp(t, 0, 255); }, nullptr},
    {"blue", WordScope::ColorTable,
     [](Interpreter& in, const Token& t, const char*) { in.m_blue = Clamp(t, 0, 255); }, nullptr},
    {"uc", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) {
         if (t.hasParam)
             in.m_st.uc = Clamp(t, 0, 10);
     },
     nullptr},
    {"b", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) { in.m_st.bold = Switch(t); }, nullptr},
    {"i", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) { in.m_st.italic = Switch(t); }, nullptr},
    {"ul", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) { in.m_st.underline = Switch(t); }, nullptr},
    {"ulnone", WordScope::Body,
     [](Interpreter& in, const Token&, const char*) { in.m_st.underline = false; }, nullptr},
    {"plain", WordScope::Body,
     [](Interpreter& in, const Token&, const char*) {
         in.m_st.bold = in.m_st.italic = in.m_st.underline = false;
         in.m_st.halfPoints = 24;
         in.m_st.colorIndex = 0;
     },
     nullptr},
    {"fs", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) {
         if (t.hasParam)
             in.m_st.halfPoints = Clamp(t, 2, 3276);
     },
     nullptr},
    {"cf", WordScope::Body,
     [](Interpreter& in, const Token& t, const char*) {
         if (t.hasParam)
             in.m_st.colorIndex = Clamp(t, 0, 1 << 16);
     },
     nullptr},
    Character("par", "\n"),
    Character("line", "\n"),
    Character("sect", "\n"),
    Character("row", "\n"),
    Character("tab", "\t"),
    Character("cell", "\t"),
    Character("emdash", "\xE2\x80\x94"),
    Character("endash", "\xE2\x80\x93"),
    Character("bullet", "\xE2\x80\xA2"),
    Character("lquote", "\xE2\x80\x98"),
    Character("rquote", "\xE2\x80\x99"),
    Character("ldblquote", "\xE2\x80\x9C"),
    Character("rdblquote", "\xE2\x80\x9D"),
};

const Interpreter::WordAction* Interpreter::FindWord(std::string_view word) {
    for (const WordAction& a : kWords)
        if (a.word == word)
            return &a;
    return nullptr;
}

} // namespace

bool ReadRtf(const std::uint8_t* data, std::size_t size, RtfDocument* out, std::size_t maxOutput) {
    *out = RtfDocument();
    if (!data || size < 5 || data[0] != '{' || std::strncmp(reinterpret_cast<const char*>(data) + 1, "\\rtf", 4) != 0)
        return false;
    // Skip the document's own opening brace: the reader's outer level is the document group.
    Lexer lexer(data + 1, size - 1);
    Interpreter interpreter(out, maxOutput);
    while (interpreter.Feed(lexer.Next())) {
    }
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
