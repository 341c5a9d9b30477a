#include "tools/NameMask.h"

#include <boost/regex.hpp>

#include <locale>
#include <vector>

// One name character: a UTF-8 lead byte with its continuation bytes, taken as a whole (the
// atomic group never gives part of it back to another wildcard), or any other single byte
// (plain ASCII, or a stray byte of a damaged name), except the characters a name may not hold.
const char* const kNameCharClass = "(?>[\\xC0-\\xFF][\\x80-\\xBF]{0,3}|[^/\\x2A\\x3F:\"<>|])";
// A run of name characters ('*'): any run of such bytes. A run of bytes and a run of whole
// characters match the same names, because the literal parts of a mask are whole UTF-8
// characters and UTF-8 never lets one character start inside another; the byte form is far
// cheaper to match.
const char* const kNameRunClass = "[^/\\x2A\\x3F:\"<>|]*";

struct CompiledNamePattern {
    boost::regex expression;
};

namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
    for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

std::string ExpandWildcards(std::string s) {
    // One pass, so the '?' of the expression's own "(?>" is never taken for a wildcard.
    std::string out;
    for (char c : s) {
        if (c == '*')
            out += kNameRunClass;
        else if (c == '?')
            out += std::string(kNameCharClass) + "{1}";
        else
            out += c;
    }
    return out;
}

std::shared_ptr<const CompiledNamePattern> Compile(const std::string& expression, bool caseSensitive) {
    auto compiled = std::make_shared<CompiledNamePattern>();
    // The classic locale: case folding of ASCII letters only, so the bytes of a UTF-8 name
    // never fold into each other whatever the process locale is.
    compiled->expression.imbue(std::locale::classic());
    boost::regex::flag_type flags = boost::regex::perl;
    if (!caseSensitive)
        flags |= boost::regex::icase;
    compiled->expression.assign(expression, flags);
    return compiled;
}

// Whether the text, before the wildcards are expanded, holds a construct a name mask has no use
// for: groups with options, comments, look-arounds, recursion or conditions ("(?"), possessive
// repeats ("*+", "?+", "++", "}+"), back-references ("\1", "\g", "\k"), or an escaped
// wildcard (a name never holds '*' or '?', and the escape would bite into the wildcard's own
// expression). Such constructs are where the regular-expression library can loop for ever or
// blow up while compiling or matching, so they never reach it.
bool HoldsUnusedConstruct(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '\\') {
            if ((next >= '0' && next <= '9') || next == 'g' || next == 'k' || next == '*' || next == '?')
                return true;
            ++i;  // the escaped character is taken as it is
        } else if (c == '(' && next == '?') {
            return true;
        } else if ((c == '*' || c == '?' || c == '+' || c == '}') && next == '+') {
            return true;
        }
    }
    return false;
}

// A refused mask: compiles to an expression that matches no name.
void Refuse(FileNamePattern& pattern) {
    pattern.expression = "[^\\x00-\\xFF]";
    pattern.compiled = Compile(pattern.expression, pattern.caseSensitive);
}

// Compiles the built text, or the match-everything expression when it does not compile.
void Finish(FileNamePattern& pattern, const std::string& built) {
    try {
        pattern.compiled = Compile(built, pattern.caseSensitive);
        pattern.expression = built;
    } catch (const std::exception&) {
        pattern.expression = "(" + ExpandWildcards("**") + "$)";
        pattern.compiled = Compile(pattern.expression, pattern.caseSensitive);
    }
}

} // namespace

FileNamePattern BuildNameFilter(const std::string& text, bool caseSensitive, bool wholeWord, int mode) {
    FileNamePattern pattern;
    pattern.text = text;
    pattern.caseSensitive = caseSensitive;
    std::string s = text;
    if (mode == kNameFilterFind && s.find('*') == std::string::npos && !wholeWord) {
        if (s.empty() || s[0] != '?')
            s.insert(s.begin(), '*');
        s += '*';
    }
    // Runs of wildcards that hold a '*' become one '*' (a run of '?' alone stays).
    static const boost::regex runs("(\\*+\\?+)|(\\?+\\*+)|(\\*+)");
    s = boost::regex_replace(s, runs, "*", boost::format_perl);
    if (!s.empty() && s.back() == '?' && (mode == kNameFilterFind || s.find('.') == std::string::npos))
        s.back() = '*';
    // Characters with a meaning in a regular expression are matched as they are.
    static const std::pair<const char*, const char*> kEscapes[] = {
        {"[", "\\x5B"}, {"]", "\\x5D"}, {"{", "\\x7B"}, {"}", "\\x7D"}, {"(", "\\x28"}, {")", "\\x29"},
        {"+", "\\x2B"}, {"|", "\\x7C"}, {"^", "\\x5E"}, {"$", "\\x24"}, {"-", "\\x2D"}, {".", "\\x2e"},
    };
    for (const auto& [from, to] : kEscapes)
        ReplaceAll(s, from, to);
    if (HoldsUnusedConstruct(s)) {
        Refuse(pattern);
        return pattern;
    }
    Finish(pattern, ExpandWildcards(s));
    return pattern;
}

FileNamePattern MaskToRegex(const std::string& maskList) {
    FileNamePattern pattern;
    pattern.text = maskList;
    pattern.caseSensitive = false;
    std::string s = maskList.empty() ? std::string("*") : maskList;
    ReplaceAll(s, ".", "\\x2e");
    std::vector<std::string> pieces;
    for (std::size_t start = 0;;) {
        const auto semi = s.find(';', start);
        pieces.push_back(s.substr(start, semi == std::string::npos ? std::string::npos : semi - start));
        if (semi == std::string::npos)
            break;
        start = semi + 1;
    }
    // Empty pieces before the first real one and an empty last piece go; an empty piece after a
    // real one stays (and then matches every name).
    std::size_t first = 0;
    while (first < pieces.size() && pieces[first].empty())
        ++first;
    pieces.erase(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(first));
    if (!pieces.empty() && pieces.back().empty())
        pieces.pop_back();
    std::string joined;
    if (pieces.empty()) {
        joined = "(**$)";
    } else {
        for (std::size_t i = 0; i < pieces.size(); ++i)
            joined += (i ? "|(*" : "(*") + pieces[i] + "$)";
    }
    if (HoldsUnusedConstruct(joined)) {
        Refuse(pattern);
        return pattern;
    }
    // Only '*' is a wildcard here; the other characters of an extension keep their meaning.
    std::string built;
    for (char c : joined)
        built += c == '*' ? std::string(kNameRunClass) : std::string(1, c);
    Finish(pattern, built);
    return pattern;
}

bool RegexMatchString(const std::string& name, const FileNamePattern& pattern) {
    if (!pattern.compiled)
        return false;
    try {
        return boost::regex_match(name, pattern.compiled->expression);
    } catch (const std::exception&) {
        return false;
    }
}

bool RegexMatch(const char* name, const FileNamePattern& pattern) {
    if (!name || !pattern.compiled)
        return false;
    try {
        return boost::regex_match(name, pattern.compiled->expression);
    } catch (const std::exception&) {
        return false;
    }
}
