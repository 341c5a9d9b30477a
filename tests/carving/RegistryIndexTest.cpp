#include "carving/RawFileAnalyserRegistry.h"
#include "carving/SignatureIndex.h"
#include "filesystems/FileProperties.h"
#include "tests/carving/TestAnalysers.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace carvingtest;

namespace {

bool Registered(const char* name) {
    for (const char* n : GetRegisteredAnalyserNames())
        if (std::string(n) == name)
            return true;
    return false;
}

} // namespace

TEST(AnalyserRegistry, CreatesTheClassesOfTheChosenIds) {
    ASSERT_TRUE(Registered("FilePNGAnalyser"));
    EXPECT_FALSE(Registered("NoSuchAnalyser"));
    EXPECT_EQ(CreateAnalyserByName("NoSuchAnalyser"), nullptr);

    // The process-wide registry starts with one object of every registered class.
    RawFileAnalyserList* registry = GetRawFileAnalysers();
    ASSERT_NE(registry, nullptr);
    EXPECT_NE(registry->FindByTypeId(47), nullptr);

    RawFileAnalyserList list;
    RawTypeList types;
    SelectRawFileAnalysers(&list, &types); // empty choice: empty registry
    EXPECT_TRUE(list.Empty());
    for (std::uint32_t id : {20u, 26u})
        types.Add(id);
    SelectRawFileAnalysers(&list, &types); // DLL and EXE have no analyser
    EXPECT_TRUE(list.Empty());
    types.Add(47);
    types.Add(47);
    SelectRawFileAnalysers(&list, &types);
    ASSERT_EQ(list.Size(), 2u); // a class is present once per chosen id
    EXPECT_EQ(list.At(0)->GetTypeId(), 47);
    EXPECT_EQ(list.FindByTypeId(47), list.At(0));
    EXPECT_EQ(list.FindByTypeId(0x10000 + 47), list.At(0)); // compared as 16-bit values
    EXPECT_EQ(list.FindByTypeId(33), nullptr);
    SelectRawFileAnalysers(&list, nullptr);
    EXPECT_TRUE(list.Empty());

    // Ids whose classes are all registered create them in the table's order.
    RawFileAnalyserList all;
    for (std::uint32_t id = 1; id <= 68; ++id)
        CreateRawFileAnalyser(id, &all);
    EXPECT_GE(all.Size(), 1u);
}

TEST(SignatureIndex, KeysAndCaseVariants) {
    std::vector<SignatureKey> keys;
    AddSignatureKeyNoCase(keys, 4, "ft", 2);
    EXPECT_EQ(keys.size(), 4u);
    keys.clear();
    AddSignatureKeyNoCase(keys, 0, "<H", 2);
    EXPECT_EQ(keys.size(), 2u);
    keys.clear();
    AddSignatureKey(keys, 257, "ustar", 5);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].length, 2);
    EXPECT_EQ(keys[0].bytes[1], 's');
}

