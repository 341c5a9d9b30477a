#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "storage/ByteSpan.h"

TEST(ByteSpan, ReadsLittleAndBigEndianInsideTheSpan) {
    const std::uint8_t b[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    ByteSpan s(b, sizeof b);
    EXPECT_EQ(s.u8(7), 0x08);
    EXPECT_EQ(s.u16(0), 0x0201);
    EXPECT_EQ(s.u24(1), 0x040302u);
    EXPECT_EQ(s.u32(4), 0x08070605u);
    EXPECT_EQ(s.u64(0), 0x0807060504030201ull);
    EXPECT_EQ(s.be16(0), 0x0102);
    EXPECT_EQ(s.be32(0), 0x01020304u);
    EXPECT_EQ(s.i16(6), static_cast<std::int16_t>(0x0807));
    EXPECT_TRUE(s.ok());
}

TEST(ByteSpan, RefusesEveryReadPastTheEnd) {
    const std::uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ByteSpan s(b, sizeof b);
    struct Case {
        const char* what;
        std::uint64_t got;
    };
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    for (const Case& c : {Case{"u32 at 1", s.u32(1)}, Case{"u16 at 3", s.u16(3)},
                          Case{"u64 at 0", s.u64(0)}, Case{"u8 at 4", s.u8(4)},
                          Case{"u16 at max", s.u16(huge)}, Case{"be32 at 2", s.be32(2)}}) {
        EXPECT_EQ(c.got, 0u) << c.what;
    }
    EXPECT_FALSE(s.ok());
    s.reset_failed();
    EXPECT_EQ(s.bytes(huge - 1, 4), nullptr);
    EXPECT_TRUE(s.sub(2, 3).empty());
    EXPECT_TRUE(s.from(5).empty());
    EXPECT_FALSE(s.ok());
    s.reset_failed();
    EXPECT_EQ(s.sub(1, 3).u16(1), 0xFFFF);
    EXPECT_FALSE(s.matches(2, "\xFF\xFF\xFF", 3));
    EXPECT_TRUE(s.ok()) << "matches() is a question, not a failed read";
}

TEST(ByteSpan, WritesLittleEndianAndRefusesPastTheEnd) {
    std::uint8_t b[6] = {};
    MutableByteSpan w(b, sizeof b);
    EXPECT_TRUE(w.put16(0, 0xBEEF));
    EXPECT_TRUE(w.put32(2, 0x12345678));
    EXPECT_FALSE(w.put32(3, 0xFFFFFFFF));
    EXPECT_FALSE(w.put64(0, 1));
    EXPECT_EQ(w.view().u16(0), 0xBEEF);
    EXPECT_EQ(w.view().u32(2), 0x12345678u);
}

// Variable-width fields (NTFS mapping pairs): zero- or sign-extended, width 0 reads 0, wider
// than 8 or past the end fails.
TEST(ByteSpan, VariableWidthFields) {
    const std::uint8_t bytes[] = {0x34, 0x12, 0xFF, 0x80, 0x01, 0x02, 0x03, 0x04, 0x05};
    const ByteSpan s(bytes, sizeof bytes);
    EXPECT_EQ(s.uVar(0, 2), 0x1234u);
    EXPECT_EQ(s.iVar(0, 2), 0x1234);
    EXPECT_EQ(s.iVar(2, 1), -1);
    EXPECT_EQ(s.iVar(2, 2), static_cast<std::int16_t>(0x80FF));
    EXPECT_EQ(s.uVar(2, 2), 0x80FFu);
    EXPECT_EQ(s.uVar(3, 0), 0u);
    EXPECT_EQ(s.iVar(1, 8), static_cast<std::int64_t>(0x0504030201'80FF12ull));
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.uVar(0, 9), 0u);
    EXPECT_FALSE(s.ok());
    s.reset_failed();
    EXPECT_EQ(s.iVar(7, 3), 0);
    EXPECT_FALSE(s.ok());
}
