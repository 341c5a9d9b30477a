#include "filesystems/ntfs/NtfsStructures.h"

#include "tests/filesystems/ntfs/NtfsTestImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"
#include "tests/support/NtfsImages.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

std::vector<std::uint8_t> ImageRecord(const std::vector<std::uint8_t>& img, std::uint64_t record) {
    CNTFSDBR dbr;
    EXPECT_TRUE(dbr.SetData(img.data()));
    std::size_t off = dbr.GetMftCluster() * dbr.GetSectorsPerCluster() * 512 + record * 1024;
    return std::vector<std::uint8_t>(img.begin() + off, img.begin() + off + 1024);
}

// Writes a resident attribute of `type` with `value` at `off`; returns the next offset.
std::size_t PutResident(std::vector<std::uint8_t>& rec, std::size_t off, std::uint32_t type,
                        const std::vector<std::uint8_t>& value) {
    std::uint32_t len = (0x18 + value.size() + 7) & ~7u;
    std::memset(rec.data() + off, 0, len);
    std::memcpy(rec.data() + off, &type, 4);
    std::memcpy(rec.data() + off + 4, &len, 4);
    std::uint32_t vl = static_cast<std::uint32_t>(value.size());
    std::memcpy(rec.data() + off + 0x10, &vl, 4);
    rec[off + 0x14] = 0x18;
    std::memcpy(rec.data() + off + 0x18, value.data(), value.size());
    return off + len;
}

std::vector<std::uint8_t> FileNameValue(const std::u16string& name, std::uint64_t parent = 5) {
    std::vector<std::uint8_t> v(0x42 + 2 * name.size(), 0);
    std::memcpy(v.data(), &parent, 6);
    v[0x40] = static_cast<std::uint8_t>(name.size());
    v[0x41] = 1;
    std::memcpy(v.data() + 0x42, name.data(), 2 * name.size());
    return v;
}

// A minimal valid record: header with fix-ups, one $FILE_NAME, end marker.
std::vector<std::uint8_t> MakeRecord(const std::u16string& name) {
    std::vector<std::uint8_t> rec(1024, 0);
    std::memcpy(rec.data(), "FILE", 4);
    rec[4] = 0x30; // update-sequence array at 0x30
    rec[6] = 3;    // USN + 2 sectors
    rec[0x14] = 0x38;
    rec[0x16] = 1;
    rec[0x30] = 0x34; rec[0x31] = 0x12;             // update-sequence number
    rec[0x32] = 0xAA; rec[0x33] = 0xBB;             // saved end of sector 1
    rec[0x34] = 0xCC; rec[0x35] = 0xDD;             // saved end of sector 2
    std::size_t off = PutResident(rec, 0x38, kNtfsAttrFileName, FileNameValue(name));
    std::uint32_t end = kNtfsAttrEnd;
    std::memcpy(rec.data() + off, &end, 4);
    rec[510] = 0x34; rec[511] = 0x12;
    rec[1022] = 0x34; rec[1023] = 0x12;
    return rec;
}

} // namespace

