// The NTFS search controller and its partition record on hand-made sectors: boot sectors and
// their backups, the record's makers, score and saved form, and the end-of-search filter.
#include "filesystems/FileProperties.h"
#include "filesystems/ntfs/NtfsSearchController.h"
#include "filesystems/ntfs/NtfsSearchedPartitionInfo.h"
#include "filesystems/ntfs/NtfsStandardContent.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/MemorySection.h"

#include <gtest/gtest.h>
#include <memory>

using namespace testsupport;

namespace {

void Put(std::uint8_t* p, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// An NTFS boot sector of `total` sectors and `spc` sectors per cluster.
void WriteBoot(std::uint8_t* s, std::uint64_t total, std::uint8_t spc,
               std::uint64_t serial = 0x1234) {
    std::memset(s, 0, 512);
    s[0] = 0xEB, s[1] = 0x52, s[2] = 0x90;
    std::memcpy(s + 3, "NTFS    ", 8);
    Put(s + 0x0B, 512, 2);
    s[0x0D] = spc;
    s[0x15] = 0xF8;
    Put(s + 0x28, total, 8);
    Put(s + 0x30, 4, 8);
    Put(s + 0x38, 100, 8);
    s[0x40] = 0xF6;
    s[0x44] = 1;
    Put(s + 0x48, serial, 8);
    s[0x1FE] = 0x55, s[0x1FF] = 0xAA;
}

struct Found {
    std::vector<std::unique_ptr<CSearchedPartitionInfo>> owned;
    IntelligentSearchStats stats;
    const CSearchedNTFSPartitionInfo* At(std::uint64_t first) const {
        for (auto& r : owned)
            if (r->m_u64FirstSector == first)
                return dynamic_cast<const CSearchedNTFSPartitionInfo*>(r.get());
        return nullptr;
    }
};

// Feeds the whole device to a controller in chunks of `chunk` sectors.
Found Search(MemoryDevice& dev, std::uint32_t chunk = 1000) {
    CNTFSSearchController c;
    c.SetDevice(&dev);
    c.SetSectorsPerStep(chunk);
    c.BeginSearch();
    Found f;
    for (std::uint64_t s = 0; s < dev.GetSectorCount(); s += chunk)
        EXPECT_EQ(
            c.AnalyzeSectors(s, std::min<std::uint64_t>(chunk, dev.GetSectorCount() - s), &f.stats),
            1);
    c.EndSearch();
    std::vector<CSearchedPartitionInfo*> list;
    c.CollectSearchedPartitions(list);
    for (auto* r : list)
        f.owned.emplace_back(r);
    return f;
}

} // namespace

TEST(NtfsPartitionRecord, MadeFromABootSector) {
    std::uint8_t s[512];
    WriteBoot(s, 50, 8);
    CNTFSDBR boot;
    ASSERT_TRUE(boot.SetData(s));
    auto r = MakeNtfsPartitionFromBootSector(boot, 100, NTFS_EVIDENCE_BOOT, 10000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->m_u64ClusterCount, 6u);
    EXPECT_EQ(r->GetSectorCount64(), 48u);
    EXPECT_EQ(r->m_u32SectorCount, 48u);
    EXPECT_EQ(r->m_fileSystemType, FILESYSTEM_NTFS);
    EXPECT_EQ(r->m_u64SerialNumber, 0x1234u);
    EXPECT_EQ(r->GetEvidence(), NTFS_EVIDENCE_BOOT);
    // A total larger than what the device has left ends at the device's end.
    WriteBoot(s, 1000000, 8);
    ASSERT_TRUE(boot.SetData(s));
    r = MakeNtfsPartitionFromBootSector(boot, 100, NTFS_EVIDENCE_BOOT, 10000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetSectorCount64(), (10000 - 100) / 8 * 8);
    // Too small, negative, or past the device: none.
    WriteBoot(s, 7, 1);
    ASSERT_TRUE(boot.SetData(s));
    EXPECT_FALSE(MakeNtfsPartitionFromBootSector(boot, 100, NTFS_EVIDENCE_BOOT, 10000));
    WriteBoot(s, 100, 1);
    ASSERT_TRUE(boot.SetData(s));
    EXPECT_FALSE(MakeNtfsPartitionFromBootSector(boot, 1ull << 63, NTFS_EVIDENCE_BOOT, ~0ull));
    EXPECT_FALSE(MakeNtfsPartitionFromBootSector(boot, 10000, NTFS_EVIDENCE_BOOT, 10000));
    // Volumes of 2 TiB and more keep their size in memory; the saved field is clamped.
    WriteBoot(s, 6ull << 32, 8);
    ASSERT_TRUE(boot.SetData(s));
    r = MakeNtfsPartitionFromBootSector(boot, 0, NTFS_EVIDENCE_BOOT, 8ull << 32);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetSectorCount64(), 6ull << 32);
    MemorySection saved;
    r->Save(&saved);
    EXPECT_EQ(ByteSpan(saved.bytes.data(), saved.bytes.size()).u32(4 + 1 + 8 * 4 + 4),
              0xFFFFFFFFu); // clamped when saved
    CSearchedNTFSPartitionInfo back;
    back.Load(&saved);
    EXPECT_EQ(back.GetSectorCount64(), 6ull << 32); // whole again from the cluster count
}

