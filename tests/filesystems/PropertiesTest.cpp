#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "filesystems/FileSystemSearchController.h"
#include "filesystems/MyFileProperties.h"
#include "recovery/RSData.h"
#include "tests/support/FixtureKit.h"

TEST(ScanOptions, Defaults) {
    ScanOptions& o = GetScanOptions();
    EXPECT_EQ(&o, &GetScanOptions());
    o.UseBootRecords = 0;
    o.RawFileTypes.Add(1000);
    o.SetDefaults();
    EXPECT_EQ(o.RawFileTypes.Size(), 68u);
    EXPECT_EQ(o.RawFileTypes[0], 1u);
    EXPECT_EQ(o.RawFileTypes[67], 68u);
    EXPECT_EQ(o.MaxRawFileSize, 50000000u);
    const std::uint32_t switches[] = {
        o.UseBootRecords,     o.UsePartitionTables, o.ExtensiveVolumesSearch, o.CheckFatDateField,
        o.CheckFatTimeField,  o.FatThirdCheck,      o.UseFirstFatCopy,        o.UseSecondFatCopy,
        o.UseNtfsVolumeSize,  o.UseMftFile,         o.ShowMftOnlyFiles,       o.RecoverRawFiles,
        o.RecoverRawFilesOnly};
    const std::uint32_t expected[] = {1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 0, 1, 0};
    for (int i = 0; i < 13; ++i)
        EXPECT_EQ(switches[i], expected[i]) << "switch " << i;
}

TEST(MyFileProperties, ProgramMadeFolder) {
    std::unique_ptr<CMyFileProperties> p(CreateProgramRootProperties());
    ASSERT_TRUE(p);
    EXPECT_STREQ(p->GetName(), "Root");
    EXPECT_EQ(p->GetNameLength(), 4);
    EXPECT_EQ(p->GetAttributes(), FILEATTR_DIRECTORY);
    EXPECT_EQ(p->GetValidFields(), 0u);
    EXPECT_EQ(p->GetFileSystemKind(), static_cast<std::uint32_t>(FILEPROPS_VIEW));
    EXPECT_EQ(p->GetDataRunList(), nullptr);
    FileTime t{123};
    EXPECT_EQ(p->GetCreationTime(&t), &t);
    EXPECT_EQ(t.ticks, 0u);
    EXPECT_EQ(p->SetMark(5), 0);
    EXPECT_EQ(p->SetMark(7), 5);
    EXPECT_EQ(p->GetMark(), 7);

    // A name record filled by hand with a lying length never reports past its buffer.
    MyFilePropertiesRecord r;
    std::memset(r.name, 'n', sizeof(r.name));
    r.nameLength = 100000;
    p->SetRecord(r);
    EXPECT_EQ(p->GetNameLength(), 259);
    EXPECT_EQ(std::strlen(p->GetName()), 259u);

    // Nothing of it is kept in a scan state.
    std::string path = testsupport::ScratchDir("myprops") + "/p.rdf";
    const RSGuid guid{7, 7, 7, {}};
    CRSDataEx w(RSDATA_WRITE);
    ASSERT_TRUE(w.Open(path.c_str(), true));
    w.SetStage(1);
    w.OpenSection(guid);
    EXPECT_EQ(p->Save(&w), 0);
    w.CloseSection();
    w.Close();
    CRSDataEx rd(RSDATA_READ);
    ASSERT_TRUE(rd.Open(path.c_str(), false));
    rd.OpenSection(guid);
    EXPECT_EQ(rd.GetSectionLength(), 0u);
    EXPECT_EQ(p->Load(&rd), 0);
}

