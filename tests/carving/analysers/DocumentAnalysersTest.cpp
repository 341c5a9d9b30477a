#include "carving/BufferStorageDevice.h"
#include "carving/analysers/FileCHMAnalyser.h"
#include "carving/analysers/FileDBXAnalyser.h"
#include "carving/analysers/FileHLPAnalyser.h"
#include "carving/analysers/FileHTMAnalyser.h"
#include "carving/analysers/FileLowDocAnalyser.h"
#include "carving/analysers/FileMDBAnalyser.h"
#include "carving/analysers/FileMNYAnalyser.h"
#include "carving/analysers/FileOLEAnalyser.h"
#include "carving/analysers/FileONEAnalyser.h"
#include "carving/analysers/FilePDFAnalyser.h"
#include "carving/analysers/FilePSTAnalyser.h"
#include "carving/analysers/FileRTFAnalyser.h"
#include "carving/analysers/FileUnicodeHTMAnalyser.h"
#include "carving/analysers/FileWPDAnalyser.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "tests/carving/analysers/DocumentKit.h"
#include "tests/support/FixtureKit.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace dockit;
using testsupport::PatternBytes;

namespace {

Bytes Sector(std::initializer_list<std::uint8_t> prefix, std::size_t at = 0) {
    Bytes b(512, 0x20);
    std::copy(prefix.begin(), prefix.end(), b.begin() + at);
    return b;
}
Bytes Sector(const char* text, std::size_t at = 0) {
    Bytes b(512, 0x20);
    std::memcpy(b.data() + at, text, std::strlen(text));
    return b;
}
Bytes With32(Bytes b, std::size_t at, std::uint32_t v) {
    Put32(b, at, v);
    return b;
}

const std::uint8_t kOneGuid[16] = {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D,
                                   0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29, 0x96, 0xD3};

Bytes LowDoc(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint32_t textEnd,
             std::uint16_t tail) {
    Bytes s = Sector({a, b, c, 0x00});
    Put32(s, 292, textEnd);
    Put16(s, 296, tail);
    return s;
}
Bytes Wpd(std::uint32_t at8, std::uint32_t at14, std::uint32_t size) {
    Bytes s = Sector({0xFF, 'W', 'P', 'C'});
    Put32(s, 4, 0x100);
    Put32(s, 8, at8);
    Put32(s, 14, at14);
    Put32(s, 20, size);
    return s;
}
Bytes Pst(std::uint8_t format) {
    Bytes s = Sector("!BDN");
    s[10] = format;
    Put32(s, 168, 271360);
    Put64(s, 184, 0x123456789ull);
    return s;
}
Bytes Dbx(std::initializer_list<std::uint8_t> id) {
    Bytes s = Sector(id);
    Put32(s, 124, 0x25000);
    return s;
}
Bytes Hlp(std::uint32_t directory, std::uint32_t size) {
    Bytes s = Sector({0x3F, 0x5F, 0x03, 0x00});
    Put32(s, 4, directory);
    Put32(s, 8, 0xFFFFFFFF);
    Put32(s, 12, size);
    return s;
}
Bytes Chm(std::uint8_t guid2First = 0x11) {
    Bytes s(512, 0);
    std::memcpy(s.data(), "ITSF", 4);
    Put32(s, 4, 3);
    Put32(s, 8, 96);
    const std::uint8_t g[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                                0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    std::memcpy(s.data() + 24, g, 16);
    std::memcpy(s.data() + 40, g, 16);
    s[40] = guid2First;
    Put32(s, 96, 0x1FE);
    Put64(s, 104, 0x10000A000ull); // the size is 64 bits
    return s;
}

// The sector with everything from `keep` on zeroed: a header cut short.
Bytes Cut(Bytes b, std::size_t keep) {
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(keep), b.end(), 0);
    return b;
}

struct HeaderCase {
    const char* what;
    const char* analyser;
    Bytes sector;
    int matched;
    std::uint32_t type;
    std::uint64_t size;
};

} // namespace

