#include "carving/CustomFileTypes.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/records/RawFileTypeTable.h"
#include "tests/support/FixtureKit.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

using namespace testsupport;

TEST(CustomScripts, ScriptTable) {
    const std::string info = "FILEINFO: EXTNAME = \"ARC\"";
    const struct {
        std::string text;
        bool loads;
        const char* extension;
        std::uint32_t patterns;
    } cases[] = {
        {"REMARK: archives of the kind\r\n" + info +
             "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x50,0x4B,0x03,0x04",
         true, "ARC", 1},
        {info + "\r\n", false, "", 0},                                             // ends with CR LF
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x50, 0x4B", false, "", 0},
        {"FILEINFO: EXTNAME = ARC", true, "R", 0},                                // no quotes
        {"fileinfo : EXTNAME=\"zip\"", true, "ZIP", 0},                           // label any case
        {"FILEINFO: EXTNAME = \"\"", false, "", 0},
        {"FILEINFO: EXTNAME = \"ABCDEFGHIJKLMNOP\"", true, "ABCDEFGHIJKLMNOP", 0}, // 16 kept whole
        {"FILEINFO: EXTNAME = \"ABCDEFGHIJKLMNOPQ\"", false, "", 0},
        {"REMARK: only a remark", false, "", 0},                                  // no FILEINFO
        {info + "\r\nFILESIGN: OFFSET = 0x1F0 TYPE = CHAR VALUE = \"0123456789abcdef\"", true,
         "ARC", 1},
        {info + "\r\nFILESIGN: OFFSET = 0x1F1 TYPE = CHAR VALUE = \"a\"", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"", false, "", 0}, // one quote
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"\"", true, "ARC", 1},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"0123456789abcdefg\"", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 10 TYPE = BYTE VALUE = 0x01", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x000000010 TYPE = BYTE VALUE = 0x01", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = byte VALUE = 0x1,0X2", true, "ARC", 1},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x100", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x01,", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x01,0x002", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x0001,0x02", true, "ARC", 1},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = "
                "0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1,0x1",
         false, "", 0},
        {info + "\r\nFILESIGN: OFFSETX = 0x0 TYPE = BYTE VALUE = 0x01", false, "", 0},
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = WORD VALUE = 0x01", false, "", 0},
        {info + "\r\nNOTE: something", false, "", 0},
        {info + "\nREMARK: a lone LF does not end a line", true, "ARC", 0},
        {info + "\r\n\tREMARK: trimmed  \r\nFILESIGN:OFFSET=0x2 TYPE=CHAR VALUE=\"PK\"", true, "ARC", 1},
        {info + "\r\n" + std::string(1100, ' '), false, "", 0}, // longer than 1024 bytes
    };
    for (const auto& c : cases) {
        CCustomHeader h;
        EXPECT_EQ(h.LoadText(c.text), c.loads) << c.text;
        if (c.loads) {
            EXPECT_EQ(h.m_extension, c.extension) << c.text;
            EXPECT_EQ(h.m_items.size(), c.patterns) << c.text;
        }
    }

    CCustomHeader h;
    ASSERT_TRUE(h.LoadText(info + "\r\nFILESIGN: OFFSET = 0x1F0 TYPE = CHAR VALUE = \"0123456789abcdef\""
                                  "\r\nFILESIGN: OFFSET = 0x2 TYPE = BYTE VALUE = 0x41"));
    ASSERT_EQ(h.m_items.size(), 2u);
    EXPECT_EQ(h.m_items[0].offset, 0x1F0u);
    EXPECT_EQ(h.m_items[0].length, 16u);
    std::uint8_t sector[512] = {};
    std::memcpy(sector + 496, "0123456789abcdef", 16);
    EXPECT_FALSE(h.Match(sector));
    sector[2] = 'A';
    EXPECT_TRUE(h.Match(sector));

    CCustomHeader any;
    ASSERT_TRUE(any.LoadText(info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"\""));
    EXPECT_TRUE(any.Match(sector)); // an empty pattern matches every sector
    CCustomHeader none;
    ASSERT_TRUE(none.LoadText(info));
    EXPECT_FALSE(none.Match(sector)); // no pattern: never matches

    EXPECT_EQ(CScriptProcess::GetKeyValue("A: KEY = \"x y\" z \"w\"", "KEY"), "\"x y\" z \"w\"");
    EXPECT_EQ(CScriptProcess::GetKeyValue("A: KEY =\tv1 v2", "KEY"), "v1");
    EXPECT_EQ(CScriptProcess::GetKeyValue("A: KEY v = 1", "KEY"), "");
    EXPECT_EQ(CScriptProcess::GetKeyValue("A: KEY 1", "KEY"), "");
}

