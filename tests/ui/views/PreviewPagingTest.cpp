// Text and hex paging of preview files: the line index, pages, hex rows and the size limit.
#include "ui/views/PreviewPaging.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/FixtureKit.h"

using namespace testsupport;

namespace {

std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = ScratchDir("paging") + "/" + name;
    EXPECT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
    return path;
}

// A sparse file of `size` bytes (zeros) with `tail` at its end.
std::string Sparse(const std::string& name, std::uint64_t size) {
    const std::string path = ScratchDir("paging") + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ::close(fd);
    return path;
}

std::vector<std::uint64_t> Index(const std::string& path) {
    CPreviewFile f;
    EXPECT_TRUE(f.Open(path));
    return BuildTextLineIndex(f);
}

} // namespace

TEST(PreviewPaging, LineIndexTable) {
    const std::string euro = "\xE2\x82\xAC"; // three bytes
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::uint64_t> index;
    } cases[] = {
        {"line300", std::string(300, 'x'), {0, 160, 300}},
        {"five", "hello", {0, 5}},
        {"empty", "", {0}},
        {"newlines", "ab\ncd\n\nlast", {0, 3, 6, 7, 11}},
        {"endsnl", "ab\n", {0, 3}},
        // A three-byte sequence over byte 160 moves the break before its first byte.
        {"utf8cross", std::string(159, 'a') + euro + std::string(10, 'b'), {0, 159, 172}},
        // A sequence that ends exactly at 160 keeps the break there.
        {"utf8fits", std::string(157, 'a') + euro + std::string(10, 'b'), {0, 160, 170}},
        // Bytes that are no UTF-8 at all are broken at 160 as they stand.
        {"latin1", std::string(170, '\xE9'), {0, 160, 170}},
        {"newlineAtLimit", std::string(160, 'a') + "\nb", {0, 161, 162}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Index(Write(c.name, c.bytes)), c.index);
    }
}

TEST(PreviewPaging, SizeLimitAndProgress) {
    const std::string exact = Sparse("exact100M", kMaxPreviewFileSize);
    const std::string over = Sparse("over100M", kMaxPreviewFileSize + 1);
    CPreviewFile f;
    EXPECT_FALSE(f.Open(over));
    ASSERT_TRUE(f.Open(exact));
    EXPECT_EQ(f.Size(), kMaxPreviewFileSize);
    EXPECT_LE(f.WindowBytes(), kPreviewWindowSize);
    // Stopping early: the rest of the file stays one last line.
    int steps = 0;
    auto index = BuildTextLineIndex(f, [&](int step) {
        steps = step;
        return step < 2;
    });
    EXPECT_EQ(steps, 20); // the final step is always reported
    EXPECT_EQ(index.back(), kMaxPreviewFileSize);
    EXPECT_LE(f.WindowBytes(), kPreviewWindowSize);
    // A 5-byte file reports no steps.
    CPreviewFile small;
    ASSERT_TRUE(small.Open(Write("small5", "12345")));
    int calls = 0;
    BuildTextLineIndex(small, [&](int) { return ++calls, true; });
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(f.Open(ScratchDir("paging") + "/missing"));
}

TEST(PreviewPaging, PagesAndLineLookups) {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    text += std::string("\x01\x02 bad \xFF\x80 ok \xC3\xA9");
    CPreviewFile f;
    ASSERT_TRUE(f.Open(Write("lines", text)));
    const auto index = BuildTextLineIndex(f);
    ASSERT_EQ(index.size(), 52u);
    EXPECT_EQ(TextOffsetToLine(index, 0), 0u);
    EXPECT_EQ(TextOffsetToLine(index, index[10] + 2), 10u);
    EXPECT_EQ(TextOffsetToLine(index, f.Size()), 0u);
    EXPECT_EQ(TextLineToOffset(index, 3), index[3]);
    EXPECT_EQ(TextLineToOffset(index, 51), 0u);
    EXPECT_EQ(TextPage(f, index, 0, 2), "line 0\nline 1\n");
    // A page past the end is pulled back so that it is full.
    EXPECT_EQ(TextPage(f, index, 50, 2), "line 49\n   bad \xC3\xBF\xE2\x82\xAC ok \xC3\xA9\n");
    EXPECT_EQ(ClampFirstLine(5, 10, 3), 0u);
}

TEST(PreviewPaging, HexRows) {
    std::string bytes;
    for (int i = 0; i < 32; ++i)
        bytes += static_cast<char>(i == 20 ? 'A' : i);
    CPreviewFile f;
    ASSERT_TRUE(f.Open(Write("hex32", bytes)));
    EXPECT_EQ(HexRowCount(32), 2u);
    EXPECT_EQ(HexRowCount(33), 3u);
    EXPECT_EQ(HexRow(f, 0),
              "00000000\t\t00\t01\t02\t03\t04\t05\t06\t07\t08\t09\t0A\t0B\t0C\t0D\t0E\t0F\t\t"
              "................\t\n");
    // The last row of a size that is a multiple of 16: partial form, no blank fillers.
    EXPECT_EQ(HexRow(f, 1),
              "00000010\t\t10\t11\t12\t13\t41\t15\t16\t17\t18\t19\t1A\t1B\t1C\t1D\t1E\t1F\t\t\t"
              "....A.........\x1E\x1F\t\n");
    CPreviewFile g;
    ASSERT_TRUE(g.Open(Write("hex3", "abc")));
    EXPECT_EQ(HexRow(g, 0), "00000000\t\t61\t62\t63\t" + [] {
        std::string s;
        for (int i = 0; i < 13; ++i)
            s += " \t";
        return s;
    }() + "\t\tabc\t\n");
    EXPECT_EQ(HexPage(g, 0, 10), std::string(kHexHeading) + HexRow(g, 0));
    EXPECT_EQ(HexRow(g, 1), "");
}
