// The byte parsers of the preview chain: the RTF test and reader, the picture header probe and
// the Word/Excel compound-document check.
#include <gtest/gtest.h>

#include "carving/analysers/CompoundFile.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"
#include "ui/views/DocumentChecks.h"
#include "ui/views/PictureProbe.h"
#include "ui/views/RtfReader.h"

using namespace testsupport;

namespace {

std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = ScratchDir("parsers") + "/" + name;
    EXPECT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    return path;
}

RtfDocument Read(const std::string& text, std::size_t max = kRtfMaxOutput) {
    RtfDocument doc;
    EXPECT_TRUE(ReadRtf(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &doc, max));
    return doc;
}

template <std::size_t N> std::string Bin(const char (&a)[N]) { return std::string(a, N - 1); }

} // namespace

TEST(RtfFiles, IsRtfFileTable) {
    const struct { const char* name; std::string bytes; bool rtf; } cases[] = {
        {"plain.rtf", "{\\rtf1 hello}", true},
        {"tail.rtf", Bin("{\\rtf1 hi}\r\n\0\0"), true},
        {"upper.rtf", "{\\RTF1 hi}", true},
        {"letter.rtf", "{\\rtf1 hi}x", false},
        {"short.rtf", "{\\rt", false},
        {"text.rtf", "hello world}", false},
        {"onlyzeros.rtf", Bin("{\\rtf\0\0\0"), false},
        {"longtail.rtf", "{\\rtf1 x}" + std::string(600, '\n'), false}, // brace beyond 512 bytes
        {"long.rtf", "{\\rtf1 " + std::string(2000, 'a') + "}\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsRtfFile(Write(c.name, c.bytes)), c.rtf) << c.name;
    EXPECT_FALSE(IsRtfFile(ScratchDir("parsers") + "/missing.rtf"));
    EXPECT_FALSE(IsRtfFile(ScratchDir("parsers")));
}

TEST(RtfReader, Constructs) {
    const std::string doc =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}"
        "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
        "{\\stylesheet{\\s0 Normal;}}{\\info{\\title Secret}}{\\*\\generator Writer;}"
        "\\pard Plain\\tab {\\b bold}{\\i italic}{\\ul under}\\ulnone  "
        "{\\fs40 big}{\\cf1 red}\\par "
        "caf\\'e9 \\u8364?\\uc2\\u8364xx!{\\pict\\pngblip 89504e47}\\{x\\}\\\\\\par"
        "}";
    RtfDocument d = Read(doc);
    EXPECT_EQ(d.PlainText(), "Plain\tbolditalicunder bigred\ncaf\xC3\xA9 \xE2\x82\xAC\xE2\x82\xAC!{x}\\\n");
    bool sawBold = false, sawItalic = false, sawUnder = false, sawBig = false, sawRed = false;
    for (const RtfRun& r : d.runs) {
        sawBold |= r.bold && r.text == "bold";
        sawItalic |= r.italic && r.text == "italic";
        sawUnder |= r.underline && r.text == "under";
        sawBig |= r.halfPoints == 40 && r.text == "big";
        sawRed |= r.hasColor && r.color == 0xFF0000 && r.text == "red";
    }
    EXPECT_TRUE(sawBold && sawItalic && sawUnder && sawBig && sawRed);
    // A surrogate pair from two \u words.
    EXPECT_EQ(Read("{\\rtf1 \\u-10179?\\u-8704?}").PlainText(), "\xF0\x9F\x98\x80");
    // Deep nesting and the output limit.
    std::string deep = "{\\rtf1 ";
    for (int i = 0; i < 100000; ++i)
        deep += "{";
    deep += "deep";
    for (int i = 0; i < 100000; ++i)
        deep += "}";
    deep += " end}";
    EXPECT_EQ(Read(deep).PlainText(), " end");
    RtfDocument cut = Read("{\\rtf1 " + std::string(100, 'a') + "}", 10);
    EXPECT_TRUE(cut.truncated);
    EXPECT_EQ(cut.PlainText().size(), 10u);
    RtfDocument none;
    EXPECT_FALSE(ReadRtf(reinterpret_cast<const std::uint8_t*>("hello"), 5, &none));
}

// Body text → plain text: the words that stand for characters, control symbols, where
// destinations take effect, the characters dropped after \uN, raw 8-bit text and \binN data.
TEST(RtfReader, TextTable) {
    std::string deepEscaped;
    for (int i = 0; i < 250; ++i)
        deepEscaped += "{";
    deepEscaped += "\\}x";
    for (int i = 0; i < 250; ++i)
        deepEscaped += "}";
    const struct { const char* name; std::string body; std::string text; } cases[] = {
        {"breaks", "a\\line b\\sect c\\row d\\cell e\\par", "a\nb\nc\nd\te\n"},
        {"punctuation", "\\emdash\\endash\\bullet\\lquote\\rquote\\ldblquote\\rdblquote",
         "\xE2\x80\x94\xE2\x80\x93\xE2\x80\xA2\xE2\x80\x98\xE2\x80\x99\xE2\x80\x9C\xE2\x80\x9D"},
        {"symbols", "a\\~b\\-c\\_d\\\nx\\%y", "a\xC2\xA0" "bc-d\nxy"},
        {"destination only after a brace", "{\\pict 0a}{b\\pict c}\\info d", "bcd"},
        {"star only after a brace", "{\\*\\unknown hidden}{a\\*b}", "ab"},
        {"unknown and over-long words", "\\unknownword1 a\\" + std::string(40, 'p') + "-12 b",
         "ab"},
        {"uc0 drops nothing", "\\uc0\\u233x", "\xC3\xA9x"},
        {"uc is at most 10", "\\uc99\\u233" + std::string(12, 'x'), "\xC3\xA9xx"},
        {"uc without a number keeps 1", "\\uc\\u233xy", "\xC3\xA9y"},
        {"a hex escape is one character", "\\u233\\'e9z", "\xC3\xA9z"},
        {"a control word is one character", "\\u233\\par z", "\xC3\xA9z"},
        {"a symbol is one character", "\\u233\\~z", "\xC3\xA9z"},
        {"braces are not characters", "\\u233{}xy", "\xC3\xA9y"},
        {"a UTF-8 stand-in is one character", "\\u233\xC3\xA9x", "\xC3\xA9x"},
        {"lone low surrogate", "\\u-8704?a", "a"},
        {"high surrogate then a letter", "\\u-10179?\\u233?", "\xC3\xA9"},
        {"\\u inside a destination", "{\\fonttbl\\u233?}x", "x"},
        {"raw UTF-8 and Windows-1252", "caf\xC3\xA9 \x80\x81\xE9", "caf\xC3\xA9 \xE2\x82\xAC\xC3\xA9"},
        {"hex escapes", "\\'80\\'81\\'zz\\'4", "\xE2\x82\xAC" "zz4"},
        {"line ends in the text", "a\r\nb", "ab"},
        {"binary data is not text", "{\\*\\blipuid x}\\bin3 a}b c", " c"},
        {"binary data after \\u is the dropped character", "\\u233\\bin2 }}z", "\xC3\xA9z"},
        {"binary without a count", "\\bin x", "x"},
        {"binary count past the end", "a\\bin99 b}", "a"},
        {"escaped braces beyond the depth limit", deepEscaped + "end", "end"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read("{\\rtf1 " + c.body + "}").PlainText(), c.text) << c.name;
}

TEST(RtfReader, FormattingSwitches) {
    const RtfDocument d = Read("{\\rtf1{\\colortbl;\\red1\\green2\\blue3;}"
                               "\\b\\i\\ul\\fs40\\cf1 a\\plain b\\b1 c\\b0\\i2 d\\i0\\ul e\\ulnone f}");
    const struct { const char* text; bool bold, italic, underline; int halfPoints; bool hasColor; } runs[] = {
        {"a", true, true, true, 40, true},   {"b", false, false, false, 24, false},
        {"c", true, false, false, 24, false}, {"d", false, true, false, 24, false},
        {"e", false, false, true, 24, false}, {"f", false, false, false, 24, false},
    };
    ASSERT_EQ(d.runs.size(), std::size(runs));
    for (std::size_t k = 0; k < d.runs.size(); ++k) {
        const RtfRun& r = d.runs[k];
        EXPECT_EQ(r.text, runs[k].text);
        EXPECT_EQ(r.bold, runs[k].bold) << r.text;
        EXPECT_EQ(r.italic, runs[k].italic) << r.text;
        EXPECT_EQ(r.underline, runs[k].underline) << r.text;
        EXPECT_EQ(r.halfPoints, runs[k].halfPoints) << r.text;
        EXPECT_EQ(r.hasColor, runs[k].hasColor) << r.text;
    }
    EXPECT_EQ(d.runs[0].color, 0x010203u);
}

TEST(PictureProbe, HeadersAndDamage) {
    const std::string png = Bin("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\x01\x2C\0\0\0\xC8");
    const std::string gif = Bin("GIF89a\x20\x03\x58\x02");
    std::string bmp(26, '\0');
    bmp[0] = 'B', bmp[1] = 'M', bmp[14] = 40, bmp[18] = 10, bmp[22] = static_cast<char>(0xF6),
    bmp[23] = bmp[24] = bmp[25] = static_cast<char>(0xFF); // height -10 (top-down)
    const std::string jpeg = Bin("\xFF\xD8\xFF\xE0\0\x04xx\xFF\xC0\0\x11\x08\x01\x00\x02\x00");
    const std::string tiff = Bin("II*\0\x08\0\0\0\x02\0\x00\x01\x03\0\x01\0\0\0\x40\0\0\0"
                                         "\x01\x01\x04\0\x01\0\0\0\x30\0\0\0");
    const std::string ico = Bin("\0\0\x01\0\x02\0\x10\x10\0\0\0\0\0\0\0\0\0\0\0\0"
                                        "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0");
    const struct { const char* name; std::string bytes; bool ok; PictureFormat f; std::uint32_t w, h; } cases[] = {
        {"png", png, true, PictureFormat::Png, 300, 200},
        {"gif", gif, true, PictureFormat::Gif, 800, 600},
        {"bmp", bmp, true, PictureFormat::Bmp, 10, 10},
        {"jpeg", jpeg, true, PictureFormat::Jpeg, 512, 256},
        {"tiff", tiff, true, PictureFormat::Tiff, 64, 48},
        {"ico", ico, true, PictureFormat::Ico, 256, 256},
        {"png-cut", png.substr(0, 20), false, PictureFormat::Unknown, 0, 0},
        {"jpeg-cut", jpeg.substr(0, 12), false, PictureFormat::Unknown, 0, 0},
        {"jpeg-zero-length", Bin("\xFF\xD8\xFF\xE0\0\0"), false, PictureFormat::Unknown, 0, 0},
        {"text", "hello there", false, PictureFormat::Unknown, 0, 0},
    };
    for (const auto& c : cases) {
        PictureInfo info;
        EXPECT_EQ(ProbePicture(ByteSpan(c.bytes.data(), c.bytes.size()), &info), c.ok) << c.name;
        EXPECT_EQ(info.format, c.f) << c.name;
        EXPECT_EQ(info.width, c.w) << c.name;
        EXPECT_EQ(info.height, c.h) << c.name;
    }
    PictureInfo huge{PictureFormat::Png, 60000, 60000};
    EXPECT_FALSE(PictureWithinCap(huge, kPreviewPixelCap));
    EXPECT_TRUE(PictureWithinCap({PictureFormat::Png, 8000, 8000}, kPreviewPixelCap));
    EXPECT_FALSE(PictureWithinCap({PictureFormat::Png, 8000, 8000}, kThumbnailPixelCap));
}

TEST(OfficeDocument, CompoundKindsAndDamage) {
    const std::string folder = CompoundDocumentFolder();
    ASSERT_FALSE(folder.empty());
    int office = 0;
    for (const CompoundKindFile& k : CompoundKindFiles()) {
        const std::string path = folder + "/" + k.file;
        const bool expect = k.kind == COMPOUND_DOC || k.kind == COMPOUND_XLS;
        office += expect;
        EXPECT_EQ(IsOfficeDocument(path), expect) << k.file;
        if (!expect)
            continue;
        std::vector<std::uint8_t> bytes = ReadFileBytes(path);
        // Damaged copies: cut in the header, a broken signature, a directory sector pointing
        // outside the file.
        auto cut = bytes;
        cut.resize(300);
        auto sig = bytes;
        sig[0] ^= 0xFF;
        auto dir = bytes;
        dir[48] = 0xF0, dir[49] = 0xFF, dir[50] = 0xFF, dir[51] = 0x0F;
        EXPECT_FALSE(IsOfficeDocument(Write("cut.doc", std::string(cut.begin(), cut.end())))) << k.file;
        EXPECT_FALSE(IsOfficeDocument(Write("sig.doc", std::string(sig.begin(), sig.end())))) << k.file;
        EXPECT_FALSE(IsOfficeDocument(Write("dir.doc", std::string(dir.begin(), dir.end())))) << k.file;
    }
    EXPECT_GE(office, 2);
    EXPECT_FALSE(IsOfficeDocument(Write("plain.doc", std::string(4096, 'x'))));
    EXPECT_FALSE(IsOfficeDocument(ScratchDir("parsers") + "/missing.doc"));
}
