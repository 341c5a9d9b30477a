#include "filesystems/ntfs/NtfsFileProperties.h"

#include "filesystems/StoreSection.h"
#include "tests/support/MemorySection.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

using testsupport::MemorySection;

// Builds a 1024-byte FILE record attribute by attribute (no fix-ups: one-entry array).
class RecordBuilder {
public:
    RecordBuilder() : rec(1024, 0) {
        std::memcpy(rec.data(), "FILE", 4);
        rec[4] = 0x30;
        rec[6] = 1;
        rec[0x14] = 0x38;
        rec[0x16] = 1;
        End();
    }
    RecordBuilder& NotInUse() { rec[0x16] = 0; return *this; }
    RecordBuilder& Name(const std::u16string& name, std::uint8_t nameSpace, std::uint64_t parent,
                        std::uint64_t created, std::uint64_t size = 0, std::uint32_t flags = 0) {
        std::vector<std::uint8_t> v(0x42 + 2 * name.size(), 0);
        std::memcpy(v.data(), &parent, 6);
        std::memcpy(v.data() + 8, &created, 8);
        std::memcpy(v.data() + 0x30, &size, 8);
        std::memcpy(v.data() + 0x38, &flags, 4);
        v[0x40] = static_cast<std::uint8_t>(name.size());
        v[0x41] = nameSpace;
        std::memcpy(v.data() + 0x42, name.data(), 2 * name.size());
        return Resident(kNtfsAttrFileName, v);
    }
    RecordBuilder& StdInfo(std::uint64_t c, std::uint64_t w, std::uint64_t a, std::uint32_t attrs) {
        std::vector<std::uint8_t> v(48, 0);
        std::memcpy(v.data(), &c, 8);
        std::memcpy(v.data() + 8, &w, 8);
        std::memcpy(v.data() + 0x18, &a, 8);
        std::memcpy(v.data() + 0x20, &attrs, 4);
        return Resident(kNtfsAttrStandardInformation, v);
    }
    RecordBuilder& Resident(std::uint32_t type, const std::vector<std::uint8_t>& value, std::uint16_t flags = 0) {
        std::uint32_t len = (0x18 + static_cast<std::uint32_t>(value.size()) + 7) & ~7u;
        std::uint8_t* a = rec.data() + off;
        std::memcpy(a, &type, 4);
        std::memcpy(a + 4, &len, 4);
        std::memcpy(a + 0x0C, &flags, 2);
        std::uint32_t vl = static_cast<std::uint32_t>(value.size());
        std::memcpy(a + 0x10, &vl, 4);
        a[0x14] = 0x18;
        std::memcpy(a + 0x18, value.data(), value.size());
        off += len;
        return End();
    }
    RecordBuilder& NonResidentData(const std::vector<std::uint8_t>& pairs, std::uint64_t highestVcn,
                                   std::uint64_t dataSize, std::uint16_t flags = 0) {
        std::uint32_t len = (0x40 + static_cast<std::uint32_t>(pairs.size()) + 7) & ~7u;
        std::uint8_t* a = rec.data() + off;
        std::uint32_t type = kNtfsAttrData;
        std::memcpy(a, &type, 4);
        std::memcpy(a + 4, &len, 4);
        a[8] = 1;
        std::memcpy(a + 0x0C, &flags, 2);
        std::memcpy(a + 0x18, &highestVcn, 8);
        a[0x20] = 0x40;
        std::uint64_t alloc = (highestVcn + 1) * 4096;
        std::memcpy(a + 0x28, &alloc, 8);
        std::memcpy(a + 0x30, &dataSize, 8);
        std::memcpy(a + 0x38, &dataSize, 8);
        std::memcpy(a + 0x40, pairs.data(), pairs.size());
        off += len;
        return End();
    }
    RecordBuilder& End() {
        std::uint32_t end = kNtfsAttrEnd;
        std::memcpy(rec.data() + off, &end, 4);
        return *this;
    }
    std::unique_ptr<CNTFSFileProperties> Props(std::int64_t* parent = nullptr) {
        view.Release();
        EXPECT_TRUE(view.Attach(rec.data(), rec.size(), 1000, nullptr));
        std::int64_t p = -1;
        return std::unique_ptr<CNTFSFileProperties>(
            CreateNtfsFilePropertiesFromRecord(&view, 1000, parent ? parent : &p));
    }
    std::vector<std::uint8_t> rec;
    std::size_t off = 0x38;
    MftRecordView view;
};

std::uint64_t Ticks(const IFileProperties& p, int which) {
    FileTime t;
    if (which == 0) p.GetCreationTime(&t);
    if (which == 1) p.GetLastWriteTime(&t);
    if (which == 2) p.GetLastAccessTime(&t);
    return t.ticks;
}

} // namespace

