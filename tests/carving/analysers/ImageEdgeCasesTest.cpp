// The raster and font analysers on hand-made and altered files: the limits of each walk, the
// damaged headers they must refuse, and the bytes that must not make them run away.
#include "tests/carving/analysers/AnalyserTestKit.h"
#include "tests/support/ImageFiles.h"

#include <gtest/gtest.h>

using namespace analysertest;
using namespace testsupport;

namespace {

// The furthest sector a device was asked for.
std::uint64_t LastSectorRead(const MemoryDevice& dev) {
    std::uint64_t last = 0;
    for (const auto& c : dev.Calls())
        last = std::max(last, c.first + c.count);
    return last;
}

// ---- JPEG ----
struct JpegRecipe {
    const char* app = "JFIF"; // "JFIF", "Exif", "jfif" or nullptr (a table comes first)
    std::uint8_t frame = 0xC0;
    std::uint8_t components = 3;
    std::uint16_t width = 16, height = 8;
    std::size_t dataBytes = 300;
    bool end = true;
    bool scanFirst = false;
};

// Returns the file; *dataAt gets the offset of the first entropy-coded byte.
Bytes Jpeg(const JpegRecipe& s, std::size_t* dataAt = nullptr) {
    Bytes b = {0xFF, 0xD8};
    auto segment = [&](std::uint8_t type, const Bytes& body) {
        b.push_back(0xFF);
        b.push_back(type);
        const std::size_t at = b.size();
        PutBe16(b, at, static_cast<std::uint16_t>(body.size() + 2));
        b.insert(b.end(), body.begin(), body.end());
    };
    if (s.app) {
        Bytes app(14, 0);
        std::memcpy(app.data(), s.app, 4);
        segment(std::strcmp(s.app, "Exif") == 0 ? 0xE1 : 0xE0, app);
    }
    segment(0xDB, Bytes(65, 1));
    Bytes sos = {s.components};
    sos.resize(1 + 2 * s.components + 3, 0);
    Bytes frame = {8, 0, 0, 0, 0, s.components};
    PutBe16(frame, 1, s.height);
    PutBe16(frame, 3, s.width);
    frame.resize(6 + 3 * s.components, 0x11);
    if (s.scanFirst)
        segment(0xDA, sos);
    segment(s.frame, frame);
    segment(0xC4, Bytes(29, 0));
    if (!s.scanFirst)
        segment(0xDA, sos);
    if (dataAt)
        *dataAt = b.size();
    for (std::size_t i = 0; i < s.dataBytes; ++i)
        b.push_back(static_cast<std::uint8_t>(i % 251)); // FF never appears
    if (s.end) {
        b.push_back(0xFF);
        b.push_back(0xD9);
    }
    return b;
}

// ---- TIFF ----
struct TiffRecipe {
    bool big = false;
    std::uint16_t entries = 0;      // 0: as built
    std::uint32_t countsCount = 3;  // entries of the byte-count table
    bool withOffsets = true;
    bool withCounts = true;
    std::uint32_t next = 0;         // the next-directory link
    std::uint32_t firstDirectory = 0; // 0: as built
    bool singleStrip = false;
};

// Strips of 100, 200 and 50 bytes at 8; the directory after them; the tables of offsets (LONG)
// and counts (SHORT) and the BitsPerSample triple behind it. Returns the file; its size is the
// end of the last table.
Bytes Tiff(const TiffRecipe& s, std::uint32_t* directoryAt = nullptr) {
    Bytes b;
    auto p16 = [&](std::size_t at, std::uint16_t v) { s.big ? PutBe16(b, at, v) : Put16(b, at, v); };
    auto p32 = [&](std::size_t at, std::uint32_t v) { s.big ? PutBe32(b, at, v) : Put32(b, at, v); };
    PutText(b, 0, s.big ? "MM" : "II");
    p16(2, 42);
    const std::uint32_t strips[3][2] = {{8, 100}, {108, 200}, {308, 50}};
    b.resize(358, 0x77);
    const std::uint32_t dir = 358;
    struct E {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    std::vector<E> es = {{256, 3, 1, 10}, {257, 3, 1, 35}, {258, 3, 3, 0}};
    if (s.singleStrip) {
        if (s.withOffsets)
            es.push_back({273, 4, 1, 8});
        if (s.withCounts)
            es.push_back({279, 3, 1, 350});
    } else {
        if (s.withOffsets)
            es.push_back({273, 4, 3, 0});
        if (s.withCounts)
            es.push_back({279, 3, s.countsCount, 0});
    }
    const std::uint32_t tables = dir + 2 + 12 * static_cast<std::uint32_t>(es.size()) + 4;
    // BitsPerSample triple, then offsets, then counts.
    const std::uint32_t bps = tables, offs = tables + 6, cnts = tables + 6 + 12;
    for (E& e : es) {
        if (e.tag == 258)
            e.value = bps;
        if (e.tag == 273 && !s.singleStrip)
            e.value = offs;
        if (e.tag == 279 && !s.singleStrip)
            e.value = cnts;
    }
    p32(4, s.firstDirectory ? s.firstDirectory : dir);
    p16(dir, s.entries ? s.entries : static_cast<std::uint16_t>(es.size()));
    for (std::size_t i = 0; i < es.size(); ++i) {
        const std::size_t at = dir + 2 + 12 * i;
        p16(at, es[i].tag);
        p16(at + 2, es[i].type);
        p32(at + 4, es[i].count);
        if (es[i].type == 3 && es[i].count == 1) {
            p32(at + 8, 0);
            p16(at + 8, static_cast<std::uint16_t>(es[i].value));
        } else {
            p32(at + 8, es[i].value);
        }
    }
    p32(dir + 2 + 12 * es.size(), s.next);
    for (int i = 0; i < 3; ++i) {
        p16(bps + 2 * i, 8);
        p32(offs + 4 * i, strips[i][0]);
        p16(cnts + 2 * i, static_cast<std::uint16_t>(strips[i][1]));
    }
    b.resize(s.singleStrip ? bps + 6 : cnts + 6);
    if (directoryAt)
        *directoryAt = dir;
    return b;
}

Bytes Icon(int images, std::uint32_t bytesEach, std::uint8_t width = 16) {
    Bytes b(6 + 16 * images, 0);
    Put16(b, 2, 1);
    Put16(b, 4, static_cast<std::uint16_t>(images));
    for (int i = 0; i < images; ++i) {
        const std::size_t e = 6 + 16 * i;
        b[e] = width;
        b[e + 1] = 16;
        Put16(b, e + 4, 1);
        Put16(b, e + 6, 32);
        Put32(b, e + 8, bytesEach);
        Put32(b, e + 12, static_cast<std::uint32_t>(6 + 16 * images + i * bytesEach));
    }
    b.resize(b.size() + images * bytesEach, 0x3C);
    return b;
}

Bytes Font(int tables, int known) {
    Bytes b = {0x00, 0x01, 0x00, 0x00};
    PutBe16(b, 4, static_cast<std::uint16_t>(tables));
    const char* names[] = {"cmap", "glyf", "head", "hhea", "hmtx", "loca", "maxp", "name",
                           "post", "OS/2", "cvt ", "fpgm", "gasp", "kern", "prep", "DSIG"};
    std::uint32_t at = 12 + 16 * tables;
    for (int i = 0; i < tables; ++i) {
        const std::size_t e = 12 + 16 * i;
        PutText(b, e, i < known ? names[i % 16] : "GSUB");
        PutBe32(b, e + 8, at);
        PutBe32(b, e + 12, 10 + i); // not a multiple of 4 for most
        at += (10 + i + 3) / 4 * 4;
    }
    b.resize(at, 0);
    return b;
}

} // namespace

TEST(JpegAnalyser, MarkerWalkAndEndScan) {
    std::size_t c = 0;
    const Bytes whole = Jpeg({}, &c);
    EXPECT_EQ(Carve(whole).size, whole.size());
    JpegRecipe exif;
    exif.app = "Exif";
    exif.components = 1; // the Exif variant does not count components
    EXPECT_EQ(Carve(Jpeg(exif)).size, Jpeg(exif).size());
    JpegRecipe plain;
    plain.app = nullptr;
    EXPECT_EQ(Carve(Jpeg(plain)).size, Jpeg(plain).size());

    // No end marker: the image's raw size behind the data start, plus the marker.
    JpegRecipe open;
    open.end = false;
    open.width = 4;
    open.height = 2;
    open.dataBytes = 10;
    EXPECT_EQ(Carve(Jpeg(open, &c), 5, 4096, true).size, c + 4 * 2 * 3 + 2);

    struct Case {
        const char* name;
        JpegRecipe recipe;
    };
    // Every non-differential frame is sized like a baseline one.
    for (std::uint8_t frame : {0xC1, 0xC2, 0xC3, 0xC9, 0xCA, 0xCB}) {
        JpegRecipe other;
        other.frame = frame;
        EXPECT_EQ(Carve(Jpeg(other)).size, Jpeg(other).size()) << int(frame);
    }
    std::vector<Case> unsized;
    JpegRecipe s;
    s.frame = 0xC5; // a differential frame
    unsized.push_back({"differential frame", s});
    s = {};
    s.app = "jfif";
    unsized.push_back({"lower-case JFIF", s});
    s = {};
    s.components = 1;
    unsized.push_back({"grey JFIF", s});
    s = {};
    s.scanFirst = true;
    unsized.push_back({"scan before frame", s});
    for (const Case& k : unsized) {
        const Outcome o = Carve(Jpeg(k.recipe));
        EXPECT_TRUE(o.matched) << k.name;
        EXPECT_EQ(o.fileType, 33u) << k.name;
        EXPECT_EQ(o.size, 0u) << k.name;
    }

    // A segment length that lands off a marker, and one that runs off the device.
    Bytes lost = whole;
    lost[4 + 1] += 3; // APP0 length
    EXPECT_EQ(Carve(lost).size, 0u);
    Bytes cut(whole.begin(), whole.begin() + 30);
    EXPECT_EQ(Carve(cut, 1, 0, true).size, 0u);
}

TEST(JpegAnalyser, EndScanKeepsToTheCapAndTheReadableBytes) {
    ScopedCap cap(1 << 20);
    JpegRecipe big;
    big.width = big.height = 0xFFFF;
    big.end = false;
    std::size_t c = 0;
    const Bytes file = Jpeg(big, &c);
    auto dev = Plant(file, 4, 8 << 20, true);
    const Outcome o = CarveAt(*dev, 4);
    EXPECT_EQ(o.size, c + (1 << 20) + 2);
    EXPECT_LT(LastSectorRead(*dev), 4 + 4 * 1025u); // never the whole device

    // An unreadable sector in the data on the device: the file ends where reading stopped.
    JpegRecipe longData;
    longData.dataBytes = 5000;
    longData.width = longData.height = 200;
    const Bytes f = Jpeg(longData, &c);
    auto dev2 = Plant(f, 2, 4096, true);
    dev2->FailSector(2 + 6);
    EXPECT_EQ(CarveAt(*dev2, 2).size, 6u * 512);
}

TEST(GifAnalyser, BlockWalkEdges) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    const Bytes anim = ReadFileBytes(dir + "/gif-anim.gif");
    ASSERT_EQ(anim.back(), 0x3B);
    // A comment after the last image, before the trailer.
    Bytes commented(anim.begin(), anim.end() - 1);
    const std::uint8_t comment[] = {0x21, 0xFE, 3, 'e', 'n', 'd', 0, 0x3B};
    commented.insert(commented.end(), comment, comment + sizeof(comment));
    EXPECT_EQ(Carve(commented).size, commented.size());
    // Cut short by the end of the device, inside the image data.
    Bytes cut(anim.begin(), anim.begin() + 300);
    cut.resize(512, 0xFF);
    EXPECT_EQ(Carve(cut, 1, 0, true).size, 0u);

