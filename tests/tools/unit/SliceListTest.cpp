// The open wizard's slice-list reader, checks, repairs and rewrite.
#include "tests/support/FixtureKit.h"
#include "tools/SliceList.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace imagetool;
using namespace testsupport;

namespace {

bool Write(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}
std::string Read(const std::string& path) {
    const std::vector<std::uint8_t> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

}  // namespace

TEST(SliceList, Reader) {
    const struct {
        const char* name;
        std::string text;
        bool ok;
        std::vector<std::string> lines;
    } cases[] = {
        {"crlf last line", "/a/x.part0.edf\r\n/a/x.part1.edf\r\n", true,
         {"/a/x.part0.edf", "/a/x.part1.edf"}},
        {"no end on last line", "/a/x.part0.edf\r\n/b/x.part1.edf", true,
         {"/a/x.part0.edf", "/b/x.part1.edf"}},
        {"lf only", "/a/x.part0.edf\n", true, {"/a/x.part0.edf"}},
        {"only the end is cut", "/a/ab\n", true, {"/a/ab"}},
        {"drive letter", "C:\\img\\x.part0.edf\r\n", true, {"C:\\img\\x.part0.edf"}},
        {"long line", "/" + std::string(3000, 'p') + "\r\n", true,
         {"/" + std::string(3000, 'p')}},
        {"empty", "", false, {}},
        {"empty line", "/a\r\n\r\n/b\r\n", false, {}},
        {"relative", "x.part0.edf\r\n", false, {}},
        {"nul", std::string("/a\0b\r\n", 6), false, {}},
        {"too long", "/" + std::string(5000, 'p'), false, {}},
        {"binary", "\x01\x02\xff\r\n", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        EXPECT_EQ(ReadSliceListLines(c.text.data(), c.text.size(), &lines), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(lines, c.lines) << c.name;
        }
    }
    EXPECT_EQ(SliceFileName("/a/b/x.part3.edf"), "x.part3.edf");
    EXPECT_EQ(SliceFileName("D:\\img\\x.part3.edf"), "x.part3.edf");
}

TEST(SliceList, OpenChecks) {
    const std::string dir = ScratchDir("slices-open");
    ASSERT_TRUE(Write(dir + "/img.edi", "main"));
    ASSERT_TRUE(Write(dir + "/img.part0.edf", "s0"));
    ASSERT_TRUE(Write(dir + "/img.part1.edf", "s1"));
    std::string found;
    const std::string list = dir + "/img.edp";
    // No list beside the image.
    EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::NoSliceList);
    EXPECT_EQ(found, list);
    // A last line ending in CR LF opens.
    ASSERT_TRUE(Write(list, dir + "/img.part0.edf\r\n" + dir + "/img.part1.edf\r\n"));
    EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::Complete);
    // Upper-case extension and missing files are not images.
    ASSERT_TRUE(Write(dir + "/up.EDI", "main"));
    EXPECT_EQ(CheckImageToOpen(dir + "/up.EDI", &found), OpenImageResult::NotAnImage);
    EXPECT_EQ(CheckImageToOpen(dir + "/none.edi", &found), OpenImageResult::NotAnImage);
    // A missing slice and a drive-letter line go to the error page.
    ASSERT_TRUE(Write(list, dir + "/img.part0.edf\r\n" + dir + "/gone.part1.edf\r\n"));
    EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::MissingSlice);
    ASSERT_TRUE(Write(list, "E:\\img\\img.part0.edf\r\n"));
    EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::MissingSlice);
    // Damaged lists are malformed.
    for (const std::string& damaged :
         {std::string("garbage"), std::string("\r\n"), std::string("\0\0\0\0", 4)}) {
        ASSERT_TRUE(Write(list, damaged));
        EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::Malformed);
    }
    ASSERT_TRUE(Write(list, ""));
    EXPECT_EQ(CheckImageToOpen(dir + "/img.edi", &found), OpenImageResult::Malformed);
}

TEST(SliceList, LocateAddRemoveAndRewrite) {
    const std::string dir = ScratchDir("slices-repair");
    const std::string moved = ScratchDir("slices-moved");
    ASSERT_TRUE(Write(dir + "/img.part0.edf", "s0"));
    ASSERT_TRUE(Write(moved + "/img.part1.edf", "s1"));
    ASSERT_TRUE(Write(moved + "/img.part2.edf", "s2"));
    ASSERT_TRUE(Write(moved + "/img.part0.edf", "other s0"));
    const std::string list = dir + "/img.edp";
    ASSERT_TRUE(Write(list, dir + "/img.part0.edf\r\nF:\\old\\img.part1.edf\r\n" + dir +
                                "/img.part2.edf\r\n"));
    SliceListRows rows;
    ASSERT_TRUE(rows.Fill(list));
    ASSERT_EQ(rows.Rows().size(), 3u);
    EXPECT_EQ(rows.LineCount(), 3u);
    EXPECT_TRUE(rows.Rows()[0].valid);
    EXPECT_FALSE(rows.Rows()[1].valid);
    EXPECT_FALSE(rows.Complete());

    // Locate: only the row's own file name is taken.
    EXPECT_EQ(rows.LocateSlice(1, moved + "/img.part2.edf"), SliceListRows::Pick::WrongName);
    EXPECT_EQ(rows.LocateSlice(1, moved + "/img.part1.edf"), SliceListRows::Pick::Accepted);
    EXPECT_EQ(rows.Rows()[1].path, moved + "/img.part1.edf");
    EXPECT_TRUE(rows.Rows()[1].valid);

    // Remove the last row, then Add slice takes only the next slice's name.
    rows.Remove(2);
    EXPECT_FALSE(rows.Complete());
    EXPECT_EQ(rows.AddSlice(moved + "/img.part0.edf"), SliceListRows::Pick::WrongName);
    EXPECT_EQ(rows.AddSlice(moved + "/img.part9.edf"), SliceListRows::Pick::WrongName);
    EXPECT_EQ(rows.AddSlice(dir + "/img.part2.edf"), SliceListRows::Pick::DoesNotOpen);
    EXPECT_EQ(rows.AddSlice(moved + "/img.part2.edf"), SliceListRows::Pick::Accepted);
    EXPECT_TRUE(rows.Complete());

    ASSERT_TRUE(WriteSliceList(list, rows.Paths()));
    EXPECT_EQ(Read(list), dir + "/img.part0.edf\r\n" + moved + "/img.part1.edf\r\n" + moved +
                              "/img.part2.edf\r\n");
    EXPECT_EQ(CheckSliceList(list), SliceListCheck::Complete);
    struct stat st {};
    EXPECT_NE(stat((list + ".new").c_str(), &st), 0);

    // A failed rewrite leaves the old list whole.
    EXPECT_FALSE(WriteSliceList(dir + "/missing/img.edp", rows.Paths()));
    ASSERT_EQ(::chmod(dir.c_str(), 0500), 0);
    const bool root = ::geteuid() == 0;
    if (!root) {
        EXPECT_FALSE(WriteSliceList(list, {"/x"}));
    }
    ::chmod(dir.c_str(), 0700);
    EXPECT_EQ(CheckSliceList(list), SliceListCheck::Complete);
}
