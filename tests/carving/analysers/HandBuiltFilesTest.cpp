// Formats that no Debian tool writes, built from their field layouts: each whole file is sized
// exactly; truncated and damaged copies are rejected or left without a size.
#include "tests/carving/analysers/AnalyserTestKit.h"

#include <gtest/gtest.h>

using namespace analysertest;

namespace {

const std::uint8_t kR2004Sentinel[16] = {0x68, 0x40, 0xF8, 0xF7, 0x92, 0x2A, 0xB5, 0xEF,
                                         0x18, 0xDD, 0x0B, 0xF1, 0xF1, 0xBB, 0xE9, 0xEB};
const std::uint8_t kImageSentinel[16] = {0x1F, 0x25, 0x6D, 0x07, 0xD4, 0x36, 0x28, 0x28,
                                         0x9D, 0x57, 0xCA, 0x3F, 0x9D, 0x44, 0x10, 0x2B};

Bytes Filled(std::size_t n, std::uint8_t v = 0x11) { return Bytes(n, v); }

Bytes Psp() {
    Bytes b = Filled(36 + 310 + 410 + 10 + 20);
    const std::uint8_t sig[32] = {'P', 'a', 'i', 'n', 't', ' ', 'S', 'h', 'o', 'p', ' ',
                                  'P', 'r', 'o', ' ', 'I', 'm', 'a', 'g', 'e', ' ', 'F',
                                  'i', 'l', 'e', 0x0A, 0x1A, 0, 0, 0, 0, 0};
    PutBytes(b, 0, sig, 32);
    Put16(b, 32, 5);
    Put16(b, 34, 0);
    std::size_t at = 36;
    for (std::uint32_t length : {300u, 400u, 20u}) {
        PutText(b, at, "~BK");
        b[at + 3] = 0;
        Put16(b, at + 4, 1);
        Put32(b, at + 6, length);
        at += 10 + length;
    }
    return b;
}

// Header, table of two 8-byte entries at 316, the block they lead to at 400, the block's field
// pair at 460 and the end pair just before 1000.
Bytes Cpt() {
    Bytes b = Filled(1234, 0);
    PutText(b, 0, "CPT9FILE");
    Put32(b, 40, 2);   // entries
    Put32(b, 52, 316); // table
    Put32(b, 324, 400); // the last entry
    Put32(b, 432, 0);   // no extension of the block
    Put32(b, 460, 1000);
    Put32(b, 464, 1);
    Put32(b, 992, 1200);
    Put32(b, 996, 34);
    return b;
}

Bytes Crw() {
    Bytes b = Filled(1024, 0x20);
    const std::uint8_t sig[16] = {0x49, 0x49, 0x1A, 0x00, 0x00, 0x00, 'H', 'E',
                                  'A',  'P',  'C',  'C',  'D',  'R',  0x02, 0x00};
    PutBytes(b, 0, sig, 16);
    const std::size_t x = 700;
    PutText(b, x, "High definition CCD image");
    PutText(b, x + 32, "CRW:High definition CCD image");
    PutText(b, x + 122, "Canon");
    PutText(b, x + 128, "Canon PowerShot G2");
    return b;
}

Bytes Emf() {
    Bytes b = Filled(2000, 0);
    Put32(b, 0, 1);   // EMR_HEADER
    Put32(b, 4, 108); // record size
    Put32(b, 40, 0x464D4520);
    Put32(b, 44, 0x10000);
    Put32(b, 48, 2000); // bytes
    Put32(b, 52, 3);    // records
    Put16(b, 56, 1);    // handles
    return b;
}

Bytes PlaceableWmf() {
    Bytes b = Filled(22 + 1000, 0);
    const std::uint8_t key[4] = {0xD7, 0xCD, 0xC6, 0x9A};
    PutBytes(b, 0, key, 4);
    Put16(b, 10, 640);  // right
    Put16(b, 12, 480);  // bottom
    Put16(b, 14, 1440); // units per inch
    std::uint16_t sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
    Put16(b, 20, sum);
    const std::uint8_t standard[6] = {0x01, 0x00, 0x09, 0x00, 0x00, 0x03};
    PutBytes(b, 22, standard, 6);
    Put32(b, 28, 500); // words
    return b;
}

Bytes Max3ds() {
    Bytes b = Filled(3000, 0x33);
    Put16(b, 0, 0x4D4D);
    Put32(b, 2, 3000);
    Put16(b, 6, 0x0002); // version chunk
    Put32(b, 8, 10);
    Put32(b, 12, 3);
    Put16(b, 16, 0x3D3D); // editor chunk
    Put32(b, 18, 2900);
    return b;
}

Bytes DwgR2004() {
    Bytes b = Filled(5108, 0x44);
    PutText(b, 0, "AC1018");
    b[6] = b[7] = 0;
    PutBytes(b, 128, kR2004Sentinel, 16);
    PutBytes(b, 5000, kR2004Sentinel, 16);
    return b;
}

Bytes DwgR2000() {
    Bytes b = Filled(2500, 0x45);
    PutText(b, 0, "AC1015");
    b[6] = b[7] = 0;
    Put32(b, 13, 1000); // image seeker
    Put32(b, 21, 3);    // section locators
    const std::uint32_t loc[3][2] = {{100, 800}, {2000, 500}, {1100, 900}};
    for (int i = 0; i < 3; ++i) {
        b[25 + 9 * i] = static_cast<std::uint8_t>(i);
        Put32(b, 26 + 9 * i, loc[i][0]);
        Put32(b, 30 + 9 * i, loc[i][1]);
    }
    PutBytes(b, 1000, kImageSentinel, 16);
    return b;
}

Bytes Dxf() {
    std::string s = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$ACADVER\r\n  1\r\nAC1009\r\n";
    for (int i = 0; i < 40; ++i)
        s += "  0\r\nLINE\r\n  8\r\n0\r\n 10\r\n1.0\r\n 20\r\n2.0\r\n";
    s += "  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
    return Bytes(s.begin(), s.end());
}

Bytes Fh11() {
    Bytes b = Filled(3000, 0x55);
    const std::uint8_t sig[16] = {0x1C, 0x01, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C,
                                  0x01, 0x14, 0x00, 0x02, 0x00, 0x14, 0x1C, 0x01};
    PutBytes(b, 0, sig, 16);
    PutText(b, 34, "11");
    const std::uint8_t end[11] = {'D', 'e', 'c', 'o', 'd', 'e', 0, 0xFF, 0xFF, 0xFF, 0xFF};
    PutBytes(b, 2989, end, 11);
    return b;
}

struct Sample {
    const char* name;
    Bytes file;
    const char* analyser;
    std::uint32_t fileType;
    std::uint64_t size; // 0: matched but never sized
};

std::vector<Sample> Samples() {
    return {
        {"PSP", Psp(), "FilePSPAnalyser", 51, 36 + 310 + 410 + 30},
        {"CPT", Cpt(), "FileCPTAnalyser", 15, 1234},
        {"CRW", Crw(), "FileCRWAnalyser", 16, 1024},
        {"EMF", Emf(), "FileEMFAnalyser", 24, 2000},
        {"placeable WMF", PlaceableWmf(), "FileWMFAnalyser", 66, 22 + 1000},
        {"3DS", Max3ds(), "File3DSAnalyser", 1, 3000},
        {"DWG R2004", DwgR2004(), "FileDWGAnalyser", 22, 5108},
        {"DWG R2000", DwgR2000(), "FileDWGAnalyser", 22, 2500},
        {"DXF", Dxf(), "FileDXFAnalyser", 23, Dxf().size()},
        {"FH11", Fh11(), "FileFH11Analyser", 27, 3000},
    };
}

} // namespace

