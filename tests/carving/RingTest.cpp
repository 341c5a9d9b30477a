#include "carving/BufferStorageDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// A chunk of `sectors` sectors whose every byte is the sector's number (mod 256).
std::vector<std::uint8_t> Chunk(std::uint64_t firstSector, std::uint32_t sectors) {
    std::vector<std::uint8_t> c(sectors * kSectorSize);
    for (std::uint32_t s = 0; s < sectors; ++s)
        std::memset(&c[s * kSectorSize], static_cast<int>((firstSector + s) & 0xFF), kSectorSize);
    return c;
}

bool Holds(CBufferStorageDevice& ring, std::uint64_t first, std::uint64_t n) {
    std::vector<std::uint8_t> buf(n * kSectorSize);
    if (!ring.ReadSectors(buf.data(), first, n))
        return false;
    for (std::uint64_t s = 0; s < n; ++s)
        if (buf[s * kSectorSize] != ((first + s) & 0xFF) ||
            buf[s * kSectorSize + kSectorSize - 1] != ((first + s) & 0xFF))
            return false;
    return true;
}

} // namespace

TEST(BufferStorageDevice, SetupCloseAndRefusals) {
    CBufferStorageDevice ring;
    std::uint8_t buf[512];
    EXPECT_EQ(ring.ReadSectors(buf, 0, 1), 0);
    EXPECT_EQ(ring.AppendChunk(buf), 0);
    EXPECT_FALSE(ring.IsFull());
    EXPECT_FALSE(ring.Setup(0, 0, 20)); // a step of 0 is refused
    EXPECT_FALSE(ring.IsReady());
    EXPECT_FALSE(ring.Setup(0, 4, 0));
    ASSERT_TRUE(ring.Setup(0, 1, 2));
    EXPECT_EQ(ring.GetSectorCount(), 0u);
    EXPECT_EQ(ring.AppendChunk(Chunk(0, 1).data()), 1);
    EXPECT_TRUE(Holds(ring, 0, 1));
    EXPECT_EQ(ring.Close(), 1);
    EXPECT_FALSE(ring.IsReady()); // Close clears ready
    EXPECT_EQ(ring.ReadSectors(buf, 0, 1), 0);
    EXPECT_EQ(ring.GetSectorCount(), 0u);
}

TEST(BufferStorageDevice, WindowGrowsThenSlidesAndReadsWrapInDeviceOrder) {
    const std::uint32_t chunk = 3, count = 4;
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Setup(0, chunk, count));
    std::uint64_t next = 0;
    for (int i = 0; i < 2; ++i, next += chunk)
        ASSERT_EQ(ring.AppendChunk(Chunk(next, chunk).data()), 1);
    // Not full yet: the oldest chunk is the first one, whatever the write position.
    EXPECT_FALSE(ring.IsFull());
    EXPECT_EQ(ring.GetWindowStart(), 0u);
    EXPECT_EQ(ring.GetSectorCount(), 6u);
    EXPECT_TRUE(Holds(ring, 0, 6));
    EXPECT_FALSE(Holds(ring, 4, 3)); // runs past the held sectors
    for (int i = 0; i < 2; ++i, next += chunk)
        ring.AppendChunk(Chunk(next, chunk).data());
    EXPECT_TRUE(ring.IsFull());
    // Slide many times, so reads wrap around the storage at every phase.
    for (int round = 0; round < 11; ++round, next += chunk) {
        ring.AppendChunk(Chunk(next, chunk).data());
        const std::uint64_t start = ring.GetWindowStart();
        EXPECT_EQ(start, next + chunk - std::uint64_t(chunk) * count);
        EXPECT_EQ(ring.GetSectorCount(), std::uint64_t(chunk) * count);
        EXPECT_TRUE(Holds(ring, start, chunk * count)) << round;
        EXPECT_TRUE(Holds(ring, start + 1, chunk * count - 2)) << round;
        EXPECT_FALSE(Holds(ring, start - 1, 1));
        EXPECT_FALSE(Holds(ring, start + chunk * count, 1));
        std::uint64_t contiguous = 0;
        const std::uint8_t* p = ring.PeekSectors(start + 2, &contiguous);
        ASSERT_NE(p, nullptr);
        EXPECT_GE(contiguous, 1u);
        EXPECT_LE(contiguous, chunk * count - 2);
        EXPECT_EQ(p[0], (start + 2) & 0xFF);
        EXPECT_EQ(ring.PeekSectors(start + chunk * count, &contiguous), nullptr);
    }
}

TEST(BufferStorageDevice, IncomingSlotIsOutsideTheWindowUntilCommitted) {
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Setup(0, 2, 2));
    for (std::uint64_t s = 0; s < 4; s += 2)
        ring.AppendChunk(Chunk(s, 2).data());
    std::uint8_t* slot = ring.GetIncomingSlot();
    std::memset(slot, 0xEE, 2 * kSectorSize);
    EXPECT_TRUE(Holds(ring, 0, 4)); // the oldest chunk is still readable
    EXPECT_EQ(ring.CommitIncoming(), 1);
    EXPECT_EQ(ring.GetWindowStart(), 2u);
    std::uint8_t buf[2 * 512];
    ASSERT_EQ(ring.ReadSectors(buf, 4, 2), 1);
    EXPECT_EQ(buf[0], 0xEE);
}
