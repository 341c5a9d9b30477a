#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/Resources.h"
#include "ui/controls/ButtonLogic.h"
#include "ui/controls/MessageBoxLayout.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace uifmt;

namespace {
// FILETIME of a UTC date and time (days from 1601 computed with the civil calendar).
std::uint64_t FileTimeOf(int y, int mo, int d, int h, int mi, int s) {
    // days from civil (1970 epoch)
    y -= mo <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = static_cast<unsigned>((153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = static_cast<long long>(era) * 146097 + doe - 719468 + 134774;
    return static_cast<std::uint64_t>(((days * 86400) + h * 3600 + mi * 60 + s)) * 10000000ULL;
}
} // namespace

TEST(Formatting, SizesTable) {
    struct Case {
        std::int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0.00 KB"},
        {1536, "1.50 KB"},
        {1048576, "1024.00 KB"},
        {1048577, "1.00 MB"},
        {1073741824, "1024.00 MB"},
        {1073741825, "1.00 GB"},
        {5LL << 40, "5120.00 GB"},
        {-1024, "-1.00 KB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(FormatSectorsSize(4294967295u), "2048.00 GB");
    EXPECT_EQ(FormatSectorsSize(2048), "1024.00 KB");
    EXPECT_EQ(FormatSectorsSize64(1ULL << 40), "524288.00 GB");
    EXPECT_FALSE(FormatSectorsSize64(~0ULL).empty());
}

TEST(Formatting, FileTimesTable) {
    EXPECT_EQ(FormatFileTime(FileTimeOf(2009, 3, 5, 7, 4, 9)), "2009-3-5 7:4:9");
    EXPECT_EQ(FormatFileTime(0), "1601-1-1 0:0:0");
    EXPECT_EQ(FormatFileTime(FileTimeOf(2000, 2, 29, 23, 59, 59)), "2000-2-29 23:59:59");
    EXPECT_EQ(FormatFileTime(FileTimeOf(1970, 1, 1, 0, 0, 0)), "1970-1-1 0:0:0");
    EXPECT_EQ(FormatFileTime(116444736000000000ULL), "1970-1-1 0:0:0");
    // The largest convertible value and everything from 2^63 on.
    EXPECT_EQ(FormatFileTime((1ULL << 63) - 1), "30828-9-14 2:48:5");
    EXPECT_EQ(FormatFileTime(1ULL << 63), "");
    EXPECT_EQ(FormatFileTime(~0ULL), "");
    EXPECT_EQ(FormatFileTime(FileTime{FileTimeOf(2009, 3, 5, 7, 4, 9)}), "2009-3-5 7:4:9");
}

TEST(Formatting, FileSystemNamesAndElapsed) {
    const char* names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "EXT2", "EXT3", "RAW", "Unknown", ""};
    for (unsigned i = 0; i < 9; ++i)
        EXPECT_STREQ(GetFileSystemDisplayName(i), names[i]) << i;
    EXPECT_STREQ(GetFileSystemDisplayName(0xFFFFFFFFu), "");
    EXPECT_EQ(FormatElapsed(0), "00:00:00");
    EXPECT_EQ(FormatElapsed(3725u * 1000u), "01:02:05");
    EXPECT_EQ(FormatElapsed(100u * 3600u * 1000u), "100:00:00");
}

TEST(Formatting, RootPaths) {
    struct Case {
        const char* path;
        bool ok;
        const char* root;
    } cases[] = {
        {"C:", true, "C:\\"},          {"c:\\data\\x", true, "c:\\"},
        {"\\\\srv\\share\\dir", true, "\\\\srv\\share\\"}, {"\\\\srv", true, "\\\\srv\\"},
        {"relative\\dir", true, ""},   {"C", false, ""},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string out = "unchanged";
        EXPECT_EQ(GetRootPath(c.path, out), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(out, c.root) << c.path;
        }
    }
    std::string out;
    EXPECT_FALSE(GetRootPath(nullptr, out));
    EXPECT_FALSE(GetRootPath(std::string(261, 'a').c_str(), out));
    // An absolute POSIX path gives the mount point that holds it.
    ASSERT_TRUE(GetRootPath("/proc/self", out));
    EXPECT_EQ(out, "/proc/");
}

TEST(Formatting, FolderChecksUseStatAndKeepTheWorkingFolder) {
    const auto before = std::filesystem::current_path();
    EXPECT_TRUE(FolderExists("/"));
    EXPECT_FALSE(FolderExists("/proc/self/status"));
    EXPECT_FALSE(FolderExists("/no/such/folder"));
    EXPECT_FALSE(FolderExists(""));
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_FALSE(IsNtfsVolume("/proc"));
    EXPECT_FALSE(IsNtfsVolume(nullptr));
}

TEST(Formatting, NamesFromDiskAreShownSafely) {
    EXPECT_EQ(DisplayName("caf\xC3\xA9.txt"), "caf\xC3\xA9.txt");
    EXPECT_EQ(DisplayName("a\xFF" "b"), "a\\xFFb");
    EXPECT_EQ(DisplayName("\xC3"), "\\xC3");                 // cut sequence
    EXPECT_EQ(DisplayName("\xC0\xAF"), "\\xC0\\xAF");        // overlong
    EXPECT_EQ(DisplayName("\xED\xA0\x80"), "\\xED\\xA0\\x80"); // surrogate
    EXPECT_EQ(DisplayName("tab\there"), "tab\\x09here");
    EXPECT_EQ(DisplayName("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(DisplayName(static_cast<const char*>(nullptr)), "");
}

TEST(Formatting, LinkTextIsCutAfterFortyCharacters) {
    const std::string forty(40, 'x');
    EXPECT_EQ(ShortenForLink(forty), forty);
    EXPECT_EQ(ShortenForLink(forty + "y"), forty + ". . .");
    // Counted in characters, never cutting a UTF-8 sequence.
    std::string accented;
    for (int i = 0; i < 41; ++i)
        accented += "\xC3\xA9";
    EXPECT_EQ(ShortenForLink(accented), accented.substr(0, 80) + ". . .");
}

TEST(StringTable, LookupAndOrder) {
    EXPECT_TRUE(uistr::StringTableIsSorted());
    EXPECT_STREQ(uistr::LoadUiString(uistr::kProductName), "Oxtavo Data Recovery");
    EXPECT_STREQ(uistr::LoadUiString(uistr::kNo), "NO");
    EXPECT_STREQ(uistr::LoadUiString(1), "");
    // The update checker's texts.
    EXPECT_STREQ(uistr::LoadUiString(217), "Detecting failure! Please make sure internet connection is stable.");
    EXPECT_STREQ(uistr::LoadUiString(218), "The new version is released! Would you like to get updated now?");
    EXPECT_STREQ(uistr::LoadUiString(219), "The current version is the latest.");
}

TEST(Resources, IdsAndColours) {
    static_assert(uires::MapControlId(1) == 5100 && uires::MapControlId(2) == 5101);
    static_assert(uires::MapControlId(5001) == uires::kRelocatedIdBase + 2);
    static_assert(uires::MapControlId(1230) == 1230);
    constexpr uires::Rgb c = uires::FromColorRef(0xFF8600);
    static_assert(c.r == 0x00 && c.g == 0x86 && c.b == 0xFF);
    static_assert(uires::ToColorRef(c) == 0xFF8600);
}

TEST(ButtonLogic, PicturesAndFrames) {
    // A hover id of 0 (no hover picture) shows the normal picture while hovered.
    EXPECT_EQ(ChooseButtonPicture(false, false, true, true, true, false), ButtonPicture::Normal);
    EXPECT_EQ(ChooseButtonPicture(true, true, true, true, true, true), ButtonPicture::Pressed);
    EXPECT_EQ(ChooseButtonPicture(true, true, false, false, true, true), ButtonPicture::Disabled);
    EXPECT_EQ(ChooseButtonPicture(false, false, true, false, false, true), ButtonPicture::Hover);
    EXPECT_EQ(CaptionButtonFrame(true, false, false, 3), 0);
    EXPECT_EQ(CaptionButtonFrame(true, false, false, 4), 3);
    EXPECT_EQ(CaptionButtonFrame(false, true, true, 3), 2);
    EXPECT_EQ(CaptionButtonFrame(false, false, true, 1), 0);
    EXPECT_EQ(CaptionButtonFrame(false, false, true, 2), 1);
}

TEST(ButtonLogic, HyperlinkErrors) {
    EXPECT_EQ(HyperlinkErrorText(26), "Unable to open hyperlink:\n\nA sharing violation occurred.");
    EXPECT_EQ(HyperlinkErrorText(99), "Unable to open hyperlink:\n\nUnknown Error (99) occurred.");
}

TEST(MessageBoxLayout, ButtonsByFlags) {
    const int w = 445, h = 250, bw = 95, bh = 39;
    auto one = LayoutMessageBox(w, h, kMbOk, bw, bh, 22);
    EXPECT_EQ(one.visibleCount, 1);
    EXPECT_EQ(one.pos[MessageBoxLayout::Ok], (uigeo::Point{(445 - 95) / 2, 250 - 39 - 10}));
    EXPECT_EQ(one.close, (uigeo::Point{420, 7}));
    auto yn = LayoutMessageBox(w, h, kMbYes | kMbNo, bw, bh, 22);
    EXPECT_EQ(yn.pos[MessageBoxLayout::Yes].x + bw + 40, yn.pos[MessageBoxLayout::No].x);
    EXPECT_EQ(yn.pos[MessageBoxLayout::No].x, 222 + 20);
    EXPECT_FALSE(yn.visible[MessageBoxLayout::Ok]);
    auto oc = LayoutMessageBox(w, h, kMbOk | kMbCancel, bw, bh, 22);
    EXPECT_EQ(oc.pos[MessageBoxLayout::Ok].x, 222 - 95 - 20);
    EXPECT_EQ(oc.pos[MessageBoxLayout::Cancel].x, 242);
    EXPECT_EQ(MessageBoxIconBitmap(3), uires::kBmpIconSuccess);
    EXPECT_EQ(MessageBoxIconBitmap(7), 0);
}