TEST(HandBuiltFiles, WholeFilesAreSizedExactly) {
    for (const Sample& s : Samples()) {
        for (std::uint64_t start : {3ull, 1023ull}) {
            const Outcome o = Carve(s.file, start, 4096, true);
            ASSERT_TRUE(o.matched) << s.name;
            EXPECT_EQ(o.analyser, s.analyser) << s.name;
            EXPECT_EQ(o.fileType, s.fileType) << s.name;
            EXPECT_EQ(o.size, s.size) << s.name;
        }
    }
}

TEST(HandBuiltFiles, TruncatedCopiesGetNoSizeOrTheirHeaderSize) {
    // Cut in half at the end of the device: the walks run out of bytes and give up, except an
    // R2004 drawing, which ends with the device's readable bytes; sizes that the header states
    // stand (the RAW tree keeps to what it can recover).
    for (const Sample& s : Samples()) {
        const std::size_t half = s.file.size() / 2;
        Bytes cut(s.file.begin(), s.file.begin() + static_cast<std::ptrdiff_t>(half));
        const Outcome o = Carve(cut, 2, 0, true);
        ASSERT_TRUE(o.matched) << s.name;
        const std::string name = s.name;
        if (name == "DWG R2004")
            EXPECT_EQ(o.size, (half + 511) / 512 * 512) << name;
        else if (name == "DWG R2000") // the section locators lie in the header
            EXPECT_EQ(o.size, s.size) << name;
        else if (o.sized >= 0)
            EXPECT_EQ(o.size, 0u) << name;
        else
            EXPECT_EQ(o.size, s.size) << name;
    }
}