TEST(DocumentAnalysers, HeaderFieldsTable) {
    Bytes one(512, 0x33);
    std::memcpy(one.data(), kOneGuid, 16);
    Bytes oneBad = one;
    oneBad[15] ^= 1;
    Bytes mny = Sector("MSISAM Database", 4);
    const HeaderCase cases[] = {
        {"Word 2", "FileLowDocAnalyser", LowDoc(0xDB, 0xA5, 0x2D, 10000, 300), 1, 21, 10752},
        {"Word 1", "FileLowDocAnalyser", LowDoc(0x94, 0xA6, 0x2E, 1024, 0), 1, 21, 1024},
        {"Word fields at their top: no 32-bit wrap", "FileLowDocAnalyser",
         LowDoc(0xDB, 0xA5, 0x2D, 0xFFFFFFFF, 0xFFFF), 1, 21, 0x100010000ull},
        {"Word other version", "FileLowDocAnalyser", LowDoc(0xDB, 0xA5, 0x2E, 1, 1), 0, 0, 0},
        {"WordPerfect document", "FileWPDAnalyser", Wpd(0x01020A01, 0x00050200, 7777), 1, 64, 7777},
        {"WordPerfect graphics", "FileWPDAnalyser", Wpd(0x00021601, 0x00030000, 900), 1, 65, 900},
        {"Corel presentation", "FileWPDAnalyser", Wpd(0x00010F0F, 0x00030000, 1234), 1, 57, 1234},
        {"WordPerfect crossed pair", "FileWPDAnalyser", Wpd(0x01020A01, 0x00030000, 5), 0, 0, 0},
        {"OneNote", "FileONEAnalyser", one, 1, 45, 0x100000},
        {"OneNote GUID off by a bit", "FileONEAnalyser", oneBad, 0, 0, 0},
        {"PST ANSI", "FilePSTAnalyser", Pst(14), 1, 52, 271360},
        {"PST Unicode: 64-bit end", "FilePSTAnalyser", Pst(23), 1, 52, 0x123456789ull},
        {"PST other format", "FilePSTAnalyser", Pst(15), 1, 52, 1048576},
        {"PST lower case", "FilePSTAnalyser", Sector("!bdn"), 0, 0, 0},
        {"Money", "FileMNYAnalyser", mny, 1, 38, 0x100000},
        {"Money text at 0", "FileMNYAnalyser", Sector("MSISAM Database"), 0, 0, 0},
        {"DBX folder", "FileDBXAnalyser",
         Dbx({0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E,
              0x00, 0xC0}),
         1, 19, 0x25000},
        {"DBX folder list", "FileDBXAnalyser",
         Dbx({0xCF, 0xAD, 0x12, 0xFE, 0xC6, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E,
              0x00, 0xC0}),
         1, 19, 0x25000},
        {"DBX C7", "FileDBXAnalyser",
         Dbx({0xCF, 0xAD, 0x12, 0xFE, 0xC7, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E,
              0x00, 0xC0}),
         1, 19, 0x25000},
        {"DBX offline", "FileDBXAnalyser",
         Dbx({0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF,
              0x00, 0x60}),
         1, 19, 0x25000},
        {"DBX old store", "FileDBXAnalyser", Dbx({'J', 'M', 'F', '6', 3, 0, 0x10, 0}), 1, 19,
         0x25000},
        {"DBX old store other version", "FileDBXAnalyser", Dbx({'J', 'M', 'F', '6', 3, 0, 0x10, 1}),
         0, 0, 0},
        {"DBX C8", "FileDBXAnalyser",
         Dbx({0xCF, 0xAD, 0x12, 0xFE, 0xC8, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E,
              0x00, 0xC0}),
         0, 0, 0},
        {"HLP", "FileHLPAnalyser", Hlp(0x1000, 0x2345), 1, 30, 0x2345},
        {"HLP size equal to the directory start", "FileHLPAnalyser", Hlp(0x2345, 0x2345), 1, 30,
         0x2345},
        {"HLP size 511", "FileHLPAnalyser", Hlp(0x100, 511), 0, 0, 0},
        {"HLP size below the directory", "FileHLPAnalyser", Hlp(0x3000, 0x2FFF), 0, 0, 0},
        {"CHM", "FileCHMAnalyser", Chm(), 1, 12, 0x10000A000ull},
        {"CHM first GUID twice", "FileCHMAnalyser", Chm(0x10), 1, 12, 0x10000A000ull},
        {"CHM other GUID", "FileCHMAnalyser", Chm(0x12), 0, 0, 0},
        {"CHM header length 97", "FileCHMAnalyser", With32(Chm(), 8, 97), 0, 0, 0},
        {"CHM section tag", "FileCHMAnalyser", With32(Chm(), 96, 0x1FF), 0, 0, 0},
        {"CHM field at 100", "FileCHMAnalyser", With32(Chm(), 100, 1), 0, 0, 0},
        {"CHM field at 112", "FileCHMAnalyser", With32(Chm(), 112, 1), 0, 0, 0},
        {"CHM field at 116", "FileCHMAnalyser", With32(Chm(), 116, 1), 0, 0, 0},
        // Headers cut short: rejected, or matched with a size of 0 that the tree leaves out.
        {"Word cut after the magic", "FileLowDocAnalyser", Cut(LowDoc(0xDB, 0xA5, 0x2D, 9, 9), 4),
         1, 21, 0},
        {"WordPerfect cut after the prefix", "FileWPDAnalyser",
         Cut(Wpd(0x01020A01, 0x00050200, 7), 4), 0, 0, 0},
        {"PST cut after the magic", "FilePSTAnalyser", Cut(Pst(14), 4), 1, 52, 1048576},
        {"PST cut before its end field", "FilePSTAnalyser", Cut(Pst(23), 184), 1, 52, 0},
        {"DBX cut after the class id", "FileDBXAnalyser",
         Cut(Dbx({0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11, 0x9A,
                  0x4E, 0x00, 0xC0}),
             16),
         1, 19, 0},
        {"HLP cut after the magic", "FileHLPAnalyser", Cut(Hlp(0x100, 0x2000), 4), 0, 0, 0},
        {"CHM cut after the GUIDs", "FileCHMAnalyser", Cut(Chm(), 56), 0, 0, 0},
        {"CHM cut before its size", "FileCHMAnalyser", Cut(Chm(), 104), 1, 12, 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto a = CreateAnalyserByName(c.analyser);
        ASSERT_TRUE(a);
        const Carved r = Carve(*a, c.sector, PatternBytes(600, 3));
        EXPECT_EQ(r.matched, c.matched);
        if (!c.matched)
            continue;
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.headerSize, c.size);
        // The header gave the size; sizing leaves it as it is.
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.size, c.size);
    }
}

