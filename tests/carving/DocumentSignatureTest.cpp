// The signature index over the whole registry hands the first sectors of documents, mail
// stores and help files to the analyser the plain walk would pick, with the same answer.
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SignatureIndex.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <typeinfo>

namespace {

struct Sample {
    const char* what;
    std::string head; // bytes at `at`
    std::size_t at;
    std::uint32_t type; // the file-type id the match must write
};

std::string Raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

} // namespace

TEST(DocumentSignatures, IndexAgreesWithThePlainWalk) {
    RawFileAnalyserList list;
    CreateAllRawFileAnalysers(&list);
    CSignatureIndex index;
    index.Build(list);

    const Sample samples[] = {
        {"compound file", Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}), 0, 44},
        {"Word 2", Raw({0xDB, 0xA5, 0x2D, 0x00}), 0, 21},
        {"Word 1", Raw({0x94, 0xA6, 0x2E, 0x00}), 0, 21},
        {"PDF", "%PDF-1.7\n", 0, 46},
        {"RTF", "{\\rtf1\\ansi", 0, 56},
        {"HTML", "<HTML><BODY>", 0, 31},
        {"HTML lower case", "<html>\n", 0, 31},
        {"HTML doctype", "<!DOCTYPE html>", 0, 31},
        {"HTML doctype lower case", "<!doctype HTML>", 0, 31},
        {"HTML after a comment", "<!-- generated -->\r\n<Html>", 0, 31},
        {"UTF-16 HTML", Raw({0xFF, 0xFE, 0x3C, 0x00, 0x68, 0x00}), 0, 31},
        {"OneNote",
         Raw({0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78, 0xD0, 0x29,
              0x96, 0xD3}),
         0, 45},
        {"PST", "!BDN", 0, 52},
        {"Access", Raw({0x00, 0x01, 0x00, 0x00}) + "Standard Jet DB" + Raw({0}), 0, 37},
        {"Money", "MSISAM Database", 4, 38},
        {"DBX",
         Raw({0xCF, 0xAD, 0x12, 0xFE, 0x30, 0x9D, 0xFE, 0x26, 0x8F, 0x1A, 0xD2, 0x11, 0xAA, 0xBF,
              0x00, 0x60}),
         0, 19},
        {"DBX old store", "JMF6" + Raw({3, 0, 0x10, 0}), 0, 19},
    };
    std::mt19937 rng(11);
    for (const Sample& s : samples) {
        SCOPED_TRACE(s.what);
        for (int round = 0; round < 200; ++round) {
            std::uint8_t sector[512];
            for (auto& b : sector)
                b = static_cast<std::uint8_t>(0x20 + rng() % 0x5F); // text: no field is zero
            if (s.at == 4)
                std::memcpy(sector, "\x08\x01\x02\x03", 4);
            std::memcpy(sector + s.at, s.head.data(), s.head.size());
            CRawFileInfo a, b;
            const int walk = MatchSectorByWalk(list, sector, &a);
            const int fast = index.Match(sector, &b);
            ASSERT_EQ(walk, fast);
            ASSERT_GE(walk, 0);
            EXPECT_EQ(a.m_u32FileType, s.type);
            EXPECT_EQ(b.m_u32FileType, s.type);
            EXPECT_EQ(a.m_u64Size, b.m_u64Size);
        }
    }
}
