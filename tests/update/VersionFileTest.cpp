#include "update/VersionFile.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

using pennat::GetProfileValue;
using pennat::kProfileValueMax;
using pennat::ParseProductVersion;
using pennat::ParseVersionFile;
using pennat::VersionFileInfo;

namespace {

const std::uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

struct ProfileCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    bool found;
    std::string value;
};

} // namespace

TEST(ProfileReader, ReadsLikeTheWindowsProfileReader) {
    const std::string longValue(400, 'v');
    const ProfileCase cases[] = {
        {"plain", "[VERSION]\r\nURL=http://a/b\r\n", "VERSION", "URL", true, "http://a/b"},
        {"section and key in any case", "[version]\nproduct VERSION=1.2\n", "VERSION",
         "Product Version", true, "1.2"},
        {"names and values trimmed", "  [ VERSION ]  \n \t Product Version \t=\t 7.6 \t\n",
         "VERSION", "Product Version", true, "7.6"},
        {"first '=' splits", "[S]\nURL=http://x/?a=b&c=d\n", "S", "URL", true,
         "http://x/?a=b&c=d"},
        {"double quotes taken off", "[S]\nK=\" quoted \"\n", "S", "K", true, " quoted "},
        {"single quotes taken off", "[S]\nK='q'\n", "S", "K", true, "q"},
        {"unmatched quotes stay", "[S]\nK=\"q'\n", "S", "K", true, "\"q'"},
        {"lone quote stays", "[S]\nK=\"\n", "S", "K", true, "\""},
        {"inline ';' is part of the value", "[S]\nK=1.2 ; note\n", "S", "K", true, "1.2 ; note"},
        {"empty value", "[S]\nK=\n", "S", "K", true, ""},
        {"key without '='", "[S]\nK\n", "S", "K", true, ""},
        {"missing key", "[S]\nOther=1\n", "S", "K", false, ""},
        {"missing section", "[T]\nK=1\n", "S", "K", false, ""},
        {"key of another section", "[S]\nA=1\n[T]\nK=2\n", "S", "K", false, ""},
        {"key before any section", "K=1\n[S]\n", "S", "K", false, ""},
        {"comment line", "[S]\n;K=1\nK=2\n", "S", "K", true, "2"},
        {"first key wins", "[S]\nK=1\nk=2\n", "S", "K", true, "1"},
        {"first section wins", "[S]\nA=1\n[s]\nK=2\n", "S", "K", false, ""},
        {"CR line ends", "[S]\rA=1\rK=2\r", "S", "K", true, "2"},
        {"no final line end", "[S]\nK=2", "S", "K", true, "2"},
        {"byte-order mark skipped", "\xEF\xBB\xBF[S]\nK=3\n", "S", "K", true, "3"},
        {"unclosed header ignored", "[S]\n[T\nK=4\n", "S", "K", true, "4"},
        {"text after ']' ignored", "[S] junk\nK=5\n", "S", "K", true, "5"},
        {"empty text", "", "S", "K", false, ""},
        {"cut to the cap", "[S]\nK=" + longValue + "\n", "S", "K", true,
         longValue.substr(0, kProfileValueMax)},
        {"cap counts after trimming and unquoting", "[S]\nK=  \"" + longValue + "\"  \n", "S",
         "K", true, longValue.substr(0, kProfileValueMax)},
    };
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string value = "stale";
        EXPECT_EQ(GetProfileValue(Bytes(c.text), c.text.size(), c.section, c.key, value),
                  c.found);
        EXPECT_EQ(value, c.value);
    }
    std::string value = "stale";
    EXPECT_FALSE(GetProfileValue(nullptr, 10, "S", "K", value));
    EXPECT_EQ(value, "");
}

TEST(ProfileReader, EmbeddedZeroBytesDoNotEndTheText) {
    const std::string text("[S]\nA=\0x\nK=6\n", 13);
    std::string value;
    EXPECT_TRUE(GetProfileValue(Bytes(text), text.size(), "S", "K", value));
    EXPECT_EQ(value, "6");
}