TEST(NtfsBootSector, AcceptsRealSectorAndRejectsDamage) {
    auto img = ReadFileBytes(BasicNtfsImage());
    ASSERT_GE(img.size(), 512u);
    std::vector<std::uint8_t> boot(img.begin(), img.begin() + 512);
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.SetData(boot.data()));
    EXPECT_EQ(dbr.GetSectorsPerCluster(), 8);
    EXPECT_EQ(dbr.GetFileRecordSize(), 1024u);
    EXPECT_EQ(dbr.GetTotalSectors(), img.size() / 512 - 1); // mkntfs keeps the last sector for the backup
    EXPECT_TRUE(dbr.HasSupportedGeometry());

    struct Case { const char* what; std::size_t off; std::uint8_t value; bool accepted; };
    const Case cases[] = {
        {"lower-case OEM id", 3, 'n', true},
        {"4096 bytes per sector", 0x0C, 0x10, false},
        {"3 sectors per cluster", 0x0D, 3, false},
        {"non-zero u16 at 0x16", 0x16, 1, false},
        {"non-zero byte at 0x10", 0x10, 2, false},
        {"non-zero byte at 0x22", 0x22, 1, false},
        {"missing 0x55", 0x1FE, 0, false},
        {"missing 0xAA", 0x1FF, 0, false},
        {"other OEM id", 4, 'X', false},
    };
    for (const auto& c : cases) {
        auto s = boot;
        s[c.off] = c.value;
        if (c.off == 0x0C)
            s[0x0B] = 0; // 0x1000
        CNTFSDBR d;
        EXPECT_EQ(d.SetData(s.data()), c.accepted) << c.what;
        EXPECT_EQ(IsNTFSBootSector(s.data()), c.accepted) << c.what;
    }

    // Record size from the clusters-per-record byte.
    struct SizeCase { std::uint8_t c; std::uint8_t spc; std::uint32_t size; };
    for (const SizeCase& c : {SizeCase{0xF6, 8, 1024}, SizeCase{2, 8, 8192}, SizeCase{0, 8, 1024},
                              SizeCase{0xF4, 1, 4096}, SizeCase{0x80, 1, 0}}) {
        auto s = boot;
        s[0x40] = c.c;
        s[0x0D] = c.spc;
        CNTFSDBR d;
        ASSERT_TRUE(d.SetData(s.data()));
        EXPECT_EQ(d.GetFileRecordSize(), c.size) << int(c.c);
        EXPECT_EQ(d.HasSupportedGeometry(), c.size == 1024) << int(c.c);
    }

    MemoryDevice dev(std::vector<std::uint8_t>(img.begin(), img.begin() + 4096));
    CNTFSDBR read;
    EXPECT_TRUE(ReadNtfsBootSector(dev, 0, read));
    EXPECT_EQ(read.GetSerialNumber(), dbr.GetSerialNumber());
    EXPECT_FALSE(ReadNtfsBootSector(dev, 1, read));
    dev.FailSector(0);
    EXPECT_FALSE(ReadNtfsBootSector(dev, 0, read));
}

TEST(NtfsVolumeLabel, ReadsLabelAndRefusesUnsupportedGeometry) {
    auto img = ReadFileBytes(BasicNtfsImage());
    MemoryDevice dev(img);
    CNTFSDBR dbr;
    ASSERT_TRUE(ReadNtfsBootSector(dev, 0, dbr));
    char label[80] = "unchanged";
    ASSERT_EQ(ReadNtfsVolumeLabel(dev, 0, dbr, label), 1);
    EXPECT_STREQ(label, kBasicNtfsLabel);

    // The same volume behind 63 sectors of something else.
    std::vector<std::uint8_t> shifted(63 * 512, 0);
    shifted.insert(shifted.end(), img.begin(), img.end());
    MemoryDevice dev2(shifted);
    char label2[80] = {};
    EXPECT_EQ(ReadNtfsVolumeLabel(dev2, 63, dbr, label2), 1);
    EXPECT_STREQ(label2, kBasicNtfsLabel);

    // A 4096-byte record size is refused before anything is read or allocated from it.
    std::vector<std::uint8_t> boot(img.begin(), img.begin() + 512);
    boot[0x40] = 0xF4;
    CNTFSDBR big;
    ASSERT_TRUE(big.SetData(boot.data()));
    dev.ClearCalls();
    char label3[80] = "x";
    EXPECT_EQ(ReadNtfsVolumeLabel(dev, 0, big, label3), 0);
    EXPECT_TRUE(dev.Calls().empty());
    EXPECT_STREQ(label3, "x");

    // An unreadable $Volume record gives 0.
    std::uint64_t volSector = dbr.GetMftCluster() * dbr.GetSectorsPerCluster() + 6;
    dev.FailSector(volSector + 1);
    EXPECT_EQ(ReadNtfsVolumeLabel(dev, 0, dbr, label3), 0);
    EXPECT_STREQ(label3, "x");
}

