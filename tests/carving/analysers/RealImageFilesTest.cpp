// Files made by the real tools are recognised by the right analyser and sized to the byte,
// wherever they lie against the reader's 512 KiB blocks.
#include "tests/carving/analysers/AnalyserTestKit.h"
#include "tests/support/ImageFiles.h"

#include <gtest/gtest.h>

using namespace analysertest;
using namespace testsupport;

TEST(RealImageFiles, EachIsTakenByItsAnalyserAndSizedExactly) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    for (const RealImageFile& f : RealImageFiles()) {
        const Bytes file = ReadFileBytes(dir + "/" + f.name);
        ASSERT_FALSE(file.empty()) << f.name;
        // Sector 5, and sector 1020, where the file runs across a block of the reader.
        for (std::uint64_t start : {5ull, 1020ull}) {
            const Outcome o = Carve(file, start);
            ASSERT_TRUE(o.matched) << f.name;
            EXPECT_EQ(o.analyser, f.analyser) << f.name;
            EXPECT_EQ(o.fileType, f.fileType) << f.name;
            EXPECT_EQ(o.size, file.size()) << f.name << " at sector " << start;
        }
        // Sized on a device that ends with the file (no bytes behind it).
        const Outcome tail = Carve(file, 1, 0, true);
        EXPECT_EQ(tail.size, file.size()) << f.name << " at the end of the device";
    }
}
