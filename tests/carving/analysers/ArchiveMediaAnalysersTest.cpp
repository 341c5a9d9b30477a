// The archive, RIFF, audio and video analysers on small hand-made files: signatures, header
// fields and structure walks, and a table of damaged headers each analyser must refuse, end
// early at, or leave unsized.
#include "carving/BufferStorageDevice.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "filesystems/FileProperties.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <zlib.h>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct B {
    Bytes b;
    B& str(const char* s) {
        b.insert(b.end(), s, s + std::strlen(s));
        return *this;
    }
    B& raw(const Bytes& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    B& u8(unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    B& le16(unsigned v) { return u8(v & 0xFF).u8(v >> 8); }
    B& le32(std::uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
    B& le64(std::uint64_t v) { return le32(static_cast<std::uint32_t>(v)).le32(v >> 32); }
    B& be16(unsigned v) { return u8(v >> 8).u8(v & 0xFF); }
    B& be32(std::uint32_t v) { return be16(v >> 16).be16(v & 0xFFFF); }
    B& zeros(std::size_t n) {
        b.resize(b.size() + n);
        return *this;
    }
    B& fill(std::size_t n, std::uint8_t v) {
        b.resize(b.size() + n, v);
        return *this;
    }
    std::size_t size() const { return b.size(); }
};

constexpr std::uint64_t kOwnLength = ~0ull - 0xFFFF; // the expected size is the sample's own length

struct Outcome {
    int match;          // MatchHeader's answer
    std::uint32_t type; // file-type id written on a match
    std::uint64_t size; // size after MatchHeader and ComputeFileSize (0: unknown)
};

// Plants `file` at sector 2 of a device, followed by pseudo-random bytes, and runs the
// analyser the way the RAW search and the tree do.
Outcome Analyse(const char* analyser, const Bytes& file, std::uint64_t* ownLength = nullptr) {
    auto a = CreateAnalyserByName(analyser);
    EXPECT_TRUE(a) << analyser;
    if (!a)
        return {};
    Bytes image(2 * 512);
    image.insert(image.end(), file.begin(), file.end());
    image.resize((image.size() + 511) / 512 * 512);
    const Bytes tail = PatternBytes(8192, 77);
    image.insert(image.end(), tail.begin(), tail.end());
    MemoryDevice dev(image);
    CRawFileInfo r;
    r.m_u64StartSector = 2;
    Outcome o;
    o.match = a->MatchHeader(dev.Sector(2), &r);
    o.type = r.m_u32FileType;
    r.m_u64StartSector = 2;
    if (o.match && r.m_u64Size == 0)
        a->ComputeFileSize(&r, &dev);
    o.size = r.m_u64Size;
    if (ownLength)
        *ownLength = file.size();
    return o;
}

Bytes Deflate(const Bytes& in, int windowBits) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    Bytes out(in.size() + 1024);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// ---- samples ----

Bytes Cab(std::uint32_t reserved, std::uint16_t version, std::uint32_t size) {
    return B()
        .str("MSCF")
        .le32(reserved)
        .le32(size)
        .le32(0)
        .le32(44)
        .le32(0)
        .le16(version)
        .le16(1)
        .fill(size > 36 ? size - 36 : 0, 0x41)
        .b;
}

Bytes Au(std::uint32_t offset, std::uint32_t size) {
    return B()
        .str(".snd")
        .be32(offset)
        .be32(size)
        .be32(3)
        .be32(8000)
        .be32(1)
        .zeros(8)
        .fill(700, 9)
        .b;
}

Bytes Riff(const char* form, const char* next, std::uint32_t size = 100) {
    B b;
    b.str("RIFF").le32(size).str(form).str(next).le32(4).zeros(size - 12);
    return b.b;
}

Bytes Midi(std::uint16_t format, std::uint16_t tracks, const char* second = "MTrk") {
    B b;
    b.str("MThd").be32(6).be16(format).be16(tracks).be16(96);
    b.str("MTrk").be32(4).u8(0).u8(0xFF).u8(0x2F).u8(0);
    b.str(second).be32(12).fill(12, 0x40);
    return b.b;
}

// ID3v2 tag of version `major`, then `frames` MPEG-1 layer III frames at 128 kbit/s, 44.1 kHz.
Bytes Mp3(std::uint8_t major, int frames, bool trailer = false, bool strayByte = false,
          bool foreignFrame = false) {
    B b;
    b.str("ID3").u8(major).u8(0).u8(0).u8(0).u8(0).u8(0).u8(20).zeros(20).zeros(30);
    for (int i = 0; i < frames; ++i) {
        const bool foreign = foreignFrame && i == frames - 1;
        b.be32(foreign ? 0xFFFB9464 : 0xFFFB9064); // 48 kHz for the foreign one
        b.fill((foreign ? 384 : 417) - 4, static_cast<std::uint8_t>(0x11 + i));
        if (strayByte && i == 1)
            b.u8(0x55);
    }
    if (trailer)
        b.str("TAG").fill(125, 0x20);
    return b.b;
}

std::uint32_t TarChecksum(const std::uint8_t* h, bool signedSum) {
    std::int32_t s = 0;
    for (int i = 0; i < 512; ++i) {
        const std::uint8_t c = (i >= 148 && i < 156) ? ' ' : h[i];
        s += signedSum ? static_cast<std::int8_t>(c) : c;
    }
    return static_cast<std::uint32_t>(s);
}

void TarHeader(Bytes& out, const char* name, std::uint64_t size, char kind, bool signedSum = false,
               bool base256 = false) {
    std::uint8_t h[512] = {};
    std::snprintf(reinterpret_cast<char*>(h), 100, "%s", name);
    std::memcpy(h + 100, "0000644", 7);
    if (base256) {
        h[124] = 0x80;
        for (int i = 0; i < 8; ++i)
            h[135 - i] = static_cast<std::uint8_t>(size >> (8 * i));
    } else {
        std::snprintf(reinterpret_cast<char*>(h + 124), 12, "%011llo",
                      static_cast<unsigned long long>(size));
    }
    h[156] = static_cast<std::uint8_t>(kind);
    std::memcpy(h + 257,
                "ustar\0"
                "00",
                8);
    std::snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", TarChecksum(h, signedSum));
    h[155] = ' ';
    out.insert(out.end(), h, h + 512);
    Bytes data((size + 511) / 512 * 512, 0x61);
    out.insert(out.end(), data.begin(), data.end());
}

Bytes Tar(int variant) {
    Bytes t;
    TarHeader(t, "a.txt", 700, '0');
    if (variant == 1) { // second header damaged
        TarHeader(t, "b.txt", 100, '0');
        t[t.size() - 1024 + 10] ^= 1;
        return t;
    }
    TarHeader(t, "folder/", 0, '5');                        // a folder does not end the archive
    TarHeader(t, "\xE9t\xE9.txt", 1000, '0', variant == 2); // a signed sum
    TarHeader(t, "big.bin", 600, '0', false, variant == 3); // base-256 size
    t.resize(t.size() + 1024);                              // end of archive
    t.resize((t.size() + 10239) / 10240 * 10240);
    return t;
}

Bytes LzhMember(const char* name, std::size_t dataLength) {
    B h;
    h.str("-lh0-")
        .le32(static_cast<std::uint32_t>(dataLength))
        .le32(static_cast<std::uint32_t>(dataLength))
        .le32(0x4A2B6000)
        .u8(0x20)
        .u8(0)
        .u8(static_cast<unsigned>(std::strlen(name)))
        .str(name)
        .le16(0);
    std::uint8_t sum = 0;
    for (std::uint8_t c : h.b)
        sum = static_cast<std::uint8_t>(sum + c);
    B m;
    m.u8(static_cast<unsigned>(h.size())).u8(sum).raw(h.b).fill(dataLength, 0x33);
    return m.b;
}

Bytes Lzh(bool badSum) {
    B b;
    b.raw(LzhMember("first.txt", 300));
    std::string longName(120, 'n'); // header length above 127: the length byte is unsigned
    b.raw(LzhMember(longName.c_str(), 50));
    if (badSum)
        b.b[1] ^= 0xFF;
    b.u8(0);
    return b.b;
}

Bytes Rar4Block(std::uint8_t type, std::uint16_t flags, const Bytes& fields, std::size_t data = 0) {
    B b;
    b.le16(0)
        .u8(type)
        .le16(flags)
        .le16(static_cast<unsigned>(7 + fields.size()))
        .raw(fields)
        .fill(data, 0x5A);
    return b.b;
}

Bytes Rar4(std::uint8_t hostOs, bool oldEnd) {
    B b;
    b.str("Rar!").u8(0x1A).u8(7).u8(0);
    b.raw(Rar4Block(0x73, 0, Bytes(6)));
    auto file = [&](std::uint8_t os) {
        B f;
        f.le32(200).le32(200).u8(os).le32(0).le32(0).u8(20).u8(0x30).le16(5).le32(0x20).str(
            "a.txt");
        return Rar4Block(0x74, 0x8000, f.b, 200);
    };
    b.raw(file(0)).raw(file(hostOs));
    if (oldEnd)
        b.u8(0xC4).u8(0x3D).u8(0x7B).u8(0).u8(0x40).u8(7).u8(0);
    else
        b.raw(Rar4Block(0x7B, 0x4002, B().le32(0x12345678).b));
    return b.b;
}

// An archive header, then a file header whose packed size has a high half (flag 0x100).
Bytes Rar4Large(std::uint32_t low, std::uint32_t high) {
    B b;
    b.str("Rar!").u8(0x1A).u8(7).u8(0);
    b.raw(Rar4Block(0x73, 0, Bytes(6)));
    B f;
    f.le32(low).le32(0xFFFFFFFF).u8(0).le32(0).le32(0).u8(20).u8(0x30).le16(5).le32(0x20);
    f.le32(high).le32(high).str("a.txt");
    return b.raw(Rar4Block(0x74, 0x8100, f.b, 300)).b;
}

// A local header whose sizes are in its ZIP64 extra field.
Bytes Zip64Local(std::uint64_t packed) {
    B b;
    b.le32(0x04034B50)
        .le16(45)
        .le16(0)
        .le16(0)
        .le32(0)
        .le32(0)
        .le32(0xFFFFFFFF)
        .le32(0xFFFFFFFF)
        .le16(5)
        .le16(20)
        .str("a.txt")
        .le16(1)
        .le16(16)
        .le64(packed)
        .le64(packed)
        .fill(64, 0x44);
    return b.b;
}

Bytes Rar5(bool mainFirst) {
    auto block = [](unsigned type, const Bytes& fields, std::size_t data) {
        B h;
        h.u8(type).u8(data ? 2 : 0);
        if (data)
            h.u8(static_cast<unsigned>(data)); // below 128: one byte
        h.raw(fields);
        B b;
        b.le32(0).u8(static_cast<unsigned>(h.size())).raw(h.b).fill(data, 0x77);
        return b.b;
    };
    B b;
    b.str("Rar!").u8(0x1A).u8(7).u8(1).u8(0);
    if (mainFirst)
        b.raw(block(1, Bytes{0}, 0));
    b.raw(block(2, Bytes{0, 100, 0, 1, 2, 3, 4, 0, 0, 1, 'x'}, 100));
    b.raw(block(5, Bytes{0}, 0));
    return b.b;
}

Bytes Zip(int variant) {
    B b;
    const Bytes data(300, 0x44);
    // local header
    b.le32(0x04034B50)
        .le16(20)
        .le16(0)
        .le16(variant == 1 ? 11 : 0)
        .le32(0)
        .le32(0)
        .le32(300)
        .le32(300)
        .le16(5)
        .le16(0)
        .str("a.txt")
        .raw(data);
    if (variant == 2) {
        b.str("JUNKJUNK");
        return b.b;
    }
    // central directory with an extra field and a comment, end record with a comment
    b.le32(0x02014B50)
        .le16(20)
        .le16(20)
        .le16(0)
        .le16(0)
        .le32(0)
        .le32(0)
        .le32(300)
        .le32(300)
        .le16(5)
        .le16(4)
        .le16(3)
        .le16(0)
        .le16(0)
        .le32(0)
        .le32(0)
        .str("a.txt")
        .le16(0xCAFE)
        .le16(0)
        .str("hey");
    b.le32(0x06054B50).le16(0).le16(0).le16(1).le16(1).le32(58).le32(335).le16(7).str("comment");
    return b.b;
}

const std::uint8_t kAsfHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::uint8_t kAsfData[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                   0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::uint8_t kAsfSimpleIndex[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                          0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

Bytes Asf(std::uint64_t dataSize, bool index) {
    B b;
    b.raw(Bytes(kAsfHeader, kAsfHeader + 16)).le64(500).fill(476, 1);
    b.raw(Bytes(kAsfData, kAsfData + 16)).le64(dataSize).fill(1000 - 24, 2);
    if (index)
        b.raw(Bytes(kAsfSimpleIndex, kAsfSimpleIndex + 16)).le64(100).fill(76, 3);
    return b.b;
}

Bytes Atoms(const char* ftypBrand, const char* firstType = "ftyp") {
    B b;
    if (ftypBrand)
        b.be32(24).str(firstType).str(ftypBrand).zeros(12);
    else
        b.be32(24).str(firstType).zeros(16);
    b.be32(1000).str("mdat").fill(992, 0x12);
    b.be32(200).str("moov").fill(192, 0x13);
    return b.b;
}

Bytes Swf(bool compressed, bool damaged) {
    Bytes body(3000);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7 / 13);
    B b;
    b.str(compressed ? "CWS" : "FWS").u8(8).le32(static_cast<std::uint32_t>(8 + body.size()));
    if (!compressed)
        return b.raw(body).b;
    Bytes z = Deflate(body, 15);
    if (damaged)
        z[2] = 0xFF, z[3] = 0xFF, z[4] = 0xFF;
    return b.raw(z).b;
}

Bytes Gz(int members, bool damaged) {
    Bytes out;
    for (int i = 0; i < members; ++i) {
        Bytes text(5000 + 1000 * i);
        for (std::size_t k = 0; k < text.size(); ++k)
            text[k] = static_cast<std::uint8_t>('a' + (k * k + i) % 26);
        Bytes z = Deflate(text, 15 + 16);
        out.insert(out.end(), z.begin(), z.end());
    }
    if (damaged)
        out[12] ^= 0xFF, out[13] ^= 0xFF, out[14] ^= 0xFF;
    return out;
}

} // namespace

TEST(ArchiveMediaAnalysers, HeadersAndWalks) {
    GetScanOptions().SetDefaults();
    const struct {
        const char* label;
        const char* analyser;
        Bytes file;
        Outcome want; // size kOwnLength: the sample's own length
    } cases[] = {
        // Cabinet: every reserved field zero, version 1.3, a size.
        {"cab", "FileCABAnalyser", Cab(0, 0x0103, 600), {1, 10, 600}},
        {"cab reserved", "FileCABAnalyser", Cab(1, 0x0103, 600), {0, 0, 0}},
        {"cab version", "FileCABAnalyser", Cab(0, 0x0102, 600), {0, 0, 0}},
        {"cab no size", "FileCABAnalyser", Cab(0, 0x0103, 0), {0, 0, 0}},
        // AU: offset behind the header, a known data size; the sum in 64 bits.
        {"au", "FileAUAnalyser", Au(32, 700), {1, 7, 732}},
        {"au offset inside header", "FileAUAnalyser", Au(23, 700), {0, 0, 0}},
        {"au unknown size", "FileAUAnalyser", Au(32, 0xFFFFFFFF), {0, 0, 0}},
        {"au near 4 GiB", "FileAUAnalyser", Au(0x100, 0xFFFFFFF0), {1, 7, 0x1000000F0ull}},
        // RIFF forms.
        {"wav", "FileRIFFAnalyser", Riff("WAVE", "fmt "), {1, 63, 108}},
        {"wave with list", "FileRIFFAnalyser", Riff("WAVE", "LIST"), {1, 55, 108}},
        {"avi", "FileRIFFAnalyser", Riff("avi ", "list"), {1, 8, 108}},
        {"ani", "FileRIFFAnalyser", Riff("ACON", "anih"), {1, 4, 108}},
        {"cdr8", "FileRIFFAnalyser", Riff("cdr8", "vrsn"), {1, 11, 108}},
        {"clk", "FileRIFFAnalyser", Riff("CARC", "vrsn"), {1, 13, 108}},
        {"csl", "FileRIFFAnalyser", Riff("CSL2", "VRSN"), {1, 17, 108}},
        {"riff size in 64 bits",
         "FileRIFFAnalyser",
         [] {
             Bytes r = Riff("WAVE", "fmt ");
             std::memset(&r[4], 0xFF, 4);
             return r;
         }(),
         {1, 63, 0x100000007ull}},
        // MIDI: format and track tests, the chunk walk.
        {"midi", "FileMIDAnalyser", Midi(1, 2), {1, 36, kOwnLength}},
        {"midi format 3", "FileMIDAnalyser", Midi(3, 2), {0, 0, 0}},
        {"midi no tracks", "FileMIDAnalyser", Midi(1, 0), {0, 0, 0}},
        {"midi foreign chunk", "FileMIDAnalyser", Midi(1, 2, "XTrk"), {1, 36, 26}},
        // MP3: ID3v2.2 to 2.4, frames of one stream, a stray byte, a trailer.
        {"mp3 v2.3", "FileMP3Analyser", Mp3(3, 5), {1, 41, kOwnLength}},
        {"mp3 v2.4 with trailer", "FileMP3Analyser", Mp3(4, 5, true), {1, 41, kOwnLength}},
        {"mp3 stray byte", "FileMP3Analyser", Mp3(3, 4, false, true), {1, 41, kOwnLength}},
        {"mp3 other stream",
         "FileMP3Analyser",
         Mp3(3, 4, false, false, true),
         {1, 41, 10 + 50 + 3 * 417}},
        {"mp3 tag version 5", "FileMP3Analyser", Mp3(5, 5), {1, 41, 0}},
        {"mp3 bad tag size",
         "FileMP3Analyser",
         [] {
             Bytes m = Mp3(3, 3);
             m[8] = 0x80;
             return m;
         }(),
         {1, 41, 0}},
        // TAR: checksums, folders, signed sums, base-256 sizes, padding to the record.
        {"tar", "FileTARAnalyser", Tar(0), {1, 59, kOwnLength}},
        {"tar damaged second header", "FileTARAnalyser", Tar(1), {1, 59, 1536}},
        {"tar signed sum", "FileTARAnalyser", Tar(2), {1, 59, kOwnLength}},
        {"tar base-256 size", "FileTARAnalyser", Tar(3), {1, 59, kOwnLength}},
        {"tar damaged first header",
         "FileTARAnalyser",
         [] {
             Bytes t = Tar(0);
             t[0] ^= 1;
             return t;
         }(),
         {1, 59, 0}},
        // LZH: unsigned header length, checksum, end byte counted.
        {"lzh", "FileLZHAnalyser", Lzh(false), {1, 34, kOwnLength}},
        {"lzh bad checksum", "FileLZHAnalyser", Lzh(true), {1, 34, 0}},
        // RAR 4 and 5.
        {"rar4 end block", "FileRARAnalyser", Rar4(0, false), {1, 54, kOwnLength}},
        {"rar4 old end block", "FileRARAnalyser", Rar4(0, true), {1, 54, kOwnLength}},
        {"rar4 bad host", "FileRARAnalyser", Rar4(5, false), {1, 54, 7 + 13 + 237}},
        {"rar4 packed size above 4 GiB",
         "FileRARAnalyser",
         Rar4Large(200, 1),
         {1, 54, 7 + 13 + 45 + 200 + (1ull << 32)}},
        {"rar4 packed size overflowing",
         "FileRARAnalyser",
         Rar4Large(0xFFFFFFFF, 0xFFFFFFFF),
         {1, 54, 7 + 13}},
        {"rar5", "FileRARAnalyser", Rar5(true), {1, 54, kOwnLength}},
        {"rar5 no main header", "FileRARAnalyser", Rar5(false), {1, 54, 0}},
        // ZIP.
        {"zip", "FileZIPAnalyser", Zip(0), {1, 68, kOwnLength}},
        {"zip bad method", "FileZIPAnalyser", Zip(1), {1, 68, 0}},
        {"zip ends at junk", "FileZIPAnalyser", Zip(2), {1, 68, 335}},
        {"zip64 sizes", "FileZIPAnalyser", Zip64Local(64), {1, 68, kOwnLength}},
        {"zip64 size overflowing", "FileZIPAnalyser", Zip64Local(~0ull - 5), {1, 68, ~0ull}},
        // ASF.
        {"asf with index", "FileASFAnalyser", Asf(1000, true), {1, 6, kOwnLength}},
        {"asf without index", "FileASFAnalyser", Asf(1000, false), {1, 6, kOwnLength}},
        {"asf object smaller than its head", "FileASFAnalyser", Asf(10, true), {1, 6, 0}},
        {"asf object past the limit",
         "FileASFAnalyser",
         Asf(1ull << 40, true),
         {1, 6, 500 + (1ull << 40)}},
        // QuickTime family.
        {"mov qt brand", "FileMOVAnalyser", Atoms("qt  "), {1, 40, kOwnLength}},
        {"mov moov first", "FileMOVAnalyser", Atoms(nullptr, "moov"), {1, 40, kOwnLength}},
        {"mp4 any case", "FileMP4Analyser", Atoms("ISOM"), {1, 42, kOwnLength}},
        {"mp4 other brand", "FileMP4Analyser", Atoms("avc1"), {0, 0, 0}},
        {"3gp", "File3GPAnalyser", Atoms("3gp4"), {1, 2, kOwnLength}},
        // SWF and gzip: deflate streams.
        {"swf plain", "FileSWFAnalyser", Swf(false, false), {1, 58, kOwnLength}},
        {"swf packed", "FileSWFAnalyser", Swf(true, false), {1, 58, kOwnLength}},
        {"swf packed damaged", "FileSWFAnalyser", Swf(true, true), {1, 58, 0}},
        {"gz", "FileGZAnalyser", Gz(1, false), {1, 29, kOwnLength}},
        {"gz two members", "FileGZAnalyser", Gz(2, false), {1, 29, kOwnLength}},
        {"gz damaged in its first block", "FileGZAnalyser", Gz(1, true), {1, 29, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::uint64_t own = 0;
        const Outcome o = Analyse(c.analyser, c.file, &own);
        EXPECT_EQ(o.match, c.want.match);
        if (!o.match)
            continue;
        EXPECT_EQ(o.type, c.want.type);
        EXPECT_EQ(o.size, c.want.size == kOwnLength ? own : c.want.size);
    }
}

// On the search's ring, a walk that needs bytes beyond the window gives up (size 0) instead of
// ending the file at the window's edge; with the whole file in the window it sizes it.
TEST(ArchiveMediaAnalysers, RingWindowEdge) {
    GetScanOptions().SetDefaults();
    const struct {
        const char* analyser;
        Bytes file;
    } cases[] = {
        {"FileZIPAnalyser", Zip(0)},           {"FileTARAnalyser", Tar(0)},
        {"FileLZHAnalyser", Lzh(false)},       {"FileRARAnalyser", Rar4(0, false)},
        {"FileRARAnalyser", Rar5(true)},       {"FileMIDAnalyser", Midi(1, 2)},
        {"FileMP3Analyser", Mp3(4, 6, true)},  {"FileASFAnalyser", Asf(1000, true)},
        {"FileMOVAnalyser", Atoms("qt  ")},    {"FileGZAnalyser", Gz(2, false)},
        {"FileSWFAnalyser", Swf(true, false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.analyser);
        auto a = CreateAnalyserByName(c.analyser);
        ASSERT_TRUE(a);
        Bytes bytes = c.file;
        const std::uint64_t sectors = (bytes.size() + 511) / 512;
        bytes.resize(sectors * 512);
        for (std::uint64_t held : {std::uint64_t(1), sectors - 1, sectors + 1}) {
            if (held == 0)
                continue;
            CBufferStorageDevice ring;
            ring.Setup(100, 1, static_cast<std::uint32_t>(held));
            Bytes sector(512);
            for (std::uint64_t s = 0; s < held; ++s) {
                std::fill(sector.begin(), sector.end(), 0xEE);
                if (s < sectors)
                    std::memcpy(sector.data(), bytes.data() + s * 512, 512);
                ring.AppendChunk(sector.data());
            }
            CRawFileInfo r;
            r.m_u64StartSector = 100;
            a->ComputeFileSize(&r, &ring);
            if (held >= sectors)
                EXPECT_EQ(r.m_u64Size, c.file.size()) << held;
            else
                EXPECT_EQ(r.m_u64Size, 0u) << held;
        }
    }
}

// gzip files made by gzip: a copy whose second half was overwritten is carved up to where it
// stops decoding; a chance header in random data is no file at all, whatever its flag byte.
TEST(ArchiveMediaAnalysers, GzipThatDoesNotDecode) {
    ASSERT_TRUE(RequireTool("gzip"));
    GetScanOptions().SetDefaults();
    const std::string dir = ScratchDir("gzip-damage");
    Bytes text;
    for (int i = 0; text.size() < 400000; ++i) {
        const std::string line = "line " + std::to_string(i * 7919 % 100003) + " of the log\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    ASSERT_TRUE(WriteFileBytes(dir + "/log.txt", text));
    ASSERT_TRUE(MustRun("gzip -n -9 -f " + ShellQuote(dir + "/log.txt")));
    const Bytes gz = ReadFileBytes(dir + "/log.txt.gz");
    ASSERT_GT(gz.size(), 20000u);

    const auto carve = [](const Bytes& file) {
        Bytes image(2 * 512);
        image.insert(image.end(), file.begin(), file.end());
        const Bytes tail = PatternBytes(256 * 1024, 5);
        image.insert(image.end(), tail.begin(), tail.end());
        MemoryDevice dev(image);
        auto a = CreateAnalyserByName("FileGZAnalyser");
        CRawFileInfo r;
        Outcome o{};
        o.match = a->MatchHeader(dev.Sector(2), &r);
        r.m_u64StartSector = 2;
        if (o.match)
            a->ComputeFileSize(&r, &dev);
        o.size = r.m_u64Size;
        return o;
    };
    const Outcome whole = carve(gz);
    EXPECT_EQ(whole.match, 1);
    EXPECT_EQ(whole.size, gz.size());

    const std::size_t cut = gz.size() / 2;
    Bytes damaged(gz.begin(), gz.begin() + static_cast<std::ptrdiff_t>(cut));
    const Outcome half = carve(damaged);
    EXPECT_EQ(half.match, 1);
    EXPECT_GE(half.size, cut - 4096);
    EXPECT_LE(half.size, cut + 4096);

    for (std::uint8_t flags : {0xF9, 0x20, 0x40, 0x80}) {
        Bytes chance = PatternBytes(4096, flags);
        chance[0] = 0x1F, chance[1] = 0x8B, chance[2] = 0x08, chance[3] = flags;
        EXPECT_EQ(carve(chance).match, 0) << int(flags);
    }
    for (std::uint8_t flags : {0x00, 0x08, 0x19}) {
        Bytes chance = PatternBytes(4096, flags + 1);
        chance[0] = 0x1F, chance[1] = 0x8B, chance[2] = 0x08, chance[3] = flags;
        const Outcome o = carve(chance);
        EXPECT_EQ(o.match, 1);
        EXPECT_EQ(o.size, 0u) << int(flags);
    }
}