TEST(DocumentAnalysers, TypeIdsAndKeys) {
    const struct {
        const char* name;
        int typeId;
    } classes[] = {
        {"FileOLEAnalyser", 44},        {"FileLowDocAnalyser", 21}, {"FileWPDAnalyser", 64},
        {"FilePDFAnalyser", 46},        {"FileRTFAnalyser", 56},    {"FileHTMAnalyser", 31},
        {"FileUnicodeHTMAnalyser", 31}, {"FileONEAnalyser", 45},    {"FilePSTAnalyser", 52},
        {"FileMDBAnalyser", 37},        {"FileMNYAnalyser", 38},    {"FileDBXAnalyser", 19},
        {"FileHLPAnalyser", 30},        {"FileCHMAnalyser", 12},
    };
    for (const auto& c : classes) {
        SCOPED_TRACE(c.name);
        auto a = CreateAnalyserByName(c.name);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->GetTypeId(), c.typeId);
        std::vector<SignatureKey> keys;
        EXPECT_TRUE(a->GetSignatureKeys(keys));
        EXPECT_FALSE(keys.empty());
    }
    // The classes each id creates.
    RawFileAnalyserList list;
    CreateRawFileAnalyser(21, &list);
    CreateRawFileAnalyser(3, &list);
    CreateRawFileAnalyser(31, &list);
    CreateRawFileAnalyser(64, &list);
    ASSERT_EQ(list.Size(), 7u);
    EXPECT_NE(dynamic_cast<FileOLEAnalyser*>(list.At(0)), nullptr);
    EXPECT_NE(dynamic_cast<FileLowDocAnalyser*>(list.At(1)), nullptr);
    EXPECT_NE(dynamic_cast<FileONEAnalyser*>(list.At(2)), nullptr);
    EXPECT_NE(dynamic_cast<FileHTMAnalyser*>(list.At(3)), nullptr);
    EXPECT_NE(dynamic_cast<FileUnicodeHTMAnalyser*>(list.At(4)), nullptr);
    EXPECT_NE(dynamic_cast<FileOLEAnalyser*>(list.At(5)), nullptr);
    EXPECT_NE(dynamic_cast<FileWPDAnalyser*>(list.At(6)), nullptr);
}