TEST(NtfsFileRecord, SystemRecordsOfARealVolume) {
    auto img = ReadFileBytes(BasicNtfsImage());
    for (const auto& f : NtfsSystemFiles) {
        if (f.record > 11)
            continue; // $Quota, $ObjId and $Reparse live in $Extend on current volumes
        auto rec = ImageRecord(img, f.record);
        auto before = rec;
        ASSERT_TRUE(ValidateFileRecord(rec.data(), rec.size())) << f.name;
        EXPECT_EQ(rec, before) << "validation left the bytes changed";
        EXPECT_EQ(GetHeaderRecordNumber(rec.data(), rec.size()), f.record);
        ASSERT_TRUE(ApplyFixups(rec.data(), rec.size()));
        EXPECT_EQ(FindSystemFileNumber(rec.data(), rec.size()), static_cast<int>(f.record)) << f.name;
        EXPECT_TRUE(IsSystemFileRecord(rec.data(), rec.size())) << f.name;
        UndoFixups(rec.data(), rec.size());
        EXPECT_EQ(rec, before);
    }
    auto mft = ImageRecord(img, 0);
    ASSERT_TRUE(ApplyFixups(mft.data(), mft.size()));
    EXPECT_TRUE(HasSystemFileName(mft.data(), mft.size(), "$MFT"));
    EXPECT_FALSE(HasSystemFileName(mft.data(), mft.size(), "$MFTMirr"));
    std::uint32_t estimate = 0;
    ASSERT_TRUE(EstimateClusterSizeFromMft(mft.data(), mft.size(), &estimate));
    EXPECT_EQ(estimate, 8u);
    NtfsExtentList runs;
    std::uint64_t dataSize = 0;
    ASSERT_TRUE(CollectDataRuns(mft.data(), mft.size(), runs, true, &dataSize));
    ASSERT_FALSE(runs.empty());
    CNTFSDBR dbr;
    ASSERT_TRUE(dbr.SetData(img.data()));
    EXPECT_EQ(static_cast<std::uint64_t>(runs[0].lcn), dbr.GetMftCluster());
    EXPECT_EQ(dataSize % 1024, 0u);
    // Record <-> sector through the MFT's runs.
    std::uint64_t sector5 = dbr.GetMftCluster() * 8 + 10;
    EXPECT_EQ(MftRecordToSector(5, 2, 8, 0, runs), static_cast<std::int64_t>(sector5));
    EXPECT_EQ(MftSectorToRecord(sector5, 2, 8, 0, runs), 5);
    EXPECT_EQ(MftSectorToRecord(sector5 + 1, 2, 8, 0, runs), -1);
    EXPECT_EQ(MftRecordToSector(dataSize / 1024 + 100000, 2, 8, 0, runs), -1);
    EXPECT_TRUE(HasIndexAllocation(ImageRecord(img, 5).data(), 1024) ||
                !HasIndexAllocation(ImageRecord(img, 0).data(), 1024));
}

TEST(NtfsFileRecord, FixupsAndAttributeChecks) {
    auto rec = MakeRecord(u"name.txt");
    auto before = rec;
    ASSERT_TRUE(ValidateFileRecord(rec.data(), rec.size()));
    EXPECT_EQ(rec, before);
    ASSERT_TRUE(ApplyFixups(rec.data(), rec.size()));
    EXPECT_EQ(rec[510], 0xAA);
    EXPECT_EQ(rec[1023], 0xDD);
    UndoFixups(rec.data(), rec.size());
    EXPECT_EQ(rec, before);

    // The second sector does not end with the USN: still accepted, read without fix-ups.
    auto torn = MakeRecord(u"torn");
    torn[1022] = 0;
    EXPECT_FALSE(VerifyFixups(torn.data(), torn.size()));
    auto tornBefore = torn;
    EXPECT_TRUE(ValidateFileRecord(torn.data(), torn.size()));
    EXPECT_FALSE(ApplyFixups(torn.data(), torn.size()));
    EXPECT_EQ(torn, tornBefore);

    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
    };
    const Case cases[] = {
        {"':' in a name", [](auto& r) { r = MakeRecord(u"a:b"); }},
        {"bad magic", [](auto& r) { r[0] = 'B'; }},
        {"update-sequence count 17", [](auto& r) { r[6] = 17; }},
        {"update-sequence offset 40", [](auto& r) { r[4] = 40; }},
        {"update-sequence offset 258", [](auto& r) { r[4] = 0x02; r[5] = 1; }},
        {"attribute longer than the record", [](auto& r) { r[0x38 + 5] = 0x10; }},
        {"value past its attribute", [](auto& r) { r[0x38 + 0x10] = 0xF0; }},
        {"name past the $FILE_NAME value", [](auto& r) { r[0x38 + 0x18 + 0x40] = 60; }},
        {"$FILE_NAME value too short", [](auto& r) { r[0x38 + 0x10] = 0x30; }},
        {"non-resident header cut short", [](auto& r) { r[0x38 + 8] = 1; r[0x38 + 4] = 0x38; }},
    };
    for (const auto& c : cases) {
        auto r = MakeRecord(u"name.txt");
        c.damage(r);
        EXPECT_FALSE(ValidateFileRecord(r.data(), r.size())) << c.what;
    }

    // Attribute walk: n-th attribute, counts, end marker, and a record cut short.
    auto rec2 = MakeRecord(u"x");
    std::size_t next = PutResident(rec2, 0x38 + 0x60, kNtfsAttrFileName, FileNameValue(u"second"));
    std::uint32_t end = kNtfsAttrEnd;
    std::memcpy(rec2.data() + next, &end, 4);
    ASSERT_TRUE(ValidateFileRecord(rec2.data(), 1024));
    EXPECT_EQ(CountAttributes(rec2.data(), 1024, kNtfsAttrFileName), 2);
    const NtfsAttributeView second = FindAttribute(rec2.data(), 1024, kNtfsAttrFileName, 1);
    ASSERT_TRUE(second);
    NtfsFileNameView fn;
    ASSERT_TRUE(ReadFileNameAttr(second, fn));
    EXPECT_EQ(NtfsNameToNarrow(fn.name, fn.nameLength), "second");
    EXPECT_FALSE(FindAttribute(rec2.data(), 1024, kNtfsAttrFileName, 2));
    EXPECT_FALSE(FindAttribute(rec2.data(), 0x38 + 0x40, kNtfsAttrFileName, 0));
}

