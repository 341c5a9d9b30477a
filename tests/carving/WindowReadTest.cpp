// A file whose structure reaches past the ring's window is not cut there: the walk gives up on
// the ring, and the same walk on the device sizes it whole.
#include "carving/BufferStorageDevice.h"
#include "carving/analysers/AnalyserFormats.h"
#include "carving/analysers/RawFileReader.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

void PutAtom(std::uint8_t* p, std::uint32_t size, const char* type) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
    std::memcpy(p + 4, type, 4);
}

} // namespace

TEST(WindowReads, AtomWalkPastTheRingIsLeftToTheDevice) {
    MemoryDevice dev(64);
    // ftyp (32 bytes), mdat up to byte 8000, moov of 2000 bytes behind it.
    PutAtom(dev.Sector(0), 32, "ftyp");
    PutAtom(dev.Sector(0) + 32, 8000 - 32, "mdat");
    PutAtom(dev.Sector(0) + 8000, 2000, "moov");

    CBufferStorageDevice ring; // 3 chunks of 4 sectors: 6144 bytes from sector 0
    ASSERT_TRUE(ring.Setup(0, 4, 3));
    for (std::uint64_t s = 0; s < 12; s += 4)
        ring.AppendChunk(dev.Sector(s));
    RawFileReader onRing(&ring, 0);
    EXPECT_TRUE(onRing.IsWindow());
    EXPECT_FALSE(onRing.Read(6144 - 512).empty());
    EXPECT_TRUE(onRing.Read(6144).empty());
    // Bytes up to the window's end arrive whole even where the ring wraps.
    ring.AppendChunk(dev.Sector(12));
    ring.AppendChunk(dev.Sector(16)); // window now sectors 8..19, wrapping in the storage
    RawFileReader wrapped(&ring, 8);
    for (std::uint64_t off = 0; off < 12 * 512; off += 100) {
        ByteSpan s = wrapped.Read(off);
        ASSERT_FALSE(s.empty()) << off;
        EXPECT_EQ(std::memcmp(s.data(), dev.Sector(8) + off, std::min<std::size_t>(s.size(), 12 * 512 - off)), 0);
    }

    CBufferStorageDevice fresh;
    ASSERT_TRUE(fresh.Setup(0, 4, 3));
    for (std::uint64_t s = 0; s < 12; s += 4)
        fresh.AppendChunk(dev.Sector(s));
    CRawFileInfo r;
    EXPECT_EQ(WalkQuickTimeAtoms(&r, &fresh), 0); // moov lies beyond the window
    EXPECT_EQ(r.m_u64Size, 0u);
    EXPECT_EQ(WalkQuickTimeAtoms(&r, &dev), 1);
    EXPECT_EQ(r.m_u64Size, 10000u);
}
