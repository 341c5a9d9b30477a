#include "recovery/Lznt1.h"
#include "tests/recovery/Lznt1TestCompressor.h"
#include "tests/support/FixtureKit.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Decode(const Bytes& chunk, std::size_t* used = nullptr) {
    Bytes out(kLznt1ChunkSize + 64, 0xEE); // guard bytes show any write past the limit
    const std::size_t n = DecompressLznt1Chunk(chunk.data(), chunk.size(), out.data(), used);
    for (std::size_t i = kLznt1ChunkSize; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "write past the chunk at " << i;
    out.resize(n);
    return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Chunk(std::uint16_t header, const Bytes& body) {
    Bytes c{static_cast<std::uint8_t>(header), static_cast<std::uint8_t>(header >> 8)};
    c.insert(c.end(), body.begin(), body.end());
    return c;
}

std::uint16_t CompressedHeader(std::size_t bodyBytes) {
    return static_cast<std::uint16_t>(0xB000 | (bodyBytes + 2 - 3));
}

} // namespace

// Hand-made chunks: literals, overlapping references, and the token split at the positions where
// the offset gains a bit (after 16 and after 32 bytes of output).
TEST(Lznt1, HandMadeChunksDecode) {
    struct Case {
        const char* what;
        Bytes body;
        std::string expected;
    };
    Bytes lit16 = Text("0123456789ABCDEF");
    Bytes lit17 = Text("0123456789ABCDEFG");
    Bytes lit32 = Text("0123456789ABCDEF0123456789abcdef");
    Bytes lit33 = Text("0123456789ABCDEF0123456789abcdefX");
    auto withToken = [](Bytes literals, unsigned token) {
        // Flag bytes: literals in groups of eight, then one group that starts with the token.
        Bytes body;
        std::size_t i = 0;
        for (; i + 8 <= literals.size(); i += 8) {
            body.push_back(0);
            body.insert(body.end(), literals.begin() + i, literals.begin() + i + 8);
        }
        const std::size_t rest = literals.size() - i;
        body.push_back(static_cast<std::uint8_t>(1u << rest));
        body.insert(body.end(), literals.begin() + i, literals.end());
        body.push_back(static_cast<std::uint8_t>(token));
        body.push_back(static_cast<std::uint8_t>(token >> 8));
        return body;
    };
    std::vector<Case> cases = {
        {"literals", {0x00, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, "abcdefgh"},
        // "abc", then offset 3 length 6 with 12 length bits: (2 << 12) | 3.
        {"overlapping reference", {0x08, 'a', 'b', 'c', 0x03, 0x20}, "abcabcabc"},
        // At position 16 there are still 12 length bits: offset 16, length 4 = (15 << 12) | 1.
        {"position 16", withToken(lit16, (15u << 12) | 1), "0123456789ABCDEF0123"},
        // At 17, 11 bits: offset 17, length 5 = (16 << 11) | 2.
        {"position 17", withToken(lit17, (16u << 11) | 2), "0123456789ABCDEFG01234"},
        // At 32, still 11 bits: offset 16, length 3 = (15 << 11) | 0.
        {"position 32", withToken(lit32, (15u << 11) | 0), "0123456789ABCDEF0123456789abcdef012"},
        // At 33, 10 bits: offset 33, length 4 = (32 << 10) | 1.
        {"position 33", withToken(lit33, (32u << 10) | 1), "0123456789ABCDEF0123456789abcdefX0123"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t used = 0;
        Bytes chunk = Chunk(CompressedHeader(c.body.size()), c.body);
        chunk.push_back(0x55); // the next chunk's byte: not part of this one
        EXPECT_EQ(Decode(chunk, &used), Text(c.expected));
        EXPECT_EQ(used, chunk.size() - 1);
    }
}

TEST(Lznt1, StoredChunkCopiesItsBytes) {
    const Bytes data = testsupport::PatternBytes(4096, 7);
    Bytes chunk = Chunk(0x3FFF, data);
    std::size_t used = 0;
    EXPECT_EQ(Decode(chunk, &used), data);
    EXPECT_EQ(used, 4098u);
    // A short stored chunk (the last of a file).
    Bytes small = Chunk(0x3000 | 9, Bytes(data.begin(), data.begin() + 10));
    EXPECT_EQ(Decode(small), Bytes(data.begin(), data.begin() + 10));
}

// What our encoder writes, the decoder reads back: compressible, random (stored) and short data.
TEST(Lznt1, RoundTripsEncodedChunks) {
    std::string text;
    while (text.size() < 4096)
        text += "The quick brown fox jumps over the lazy dog " + std::to_string(text.size() % 97) + ". ";
    const Bytes random = testsupport::PatternBytes(4096, 3);
    std::vector<Bytes> inputs = {
        Bytes(4096, 0), Bytes(text.begin(), text.begin() + 4096), random,
        Bytes(random.begin(), random.begin() + 1), Bytes(text.begin(), text.begin() + 4095),
        Bytes(text.begin(), text.begin() + 100)};
    // Long repeats far back: a 2000-byte block repeated.
    Bytes far(random.begin(), random.begin() + 2000);
    far.insert(far.end(), random.begin(), random.begin() + 2000);
    inputs.push_back(far);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        const Bytes chunk = testsupport::Lznt1CompressChunk(inputs[i].data(), inputs[i].size());
        EXPECT_EQ(Decode(chunk), inputs[i]);
    }
    const Bytes zeros = testsupport::Lznt1CompressChunk(inputs[0].data(), 4096);
    EXPECT_LT(zeros.size(), 32u);
}

// Damaged chunks stay inside their input and the 4096-byte output.
TEST(Lznt1, DamagedChunksStayInBounds) {
    // Header promises 4096 bytes, only 6 are there.
    Bytes cut = Chunk(0xBFFF, {0x00, 'a', 'b', 'c'});
    std::size_t used = 0;
    EXPECT_EQ(Decode(cut, &used), Text("abc"));
    EXPECT_EQ(used, cut.size());

    // A reference at the start of the chunk, before any output: zeros.
    EXPECT_EQ(Decode(Chunk(CompressedHeader(4), {0x01, 0x02, 0x00, 'z'})), Bytes({0, 0, 0, 0, 0, 'z'}));

    // References that would run past 4096 bytes stop at 4096: 'x' then 0x0FFF-length copies.
    Bytes body{0x00, 'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    for (int i = 0; i < 20; ++i) {
        body.push_back(0xFF);
        for (int k = 0; k < 8; ++k) {
            body.push_back(0xFF); // offset from the top bits, long length
            body.push_back(0x0F);
        }
    }
    const Bytes out = Decode(Chunk(CompressedHeader(body.size()), body));
    EXPECT_EQ(out.size(), kLznt1ChunkSize);

    // A token cut in half by the end of the chunk.
    EXPECT_EQ(Decode(Chunk(CompressedHeader(3), {0x02, 'q', 0x03})), Text("q"));

    // Too short for a header.
    Bytes one{0x12};
    EXPECT_EQ(Decode(one, &used).size(), 0u);
    EXPECT_EQ(used, 1u);
}
