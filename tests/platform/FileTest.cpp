#include "platform/File.h"
#include "platform/SystemInfo.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(File, ReadAtStopsAtEndOfFileAndSizes) {
    const std::string path = ScratchDir("file") + "/data.bin";
    std::vector<std::uint8_t> bytes = PatternBytes(3000, 1);
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    platform::FileHandle f = platform::OpenReadOnly(path);
    ASSERT_TRUE(f.Valid());
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::GetSize(f.Get(), size));
    EXPECT_EQ(size, 3000u);
    EXPECT_FALSE(platform::IsBlockDevice(f.Get()));
    std::vector<std::uint8_t> buf(1000);
    EXPECT_EQ(platform::ReadAt(f.Get(), buf.data(), 1000, 2500), 500);
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 500, bytes.begin() + 2500));
    EXPECT_EQ(platform::ReadAt(f.Get(), buf.data(), 1000, 5000), 0);
    EXPECT_EQ(platform::ReadAt(f.Get(), buf.data(), 10, ~std::uint64_t(0) - 2), 0);
    EXPECT_EQ(platform::ReadAt(-1, buf.data(), 10, 0), -1);
    // Read-only: writing through it fails.
    EXPECT_FALSE(platform::WriteFully(f.Get(), "x", 1));
    platform::FileHandle moved = std::move(f);
    EXPECT_FALSE(f.Valid());
    EXPECT_TRUE(moved.Valid());
    EXPECT_FALSE(platform::OpenReadOnly(path + ".missing").Valid());

    platform::FreeSpace space;
    ASSERT_TRUE(platform::GetFreeSpace(path, space));
    EXPECT_GT(space.totalBytes, 0u);
    EXPECT_FALSE(platform::GetFreeSpace("/no/such/place", space));
}

TEST(SystemInfo, MemoryAndTicks) {
    platform::MemoryStatus m;
    ASSERT_TRUE(platform::GetMemoryStatus(m));
    EXPECT_GT(m.totalPhysical, 0u);
    EXPECT_LE(m.availablePhysical, m.totalPhysical);
    EXPECT_GE(m.totalPageFile, m.totalPhysical);
    std::uint64_t a = platform::GetTickCount64();
    EXPECT_GE(platform::GetTickCount64(), a);
}