TEST(ProductVersion, AcceptsOneToFourSmallNumbers) {
    struct Case {
        const char* text;
        bool ok;
        std::uint32_t high;
        std::uint32_t low;
    };
    const Case cases[] = {
        {"7.6.1.0", true, 0x00070006, 0x00010000},
        {"7.6", true, 0x00070006, 0},
        {"7", true, 0x00070000, 0},
        {"1.2.3", true, 0x00010002, 0x00030000},
        {"0.0.0.0", true, 0, 0},
        {"65535.65535.65535.65535", true, 0xFFFFFFFF, 0xFFFFFFFF},
        {"007.0006.0.00001", true, 0x00070006, 0x00000001},
        // Parts above 65535 are refused, never carried into the neighbouring half.
        {"7.65536.0.0", false, 0, 0},
        {"65536", false, 0, 0},
        {"1.2.3.99999999999999999999", false, 0, 0},
        {"1.2.3.4.5", false, 0, 0},
        {"", false, 0, 0},
        {".", false, 0, 0},
        {"7.", false, 0, 0},
        {".7", false, 0, 0},
        {"7..6", false, 0, 0},
        {"7.x.1.0", false, 0, 0},
        {"7.6a", false, 0, 0},
        {"-7.6", false, 0, 0},
        {"+7.6", false, 0, 0},
        {"7. 6", false, 0, 0},
        {"7,6", false, 0, 0},
        {"<html>", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint32_t high = 0xAAAA5555;
        std::uint32_t low = 0x5555AAAA;
        EXPECT_EQ(ParseProductVersion(c.text, high, low), c.ok);
        EXPECT_EQ(high, c.ok ? c.high : 0xAAAA5555u);
        EXPECT_EQ(low, c.ok ? c.low : 0x5555AAAAu);
    }
}

TEST(VersionFile, ReadsVersionDescriptionAndAddress) {
    const std::string text = "; update information\r\n"
                             "[VERSION]\r\n"
                             "Product Version = 8.1.2.3\r\n"
                             "Description=Faster scans\r\n"
                             "URL=https://downloads.example/brulin-8.1.2.3.tar.gz\r\n";
    VersionFileInfo info;
    ASSERT_TRUE(ParseVersionFile(Bytes(text), text.size(), info));
    EXPECT_EQ(info.versionHigh, 0x00080001u);
    EXPECT_EQ(info.versionLow, 0x00020003u);
    EXPECT_EQ(info.description, "Faster scans");
    EXPECT_EQ(info.url, "https://downloads.example/brulin-8.1.2.3.tar.gz");

    const std::string bare = "[Version]\nproduct version=9\n";
    ASSERT_TRUE(ParseVersionFile(Bytes(bare), bare.size(), info));
    EXPECT_EQ(info.versionHigh, 0x00090000u);
    EXPECT_EQ(info.versionLow, 0u);
    EXPECT_EQ(info.description, "");
    EXPECT_EQ(info.url, "");
}

TEST(VersionFile, RefusesFilesWithoutAValidVersion) {
    const char* texts[] = {
        "",
        ("<!DOCTYPE html>\n<html><head><title>Error</title></head>\n"
         "<body>Service unavailable</body></html>\n"),
        "[OTHER]\nProduct Version=9.0.0.0\n",
        "[VERSION]\nDescription=no version here\nURL=http://x/\n",
        "[VERSION]\nProduct Version=\n",
        "[VERSION]\nProduct Version=7.65536\n",
        "[VERSION]\nProduct Version=seven\n",
        "Product Version=1.2.3.4\n",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        VersionFileInfo info;
        info.description = "kept";
        const std::string s(text);
        EXPECT_FALSE(ParseVersionFile(Bytes(s), s.size(), info));
        EXPECT_EQ(info.description, "kept");
        EXPECT_EQ(info.versionHigh, 0u);
    }
}