// ---- PDF ----

TEST(DocumentAnalysers, PdfScan) {
    const std::string body = "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer\n";
    const std::string rev1 = body + "%%EOF\n";
    const std::string rev2 = rev1 + "2 0 obj << /Title (second) >> endobj\nstartxref\n9\n%%EOF\n";
    const std::string ai = "%PDF-1.5\n%!PS-Adobe-3.0\n" + std::string(100, 'x') + "%%EOF\r\n";
    const Bytes zeros(700, 0);
    const struct {
        const char* what;
        std::string file;
        Bytes tail;
        int result;
        std::uint32_t type;
        std::uint64_t size;
    } cases[] = {
        {"one revision", rev1, zeros, 1, 46, rev1.size()},
        {"incremental update: the last %%EOF", rev2, zeros, 1, 46, rev2.size()},
        {"Illustrator: typed 5, %%EOF counts 7", ai, zeros, 1, 5, ai.size()},
        {"the next PDF starts", body + "stream", ToBytes("%PDF-1.7\n" + std::string(600, 'y')), 1,
         46, body.size() + 6},
        {"the next PDF after an %%EOF and text", rev1 + "abc", ToBytes("%PDF-1.3\n"), 1, 46,
         rev1.size()},
        {"binary data does not stop the scan",
         body + std::string("\x01\x00\xFF\x80", 4) + "%%EOF\n", zeros, 1, 46, body.size() + 10},
        {"%%EOF cut by the device's end", body + "%%EO", {}, 0, 46, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FilePDFAnalyser a;
        const Carved r = Carve(a, ToBytes(c.file), c.tail, 3, c.tail.empty() ? 0 : 4);
        EXPECT_EQ(r.matched, 1);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.type, c.type);
        EXPECT_EQ(r.size, c.size);
    }
}

TEST(DocumentAnalysers, PdfScanStopsAtTheLimit) {
    ScopedMaxRawFileSize limit(5000);
    FilePDFAnalyser a;
    // No %%EOF within the limit: one byte past it.
    Carved r = Carve(a, ToBytes("%PDF-1.4\n" + std::string(20000, 'z')));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.size, 5001u);
    // Revisions go on past the limit: the last %%EOF within it.
    std::string f = "%PDF-1.4\n";
    std::uint64_t lastWithin = 0;
    while (f.size() < 20000) {
        f += std::string(900, 'q') + "%%EOF\n";
        if (f.size() <= 5000)
            lastWithin = f.size();
    }
    r = Carve(a, ToBytes(f));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.size, lastWithin);
}

// ---- RTF ----

