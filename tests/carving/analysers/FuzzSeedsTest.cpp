// The carving fuzz target's seeds: a file of every built-in type, so the fuzzer starts from
// each analyser's accepted headers rather than having to find them.
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileProperties.h"
#include "tests/carving/analysers/AnalyserTestKit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace analysertest;

TEST(FuzzSeeds, HoldEveryBuiltInCarvedType) {
    RawFileAnalyserList analysers;
    CreateAllRawFileAnalysers(&analysers);
    const std::string folder = std::string(BRULIN_SOURCE_DIR) + "/fuzz/corpus/carving_analysers";
    std::set<std::uint32_t> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        auto dev = Plant(testsupport::ReadFileBytes(entry.path().string()), 5, 4096, true);
        CRawFileInfo r;
        const int at = MatchSectorByWalk(analysers, dev->Sector(5), &r);
        if (at < 0)
            continue;
        // Some analysers tell the specific type only while sizing (a compound file's kind
        // comes from its directory); the header's type counts too.
        found.insert(r.m_u32FileType);
        r.m_u64StartSector = 5;
        if (r.m_u64Size == 0)
            analysers.At(static_cast<std::size_t>(at))->ComputeFileSize(&r, dev.get());
        found.insert(r.m_u32FileType);
    }
    // Raw, DLL and EXE have no analyser: nothing carves them.
    const std::set<std::uint32_t> noAnalyser = {0, 20, 26};
    for (std::uint32_t id = 1; id <= kBuiltInRawTypeCount; ++id)
        if (!noAnalyser.count(id)) {
            EXPECT_TRUE(found.count(id)) << "no seed of type " << id << " " << GetRawFileTypeExtension(id);
        }
}