// Names written from Linux live in the POSIX namespace, where only '/' and NUL are forbidden;
// the Windows character rules hold for the Win32 and DOS namespaces only.
TEST(NtfsFileRecord, NameCharactersDependOnTheNamespace) {
    struct Case {
        std::u16string name;
        std::uint8_t nameSpace;
        bool valid;
    };
    const Case cases[] = {
        {u"a:b", 0, true},          {u"q?*\"<>|.txt", 0, true}, {u"back\\slash", 0, true},
        {u"a/b", 0, false},         {std::u16string(u"a\0b", 3), 0, false},
        {u"a:b", 1, false},         {u"q?.txt", 2, false},        {u"x|y", 3, false},
        {u"a/b", 1, false},         {u"plain name.txt", 1, true}, {u"plain", 3, true},
    };
    for (const Case& c : cases) {
        auto rec = MakeRecord(c.name);
        rec[0x38 + 0x18 + 0x41] = c.nameSpace;
        EXPECT_EQ(ValidateFileRecord(rec.data(), rec.size()), c.valid)
            << "namespace " << int(c.nameSpace) << " name of " << c.name.size() << " units";
    }
}

TEST(NtfsRuns, MappingPairsDecodeAndValidate) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> pairs;
        bool valid;
        std::vector<NtfsExtent> extents;
    };
    const Case cases[] = {
        {"three runs with a hole and a step back",
         {0x11, 0x08, 0x64, 0x01, 0x10, 0x11, 0x04, 0xF6, 0x00},
         true,
         {{100, 0, 8}, {-1, 8, 16}, {90, 24, 4}}},
        {"5-byte offset (past 8 TiB)",
         {0x51, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00},
         true,
         {{std::int64_t{1} << 32, 0, 2}}},
        {"8-byte count and offset",
         {0x88, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0x00},
         true,
         {{5, 0, 1}}},
        {"9-byte offset", {0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00}, false, {}},
        {"no end before the length", {0x11, 0x08, 0x64}, false, {{100, 0, 8}}},
        {"entry runs past the length", {0x21, 0x08, 0x64}, false, {}},
        {"count width 0", {0x10, 0x05, 0x00}, false, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValidateMappingPairs(c.pairs.data(), c.pairs.size()), c.valid) << c.what;
        NtfsExtentList got;
        DecodeDataRuns(c.pairs.data(), c.pairs.size(), got);
        if (c.valid || !c.extents.empty()) {
            ASSERT_EQ(got.size(), c.extents.size()) << c.what;
            for (std::size_t i = 0; i < got.size(); ++i) {
                EXPECT_EQ(got[i].lcn, c.extents[i].lcn) << c.what;
                EXPECT_EQ(got[i].vcn, c.extents[i].vcn) << c.what;
                EXPECT_EQ(got[i].count, c.extents[i].count) << c.what;
            }
        }
        // The checked decoder appends the same runs for a sound list, nothing for a damaged one.
        NtfsExtentList checked = {{7, 0, 1}};
        EXPECT_EQ(DecodeMappingPairs(c.pairs.data(), c.pairs.size(), checked), c.valid) << c.what;
        ASSERT_EQ(checked.size(), 1 + (c.valid ? c.extents.size() : 0)) << c.what;
        for (std::size_t i = 1; i < checked.size(); ++i) {
            EXPECT_EQ(checked[i].lcn, c.extents[i - 1].lcn) << c.what;
            EXPECT_EQ(checked[i].count, c.extents[i - 1].count) << c.what;
        }
    }

    NtfsExtentList ext = {{100, 0, 8}, {-1, 8, 16}, {90, 24, 4}};
    EXPECT_EQ(MapVcnToLcn(ext, 3), 103);
    EXPECT_EQ(MapVcnToLcn(ext, 10), -1);
    EXPECT_EQ(MapVcnToLcn(ext, 27), 93);
    EXPECT_EQ(MapVcnToLcn(ext, 28), -1);
    // Damaged runs whose cluster numbers pass the largest position map to nothing.
    const NtfsExtentList wild = {{INT64_MAX - 2, 0, 16}, {5, 16, UINT64_MAX - 16}};
    EXPECT_EQ(MapVcnToLcn(wild, 2), INT64_MAX);
    EXPECT_EQ(MapVcnToLcn(wild, 3), -1);
    EXPECT_EQ(MapVcnToLcn(wild, UINT64_MAX - 1), -1);
    EXPECT_EQ(MftRecordToSector(4, 2, 1, 0, wild), -1);
    EXPECT_EQ(MapLcnToVcn(ext, 91), 25);
    EXPECT_EQ(MapLcnToVcn(ext, 94), -1);
    EXPECT_EQ(GetTotalClusters(ext), 28u);
    auto saved = SaveExtentList(ext);
    NtfsExtentList loaded;
    ASSERT_TRUE(LoadExtentList(saved.data(), saved.size(), loaded));
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[2].lcn, 90);
    EXPECT_EQ(loaded[2].vcn, 24u);
    EXPECT_FALSE(LoadExtentList(saved.data(), saved.size() - 1, loaded));

    const std::pair<std::uint64_t, std::uint32_t> rounding[] = {
        {0, 0}, {1, 1}, {2, 2}, {3, 4}, {5, 8}, {9, 16}, {17, 32}, {33, 64}, {65, 128}, {128, 128}, {129, 0}};
    for (auto [n, want] : rounding)
        EXPECT_EQ(RoundClusterSectors(n), want) << n;
    EXPECT_EQ(EstimateSectorsPerCluster(64 * 1024, 16), 8u);
    EXPECT_EQ(EstimateSectorsPerCluster(60 * 1024, 16), 8u);
    EXPECT_EQ(EstimateSectorsPerCluster(1, 0), 0u);
}