TEST(NtfsPartitionRecord, CandidatesFromStructures) {
    EXPECT_FALSE(MakeNtfsPartitionCandidate(100, 0, 8, 0x08, 1000));  // less than 8 sectors in
    EXPECT_FALSE(MakeNtfsPartitionCandidate(100, 13, 8, 0x08, 1000)); // would start before 0
    EXPECT_FALSE(MakeNtfsPartitionCandidate(100, 1, 3, 0x08, 1000));  // no such cluster size
    EXPECT_FALSE(MakeNtfsPartitionCandidate(100, ~0ull >> 1, 128, 0x08, 1000)); // overflows
    auto r = MakeNtfsPartitionCandidate(100, 1, 8, 0x08, 1000);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->m_u64FirstSector, 92u);
    EXPECT_EQ(r->m_u64ClusterCount, (1000u - 92u) / 8u);
    EXPECT_EQ(r->GetSectorCount64(), (1000u - 92u) / 8u * 8u);
    EXPECT_EQ(r->m_u64EvidenceA, 0u);
    std::vector<std::unique_ptr<CSearchedNTFSPartitionInfo>> all;
    MakeNtfsPartitionCandidatesAllSizes(1000, 2, 0x08, 5000, all);
    ASSERT_EQ(all.size(), 6u); // 1 and 2 sectors per cluster would start under 8 sectors before
    EXPECT_EQ(all[0]->m_sectorsPerCluster, 4);
    EXPECT_EQ(all[5]->m_sectorsPerCluster, 128);
    EXPECT_EQ(all[5]->m_u64FirstSector, 1000u - 256u);
}

TEST(NtfsPartitionRecord, ScoreAndSavedForm) {
    CSearchedNTFSPartitionInfo r;
    EXPECT_EQ(r.m_u32LayoutTag, 2u);
    EXPECT_EQ(r.m_u64Score, 1u);
    r.SetEvidence(0x03);
    EXPECT_EQ(ComputeNtfsPartitionScore(r), 20u); // unknown counts count as none
    r.SetEvidence(0x04);
    EXPECT_EQ(ComputeNtfsPartitionScore(r), 30u);
    r.SetEvidence(0xFF);
    r.m_u64UpCaseConfirmed = 256;
    r.m_u64LogFileConfirmed = 25000;
    r.m_u64AttrDefConfirmed = 4;
    EXPECT_EQ(ComputeNtfsPartitionScore(r), 30u + 60u + 10u + 10u);
    r.m_u64AttrDefConfirmed = 5;
    EXPECT_EQ(ComputeNtfsPartitionScore(r), 120u);

    CSearchedNTFSPartitionInfo fresh;
    MemorySection s;
    fresh.Save(&s);
    EXPECT_EQ(s.bytes.size(), kSearchedPartitionFieldsSize + kSearchedNtfsExtraSize);
    CSearchedNTFSPartitionInfo back;
    back.m_u64ClusterCount = 5;
    back.Load(&s);
    EXPECT_EQ(back.m_u64ClusterCount, kNtfsUnknown);
    EXPECT_EQ(back.m_u64BitmapSectors, kNtfsUnknown);
    EXPECT_EQ(back.m_u64MftRecordSector, kNtfsUnknown);
    EXPECT_EQ(back.GetKind(), SEARCHED_PARTITION_NTFS);
}

