#include "carving/analysers/FilePNGAnalyser.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

void PutBe32(Bytes& b, std::uint32_t v) {
    for (int i = 3; i >= 0; --i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk with `n` data bytes (the length field may lie: `declared`).
void Chunk(Bytes& b, const char* type, std::uint32_t n, std::uint32_t declared) {
    PutBe32(b, declared);
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), n, 0x5A);
    PutBe32(b, 0x12345678); // CRC is not checked
}

Bytes Png(std::uint32_t width, std::uint32_t height, std::uint32_t idatBytes) {
    Bytes b = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    PutBe32(b, 13);
    b.insert(b.end(), {'I', 'H', 'D', 'R'});
    PutBe32(b, width);
    PutBe32(b, height);
    b.insert(b.end(), {8, 6, 0, 0, 0});
    PutBe32(b, 0);
    Chunk(b, "tEXt", 20, 20);
    Chunk(b, "IHDR", 5, 5); // a further IHDR is walked over
    Chunk(b, "IDAT", idatBytes, idatBytes);
    Chunk(b, "IEND", 0, 0);
    return b;
}

std::uint64_t Size(const Bytes& file, std::uint64_t startSector = 3, int* result = nullptr) {
    MemoryDevice dev(startSector + (file.size() + 511) / 512 + 4);
    std::memcpy(dev.Sector(startSector), file.data(), file.size());
    FilePNGAnalyser a;
    CRawFileInfo r;
    EXPECT_EQ(a.MatchHeader(dev.Sector(startSector), &r), 1);
    EXPECT_EQ(r.m_u32FileType, 47u);
    EXPECT_EQ(r.m_u64Size, 0u);
    r.m_u64StartSector = startSector;
    const int res = a.ComputeFileSize(&r, &dev);
    if (result)
        *result = res;
    return r.m_u64Size;
}

} // namespace

TEST(PngAnalyser, MatchesOnlyTheFullSignature) {
    FilePNGAnalyser a;
    EXPECT_EQ(a.GetTypeId(), 47);
    std::uint8_t sector[512] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    CRawFileInfo r;
    EXPECT_EQ(a.MatchHeader(sector, &r), 1);
    sector[7] = 0x0B;
    CRawFileInfo r2;
    EXPECT_EQ(a.MatchHeader(sector, &r2), 0);
    EXPECT_EQ(r2.m_u32FileType, 0u);
    std::vector<SignatureKey> keys;
    ASSERT_TRUE(a.GetSignatureKeys(keys));
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].offset, 0);
    EXPECT_EQ(keys[0].length, 2);
}

TEST(PngAnalyser, SizesByChunkWalk) {
    const Bytes small = Png(10, 10, 100);
    EXPECT_EQ(Size(small), small.size());
    // Chunks that cross the 512 KiB block of the reader.
    const Bytes big = Png(4000, 3000, 600000);
    EXPECT_EQ(Size(big), big.size());
    EXPECT_EQ(Size(big, 1023), big.size());
}

TEST(PngAnalyser, GivesUpOrEndsAsTheRulesSay) {
    int result = -1;
    // Width 0 or a top bit set: matched but never sized.
    EXPECT_EQ(Size(Png(0, 10, 10), 3, &result), 0u);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Size(Png(0x80000001u, 10, 10)), 0u);
    EXPECT_EQ(Size(Png(10, 0x80000000u, 10)), 0u);

    // An implausible length after the image data ends the file at that chunk.
    Bytes b = Png(10, 10, 50);
    b.resize(b.size() - 12); // drop IEND
    const std::uint64_t end = b.size();
    Chunk(b, "junk", 0, 0x1400001);
    EXPECT_EQ(Size(b, 3, &result), end);
    EXPECT_EQ(result, 1);

    // The same before any IDAT: no size.
    Bytes c = Png(10, 10, 50);
    c.resize(33 + 32); // signature, IHDR, tEXt
    Chunk(c, "junk", 0, 0x1400001);
    EXPECT_EQ(Size(c), 0u);

    // Chunks running past 20 MiB before IEND: no size.
    Bytes d = Png(10, 10, 50);
    d.resize(d.size() - 12);
    for (int i = 0; i < 3; ++i)
        Chunk(d, "huge", 0, 0x1000000); // lengths lie, the walk only reads heads
    d.resize(0x1400000 + 4096);
    EXPECT_EQ(Size(d, 3, &result), 0u);
    EXPECT_EQ(result, 0);

    // The device ends before IEND.
    Bytes e = Png(10, 10, 5000);
    e.resize(e.size() - 12);
    MemoryDevice dev((e.size() + 511) / 512);
    std::memcpy(dev.Sector(0), e.data(), e.size());
    FilePNGAnalyser a;
    CRawFileInfo r;
    EXPECT_EQ(a.ComputeFileSize(&r, &dev), 0);
    EXPECT_EQ(r.m_u64Size, 0u);
}