TEST(NtfsFileProperties, NameChoiceTimesAndParent) {
    struct Case {
        const char* what;
        std::uint8_t secondSpace;
        const char* want;
    };
    for (const Case& c : {Case{"Win32 second name wins", 1, "Long File.txt"},
                          Case{"POSIX second name loses", 0, "LONGFI~1.TXT"}}) {
        RecordBuilder b;
        b.Name(u"LONGFI~1.TXT", 2, 40, 111, 5).Name(u"Long File.txt", c.secondSpace, 41, 222, 6);
        std::int64_t parent = -1;
        auto props = b.Props(&parent);
        ASSERT_TRUE(props) << c.what;
        EXPECT_STREQ(props->GetName(), c.want) << c.what;
        EXPECT_EQ(props->GetNameLength(), std::strlen(c.want));
        EXPECT_EQ(parent, 41) << "the second name's parent";
        // No $STANDARD_INFORMATION: every time is the chosen name's creation time.
        std::uint64_t t = c.secondSpace == 1 ? 222 : 111;
        EXPECT_EQ(Ticks(*props, 0), t);
        EXPECT_EQ(Ticks(*props, 1), t);
        EXPECT_EQ(Ticks(*props, 2), t);
        EXPECT_EQ(props->GetFileState(), FILESTATE_LIVE);
        EXPECT_EQ(props->GetRecordSector(), 1000u);
        EXPECT_EQ(props->GetValidFields(), 255u);
        EXPECT_EQ(props->GetFileSystemKind(), 0u);
    }

    RecordBuilder b;
    b.StdInfo(7, 8, 9, 0x01 | 0x02 | 0x20 | 0x100).Name(u"dir", 1, 5, 3, 0, kNtfsFileNameFlagDirectory).NotInUse();
    std::int64_t parent = -1;
    auto props = b.Props(&parent);
    ASSERT_TRUE(props);
    EXPECT_EQ(parent, 5);
    EXPECT_EQ(Ticks(*props, 0), 7u);
    EXPECT_EQ(Ticks(*props, 1), 8u);
    EXPECT_EQ(Ticks(*props, 2), 9u);
    EXPECT_EQ(props->GetAttributes(), FILEATTR_DIRECTORY | 0x01 | 0x02 | 0x20);
    EXPECT_EQ(props->GetFileState(), FILESTATE_DELETED);
    EXPECT_EQ(props->GetDataRunList(), nullptr);

    // No name, or an empty one: no properties.
    RecordBuilder none;
    none.StdInfo(1, 2, 3, 0);
    EXPECT_FALSE(none.Props());
    RecordBuilder empty;
    empty.Name(u"", 1, 5, 1);
    EXPECT_FALSE(empty.Props());
}

TEST(NtfsFileProperties, DataRunsAndFlags) {
    {   // Resident data: one run {record sector, 1}, offset of the value in the record.
        RecordBuilder b;
        b.Name(u"small.txt", 1, 5, 1, 999).Resident(kNtfsAttrData, {'h', 'e', 'l', 'l', 'o'});
        auto props = b.Props();
        ASSERT_TRUE(props);
        EXPECT_EQ(props->GetFileSize(), 5u);
        std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
        ASSERT_TRUE(runs);
        ASSERT_TRUE(runs->IsResident());
        ASSERT_EQ(runs->GetRunCount(), 1u);
        EXPECT_EQ(runs->GetFirstRun()->start, 1000);
        EXPECT_EQ(std::memcmp(b.rec.data() + runs->GetResidentOffset(), "hello", 5), 0);
    }
    {   // Compressed and encrypted: only encrypted stays. Runs with a hole.
        RecordBuilder b;
        b.Name(u"secret.bin", 1, 5, 1, 0)
            .NonResidentData({0x11, 0x08, 0x64, 0x01, 0x10, 0x11, 0x04, 0xF6, 0x00}, 27, 100000,
                             kNtfsAttrFlagCompressed | kNtfsAttrFlagEncrypted);
        auto props = b.Props();
        ASSERT_TRUE(props);
        EXPECT_EQ(props->GetAttributes() & (FILEATTR_ENCRYPTED | FILEATTR_COMPRESSED), FILEATTR_ENCRYPTED);
        EXPECT_EQ(props->GetFileSize(), 100000u);
        std::unique_ptr<IDataRunList> runs(props->GetDataRunList());
        ASSERT_TRUE(runs);
        ASSERT_EQ(runs->GetRunCount(), 3u);
        EXPECT_EQ(runs->Runs()[0], (DataRun{100, 8}));
        EXPECT_EQ(runs->Runs()[1], (DataRun{-1, 16}));
        EXPECT_EQ(runs->Runs()[2], (DataRun{90, 4}));
    }
    {   // Named streams are skipped; compressed alone is kept; unknown size from the runs.
        RecordBuilder b;
        b.Name(u"c.bin", 1, 5, 1, kNtfsUnknownSize).NonResidentData({0x11, 0x10, 0x20, 0x00}, 15, 0, kNtfsAttrFlagCompressed);
        auto props = b.Props();
        ASSERT_TRUE(props);
        EXPECT_TRUE(props->GetAttributes() & FILEATTR_COMPRESSED);
        props->SetFileSize(kNtfsUnknownSize);
        FixNtfsFileSize(props.get(), 8);
        EXPECT_EQ(props->GetFileSize(), 16u * 8 * 512);
    }
}