TEST(NtfsSearchController, BootSectorAndItsBackup) {
    // A boot sector at 1000 for 800 sectors and its backup at 1800.
    MemoryDevice dev(3000);
    WriteBoot(dev.Sector(1000), 800, 8);
    WriteBoot(dev.Sector(1800), 800, 8);
    for (std::uint32_t chunk : {1000u, 7u}) {
        Found f = Search(dev, chunk);
        ASSERT_EQ(f.owned.size(), 1u);
        const auto* r = f.At(1000);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->GetEvidence(), 0x03u);
        EXPECT_EQ(r->m_u64Score, 20u);
        EXPECT_EQ(r->m_u64KeptFirstSector, 1000u);
        EXPECT_EQ(r->GetSectorCount64(), 800u);
        EXPECT_EQ(f.stats.counters[ISS_NTFSBootRecords], 2u);
        EXPECT_EQ(f.stats.counters[ISS_Counter12], 2u);
    }

    // A lone backup: the partition it closes, and the one it would start.
    MemoryDevice lone(3000);
    WriteBoot(lone.Sector(1800), 800, 8);
    Found f = Search(lone);
    ASSERT_EQ(f.owned.size(), 2u);
    ASSERT_TRUE(f.At(1000) && f.At(1800));
    EXPECT_EQ(f.At(1000)->GetEvidence(), NTFS_EVIDENCE_BACKUP_BOOT);
    EXPECT_EQ(f.At(1800)->GetEvidence(), NTFS_EVIDENCE_BOOT);

    // Boot records switched off: nothing, and nothing counted.
    GetScanOptions().UseBootRecords = 0;
    Found off = Search(dev);
    GetScanOptions().UseBootRecords = 1;
    EXPECT_TRUE(off.owned.empty());
    EXPECT_EQ(off.stats.counters[ISS_NTFSBootRecords], 0u);
}

TEST(NtfsSearchController, EndOfSearchKeepsTheFirstThousandAndStrongOnes) {
    // 1199 boot sectors whose totals reach past the device (no backup hypothesis): records
    // scoring 10. One more partition at 2000 has its backup at 2400 and scores 20.
    MemoryDevice dev(2500);
    for (std::uint64_t s = 0; s < 1199; ++s)
        WriteBoot(dev.Sector(s), 1000000, 1);
    WriteBoot(dev.Sector(2000), 400, 1);
    WriteBoot(dev.Sector(2400), 400, 1);
    Found f = Search(dev);
    std::size_t kept = 0;
    for (auto& r : f.owned) {
        if (r->m_u64FirstSector < 1000)
            ++kept;
        else
            EXPECT_GT(r->m_u64Score, 10u) << r->m_u64FirstSector;
    }
    EXPECT_EQ(kept, 1000u);
    ASSERT_TRUE(f.At(2000));
    EXPECT_EQ(f.At(2000)->GetEvidence(), 0x03u);
    EXPECT_EQ(f.owned.size(), 1001u);
}

TEST(NtfsSearchController, StandardTablesAreWhatFormattingWrites) {
    const ByteSpan attrDef(NtfsStandardAttrDef(), kNtfsAttrDefBytes);
    EXPECT_EQ(attrDef.u16(0), '$');
    EXPECT_EQ(attrDef.u32(160 * 14 + 0x80), 0x100u); // $LOGGED_UTILITY_STREAM
    const ByteSpan upCase(NtfsStandardUpCase(), kNtfsUpCaseBytes);
    EXPECT_EQ(upCase.u16(2 * 'a'), 'A');
    EXPECT_EQ(upCase.u16(2 * 0xFF), 0x178);
    for (int n = 0; n < 256; ++n)
        EXPECT_EQ(NtfsUpCaseSectorStartingWith(upCase.u16(n * 512)), n);
}
