#include <gtest/gtest.h>

#include "filesystems/ClusterUseBitMap.h"

TEST(ClusterUseBitMap, AnswersBySectorWithTheEdgesCountingAsUsed) {
    std::vector<std::uint64_t> bits;
    CClusterUseBitMap map(&bits, 1000, 8, 130);
    map.MarkCluster(3);
    map.MarkClusters(60, 70); // 60..129, crossing two words
    map.MarkClusters(125, 1000); // clipped at the count
    map.MarkCluster(130);        // past the end: ignored
    struct Case {
        std::uint64_t sector;
        bool used;
    };
    for (const Case& c : {Case{999, true}, Case{1000, false}, Case{1000 + 3 * 8, true},
                          Case{1000 + 3 * 8 + 7, true}, Case{1000 + 4 * 8, false},
                          Case{1000 + 59 * 8, false}, Case{1000 + 60 * 8, true},
                          Case{1000 + 129 * 8 + 7, true}, Case{1000 + 130 * 8, true}}) {
        EXPECT_EQ(map.IsClusterUsed(c.sector), c.used) << c.sector;
    }
    EXPECT_FALSE(map.IsMarked(130));
}

TEST(ClusterUseBitMap, RangeQueriesStopAtTheClusterCount) {
    std::vector<std::uint64_t> bits;
    CClusterUseBitMap map(&bits, 0, 1, 200);
    map.MarkCluster(70);
    map.MarkCluster(199);
    struct Case {
        std::uint64_t first, count;
        bool any;
    };
    for (const Case& c : {Case{0, 70, false}, Case{0, 71, true}, Case{70, 1, true}, Case{71, 128, false},
                          Case{64, 6, false}, Case{71, 129, true}, Case{199, UINT64_MAX, true},
                          Case{200, 10, false}, Case{UINT64_MAX, UINT64_MAX, false}, Case{5, 0, false}}) {
        EXPECT_EQ(map.AnyMarked(c.first, c.count), c.any) << c.first << "+" << c.count;
    }
}

TEST(ClusterUseBitMap, AllocationBitmapBytesAtAnyStartAndClippedAtTheEnd) {
    std::vector<std::uint64_t> bits;
    CClusterUseBitMap map(&bits, 0, 1, 131);
    // Cluster 1 + 8 j + i for bit i of byte j: byte 7 straddles the word at 64.
    const std::uint8_t bytes[] = {0x01, 0, 0, 0, 0, 0, 0, 0xC1, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    map.MarkFromBitmapBytes(1, bytes, sizeof bytes);
    std::vector<std::uint64_t> marked;
    for (std::uint64_t c = 0; c < 140; ++c)
        if (map.IsMarked(c))
            marked.push_back(c);
    // 1; 57, 63, 64; 121..128 and 129..130 (the rest of the last byte lies past the count).
    const std::vector<std::uint64_t> want = {1, 57, 63, 64, 121, 122, 123, 124, 125, 126, 127, 128, 129, 130};
    EXPECT_EQ(marked, want);
    EXPECT_EQ(bits.size(), 3u);
    map.MarkFromBitmapBytes(131, bytes, sizeof bytes); // wholly past the end: nothing
    EXPECT_EQ(bits.size(), 3u);
}