TEST(CustomScripts, FolderInNameOrderAndUserIds) {
    const std::string dir = ScratchDir("custom-scripts");
    auto write = [&](const std::string& name, const std::string& text) {
        WriteFileBytes(dir + "/" + name, std::vector<std::uint8_t>(text.begin(), text.end()));
    };
    // Both match "PK": b.fhs is read after a.fhs whatever the directory's order.
    write("b.fhs", "FILEINFO: EXTNAME = \"SECOND\"\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"");
    write("a.FHS", "FILEINFO: EXTNAME = \"FIRST\"\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"P\"");
    write("c.fhs", "FILEINFO: EXTNAME = \"LONGEXTENSION\"\r\nFILESIGN: OFFSET = 0x8 TYPE = BYTE VALUE = 0x7F");
    write("d.fhs", "REMARK: broken\r\n");
    write("e.txt", "FILEINFO: EXTNAME = \"TXT\"\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"T\"");

    ClearUserFileTypesForTesting();
    CustomFileAnalyser a(dir);
    EXPECT_EQ(a.GetTypeId(), -1);
    ASSERT_EQ(a.Headers().Headers().size(), 3u);
    std::uint8_t sector[512] = {'P', 'K'};
    CRawFileInfo r;
    EXPECT_EQ(a.MatchHeader(sector, &r), 1);
    EXPECT_EQ(r.m_u32FileType, 1000u);
    EXPECT_STREQ(GetRawFileTypeExtension(1000), "FIRST");
    std::uint8_t other[512] = {'X'};
    other[8] = 0x7F;
    EXPECT_EQ(a.MatchHeader(other, &r), 1);
    EXPECT_EQ(r.m_u32FileType, 1001u);
    EXPECT_STREQ(GetRawFileTypeExtension(1001), "LONGEXTENSION");
    other[0] = 'T';
    other[8] = 0;
    CRawFileInfo none;
    EXPECT_EQ(a.MatchHeader(other, &none), 0);
    CRawFileInfo again;
    EXPECT_EQ(a.MatchHeader(sector, &again), 1);
    EXPECT_EQ(again.m_u32FileType, 1000u);
    EXPECT_EQ(a.ComputeFileSize(&again, nullptr), 0);
    EXPECT_EQ(again.m_u64Size, 0u);

    std::vector<SignatureKey> keys;
    EXPECT_TRUE(a.GetSignatureKeys(keys));
    EXPECT_EQ(keys.size(), 3u);

    // Every user-defined id taken by other extensions: the script's files are refused.
    ClearUserFileTypesForTesting();
    for (std::uint32_t i = 0; i < kUserFileTypeSlots; ++i)
        FindOrAddUserFileType(("U" + std::to_string(i)).c_str());
    CRawFileInfo full;
    EXPECT_EQ(a.MatchHeader(sector, &full), 0);
    EXPECT_EQ(full.m_u32FileType, 0u);
    ClearUserFileTypesForTesting();

    // A missing folder loads nothing and never matches; it is never asked either.
    CustomFileAnalyser empty(dir + "/missing");
    EXPECT_EQ(empty.MatchHeader(sector, &r), 0);
    keys.clear();
    EXPECT_TRUE(empty.GetSignatureKeys(keys));
    EXPECT_TRUE(keys.empty());

    // Through the registry: user ids create one custom analyser each, loading the set folder.
    SetCustomScriptFolder(dir);
    RawFileAnalyserList list;
    RawTypeList types;
    types.Add(1000);
    types.Add(1500);
    types.Add(0);
    SelectRawFileAnalysers(&list, &types);
    ASSERT_EQ(list.Size(), 3u);
    EXPECT_TRUE(list.At(0)->IsInterchangeableWith(*list.At(1)));
    EXPECT_FALSE(list.At(0)->IsInterchangeableWith(empty));
    SetCustomScriptFolder("");
}