    // Up to 512 bytes of junk between an extension and the image are stepped over.
    auto handMade = [](std::size_t junk) {
        Bytes b;
        PutText(b, 0, "GIF89a");
        Put16(b, 6, 4);
        Put16(b, 8, 4);
        b.insert(b.end(), {0x00, 0, 0});                       // no global colour table
        b.insert(b.end(), {0x21, 0xF9, 4, 0, 0, 0, 0, 0});      // graphic control
        b.insert(b.end(), junk, 0x01);
        b.insert(b.end(), {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0x81}); // descriptor, local table
        b.insert(b.end(), 12, 0x55);                            // 4 colours
        b.insert(b.end(), {2, 3, 9, 9, 9, 0, 0x3B});             // code size, one block, end
        return b;
    };
    EXPECT_EQ(Carve(handMade(500)).size, handMade(500).size());
    EXPECT_EQ(Carve(handMade(600)).size, 0u);
}

TEST(GifAnalyser, FFBytesCannotRunTheWalkToTheDeviceEnd) {
    ScopedCap cap(1 << 20);
    Bytes b;
    PutText(b, 0, "GIF89a");
    b.resize(13, 0);
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, 4, 0, 4, 0, 0x00, 8});
    b.resize(12 << 20, 0xFF); // sub-blocks of 255 bytes without end
    MemoryDevice dev(b);
    const Outcome o = CarveAt(dev, 0);
    EXPECT_TRUE(o.matched);
    EXPECT_EQ(o.size, 0u);
    EXPECT_LT(LastSectorRead(dev), 4 * 1025u);
}

