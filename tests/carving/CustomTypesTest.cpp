#include "carving/CustomFileTypes.h"
#include "carving/RawFileAnalyserRegistry.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileProperties.h"
#include "platform/AppPaths.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/ActivityLog.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
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
        {info + "\r\n", true, "ARC", 0},                                           // a final CR LF
        {info + "\r\n\r\n", false, "", 0},                                        // an empty last line
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
        {info + "\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"", true, "ARC", 1}, // LF ends a line
        {info + "\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"\n", true, "ARC", 1}, // a final LF
        {info + "\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"\n", true, "ARC", 1}, // mixed
        {info + "\n\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"", false, "", 0}, // empty line
        {info + "\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"\n\n", false, "", 0},
        {info + "\r\r\nFILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"\r", true, "ARC", 1}, // lone CRs kept
        {info + "\r\n\tREMARK: trimmed  \r\nFILESIGN:OFFSET=0x2 TYPE=CHAR VALUE=\"PK\"", true, "ARC", 1},
        {info + "\r\n" + std::string(1100, ' '), false, "", 0}, // longer than 1024 bytes
        {info + "\nREMARK: " + std::string(1024 - info.size() - 9, 'x'), true, "ARC", 0}, // 1024
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

namespace {

void WriteScript(const std::string& path, const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()))) << path;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace

// Scripts with every kind of line end load; each one that does not is named in the activity log
// with its reason, once however often the folder is loaded.
TEST(CustomScripts, LineEndsAndRejectedScriptsInTheLog) {
    carvingtest::ActivityLogPath();
    const std::string dir = ScratchDir("custom-script-log");
    const std::string sign = "FILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"PK\"";
    const std::string longText =
        "FILEINFO: EXTNAME = \"LONG\"\r\n" + sign + "\r\nREMARK: " + std::string(1000, 'x');
    const struct {
        const char* name;
        std::string text;
        const char* extension; // loads with this extension, one pattern
        std::string reason;    // or is skipped for this
    } cases[] = {
        {"a-crlf.fhs", "REMARK: written on Windows\r\nFILEINFO: EXTNAME = \"CRLF\"\r\n" + sign,
         "CRLF", ""},
        {"b-lf.fhs", "REMARK: written on Linux\nFILEINFO: EXTNAME = \"LF\"\n" + sign + "\n", "LF",
         ""},
        {"c-mixed.fhs",
         "REMARK: edited twice\r\nFILEINFO: EXTNAME = \"MIXED\"\n" + sign + "\r\nREMARK: end\n",
         "MIXED", ""},
        {"d-noinfo.fhs", "REMARK: no type\n" + sign + "\n", nullptr, "it has no FILEINFO line"},
        {"e-long.fhs", longText, nullptr,
         "it is " + std::to_string(longText.size()) + " bytes, over the limit of 1024"},
        {"f-crlf-end.fhs", "FILEINFO: EXTNAME = \"END\"\r\n" + sign + "\r\n", "END", ""},
        {"f-crlf-blank-end.fhs", "FILEINFO: EXTNAME = \"END2\"\r\n" + sign + "\r\n\r\n", nullptr,
         "line 3 is empty"},
        {"g-blank.fhs", "FILEINFO: EXTNAME = \"BLANK\"\n\n" + sign + "\n", nullptr,
         "line 2 is empty"},
        {"h-badsign.fhs",
         "FILEINFO: EXTNAME = \"SIGN\"\nFILESIGN: OFFSET = 0x0 TYPE = BYTE VALUE = 0x50, 0x4B\n",
         nullptr, "line 2 is not a valid FILESIGN line"},
        {"i-badinfo.fhs", "REMARK: x\r\nfileinfo: EXTNAME = \"\"\r\n" + sign, nullptr,
         "line 2 is not a valid FILEINFO line"},
        {"j-nolabel.fhs", "FILEINFO: EXTNAME = \"NOTE\"\n" + sign + "\nNOTE: something\n", nullptr,
         "line 3 is not a FILEINFO, FILESIGN or REMARK line"},
    };
    for (const auto& c : cases)
        WriteScript(dir + "/" + c.name, c.text);
    ASSERT_TRUE(MustRun("mkfifo " + ShellQuote(dir + "/k-pipe.fhs")));

    std::vector<std::string> loaded;
    for (int round = 0; round < 2; ++round) {
        CustomFileAnalyser a(dir);
        loaded.clear();
        for (const auto& h : a.Headers().Headers()) {
            loaded.push_back(h->m_extension);
            EXPECT_EQ(h->m_items.size(), 1u) << h->m_extension;
        }
    }
    EXPECT_EQ(loaded, (std::vector<std::string>{"CRLF", "LF", "MIXED", "END"}));

    const std::string log = carvingtest::ActivityLogText();
    for (const auto& c : cases) {
        const std::string prefix = "Custom file script " + dir + "/" + c.name + " skipped: ";
        if (c.extension) {
            EXPECT_EQ(CountOf(log, prefix), 0u) << c.name << "\n" << log;
        } else {
            EXPECT_EQ(CountOf(log, prefix + c.reason + "\r\n"), 1u) << c.name << "\n" << log;
            EXPECT_EQ(CountOf(log, prefix), 1u) << c.name << "\n" << log;
        }
    }
    EXPECT_EQ(CountOf(log, "Custom file script " + dir +
                               "/k-pipe.fhs skipped: it is not a regular file\r\n"),
              1u)
        << log;
}

// The build folder's program finds its scripts beside itself, an installed one in the resource
// folder where it finds info/ and help/.
TEST(CustomScripts, ScriptFolderIsTheResourceFolder) {
    const std::string root = ScratchDir("custom-script-folder");
    namespace fs = std::filesystem;
    fs::create_directories(root + "/build/info");
    fs::create_directories(root + "/usr/bin");
    fs::create_directories(root + "/usr/share/brulin/info");
    fs::create_directories(root + "/bare/bin");
    EXPECT_EQ(CustomScriptFolderFor(root + "/build/"), root + "/build/CustomFileScript");
    EXPECT_EQ(CustomScriptFolderFor(root + "/usr/bin/"),
              root + "/usr/share/brulin/CustomFileScript");
    EXPECT_EQ(CustomScriptFolderFor(root + "/bare/bin"), root + "/bare/bin/CustomFileScript");
    EXPECT_EQ(GetCustomScriptFolder(), CustomScriptFolderFor(platform::ProgramDir()));
}

// End to end: files on a FAT volume made by mkfs.fat and mcopy carry the signatures of an LF
// script and of a CR LF one; the RAW search over the image finds each at its first sector.
TEST(CustomScripts, RawSearchFindsTheSignatureOfAnLfScript) {
    ASSERT_TRUE(RequireFatTools());
    const std::string dir = ScratchDir("custom-script-carve");
    const std::string scripts = dir + "/CustomFileScript";
    std::filesystem::create_directories(scripts);
    WriteScript(scripts + "/linux.fhs", "REMARK: made with a Linux editor\n"
                                        "FILEINFO: EXTNAME = \"BRLF\"\n"
                                        "FILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"BRULIN-LF\"\n"
                                        "FILESIGN: OFFSET = 0x20 TYPE = BYTE VALUE = 0xCA,0xFE\n");
    WriteScript(scripts + "/windows.fhs",
                "FILEINFO: EXTNAME = \"BRCRLF\"\r\n"
                "FILESIGN: OFFSET = 0x0 TYPE = CHAR VALUE = \"BRULIN-CRLF\"");

    auto payload = [](const std::string& head, std::size_t size, std::uint32_t seed) {
        std::vector<std::uint8_t> bytes = PatternBytes(size, seed);
        std::memcpy(bytes.data(), head.data(), head.size());
        bytes[0x20] = 0xCA;
        bytes[0x21] = 0xFE;
        return bytes;
    };
    const auto lfFile = payload("BRULIN-LF", 70000, 1);
    const auto crlfFile = payload("BRULIN-CRLF", 3000, 2);
    auto decoy = payload("BRULIN-LF", 5000, 3);
    decoy[0x21] = 0xFF; // the first pattern alone is no match
    const std::string image = dir + "/volume.img";
    ASSERT_TRUE(FatImage::Format(image, FatImageOptions{16, 16 * 1024, 4, "SCRIPTS", 0, ""}));
    FatImage fat(image);
    ASSERT_TRUE(fat.WriteFile("/first.bin", crlfFile));
    ASSERT_TRUE(fat.WriteFile("/decoy.bin", decoy));
    ASSERT_TRUE(fat.MakeDir("/docs"));
    ASSERT_TRUE(fat.WriteFile("/docs/linux.dat", lfFile));

    // Where mkfs.fat and mcopy put each file: the sector that starts with its bytes.
    const std::vector<std::uint8_t> bytes = LoadImageBytes(image);
    auto sectorOf = [&](const std::vector<std::uint8_t>& file) {
        for (std::size_t s = 0; s + 1 <= bytes.size() / kSectorSize; ++s)
            if (std::memcmp(bytes.data() + s * kSectorSize, file.data(), kSectorSize) == 0)
                return static_cast<std::int64_t>(s);
        return std::int64_t(-1);
    };
    const std::int64_t lfSector = sectorOf(lfFile), crlfSector = sectorOf(crlfFile);
    ASSERT_GE(lfSector, 0);
    ASSERT_GE(crlfSector, 0);
    ASSERT_GE(sectorOf(decoy), 0);

    ClearUserFileTypesForTesting();
    SetCustomScriptFolder(scripts);
    GetScanOptions().SetDefaults();
    GetScanOptions().RawFileTypes.Clear();
    GetScanOptions().RawFileTypes.Add(kFirstUserFileType);
    CImageFileDevice device(image.c_str());
    CRawFileList list;
    const IntelligentSearchStats stats = RunRawSearch(device, list, 64);
    SetCustomScriptFolder("");
    GetScanOptions().SetDefaults();

    std::map<std::int64_t, std::string> found;
    for (const CRawFileInfo* r : list.Records())
        found[static_cast<std::int64_t>(r->m_u64StartSector)] =
            GetRawFileTypeExtension(r->m_u32FileType);
    EXPECT_EQ(found,
              (std::map<std::int64_t, std::string>{{crlfSector, "BRCRLF"}, {lfSector, "BRLF"}}));
    EXPECT_EQ(stats.counters[ISS_FilesIdentified], 2u);
    ClearUserFileTypesForTesting();
}