TEST(SearchedPartitionInfo, DefaultsAndSavedLayout) {
    CSearchedPartitionInfo fresh;
    EXPECT_EQ(fresh.GetKind(), static_cast<std::uint32_t>(SEARCHED_PARTITION_BASE));
    EXPECT_EQ(fresh.m_fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_UNKNOWN));
    EXPECT_EQ(fresh.m_u64Score, 1u);
    EXPECT_EQ(fresh.m_u64FirstSector + fresh.m_u64KeptFirstSector + fresh.m_u64EvidenceA +
                  fresh.m_u64EvidenceB + fresh.m_u32Identity + fresh.m_u32SectorCount +
                  fresh.m_u32Chosen + fresh.m_sectorsPerCluster,
              0u);
    EXPECT_EQ(fresh.m_relativeScore, 0.0);

    CSearchedPartitionInfo p;
    p.m_fileSystemType = FILESYSTEM_NTFS;
    p.m_sectorsPerCluster = 8;
    p.m_u64FirstSector = 0x0102030405060708ull;
    p.m_u64KeptFirstSector = 2048;
    p.m_u64EvidenceB = 3;
    p.m_u64EvidenceA = 4;
    p.m_u32Identity = 0xCAFEBABE;
    p.m_u32SectorCount = 1000000;
    p.m_u64Score = 77;
    p.m_relativeScore = 0.5;
    p.m_u32Chosen = 1;

    // Read the payload back raw: 65 bytes, little-endian, no padding.
    std::string path = testsupport::ScratchDir("searched") + "/p.rdf";
    const RSGuid guid{9, 9, 9, {}};
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(guid);
        EXPECT_EQ(p.Save(&w), 1);
        EXPECT_EQ(fresh.Save(&w), 1);
        w.CloseSection();
    }
    CRSDataEx r(RSDATA_READ);
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(guid);
    std::uint8_t raw[kSearchedPartitionFieldsSize];
    r.Read(raw, sizeof(raw));
    EXPECT_EQ(raw[0], FILESYSTEM_NTFS);
    EXPECT_EQ(raw[4], 8);
    EXPECT_EQ(raw[5], 0x08);
    EXPECT_EQ(raw[12], 0x01);
    EXPECT_EQ(raw[37], 0xBE); // identity after type 4, spc 1, four u64
    EXPECT_EQ(raw[61], 1);    // chosen flag last
    CSearchedPartitionInfo back;
    back.Load(&r);
    EXPECT_EQ(back.m_u64Score, 1u);
    EXPECT_EQ(back.m_fileSystemType, static_cast<std::uint32_t>(FILESYSTEM_UNKNOWN));
    char extra;
    EXPECT_THROW(r.Read(&extra, 1), CRSException); // exactly 2 x 65 bytes

    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(guid);
    CSearchedPartitionInfo loaded;
    EXPECT_EQ(loaded.Load(&r), 1);
    EXPECT_EQ(loaded.m_u64FirstSector, p.m_u64FirstSector);
    EXPECT_EQ(loaded.m_u32Identity, p.m_u32Identity);
    EXPECT_EQ(loaded.m_u32SectorCount, p.m_u32SectorCount);
    EXPECT_EQ(loaded.m_relativeScore, 0.5);
    EXPECT_EQ(loaded.m_u32Chosen, 1u);
    EXPECT_EQ(loaded.m_u64EvidenceA, 4u);
    EXPECT_EQ(loaded.m_u64EvidenceB, 3u);
    EXPECT_EQ(loaded.m_u64KeptFirstSector, 2048u);

    // A count past the saved 32-bit field is written clamped, never wrapped.
    CSearchedPartitionInfo large;
    large.m_u32SectorCount = (1ull << 33) + 5;
    {
        CRSDataEx w(RSDATA_WRITE);
        ASSERT_TRUE(w.Open(path.c_str(), true));
        w.SetStage(1);
        w.OpenSection(guid);
        EXPECT_EQ(large.Save(&w), 1);
        w.CloseSection();
    }
    ASSERT_TRUE(r.Open(path.c_str(), false));
    r.OpenSection(guid);
    CSearchedPartitionInfo clamped;
    EXPECT_EQ(clamped.Load(&r), 1);
    EXPECT_EQ(clamped.m_u32SectorCount, 0xFFFFFFFFu);
}

namespace {
class MinimalController : public IFileSystemSearchController {
public:
    void SetDevice(IStorageDevice*) override {}
    void SetSectorsPerStep(std::uint32_t) override {}
    void BeginSearch() override {}
    int AnalyzeSectors(std::uint64_t, std::uint64_t, IntelligentSearchStats*) override { return 1; }
    void CollectSearchedPartitions(std::vector<CSearchedPartitionInfo*>&) override {}
    void SetResultSink(CRawFileList*) override {}
    int SaveState(IRSData*) override { return 1; }
    int LoadState(IRSData*) override { return 1; }
    std::uint32_t GetKind() const override { return SEARCH_CONTROLLER_RAW; }
};
} // namespace

TEST(SearchController, BaseBuildsNoTreeAndAcceptsNoType) {
    MinimalController c;
    c.EndSearch();
    CSearchedPartitionInfo p;
    EXPECT_EQ(c.BuildDirectoryTree(&p, nullptr, 0, nullptr), nullptr);
    for (std::uint32_t type = 0; type <= 7; ++type)
        EXPECT_FALSE(c.AcceptsFileSystemType(type));
}
