// The read-ahead cache of the deep scan: windows read once (by its loader, or by the reader when
// it has none), read in place or copied from memory by the readers of their windows; anything
// else (and a window that could not be read whole) comes from the device.
#include "carving/ReadAheadSectorCache.h"
#include "tests/support/MemoryDevice.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {
MemoryDevice Numbered(std::uint64_t sectors) {
    MemoryDevice dev(sectors);
    for (std::uint64_t s = 0; s < sectors; ++s)
        for (int i = 0; i < 512; i += 8)
            dev.Sector(s)[i] = static_cast<std::uint8_t>(s * 3 + i);
    return dev;
}
bool Same(MemoryDevice& dev, const std::vector<std::uint8_t>& buf, std::uint64_t first) {
    return std::equal(buf.begin(), buf.end(),
                      dev.Bytes().begin() + static_cast<std::ptrdiff_t>(first * 512));
}
} // namespace

TEST(ReadAheadSectorCache, WindowsComeFromMemoryOtherSectorsFromTheDevice) {
    MemoryDevice dev = Numbered(250);
    CReadAheadSectorCache cache(&dev, 100);
    ASSERT_TRUE(cache.Start());
    EXPECT_EQ(cache.GetSectorCount(), 250u);
    ASSERT_EQ(cache.LoadCacheWindow(0), 1);
    ASSERT_EQ(cache.LoadCacheWindow(1), 1);
    ASSERT_EQ(cache.WaitWindow(2), 1); // the loader has read ahead all there is
    EXPECT_EQ(dev.Calls().size(), 3u);
    // Windows 0 and 1 are this thread's: a read across their border costs no device read.
    const std::size_t before = dev.Calls().size();
    std::vector<std::uint8_t> buf(30 * 512);
    ASSERT_EQ(cache.ReadSectors(buf.data(), 85, 30), 1);
    EXPECT_TRUE(Same(dev, buf, 85));
    EXPECT_EQ(dev.Calls().size(), before);
    // Window 2 (50 sectors, the device's end) is read ahead, but this thread works on 1: the
    // device answers, and a read past the end fails.
    std::vector<std::uint8_t> tail(10 * 512);
    ASSERT_EQ(cache.ReadSectors(tail.data(), 240, 10), 1);
    EXPECT_TRUE(Same(dev, tail, 240));
    EXPECT_EQ(cache.ReadSectors(tail.data(), 245, 10), 0);
    ASSERT_EQ(cache.LoadCacheWindow(2), 1);
    EXPECT_EQ(cache.LoadCacheWindow(3), 0); // no such window
    // Another thread has no windows of its own: it reads the device.
    std::thread other([&] {
        std::vector<std::uint8_t> b(512);
        EXPECT_EQ(cache.ReadSectors(b.data(), 5, 1), 1);
        EXPECT_TRUE(Same(dev, b, 5));
    });
    other.join();
}

TEST(ReadAheadSectorCache, AWindowThatCannotBeReadFallsBackToTheDevice) {
    MemoryDevice dev = Numbered(300);
    dev.FailSector(150);
    CReadAheadSectorCache cache(&dev, 100);
    ASSERT_TRUE(cache.Start());
    cache.LoadCacheWindow(0);
    EXPECT_EQ(cache.LoadCacheWindow(1), 0);
    ASSERT_EQ(cache.WaitWindow(2), 1); // the loader is done before this thread reads the device
    std::vector<std::uint8_t> buf(10 * 512);
    EXPECT_EQ(cache.ReadSectors(buf.data(), 120, 10), 1); // sector by sector the rest reads
    EXPECT_TRUE(Same(dev, buf, 120));
    EXPECT_EQ(cache.ReadSectors(buf.data(), 145, 10), 0);
    EXPECT_EQ(cache.LoadCacheWindow(2), 1);
}

// Windows read in place, by the loader or by the reader itself: each window's bytes with zeros
// after a short last window, and the 16 sectors before it right in front of it, also where the
// ring starts again at slot 0.
TEST(ReadAheadSectorCache, WindowsInPlaceHaveTheSectorsBeforeThemInFront) {
    for (bool loader : {false, true}) {
        SCOPED_TRACE(loader);
        MemoryDevice dev = Numbered(1050);
        CReadAheadSectorCache cache(&dev, 100, 5, 2); // 6 slots, 2 windows a read
        ASSERT_TRUE(cache.IsReady());
        EXPECT_EQ(cache.Slots(), 6u);
        ASSERT_EQ(cache.Windows(), 11u);
        if (loader) {
            ASSERT_TRUE(cache.Start());
        }
        for (std::uint64_t j = 0; j < 11; ++j) {
            ASSERT_EQ(cache.WaitWindow(j), 1) << j;
            const SearchChunk c = cache.Chunk(j, 1);
            ASSERT_TRUE(c.data) << j;
            EXPECT_EQ(c.first, j * 100);
            EXPECT_EQ(c.count, j < 10 ? 100u : 50u);
            EXPECT_TRUE(c.readWhole);
            EXPECT_EQ(c.ring + (j % 6) * 100 * 512, c.data);
            EXPECT_EQ(c.ringChunks, 6u);
            EXPECT_EQ(c.headSectors, j ? 16u : 0u);
            const std::uint8_t* from = c.data - std::size_t{c.headSectors} * 512;
            const std::vector<std::uint8_t> seen(from, c.data + c.count * 512);
            EXPECT_TRUE(Same(dev, seen, c.first - c.headSectors)) << j;
            EXPECT_TRUE(std::all_of(c.data + c.count * 512, c.data + 100 * 512,
                                    [](std::uint8_t b) { return b == 0; }));
            cache.ReleaseBefore(j); // the window before stays for the head room
        }
        // One device read for two windows.
        EXPECT_EQ(dev.Calls().size(), 6u);
    }
}

// A sector that cannot be read: its window is read sector by sector, the sector reads as
// zeros in place and the window counts as not read whole; the other window of the same read
// is whole. Through ReadSectors the device answers for that window.
TEST(ReadAheadSectorCache, AnUnreadableSectorReadsAsZerosInPlace) {
    MemoryDevice dev = Numbered(400);
    dev.FailSector(150);
    CReadAheadSectorCache cache(&dev, 100, 6, 2);
    ASSERT_TRUE(cache.Start());
    EXPECT_EQ(cache.WaitWindow(0), 1);
    EXPECT_EQ(cache.WaitWindow(1), 0);
    const SearchChunk c = cache.Chunk(1, 1);
    ASSERT_TRUE(c.data);
    EXPECT_FALSE(c.readWhole);
    EXPECT_TRUE(cache.Chunk(0, 1).readWhole);
    for (std::uint64_t s = 100; s < 200; ++s) {
        const std::uint8_t* sector = c.data + (s - 100) * 512;
        if (s == 150)
            EXPECT_TRUE(std::all_of(sector, sector + 512, [](std::uint8_t b) { return b == 0; }));
        else
            EXPECT_TRUE(std::equal(sector, sector + 512, dev.Sector(s))) << s;
    }
    cache.SetReaderWindow(1);
    std::vector<std::uint8_t> buf(10 * 512);
    EXPECT_EQ(cache.ReadSectors(buf.data(), 145, 10), 0);
    EXPECT_EQ(cache.ReadSectors(buf.data(), 120, 10), 1);
    EXPECT_TRUE(Same(dev, buf, 120));
}
