#include "tools/NameMask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The built expression with the name-character expression written as C.
std::string Shape(const FileNamePattern& p) {
    std::string s = p.expression;
    for (const std::string& from : {std::string(kNameRunClass), std::string(kNameCharClass)}) {
        const std::string to = from == kNameRunClass ? "C*" : "C";
        for (std::size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
            s.replace(pos, from.size(), to);
    }
    return s;
}

struct Case {
    const char* what;
    int mode;  // 1 find, 2 search, 0 type mask
    bool caseSensitive, wholeWord;
    const char* text;
    const char* shape;  // expected expression with C for a name character; null: not checked
    const char* yes;    // names that match, '|'-separated
    const char* no;     // names that do not match
};

std::vector<std::string> Split(const char* s) {
    std::vector<std::string> out;
    if (!s)
        return out;
    std::string all = s;
    for (std::size_t start = 0;;) {
        const auto bar = all.find('|', start);
        out.push_back(all.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return out;
}

} // namespace

TEST(NameMask, ExamplesAndEdgeCases) {
    const Case cases[] = {
        // Type masks: any case, a name ending in one of the extensions.
        {"doc or dot", 0, false, false, ".doc;.dot", "(C*\\x2edoc$)|(C*\\x2edot$)", "a.doc|B.DOT|.doc", "a.docx|adoc|a.do"},
        {"star mask", 0, false, false, "*", "(C*C*$)", "a|readme.txt|", "a:b|a<b"},
        {"empty mask", 0, false, false, "", "(C*C*$)", "x.y", nullptr},
        {"no pieces", 0, false, false, ";;", "(C*C*$)", "anything.bin", nullptr},
        {"empty middle piece", 0, false, false, ".a;;.b", nullptr, "x.c|x.a|y", nullptr},
        {"empty last piece dropped", 0, false, false, ".a;", "(C*\\x2ea$)", "x.a", "x.b"},
        {"metacharacters keep meaning", 0, false, false, ".do?", nullptr, "a.do|a.D", "a.doc|a.dot"},
        {"bad type mask passes all", 0, false, false, ".a(", "(C*C*$)", "x.b|q", nullptr},
        // Search dialog: whole name or mask.
        {"star txt", 2, false, false, "*.txt", "C*\\x2etxt", "a.txt|.txt|R.TXT", "a.txt.bak|atxt"},
        {"plain name", 2, false, false, "report", "report", "report|REPORT", "report.doc|a report"},
        {"trailing ? no dot", 2, false, false, "data?", "dataC*", "data|data1|data.bin", "dat"},
        {"? with dot", 2, false, false, "data?.txt", "dataC{1}\\x2etxt", "data1.txt", "data.txt|data12.txt"},
        {"star run", 2, false, false, "**?x", "C*x", "x|abx", "xa"},
        {"whole name", 2, false, false, "txt", nullptr, "txt", "a.txt"},
        {"star matches empty", 2, false, false, "a*", nullptr, "a|ab", "ba"},
        {"?? needs two", 2, false, false, "??.c", nullptr, "ab.c", "a.c|abc.c"},
        {"literal metacharacters", 2, false, false, "a-b+(c)[d]$^{e}.f", nullptr, "a-b+(c)[d]$^{e}.f|A-B+(C)[D]$^{E}.F", "a-b+cc"},
        {"wildcard skips forbidden", 2, false, false, "a*b", nullptr, "a b|ab", "a:b|a<b|a>b|a\"b|a|b|a*b|a?b|a/b"},
        {"case insensitive", 2, false, false, "README.TXT", nullptr, "readme.txt", "readme.tx"},
        {"case sensitive", 2, true, false, "README.TXT", nullptr, "README.TXT", "readme.txt"},
        {"? is one UTF-8 character", 2, false, false, "caf?.txt", nullptr, "café.txt|cafe.txt|caf日.txt", "caf.txt|cafée.txt"},
        {"?? is two UTF-8 characters", 2, false, false, "??.c", nullptr, "éé.c|日x.c", "é.c"},
        {"no folding beyond ASCII", 2, false, false, "É.txt", nullptr, "É.txt", "é.txt"},
        {"stray bytes match a star", 2, false, false, "*.bin", nullptr, "\x80\xff.bin|\xc3.bin", nullptr},
        // Find dialog: a part of a name is enough.
        {"find part", 1, false, false, "abc", "C*abcC*", "xabcx.txt|abc|ABC", "ab"},
        {"find leading ?", 1, false, false, "?bc", "C{1}bcC*", "abc|abcd", "bc|zabc"},
        {"find trailing ?", 1, false, false, "ab?", "C*abC*", "ab|zabq", "a"},
        {"find whole word", 1, false, true, "abc", "abc", "abc", "xabcx.txt"},
        {"find part txt", 1, false, false, "txt", nullptr, "a.txt", "a.tx"},
        {"find with star keeps mask", 1, false, false, "*.c", "C*\\x2ec", "a.c", "a.cc"},
    };
    for (const Case& c : cases) {
        const FileNamePattern p = c.mode == 0 ? MaskToRegex(c.text) : BuildNameFilter(c.text, c.caseSensitive, c.wholeWord, c.mode);
        EXPECT_EQ(p.text, c.text) << c.what;
        if (c.shape) {
            EXPECT_EQ(Shape(p), c.shape) << c.what;
        }
        for (const std::string& name : Split(c.yes))
            EXPECT_TRUE(RegexMatchString(name, p)) << c.what << ": " << name;
        for (const std::string& name : Split(c.no))
            EXPECT_FALSE(RegexMatch(name.c_str(), p)) << c.what << ": " << name;
    }
}

TEST(NameMask, TypeMasksIgnoreCaseAndNullsNeverMatch) {
    const FileNamePattern p = MaskToRegex(".JPG");
    EXPECT_FALSE(p.caseSensitive);
    EXPECT_TRUE(RegexMatch("photo.jpg", p));
    EXPECT_FALSE(RegexMatch(nullptr, p));
    EXPECT_FALSE(RegexMatch("photo.jpg", FileNamePattern{}));
}

TEST(NameMask, LongAndHostileNamesEndWithoutHanging) {
    // Many stars over a long name that almost matches: the engine either answers or gives up,
    // which counts as no match.
    const FileNamePattern p = BuildNameFilter("a*b*c*d*e*f*g*h*i*j*k*l*m*n*o*p*q*z", false, false, kNameFilterSearch);
    const std::string name = "abcdefghijklmnopq" + std::string(4000, 'x');
    EXPECT_FALSE(RegexMatchString(name, p));
    const std::string ok = "abcdefghijklmnopq" + std::string(100, 'x') + "z";
    EXPECT_TRUE(RegexMatchString(ok, p));
}

TEST(NameMask, ConstructsNoNameNeedsAreRefusedAsNoMatch) {
    // Possessive repeats before a comment once hung the expression compiler for ever; these
    // and the other constructs a name mask has no use for never reach the library: the mask
    // matches no name.
    const struct {
        int mode;  // 1 find, 2 search, 0 type mask
        const char* text;
    } refused[] = {
        {0, "*+(?#)"},   {0, "a?+(?#)"}, {0, "a*+(?#)"}, {0, "a{2}+(?#)"}, {0, ".txt;*+"},
        {0, "a++"},      {0, "(?i)a"},   {0, "(?=a)"},   {0, "(?R)"},      {0, "(a)\\1"},
        {0, "(?<n>a)\\k<n>"}, {0, "(a)\\g1"}, {0, "\\*"}, {0, ".a;(?#x);.b"},
        {2, "a\\1"},     {1, "\\g{1}"},  {2, "x\\k"},    {2, "\\*.txt"},  {1, "\\?"},
    };
    for (const auto& c : refused) {
        const FileNamePattern p = c.mode == 0 ? MaskToRegex(c.text) : BuildNameFilter(c.text, false, false, c.mode);
        EXPECT_EQ(p.text, c.text);
        ASSERT_TRUE(p.compiled) << c.text;
        for (const char* name : {"", "a", "aa", "a.txt", "x.b", "(?#)", "*+"})
            EXPECT_FALSE(RegexMatch(name, p)) << c.text << " matched " << name;
    }
    // What looks alike but is plain text of a name, or a repeat a type mask may use, stays.
    const struct {
        int mode;
        const char* text;
        const char* name;
    } kept[] = {
        {2, "c++.txt", "c++.txt"}, {1, "(?)", "x(y)"},   {2, "a{2}+b", "a{2}+b"},
        {0, ".do?", "a.do"},       {0, ".a+", "x.aaa"}, {2, "a\\\\b", "a\\b"},
    };
    for (const auto& c : kept) {
        const FileNamePattern p = c.mode == 0 ? MaskToRegex(c.text) : BuildNameFilter(c.text, false, false, c.mode);
        EXPECT_TRUE(RegexMatch(c.name, p)) << c.text;
    }
}
