// Analysers that throw on damaged bytes: the search and the RAW tree go on as if nothing had
// been found, and the activity log names each failing analyser once, however often it fails.
#include "carving/RAWSearchController.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/analysers/AnalyserCalls.h"
#include "filesystems/FileNode.h"
#include "tests/carving/ActivityLog.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/TreePtr.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

using namespace carvingtest;
using namespace testsupport;

namespace {

// Throws on every sector that starts with 'T' and on every file it is asked to size.
class BrokenAnalyser : public IRawFileAnalyser {
public:
    explicit BrokenAnalyser(int typeId) : IRawFileAnalyser(typeId) {}
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo*) override {
        if (sector[0] == 'T')
            throw std::runtime_error("bad sector");
        return 0;
    }
    int ComputeFileSize(CRawFileInfo*, IStorageDevice*) override {
        throw std::runtime_error("walk left the file");
    }
};

std::size_t Occurrences(const std::string& text, const std::string& line) {
    std::size_t n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

// The registry as it is first made, whatever a test appended to it.
struct RegistryGuard {
    ~RegistryGuard() {
        GetRawFileAnalysers()->Clear();
        CreateAllRawFileAnalysers(GetRawFileAnalysers());
    }
};

} // namespace

TEST(AnalyserFailure, AnAnalyserThrowingOnEverySectorIsLoggedOnceAndCounted) {
    ActivityLogPath();
    constexpr int kType = 120;
    MemoryDevice dev(300);
    std::uint64_t planted = 0;
    for (std::uint64_t s = 0; s < 300; s += 3, ++planted)
        dev.Sector(s)[0] = 'T';
    RawFileAnalyserList list;
    list.Append(std::make_unique<BrokenAnalyser>(kType));
    // The signature index and the plain walk over the analysers share the one site.
    for (bool useIndex : {true, false}) {
        CRAWSearchController controller;
        CRawFileList sink;
        IntelligentSearchStats stats{};
        controller.SetDevice(&dev);
        controller.SetSectorsPerStep(50);
        controller.SetResultSink(&sink);
        controller.SetAnalyserListForTesting(&list);
        controller.SetUseSignatureIndex(useIndex);
        controller.BeginSearch();
        for (std::uint64_t s = 0; s < 300; s += 50)
            controller.AnalyzeSectors(s, 50, &stats);
        controller.EndSearch();
        EXPECT_EQ(sink.Size(), 0u);
    }
    EXPECT_EQ(GetGuardedFailureCount(kAnalyserMatchSite, kType), 2 * planted);
    const std::string log = ActivityLogText();
    EXPECT_EQ(Occurrences(log, "Matching a sector failed (analyser 120): bad sector; later "
                               "failures there are counted\r\n"),
              1u)
        << log;
}

TEST(AnalyserFailure, AFileWhoseSizingThrowsIsLeftOutOfTheTreeAndTheLogSaysSo) {
    ActivityLogPath();
    RegistryGuard guard;
    constexpr int kType = 121;
    GetRawFileAnalysers()->Append(std::make_unique<BrokenAnalyser>(kType));
    MemoryDevice dev(100);
    for (int build = 1; build <= 2; ++build) {
        CRawFileList list;
        auto* sized = new CRawFileInfo();
        sized->m_u64StartSector = 10;
        sized->m_u64Size = 1024;
        sized->m_u32FileType = sized->m_u32AnalyserType = 47;
        list.Add(sized);
        auto* unsized = new CRawFileInfo();
        unsized->m_u64StartSector = 40;
        unsized->m_u32FileType = 47;
        unsized->m_u32AnalyserType = kType;
        list.Add(unsized);
        CRawFileTreeBuilder builder;
        TreePtr root(builder.Build(&dev, list.GetIterator(), nullptr, nullptr));
        ASSERT_TRUE(root);
        ASSERT_TRUE(root->m_pFirstChild);
        const CFileNode* folder = root->m_pFirstChild;
        ASSERT_TRUE(folder->m_pFirstChild);
        EXPECT_EQ(folder->m_pFirstChild->m_pNextSibling, nullptr); // only the sized file
        EXPECT_EQ(folder->m_pFirstChild->m_pProperties->GetFileSize(), 1024u);
        EXPECT_EQ(GetGuardedFailureCount(kAnalyserSizeSite, kType), std::uint64_t(build));
    }
    const std::string log = ActivityLogText();
    EXPECT_EQ(Occurrences(log, "Sizing a carved file failed (analyser 121): walk left the file; "
                               "later failures there are counted\r\n"),
              1u)
        << log;
    // The count of the failures after the first is told when the second build ends.
    EXPECT_NE(log.find("Sizing a carved file failed (analyser 121) 2 times in all\r\n"),
              std::string::npos)
        << log;
}
