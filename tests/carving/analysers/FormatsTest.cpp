#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "filesystems/FileProperties.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace testsupport;

TEST(AnalyserFormats, ZipRecords) {
    std::uint8_t local[30] = {0x50, 0x4B, 0x03, 0x04};
    local[8] = 8;                   // deflate
    local[18] = 100;                // compressed size
    local[26] = 5;                  // name length
    local[28] = 3;                  // extra length
    std::uint32_t n = 0;
    EXPECT_EQ(IsValidZipRecord(ByteSpan(local, 30)), 1);
    EXPECT_EQ(GetZipRecordLength(ByteSpan(local, 30), &n), 1);
    EXPECT_EQ(n, 138u);
    local[26] = 0x11; // 1041
    local[27] = 0x04;
    EXPECT_EQ(IsValidZipRecord(ByteSpan(local, 30)), 0);
    EXPECT_EQ(IsValidZipRecord(ByteSpan(local, 20)), 0); // fields outside the bytes at hand

    std::uint8_t central[46] = {0x50, 0x4B, 0x01, 0x02};
    central[28] = 4;  // name
    central[30] = 10; // extra
    central[32] = 7;  // comment
    EXPECT_EQ(IsValidZipRecord(ByteSpan(central, 46)), 1);
    EXPECT_EQ(GetZipRecordLength(ByteSpan(central, 46), &n), 1);
    EXPECT_EQ(n, 67u);
    std::uint8_t end[22] = {0x50, 0x4B, 0x05, 0x06};
    end[20] = 9;
    EXPECT_EQ(GetZipRecordLength(ByteSpan(end, 22), &n), 1);
    EXPECT_EQ(n, 31u);
    std::uint8_t other[4] = {0x50, 0x4B, 0x07, 0x08};
    EXPECT_EQ(IsValidZipRecord(ByteSpan(other, 4)), 0);
    EXPECT_EQ(GetZipRecordLength(ByteSpan(other, 4), &n), 0);
}

TEST(AnalyserFormats, RarBlocks) {
    std::uint8_t b[32] = {};
    std::uint64_t size = 0;
    const struct {
        std::uint8_t type;
        int valid;
    } types[] = {{0x72, 0}, {0x73, 1}, {0x75, 1}, {0x76, 1}, {0x78, 1}, {0x79, 0}, {0x7A, 1},
                 {0x7B, 1}, {0x71, 0}};
    for (const auto& t : types) {
        b[2] = t.type;
        EXPECT_EQ(IsValidRarBlock(ByteSpan(b, 32)), t.valid) << int(t.type);
    }
    b[2] = 0x74; // file header: packed <= unpacked, host OS <= 4
    b[5] = 32;
    b[7] = 100;
    b[11] = 200;
    b[15] = 4;
    EXPECT_EQ(IsValidRarBlock(ByteSpan(b, 32)), 1);
    EXPECT_EQ(GetRarBlockSize(ByteSpan(b, 32), &size), 1);
    EXPECT_EQ(size, 132u);
    b[15] = 5;
    EXPECT_EQ(IsValidRarBlock(ByteSpan(b, 32)), 0);
    b[2] = 0x73;
    b[5] = 9; // archive header needs at least 10
    EXPECT_EQ(GetRarBlockSize(ByteSpan(b, 32), &size), 0);
    b[5] = 13;
    EXPECT_EQ(GetRarBlockSize(ByteSpan(b, 32), &size), 1);
    EXPECT_EQ(size, 13u);
    EXPECT_EQ(IsValidRarBlock(ByteSpan(b, 6)), 0);
}