TEST(TiffAnalyser, DirectoryWalk) {
    for (bool big : {false, true}) {
        TiffRecipe s;
        s.big = big;
        const Bytes whole = Tiff(s);
        EXPECT_EQ(Carve(whole).size, whole.size()) << big;
        s.singleStrip = true; // the strip stands in the entries themselves
        const Bytes single = Tiff(s);
        EXPECT_EQ(Carve(single).size, single.size()) << big;
    }
    std::uint32_t dir = 0;
    const Bytes base = Tiff({}, &dir);
    struct Case {
        const char* name;
        TiffRecipe recipe;
        std::uint64_t size;
    };
    std::vector<Case> cases;
    TiffRecipe s;
    s.next = dir;
    cases.push_back({"directory linking to itself", s, base.size()});
    s = {};
    s.next = 0x7FFFFFF0;
    cases.push_back({"link out of reach", s, base.size()});
    s = {};
    s.entries = 0xFFFF;
    cases.push_back({"entry count", s, 0});
    s = {};
    s.entries = 0;
    s.firstDirectory = 0xFFFFFFF0u;
    cases.push_back({"first directory beyond the cap", s, 0});
    s = {};
    s.countsCount = 0x40000000;
    cases.push_back({"byte-count table beyond the cap", s, 0});
    s = {};
    s.countsCount = 2;
    cases.push_back({"fewer byte counts than offsets", s, 0});
    s = {};
    s.withOffsets = false;
    cases.push_back({"byte counts without offsets", s, 0});
    s = {};
    s.withCounts = false;
    cases.push_back({"no byte counts", s, 0});
    for (const Case& c : cases) {
        const Outcome o = Carve(Tiff(c.recipe), 3, 8192);
        EXPECT_TRUE(o.matched) << c.name;
        EXPECT_EQ(o.size, c.size) << c.name;
    }
}