// The index must give exactly what the plain walk gives, sector by sector: the same deciding
// position and the same record.
TEST(SignatureIndex, SameAnswerAsThePlainWalk) {
    RawFileAnalyserList list;
    list.Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 4096));
    list.Append(std::make_unique<ThrowingAnalyser>());
    list.Append(std::make_unique<SigAnalyser>(2, 4, "ftypisom", true, 2));      // case-insensitive
    list.Append(std::make_unique<SigAnalyser>(3, 257, "ustar", false, 3));      // far offset
    list.Append(std::make_unique<SigAnalyser>(4, 2, "-lh5-", false, 4));
    list.Append(std::make_unique<SigAnalyser>(5, 40, " EMF", false, 5));
    list.Append(std::make_unique<SigAnalyser>(6, 0, "M", false, 6));            // overlaps "MM"
    list.Append(std::make_unique<SigAnalyser>(7, 0, "Q", false, 7, 0, false));  // unkeyed
    list.Append(std::make_unique<SigAnalyser>(8, 0, "MM", false, 1, 4096));     // never decides
    list.Append(std::make_unique<SigAnalyser>(9, 510, "Z", false, 9));          // last bytes
    list.Append(std::make_unique<SigAnalyser>(10, 511, "Y", false, 10));
    list.Append(std::make_unique<SigAnalyser>(1, 0, "MM", false, 1, 4096));     // duplicate
    CSignatureIndex index;
    index.Build(list);
    EXPECT_EQ(index.GetUnkeyedCount(), 2u); // the unkeyed one and the throwing one

    const char* plants[][2] = {{"0", "MM"},       {"0", "MX"},    {"4", "FTYPisom"},
                               {"4", "ftypISOX"}, {"257", "ustar"}, {"2", "-lh5-"},
                               {"40", " EMF"},     {"0", "Q"},     {"0", "T"},
                               {"510", "Z"},       {"511", "Y"},   {"0", "ustar"}};
    std::mt19937 rng(7);
    std::uint8_t sector[512];
    int decided = 0;
    for (int round = 0; round < 40000; ++round) {
        for (auto& b : sector)
            b = static_cast<std::uint8_t>(rng());
        // Plant up to three signatures, so several analysers can accept one sector.
        const int n = static_cast<int>(rng() % 4);
        for (int i = 0; i < n; ++i) {
            const auto& p = plants[rng() % (sizeof(plants) / sizeof(plants[0]))];
            const std::size_t off = std::stoul(p[0]);
            std::memcpy(sector + off, p[1], std::min<std::size_t>(std::strlen(p[1]), 512 - off));
        }
        CRawFileInfo a, b;
        a.m_u32FileType = b.m_u32FileType = 12345; // stale fields must not leak
        const int walk = MatchSectorByWalk(list, sector, &a);
        const int fast = index.Match(sector, &b);
        ASSERT_EQ(walk, fast) << "round " << round;
        ASSERT_EQ(a.m_u32FileType, b.m_u32FileType);
        ASSERT_EQ(a.m_u64Size, b.m_u64Size);
        if (walk < 0)
            ASSERT_EQ(a.m_u32FileType, 0u);
        decided += walk >= 0;
    }
    EXPECT_GT(decided, 10000);

    // A sector both "MM" analysers and "M" accept goes to the first in list order.
    std::memset(sector, 0, sizeof(sector));
    std::memcpy(sector, "MM", 2);
    CRawFileInfo r;
    EXPECT_EQ(index.Match(sector, &r), 0);
    EXPECT_EQ(r.m_u64Size, 4096u);
}

TEST(SignatureIndex, EmptyListAndManyOffsets) {
    RawFileAnalyserList empty;
    CSignatureIndex index;
    index.Build(empty);
    std::uint8_t sector[512] = {1, 2, 3, 4};
    CRawFileInfo r;
    EXPECT_EQ(index.Match(sector, &r), -1);

    // More offsets than tables: the rest are asked for every sector and still decide right.
    RawFileAnalyserList list;
    for (int i = 0; i < 20; ++i)
        list.Append(std::make_unique<SigAnalyser>(i + 1, static_cast<std::uint16_t>(i * 20), "AB"));
    index.Build(list);
    EXPECT_EQ(index.GetProbeCount(), CSignatureIndex::kMaxProbes);
    EXPECT_EQ(index.GetUnkeyedCount(), 20u - CSignatureIndex::kMaxProbes);
    for (int i = 0; i < 20; ++i) {
        std::memset(sector, 0x11, sizeof(sector));
        std::memcpy(sector + i * 20, "AB", 2);
        CRawFileInfo a, b;
        EXPECT_EQ(index.Match(sector, &a), MatchSectorByWalk(list, sector, &b));
        EXPECT_EQ(a.m_u32FileType, static_cast<std::uint32_t>(i + 1));
    }
}
