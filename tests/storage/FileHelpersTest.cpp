#include "storage/FileHelpers.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(FileHelpers, ModesLinesAndClosing) {
    const std::string dir = ScratchDir("helpers");
    const std::string path = dir + "/out.txt";
    platform::FileHandle h;
    EXPECT_EQ(OpenFileByMode(&h, 0, path.c_str()), 0); // must exist
    EXPECT_EQ(OpenFileByMode(&h, 3, path.c_str()), 1);
    EXPECT_EQ(WriteBytesToFile(&h, 5, "a.edf"), 1);
    EXPECT_EQ(WriteBytesToFile(&h, 7, "b.edf\r\n"), 1);
    EXPECT_EQ(WriteBytesToFile(&h, 0, ""), 1);
    EXPECT_EQ(WriteAll(&h, 3, "xyz"), 1);
    CloseFileHandle(&h);
    EXPECT_FALSE(h.Valid());
    EXPECT_EQ(WriteAll(&h, 3, "xyz"), 0);
    std::vector<std::uint8_t> got = ReadFileBytes(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), "a.edf\r\nb.edf\r\nxyz");

    EXPECT_EQ(OpenFileByMode(&h, 4, path.c_str()), 1); // kept
    CloseFileHandle(&h);
    EXPECT_EQ(ReadFileBytes(path).size(), 17u);
    EXPECT_EQ(OpenFileByMode(&h, 0, path.c_str()), 1);
    EXPECT_EQ(WriteAll(&h, 1, "q"), 0); // opened for reading only
    EXPECT_EQ(OpenFileByMode(&h, 5, path.c_str()), 0);
    EXPECT_FALSE(h.Valid()); // the old handle was closed first
    EXPECT_EQ(OpenFileByMode(&h, 3, path.c_str()), 1); // emptied
    CloseFileHandle(&h);
    EXPECT_TRUE(ReadFileBytes(path).empty());
}