TEST(DocumentAnalysers, RtfBraceCount) {
    const struct {
        const char* what;
        std::string file;
        std::string tail;
        std::uint64_t size;
    } cases[] = {
        {"balanced", "{\\rtf1\\ansi {\\b bold} text}", std::string(10, '\0'), 27},
        {"more closing than opening braces", "{\\rtf1 a}", "}}} more text", 9},
        {"escaped braces count like others", "{\\rtf1 \\{ x}", std::string("}\0", 2), 13},
        {"the version digit is not counted", "{\\rtf{}", " tail", 7},
        {"a NUL ends the text", "{\\rtf1 {open", std::string("\0abc}}", 6), 12},
        {"a control byte ends the text", "{\\rtf1 {open\r\n\tx", "\x01\x02}}", 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileRTFAnalyser a;
        const Carved r = Carve(a, ToBytes(c.file), ToBytes(c.tail));
        EXPECT_EQ(r.matched, 1);
        EXPECT_EQ(r.type, 56u);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.size, c.size);
    }
    ScopedMaxRawFileSize limit(3000);
    FileRTFAnalyser a;
    const Carved r = Carve(a, ToBytes("{\\rtf1 " + std::string(9000, '{')));
    EXPECT_EQ(r.size, 3001u);
    EXPECT_EQ(Carve(a, ToBytes("{\\rtx1}")).matched, 0);
}

// ---- HTML ----

TEST(DocumentAnalysers, HtmlMatch) {
    const struct {
        const char* text;
        std::size_t at;
        int matched;
    } cases[] = {
        {"<HTML>", 0, 1},
        {"<html><body>", 0, 1},
        {"<!DOCTYPE html PUBLIC", 0, 1},
        {"<!doctype HTML>", 0, 1},
        {"<!-- comment -->\n<HtMl>", 0, 1},
        {"<!-- only a comment -->", 0, 0},
        {"<html lang=\"en\">", 0, 0},
        {"<head><html>", 0, 0},
        {"<!", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        FileHTMAnalyser a;
        Bytes s = Sector(c.text, c.at);
        CRawFileInfo r;
        EXPECT_EQ(a.MatchHeader(s.data(), &r), c.matched);
    }
    // "<HTML>" as far in as offset 504, not 505.
    Bytes s = Sector("<!x");
    std::memcpy(s.data() + 504, "<html>", 6);
    CRawFileInfo r;
    FileHTMAnalyser a;
    EXPECT_EQ(a.MatchHeader(s.data(), &r), 1);
    EXPECT_EQ(r.m_u32FileType, 31u);
    s = Sector("<!x");
    std::memcpy(s.data() + 505, "<html>", 6);
    EXPECT_EQ(a.MatchHeader(s.data(), &r), 0);
}

TEST(DocumentAnalysers, HtmlScan) {
    FileHTMAnalyser a;
    const std::string page = "<html><body>caf\xC3\xA9\r\n\t<p>text</p></body></HTML>";
    Carved r = Carve(a, ToBytes(page), ToBytes("trailing text that is no part of it"));
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.size, page.size());
    // No end tag: the text ends at the first byte that cannot be text.
    r = Carve(a, ToBytes("<html><body>no end"), Bytes{0x00, 0x41});
    EXPECT_EQ(r.size, 18u);
    // Text without the end tag in its first MiB: 0x100001.
    r = Carve(a, ToBytes("<html>" + std::string(0x100100, 'a')));
    EXPECT_EQ(r.size, 0x100001u);
    // The end tag straddling a 512 KiB block of the reader.
    std::string big = "<html>" + std::string(524288 - 9, 'b') + "</html>";
    r = Carve(a, ToBytes(big), Bytes(600, 0x02));
    EXPECT_EQ(r.size, big.size());
    {
        ScopedMaxRawFileSize limit(1000);
        r = Carve(a, ToBytes("<html>" + std::string(5000, 'c')));
        EXPECT_EQ(r.size, 1001u);
    }
    // The text runs to the device's end.
    r = Carve(a, ToBytes("<html>" + std::string(1018, 'd')), {}, 3, 0);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.size, 1024u);
}