TEST(NtfsFileProperties, SaveLoadAndSyntheticFolders) {
    RecordBuilder b;
    b.StdInfo(7, 8, 9, 0x20).Name(u"caf\u00e9.bin", 1, 77, 1).NotInUse()
        .NonResidentData({0x11, 0x08, 0x64, 0x01, 0x10, 0x00}, 23, 90000);
    auto props = b.Props();
    ASSERT_TRUE(props);
    EXPECT_STREQ(props->GetName(), "caf\xC3\xA9.bin");
    props->SetExtensionRecords({{5000, 70}, {-1, 71}});
    props->SetCheckState(2);
    EXPECT_EQ(props->SetMark(3), 0);
    EXPECT_EQ(props->SetMark(4), 3);

    MemorySection section;
    EXPECT_EQ(props->Save(&section), 1);
    auto loaded = std::make_unique<CNTFSFileProperties>();
    loaded->SetCheckState(1);
    EXPECT_EQ(loaded->Load(&section), 1);
    EXPECT_EQ(section.pos, section.bytes.size());
    EXPECT_STREQ(loaded->GetName(), props->GetName());
    EXPECT_EQ(loaded->GetNameLength(), props->GetNameLength());
    EXPECT_EQ(loaded->GetFileSize(), 90000u);
    EXPECT_EQ(loaded->GetAttributes(), props->GetAttributes());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Ticks(*loaded, i), Ticks(*props, i));
    EXPECT_EQ(loaded->GetFileState(), FILESTATE_DELETED);
    EXPECT_EQ(loaded->GetRecordSector(), 1000u);
    ASSERT_TRUE(loaded->GetRunListRecord());
    EXPECT_EQ(loaded->GetRunListRecord()->bytes, props->GetRunListRecord()->bytes);
    ASSERT_TRUE(loaded->GetExtensionRecords());
    ASSERT_EQ(loaded->GetExtensionRecords()->size(), 2u);
    EXPECT_EQ((*loaded->GetExtensionRecords())[0].sector, 5000);
    EXPECT_EQ((*loaded->GetExtensionRecords())[1].sector, -1);
    EXPECT_EQ((*loaded->GetExtensionRecords())[1].record, 71u);
    EXPECT_EQ(loaded->GetCheckState(), 0);
    EXPECT_EQ(loaded->GetMark(), 0);

    // A damaged extension count ends in a short read, not an allocation of that size.
    MemorySection damaged;
    damaged.bytes = section.bytes;
    std::uint64_t huge = ~std::uint64_t{0};
    std::memcpy(damaged.bytes.data() + damaged.bytes.size() - 40, &huge, 8);
    CNTFSFileProperties victim;
    EXPECT_THROW(victim.Load(&damaged), CRSException);

    std::unique_ptr<CNTFSFileProperties> root(MakeNtfsRootProperties(0));
    EXPECT_STREQ(root->GetName(), "1 NTFS");
    EXPECT_EQ(root->GetAttributes(), FILEATTR_DIRECTORY);
    EXPECT_EQ(root->GetFileState(), FILESTATE_LIVE);
    int counter = 0;
    std::unique_ptr<CNTFSFileProperties> lost1(MakeLostFilesFolder(&counter));
    std::unique_ptr<CNTFSFileProperties> lost2(MakeLostFilesFolder(&counter));
    EXPECT_STREQ(lost1->GetName(), "LostFiles1");
    EXPECT_STREQ(lost2->GetName(), "LostFiles2");
    EXPECT_EQ(lost1->GetFileState(), FILESTATE_LOST_FILES_FOLDER);
    EXPECT_EQ(lost1->GetDataRunList(), nullptr);
    EXPECT_EQ(lost1->GetFileSize(), 0u);
}