TEST(AnalyserFormats, Mp3AndSyncSafe) {
    const std::uint8_t s[4] = {0, 0, 2, 1};
    std::uint32_t v = 0;
    EXPECT_EQ(DecodeSyncSafeSize(ByteSpan(s, 4), &v), 1);
    EXPECT_EQ(v, 257u);
    const std::uint8_t bad[4] = {0, 0x80, 0, 0};
    EXPECT_EQ(DecodeSyncSafeSize(ByteSpan(bad, 4), &v), 0);

    const struct {
        std::uint32_t header;
        std::uint32_t length; // 0 = invalid
    } frames[] = {
        {0xFFFB9064, 417}, {0xFFFB9264, 418}, {0xFFF37054, 182}, {0xFFF3A060, 313},
        {0xFFF3A260, 314}, {0xFFFB0064, 0},   {0xFFFBF064, 0},   {0xFFFB9C64, 0},
        {0xFFEB9064, 0},   {0xFFF99064, 0},   {0xFFDB9064, 0},
        {0xFFFB2064, 5760000 / 44100}, // MPEG-1 layer III at 40 kbit/s
    };
    for (const auto& f : frames) {
        std::uint32_t n = 0;
        EXPECT_EQ(IsValidMp3Header(f.header), f.length != 0) << std::hex << f.header;
        EXPECT_EQ(GetMp3FrameLength(f.header, &n), f.length != 0) << std::hex << f.header;
        if (f.length) {
            EXPECT_EQ(n, f.length) << std::hex << f.header;
        }
    }
}

namespace {

void PutAtom(std::vector<std::uint8_t>& b, std::uint32_t size, const char* type) {
    const std::size_t at = b.size();
    b.resize(at + (size < 8 ? 8 : size));
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    std::memcpy(&b[at + 4], type, 4);
}

} // namespace

TEST(AnalyserFormats, QuickTimeAtomWalk) {
    MemoryDevice dev(64);
    auto walk = [&](const std::vector<std::uint8_t>& f, std::uint64_t* size) {
        std::memset(dev.Sector(0), 0, 64 * 512);
        std::memcpy(dev.Sector(1), f.data(), f.size());
        CRawFileInfo r;
        r.m_u64StartSector = 1;
        const int rc = WalkQuickTimeAtoms(&r, &dev);
        *size = r.m_u64Size;
        return rc;
    };
    std::uint64_t size = 0;

    // Known top-level atoms (any case, "skip" among them) are walked; another type ends the file.
    std::vector<std::uint8_t> f;
    PutAtom(f, 24, "ftyp");
    PutAtom(f, 1000, "MDAT");
    PutAtom(f, 64, "skip");
    PutAtom(f, 300, "moov");
    const std::size_t whole = f.size();
    PutAtom(f, 64, "abcd");
    EXPECT_EQ(walk(f, &size), 1);
    EXPECT_EQ(size, whole);

    // A 64-bit size (size field 1, the size behind the type).
    std::vector<std::uint8_t> g;
    PutAtom(g, 32, "ftyp");
    PutAtom(g, 1, "mdat");
    g.resize(g.size() + 8 + 4000);
    g[32 + 8 + 6] = 0x0F; // 4000 = 0x0FA0, big-endian in the last two bytes of the u64
    g[32 + 8 + 7] = 0xA0;
    g.resize(32 + 4000);
    PutAtom(g, 16, "free");
    EXPECT_EQ(walk(g, &size), 1);
    EXPECT_EQ(size, 32u + 4000 + 16);

    // An atom smaller than its header ends the walk before it.
    std::vector<std::uint8_t> h;
    PutAtom(h, 32, "ftyp");
    PutAtom(h, 100, "moov");
    PutAtom(h, 4, "free");
    EXPECT_EQ(walk(h, &size), 1);
    EXPECT_EQ(size, 132u);

    // A last atom with size 0 runs to the end of the file: the limit.
    std::vector<std::uint8_t> z;
    PutAtom(z, 32, "ftyp");
    PutAtom(z, 0, "mdat");
    EXPECT_EQ(walk(z, &size), 1);
    EXPECT_EQ(size, GetScanOptions().MaxRawFileSize);

    // Past the limit: the offset reached.
    const std::uint64_t saved = GetScanOptions().MaxRawFileSize;
    GetScanOptions().MaxRawFileSize = 1000;
    EXPECT_EQ(walk(f, &size), 1);
    EXPECT_EQ(size, 1024u);
    GetScanOptions().MaxRawFileSize = saved;
}