TEST(IconAnalyser, DirectoryLimits) {
    EXPECT_EQ(Carve(Icon(16, 100)).size, 6u + 16 * 116);
    EXPECT_EQ(Carve(Icon(3, 100)).fileType, 32u);
    EXPECT_FALSE(Carve(Icon(17, 100)).matched);
    EXPECT_FALSE(Carve(Icon(2, 0x80000)).matched); // more than 1 MiB in all
    EXPECT_EQ(Carve(Icon(2, 100, 0)).size, 6u + 2 * 116); // width 0: 256 pixels
    Bytes b = Icon(2, 100);
    b[6 + 16 + 3] = 1; // reserved byte
    EXPECT_FALSE(Carve(b).matched);
    b = Icon(2, 100);
    Put32(b, 6 + 12, 20); // an image inside the directory
    EXPECT_FALSE(Carve(b).matched);
    b = Icon(2, 100);
    Put32(b, 6 + 16 + 12, 6 + 32 + 150); // an image reaching past the file's end
    EXPECT_FALSE(Carve(b).matched);
    b = Icon(2, 100);
    Put32(b, 6 + 8, 0); // an image of no bytes
    EXPECT_FALSE(Carve(b).matched);
}

TEST(FontAnalyser, KnownTagShareAndTableCount) {
    const Bytes half = Font(6, 3);
    const Outcome o = Carve(half);
    EXPECT_TRUE(o.matched);
    EXPECT_EQ(o.size, half.size());
    EXPECT_FALSE(Carve(Font(7, 3)).matched);
    EXPECT_TRUE(Carve(Font(31, 16)).matched);
    EXPECT_FALSE(Carve(Font(32, 32)).matched);
}

