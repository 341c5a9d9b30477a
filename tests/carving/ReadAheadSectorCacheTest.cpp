// The read-ahead cache of the deep scan: windows read once by its loader, reads inside the
// reader's windows from memory, anything else (and a window that could not be read) from the
// device.
#include "carving/ReadAheadSectorCache.h"
#include "tests/support/MemoryDevice.h"

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