TEST(AnalyserFormats, TextEndMarker) {
    MemoryDevice dev(4000);
    const char* text = "<html><body>hello</body></HtMl>";
    std::memset(dev.Sector(0), 'a', 4000 * 512);
    const std::size_t at = 600000; // past the first 512 KiB block
    std::memcpy(dev.Sector(0) + at, text, std::strlen(text));
    TextEndMarker m;
    std::memcpy(m.bytes, "</HTML>", 7);
    m.length = 7;
    CRawFileInfo r;
    EXPECT_EQ(FindTextEnd(&r, &dev, &m), 1);
    EXPECT_EQ(r.m_u64Size, at + std::strlen(text));

    // Not within the limit L: the size is L + 1; a marker starting exactly at L still counts.
    m.longestScan = 1000;
    r = CRawFileInfo();
    EXPECT_EQ(FindTextEnd(&r, &dev, &m), 1);
    EXPECT_EQ(r.m_u64Size, 1001u);
    std::memcpy(dev.Sector(0) + 1000, "</html>", 7);
    r = CRawFileInfo();
    EXPECT_EQ(FindTextEnd(&r, &dev, &m), 1);
    EXPECT_EQ(r.m_u64Size, 1007u);

    // The device ends first: no size.
    MemoryDevice small(2);
    std::memset(small.Sector(0), 'b', 1024);
    std::memcpy(small.Sector(0) + 1020, "</HT", 4); // cut by the end
    m.longestScan = 0;
    r = CRawFileInfo();
    EXPECT_EQ(FindTextEnd(&r, &small, &m), 0);
    EXPECT_EQ(r.m_u64Size, 0u);
    // Default limit: ScanOptions.MaxRawFileSize.
    const std::uint64_t saved = GetScanOptions().MaxRawFileSize;
    GetScanOptions().MaxRawFileSize = 100;
    r = CRawFileInfo();
    EXPECT_EQ(FindTextEnd(&r, &small, &m), 1);
    EXPECT_EQ(r.m_u64Size, 101u);
    GetScanOptions().MaxRawFileSize = saved;

    const std::uint8_t hay[] = "xxABcab";
    EXPECT_EQ(FindBytesNoCase(hay, 7, reinterpret_cast<const std::uint8_t*>("abC"), 3), 2);
    EXPECT_EQ(FindBytesNoCase(hay, 7, reinterpret_cast<const std::uint8_t*>("cabx"), 4), -1);
}

TEST(RawFileReader, BlocksTailsAndUnreadableSectors) {
    MemoryDevice dev(3000);
    for (std::uint64_t s = 0; s < 3000; ++s)
        std::memset(dev.Sector(s), static_cast<int>(s & 0xFF), 512);
    RawFileReader reader(&dev, 10);
    EXPECT_FALSE(reader.IsWindow());
    ByteSpan a = reader.Read(0);
    ASSERT_GE(a.size(), 512u);
    EXPECT_EQ(a.u8(0), 10);
    // The look-ahead sector: a whole sector is at hand just before a block's end.
    ByteSpan b = reader.Read(kRawReaderBlockBytes - 1);
    ASSERT_GE(b.size(), 512u);
    EXPECT_EQ(b.u8(1), (10 + 1024) & 0xFF);
    // The device's tail: fewer bytes, then nothing.
    ByteSpan c = reader.Read((2999 - 10) * 512ull + 100);
    EXPECT_EQ(c.size(), 412u);
    EXPECT_TRUE(reader.Read((3000 - 10) * 512ull).empty());
    EXPECT_TRUE(reader.Read(~0ull).empty());
    EXPECT_TRUE(reader.Read(0, 513).empty() == false);
    // An unreadable sector ends what a block holds.
    dev.FailSector(2100);
    RawFileReader r2(&dev, 2000);
    EXPECT_EQ(r2.Read(0).size(), 100u * 512);
    EXPECT_TRUE(r2.Read(100 * 512).empty());
}
