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