TEST(NtfsAttributeList, FragmentedFileSpillsIntoExtensionRecords) {
    const std::string image = FragmentedNtfsImage();
    ASSERT_FALSE(image.empty());
    auto img = ReadFileBytes(image);
    MemoryDevice dev(img);
    CNTFSDBR dbr;
    ASSERT_TRUE(ReadNtfsBootSector(dev, 0, dbr));
    const std::uint32_t spc = dbr.GetSectorsPerCluster();

    auto mftRec = ImageRecord(img, 0);
    ASSERT_TRUE(ApplyFixups(mftRec.data(), 1024));
    NtfsExtentList mft;
    ASSERT_TRUE(CollectDataRuns(mftRec.data(), 1024, mft, false, nullptr));

    std::int64_t number = NtfsRecordNumber(image, "/" + std::string(kFragmentedName));
    ASSERT_GT(number, 0);
    auto rec = ImageRecord(img, static_cast<std::uint64_t>(number));
    std::int64_t sector = MftRecordToSector(number, 2, spc, 0, mft);
    ASSERT_GT(sector, 0);
    auto entries = ReadAttributeListEntries(rec.data(), 1024, 0, spc, &dev);
    ASSERT_GE(entries.size(), 2u);
    ResolveExtensionRecords(entries, sector, 2, spc, 0, mft);
    ASSERT_GE(entries.size(), 1u);
    for (const auto& e : entries)
        EXPECT_NE(static_cast<std::int64_t>(e.record), number);

    MftRecordView view;
    ASSERT_TRUE(view.Attach(rec.data(), 1024, sector, &dev));
    view.SetExtensions(entries);
    // The name and every $DATA piece, wherever they live, give the whole file back.
    auto name = view.FindAttributeEx(kNtfsAttrFileName, 0);
    ASSERT_TRUE(name.attr);
    NtfsFileNameView fn;
    ASSERT_TRUE(ReadFileNameAttr(name.attr, fn));
    EXPECT_EQ(NtfsNameToNarrow(fn.name, fn.nameLength), kFragmentedName);
    NtfsExtentList runs;
    std::uint64_t size = 0;
    int pieces = 0;
    for (int i = 0;; ++i) {
        auto ref = view.FindAttributeEx(kNtfsAttrData, i);
        if (!ref.attr)
            break;
        std::uint64_t low = 0, dsize = 0;
        ASSERT_TRUE(CollectAttributeRuns(ref.attr, runs, &low, &dsize));
        if (low == 0)
            size = dsize;
        ++pieces;
    }
    EXPECT_GE(pieces, 2);
    SortExtents(runs);
    EXPECT_GT(runs.size(), 200u);
    ASSERT_EQ(size, kFragmentedSize);
    std::vector<std::uint8_t> bytes;
    for (const auto& r : runs) {
        ASSERT_GE(r.lcn, 0);
        std::vector<std::uint8_t> piece(r.count * spc * 512);
        ASSERT_TRUE(dev.ReadSectors(piece.data(), r.lcn * spc, r.count * spc));
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    bytes.resize(size);
    EXPECT_TRUE(bytes == FragmentedContent());
    view.Release();
    EXPECT_EQ(rec, ImageRecord(img, static_cast<std::uint64_t>(number))) << "fix-ups not undone";

    // Extension records that name another base record are not used.
    for (std::int64_t base : {number, number + 1}) {
        MftRecordView v;
        ASSERT_TRUE(v.Attach(rec.data(), 1024, sector, &dev));
        v.SetExtensions(entries);
        v.SetBaseRecordNumber(base);
        int found = 0;
        while (v.FindAttributeEx(kNtfsAttrData, found).attr)
            ++found;
        EXPECT_EQ(found, base == number ? pieces : CountAttributes(v.Record(), 1024, kNtfsAttrData)) << base;
    }

    // Unreadable list sectors are left empty, never parsed as fresh data.
    dev.ClearCalls();
    {
        auto r2 = rec;
        ApplyFixups(r2.data(), 1024);
        const NtfsAttributeView listAttr = FindAttribute(r2.data(), 1024, kNtfsAttrAttributeList, 0);
        ASSERT_TRUE(listAttr);
        if (listAttr.NonResident()) {
            NtfsExtentList listRuns;
            const ByteSpan pairs = listAttr.MappingPairs();
            DecodeDataRuns(pairs.data(), pairs.size(), listRuns);
            ASSERT_FALSE(listRuns.empty());
            for (std::uint32_t s = 0; s < spc; ++s)
                dev.FailSector(listRuns[0].lcn * spc + s);
            EXPECT_TRUE(ReadAttributeListEntries(rec.data(), 1024, 0, spc, &dev).empty());
        }
    }
}

TEST(NtfsAttributeList, ParsesEntriesDefensively) {
    // Entries: type, length, ..., record number at 16 (48 bits).
    auto entry = [](std::uint32_t type, std::uint16_t len, std::uint64_t record) {
        std::vector<std::uint8_t> e(len < 0x20 ? 0x20 : len, 0);
        std::memcpy(e.data(), &type, 4);
        std::memcpy(e.data() + 4, &len, 2);
        std::memcpy(e.data() + 16, &record, 6);
        e.resize(len < 0x20 ? 0x20 : len);
        return e;
    };
    std::vector<std::uint8_t> list;
    for (auto& e : {entry(0x10, 0x20, 40), entry(0x30, 0x20, 41), entry(0x80, 0x20, 41),
                    entry(0x80, 0x20, (std::uint64_t{1} << 32) + 7)})
        list.insert(list.end(), e.begin(), e.end());
    auto got = ParseAttributeListValue(list.data(), list.size());
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].record, 40u);
    EXPECT_EQ(got[1].record, 41u);
    EXPECT_EQ(got[2].record, (std::uint64_t{1} << 32) + 7);
    EXPECT_EQ(got[0].sector, -1);

    // An entry shorter than 0x1A ends the walk (no endless loop on length 1).
    auto bad = entry(0x10, 0x20, 40);
    auto shortOne = entry(0x80, 4, 50);
    bad.insert(bad.end(), shortOne.begin(), shortOne.end());
    EXPECT_EQ(ParseAttributeListValue(bad.data(), bad.size()).size(), 1u);
    EXPECT_TRUE(ParseAttributeListValue(bad.data(), 0x19).empty());
}