TEST(HandBuiltFiles, DamagedHeadersAreRejectedOrUnsized) {
    struct Case {
        const char* name;
        Bytes file;
        bool matched;
        std::uint64_t size;
    };
    std::vector<Case> cases;
    {
        Bytes b = Psp();
        PutText(b, 36, "~BX"); // no first block
        cases.push_back({"PSP without its first block", b, true, 0});
        Bytes c = Psp();
        Put32(c, 36 + 6, 100); // the walk ends early, below 512
        cases.push_back({"PSP ending below 512", c, true, 0});
        Bytes d = Psp();
        d[31] = 1;
        cases.push_back({"PSP signature", d, false, 0});
    }
    {
        Bytes b = Cpt();
        Put32(b, 52, 317);
        cases.push_back({"CPT header mark", b, false, 0});
        Bytes c = Cpt();
        Put32(c, 40, 0); // no table entries
        cases.push_back({"CPT with no entries", c, true, 0});
        Bytes d = Cpt();
        Put32(d, 324, 0xFFFFFF00u); // block far away
        cases.push_back({"CPT block out of reach", d, true, 0});
        Bytes e = Cpt();
        Put32(e, 460, 4); // end pair would start before the file
        cases.push_back({"CPT end pair before the file", e, true, 0});
        Bytes f = Cpt();
        Put32(f, 460, 0); // no end pair: the block's position stands
        cases.push_back({"CPT without end pair", f, true, 400});
        Bytes g = Cpt();
        Put32(g, 432, 100); // K, and the same value at C + 60: D moves to K + C + 60
        Put32(g, 460, 100);
        Put32(g, 560, 1000);
        Put32(g, 564, 5);
        cases.push_back({"CPT extended block", g, true, 1234});
    }
    {
        Bytes b = Emf();
        Put32(b, 48, 0);
        cases.push_back({"EMF without size", b, false, 0});
        Bytes c = Emf();
        Put16(c, 58, 1);
        cases.push_back({"EMF reserved word", c, false, 0});
    }
    {
        Bytes b = PlaceableWmf();
        b[20] ^= 1;
        cases.push_back({"placeable WMF checksum", b, false, 0});
        Bytes c = PlaceableWmf();
        c[38] = 1;
        cases.push_back({"placeable WMF parameters", c, false, 0});
    }
    {
        Bytes b = Max3ds();
        Put32(b, 18, 3001);
        cases.push_back({"3DS editor chunk outside", b, false, 0});
        Bytes c = Max3ds();
        Put32(c, 2, 0);
        cases.push_back({"3DS without size", c, false, 0});
    }
    {
        Bytes b = DwgR2004();
        b[128] ^= 0xFF;
        cases.push_back({"DWG R2004 first sentinel", b, true, 0});
        Bytes c = DwgR2000();
        Put32(c, 21, 101);
        cases.push_back({"DWG R2000 too many locators", c, true, 0});
        Bytes d = DwgR2000();
        Put32(d, 21, 0);
        cases.push_back({"DWG R2000 no locators", d, true, 0});
        Bytes e = DwgR2000();
        e[1000] ^= 1;
        cases.push_back({"DWG R2000 image sentinel", e, true, 0});
        Bytes f = DwgR2000();
        Put32(f, 13, 0xFFFFFFF0u);
        cases.push_back({"DWG R2000 image seeker out of reach", f, true, 0});
        Bytes g = DwgR2000();
        Put32(g, 30 + 9, 0); // the last section has no size
        cases.push_back({"DWG R2000 empty last section", g, true, 0});
        Bytes h = DwgR2000();
        PutText(h, 0, "AC1009");
        cases.push_back({"DWG R12 is never sized", h, true, 0});
        Bytes k = DwgR2000();
        PutText(k, 0, "AC1016");
        cases.push_back({"DWG unknown version", k, false, 0});
    }
    {
        Bytes b = Fh11();
        PutText(b, 34, "10");
        cases.push_back({"FH11 version", b, false, 0});
        Bytes c = Dxf();
        c[3] = '\n';
        cases.push_back({"DXF line ends", c, false, 0});
    }
    for (const Case& c : cases) {
        const Outcome o = Carve(c.file, 3, 4096, true);
        EXPECT_EQ(o.matched, c.matched) << c.name;
        if (c.matched) {
            EXPECT_EQ(o.size, c.size) << c.name;
        }
    }
}

TEST(HandBuiltFiles, CrwWithoutCameraRecordTakesTheFixedLimit) {
    Bytes b = Crw();
    b[700] = 'h';
    const Outcome o = Carve(b, 1, 0x1400000 + 4096, true);
    EXPECT_EQ(o.sized, 1);
    EXPECT_EQ(o.size, 0x1400000u);
    // The device ends first: the record cannot be read, no size.
    const Outcome shortDevice = Carve(b, 1, 8192, true);
    EXPECT_EQ(shortDevice.sized, 0);
    EXPECT_EQ(shortDevice.size, 0u);
}

TEST(HandBuiltFiles, TextEndsAndSentinelsStopAtTheCap) {
    ScopedCap cap(100000);
    // No end marker: the size is one past the cap; without the closing sentinel an R2004
    // drawing ends where the cap stopped the search.
    Bytes dxf = Dxf();
    dxf.resize(dxf.size() - 10);
    EXPECT_EQ(Carve(dxf, 3, 200000, true).size, 100001u);
    Bytes dwg = DwgR2004();
    dwg[5000] ^= 0xFF;
    EXPECT_EQ(Carve(dwg, 3, 200000, true).size, 100001u);
    // The device ends first: the drawing ends with the device's readable bytes.
    EXPECT_EQ(Carve(dwg, 3, 0, true).size, (dwg.size() + 511) / 512 * 512);
}