namespace {

Bytes Utf16(const std::string& s, bool bom = true) {
    Bytes b;
    if (bom)
        b = {0xFF, 0xFE};
    for (unsigned char c : s) {
        b.push_back(c);
        b.push_back(0);
    }
    return b;
}

} // namespace

TEST(DocumentAnalysers, Utf16HtmlScan) {
    const std::string page = "<HTML><body>text</body></html>\r\n";
    const struct {
        const char* what;
        Bytes file;
        Bytes tail;
        int result;
        std::uint64_t size;
    } cases[] = {
        {"end tag and its CR LF", Utf16(page), Bytes(40, 0), 1, 2 + 2 * 32},
        {"end tag and an LF", Utf16("<html>x</html>\n"), Bytes(40, 0x41), 1, 2 + 2 * 15},
        {"end tag and a CR", Utf16("<html>x</html>\r"), PatternBytes(40, 3), 1, 2 + 2 * 15},
        {"declaration first", Utf16("<!DOCTYPE html>\r\n<html>x</html>"), Bytes(40, 0), 1,
         2 + 2 * 31},
        {"no end tag: the NUL unit", Utf16("<html>abc"), Bytes(40, 0), 1, 2 + 2 * 9},
        {"a byte-order mark inside ends it", Utf16("<html>ab"), Bytes{0xFF, 0xFE, 'x', 0}, 1, 18},
        {"a control code ends it", Utf16("<html>ab"), Bytes{0x01, 0x00, 'x', 0}, 1, 18},
        {"no HTML start", Utf16("<head>abc</html>"), {}, 0, 0},
        {"a declaration without <html>", Utf16("<!-- x -->abc"), {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileUnicodeHTMAnalyser a;
        const Carved r = Carve(a, c.file, c.tail);
        EXPECT_EQ(r.matched, 1);
        EXPECT_EQ(r.type, 31u);
        EXPECT_EQ(r.result, c.result);
        EXPECT_EQ(r.size, c.size);
        // The 8-bit analyser (same type id) sizes such a file the same way.
        FileHTMAnalyser narrow;
        CRawFileInfo rec;
        testsupport::MemoryDevice dev(8 + c.file.size() / 512);
        std::memcpy(dev.Sector(1), c.file.data(), c.file.size());
        if (!c.tail.empty())
            std::memcpy(dev.Sector(1) + c.file.size(), c.tail.data(), c.tail.size());
        rec.m_u64StartSector = 1;
        EXPECT_EQ(narrow.ComputeFileSize(&rec, &dev), c.result);
        EXPECT_EQ(rec.m_u64Size, c.size);
    }
    FileUnicodeHTMAnalyser a;
    // A page that iconv wrote as UTF-16 with CR LF line ends ends on a whole code unit, with
    // the line end behind its end tag.
    const std::string dir = testsupport::ScratchDir("utf16-html");
    const std::string text = "<HTML>\r\n<head><title>Seite</title></head>\r\n<body>\u00e4\u00f6\u00fc "
                             "\u20ac</body>\r\n</HTML>\r\n";
    ASSERT_TRUE(testsupport::WriteFileBytes(dir + "/page.txt", Bytes(text.begin(), text.end())));
    ASSERT_TRUE(testsupport::MustRun("cd " + testsupport::ShellQuote(dir) +
                                     " && { printf '\\377\\376'; iconv -f UTF-8 -t UTF-16LE page.txt; }"
                                     " > page.htm"));
    const Bytes real = testsupport::ReadFileBytes(dir + "/page.htm");
    ASSERT_EQ(real.size() % 2, 0u);
    ASSERT_GT(real.size(), 100u);
    for (const Bytes& tail : {Bytes(600, 0), PatternBytes(600, 8), Utf16("more text")}) {
        const Carved c = Carve(a, real, tail);
        EXPECT_EQ(c.result, 1);
        EXPECT_EQ(c.size, real.size());
    }
    const Carved r = Carve(a, Utf16("<html>" + std::string(0x80100, 'e')));
    EXPECT_EQ(r.size, 0x100002u);
    EXPECT_EQ(Carve(a, Utf16("<html>", false)).matched, 0);
}

// ---- Access ----

namespace {

Bytes Mdb(std::uint8_t version, std::size_t page, std::initializer_list<std::uint8_t> types) {
    Bytes b(page * (1 + types.size()), 0x61);
    const std::uint8_t magic[20] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                    'r',  'd',  ' ',  'J',  'e', 't', ' ', 'D', 'B', 0x00};
    std::memcpy(b.data(), magic, 20);
    b[20] = version;
    std::size_t i = 1;
    for (std::uint8_t t : types)
        b[page * i++] = t;
    return b;
}

} // namespace

TEST(DocumentAnalysers, MdbPageWalk) {
    const struct {
        const char* what;
        Bytes file;
        Bytes tail;
        std::uint64_t size;
    } cases[] = {
        {"Jet 3 pages of 2048", Mdb(0, 2048, {1, 2, 5, 4, 3}), {0x41}, 6 * 2048},
        {"Jet 4 pages of 4096", Mdb(1, 4096, {1, 2, 1}), {0x06}, 4 * 4096},
        {"page types from 0x80 do not end it", Mdb(0, 2048, {1, 0x80, 0xFF}), {0x7F}, 4 * 2048},
        {"the device ends", Mdb(2, 4096, {1, 1}), {}, 3 * 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FileMDBAnalyser a;
        const Carved r = Carve(a, c.file, c.tail, 3, c.tail.empty() ? 0 : 8);
        EXPECT_EQ(r.matched, 1);
        EXPECT_EQ(r.type, 37u);
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.size, c.size);
    }
    ScopedMaxRawFileSize limit(5 * 2048);
    FileMDBAnalyser a;
    const Carved r = Carve(a, Mdb(0, 2048, {1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(r.size, 6u * 2048);
    Bytes bad = Mdb(0, 2048, {});
    bad[14] = 'j';
    EXPECT_EQ(Carve(a, bad).matched, 0);
}

// ---- Walks over the search's ring ----

// In the ring, bytes outside the window say nothing about the file's end: walks that would end
// there give up and leave the file to the device.
TEST(DocumentAnalysers, WalksGiveUpAtTheRingsEdge) {
    const std::function<Bytes()> files[] = {
        [] { return ToBytes("%PDF-1.4\n" + std::string(3000, 'p')); },
        [] { return ToBytes("{\\rtf1 " + std::string(3000, 'r')); },
        [] { return ToBytes("<html>" + std::string(3000, 'h')); },
        [] { return Utf16("<html>" + std::string(3000, 'u')); },
        [] { return Mdb(0, 2048, {1}); },
    };
    const char* names[] = {"FilePDFAnalyser", "FileRTFAnalyser", "FileHTMAnalyser",
                           "FileUnicodeHTMAnalyser", "FileMDBAnalyser"};
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i]);
        Bytes f = files[i]();
        f.resize(8 * 512, f.back()); // fills the ring's two chunks exactly
        CBufferStorageDevice ring;
        ASSERT_TRUE(ring.Setup(100, 4, 2));
        ASSERT_EQ(ring.AppendChunk(f.data()), 1);
        ASSERT_EQ(ring.AppendChunk(f.data() + 4 * 512), 1);
        auto a = CreateAnalyserByName(names[i]);
        CRawFileInfo r;
        ASSERT_EQ(a->MatchHeader(f.data(), &r), 1);
        r.m_u64StartSector = 100;
        EXPECT_EQ(a->ComputeFileSize(&r, &ring), 0);
        EXPECT_EQ(r.m_u64Size, 0u);
    }
}