TEST(HeaderSizedImages, DamagedHeaders) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    Bytes bmp = ReadFileBytes(dir + "/bmp-v3.bmp");
    Put32(bmp, 14, 108); // version 4 header
    EXPECT_FALSE(Carve(bmp).matched);

    // EPS: the file ends where the last section ends, whichever it is.
    Bytes eps(400, 0x20);
    const std::uint8_t sig[4] = {0xC5, 0xD0, 0xD3, 0xC6};
    PutBytes(eps, 0, sig, 4);
    Put32(eps, 4, 30);  // PostScript
    Put32(eps, 8, 200);
    Put32(eps, 12, 230); // metafile
    Put32(eps, 16, 100);
    Put32(eps, 20, 330); // TIFF
    Put32(eps, 24, 70);
    eps[28] = eps[29] = 0xFF;
    PutText(eps, 30, "%!PS-Adobe-3.0 EPSF-3.0");
    EXPECT_EQ(Carve(eps).size, 400u);
    eps[30] = eps[31] = 'i'; // a TIFF first (any case)
    EXPECT_EQ(Carve(eps).size, 400u);
    eps[28] = 0;
    EXPECT_FALSE(Carve(eps).matched);
}

TEST(PsdAnalyser, CompressionAndRowTable) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    const Bytes rle = ReadFileBytes(dir + "/photoshop-rle.psd");
    // The compression word behind the three sections.
    std::size_t g = 26;
    for (int i = 0; i < 3; ++i)
        g += 4 + (std::size_t(rle[g]) << 24 | std::size_t(rle[g + 1]) << 16 |
                  std::size_t(rle[g + 2]) << 8 | rle[g + 3]);
    Bytes zip = rle;
    PutBe16(zip, g, 2);
    EXPECT_EQ(Carve(zip).size, 0u);
    Bytes v2 = rle;
    PutBe16(v2, 4, 2);
    EXPECT_EQ(Carve(v2).size, 0u);
    // A row table far longer than the cap stops at the cap.
    ScopedCap cap(64 * 1024);
    Bytes tall = rle;
    PutBe32(tall, 14, 0x7FFFFFFF);
    const Outcome o = Carve(tall, 3, 256 * 1024);
    EXPECT_EQ(o.sized, 1);
    EXPECT_GT(o.size, 64u * 1024);
    EXPECT_LT(o.size, 64ull * 1024 + 2 + 65536ull * (64 * 1024 / 2));
}
