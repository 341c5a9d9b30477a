#include "carving/BufferStorageDevice.h"
#include "carving/analysers/CompoundFile.h"
#include "carving/analysers/FileOLEAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "tests/carving/analysers/DocumentKit.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace testsupport;
using namespace dockit;

namespace {

const char* const kPython = "/usr/bin/python3"; // Debian's, where python3-olefile lives

std::string WriterScript() { return std::string(BRULIN_SOURCE_DIR) + "/tests/support/compound_writer.py"; }

// One compound file per document kind, with the kind's stream names (and class id where the
// application sets one), and the kind the directory must give.
struct KindCase {
    const char* file;
    const char* entries; // JSON list for the writer
    const char* clsid;   // root class id as stored (32 hex digits)
    int shift;
    std::uint32_t kind;
    std::uint64_t growth;
    const char* names; // the directory as olefile reads it back
};

#define SUMMARY "\\u0005SummaryInformation"
const KindCase kKinds[] = {
    {"word.doc",
     R"([{"name":"WordDocument","size":9000,"seed":1},{"name":"1Table","size":700,"seed":2},{"name":")" SUMMARY R"(","size":4096,"seed":3}])",
     "0609020000000000c000000000000046", 9, COMPOUND_DOC, 0,
     "WordDocument/1Table/\\x05SummaryInformation"},
    {"sheet.xls",
     R"([{"name":"Workbook","size":5000,"seed":4},{"name":")" SUMMARY R"(","size":300,"seed":5}])",
     "2008020000000000c000000000000046", 9, COMPOUND_XLS, 0, "Workbook/\\x05SummaryInformation"},
    {"sheet5.xls", R"([{"name":"Book","size":6000,"seed":6}])", "1008020000000000c000000000000046",
     9, COMPOUND_XLS, 0, "Book"},
    {"slides.ppt",
     R"([{"name":"PowerPoint Document","size":12000,"seed":7},{"name":"Current User","size":60,"seed":8}])",
     "108d81649b4fcf1186ea00aa00b929e8", 9, COMPOUND_PPT, 0, "PowerPoint Document/Current User"},
    {"pictures.ppt",
     R"([{"name":"Pictures","size":5000,"seed":9},{"name":"Current User","size":60,"seed":10},{"name":"PowerPoint Document","size":4500,"seed":11}])",
     "108d81649b4fcf1186ea00aa00b929e8", 9, COMPOUND_PPT, 0,
     "Pictures/Current User/PowerPoint Document"},
    {"old.ppt", R"([{"name":"PP40","size":5000,"seed":12}])", "", 9, COMPOUND_PPT, 0, "PP40"},
    {"scene.max",
     R"([{"name":"Scene","size":8000,"seed":13},{"name":"Config","size":900,"seed":14}])", "", 9,
     COMPOUND_MAX, 0, "Scene/Config"},
    {"drawing.vsd",
     R"([{"name":"VisioDocument","size":20000,"seed":15},{"name":")" SUMMARY R"(","size":300,"seed":16}])",
     "141a020000000000c000000000000046", 9, COMPOUND_VSD, 1024,
     "VisioDocument/\\x05SummaryInformation"},
    {"show.shw",
     R"([{"name":"PerfectOffice_MAIN","size":6000,"seed":17},{"name":"PerfectOffice_OBJECTS","type":"storage"},{"name":")" SUMMARY R"(","size":300,"seed":18}])",
     "", 9, COMPOUND_SHW, 0, "PerfectOffice_MAIN/PerfectOffice_OBJECTS/\\x05SummaryInformation"},
    {"graphic.wpg",
     R"([{"name":"PerfectOffice_MAIN","size":6000,"seed":19},{"name":"PerfectOffice_OBJECTS","type":"storage"},{"name":"Other","size":100,"seed":20}])",
     "", 9, COMPOUND_WPG, 0, "PerfectOffice_MAIN/PerfectOffice_OBJECTS/Other"},
    {"letter.wpd",
     R"([{"name":"PerfectOffice_MAIN","size":6000,"seed":21},{"name":"PerfectOffice_OBJECTS","type":"storage"},{"name":"Other","size":100,"seed":22}])",
     "c3a29a2d00000000c000000000000046", 9, COMPOUND_WPD, 0,
     "PerfectOffice_MAIN/PerfectOffice_OBJECTS/Other"},
    {"news.pub",
     R"([{"name":"Objects","type":"storage"},{"name":"Quill","type":"storage"},{"name":"Escher","type":"storage"},{"name":"Contents","size":5000,"seed":23}])",
     "0112020000000000c000000000000046", 9, COMPOUND_PUB, 0, "Objects/Quill/Escher/Contents"},
    {"book.qpw", R"([{"name":"NativeContent_MAIN","size":7000,"seed":24}])", "", 9, COMPOUND_QPW,
     0, "NativeContent_MAIN"},
    {"plan.mpp",
     R"([{"name":"\u0001CompObj","size":100,"seed":25},{"name":"   19","type":"storage"},{"name":"   29","type":"storage"},{"name":"Props","size":5000,"seed":26}])",
     "3a8fb774c8c8d111be1100c04fb6faf1", 9, COMPOUND_MPP, 0, "\\x01CompObj/   19/   29/Props"},
    {"project.adp",
     R"([{"name":"PropData","type":"storage"},{"name":"Forms","type":"storage"},{"name":"Reports","type":"storage"},{"name":"Data","size":5000,"seed":27}])",
     "", 9, COMPOUND_ADP, 0, "PropData/Forms/Reports/Data"},
    {"other.mof", R"([{"name":"Contents","size":5000,"seed":28},{"name":"Data","size":10,"seed":29}])",
     "", 9, COMPOUND_MOF, 0, "Contents/Data"},
    // A later rule wins: a workbook beside a Word stream, then a presentation beside both.
    {"mixed1",
     R"([{"name":"Workbook","size":5000,"seed":30},{"name":"WordDocument","size":5000,"seed":31}])",
     "", 9, COMPOUND_XLS, 0, "Workbook/WordDocument"},
    {"mixed2",
     R"([{"name":"Workbook","size":5000,"seed":32},{"name":"WordDocument","size":5000,"seed":33},{"name":"PowerPoint Document","size":5000,"seed":34}])",
     "", 9, COMPOUND_PPT, 0, "Workbook/WordDocument/PowerPoint Document"},
    // 4096-byte sectors.
    {"word4k.doc",
     R"([{"name":"WordDocument","size":30000,"seed":35},{"name":"1Table","size":700,"seed":36}])",
     "0609020000000000c000000000000046", 12, COMPOUND_DOC, 0, "WordDocument/1Table"},
    // More than 109 FAT sectors: the DIFAT chain lists the rest.
    {"big.doc",
     R"([{"name":"WordDocument","size":7600000,"seed":37},{"name":"1Table","size":700,"seed":38}])",
     "0609020000000000c000000000000046", 9, COMPOUND_DOC, 0, "WordDocument/1Table"},
};
#undef SUMMARY

std::string SpecJson() {
    std::ostringstream o;
    o << "[";
    bool first = true;
    for (const KindCase& k : kKinds) {
        o << (first ? "" : ",") << "{\"file\":\"" << k.file << "\",\"shift\":" << k.shift
          << ",\"root_clsid\":\"" << (*k.clsid ? k.clsid : "00000000000000000000000000000000")
          << "\",\"entries\":" << k.entries << "}";
        first = false;
    }
    o << "]";
    return o.str();
}

// The folder of compound files, written once per build tree.
std::string CompoundFolder() {
    return CachedFixture("compound-documents-1", [](const std::string& tmp) {
        if (!MustRun("mkdir -p " + ShellQuote(tmp)))
            return false;
        const std::string spec = SpecJson();
        if (!WriteFileBytes(tmp + "/spec.json", Bytes(spec.begin(), spec.end())))
            return false;
        return MustRun(std::string(kPython) + " " + ShellQuote(WriterScript()) + " " +
                       ShellQuote(tmp) + " " + ShellQuote(tmp + "/spec.json"));
    });
}

Bytes CompoundFile(const char* name) {
    const std::string dir = CompoundFolder();
    return dir.empty() ? Bytes() : ReadFileBytes(dir + "/" + name);
}

Carved CarveOle(const Bytes& file, const Bytes& tail = PatternBytes(3000, 9)) {
    FileOLEAnalyser a;
    return Carve(a, file, tail);
}

} // namespace

TEST(CompoundAnalyser, EveryKindIsToldApartAndSized) {
    const std::string dir = CompoundFolder();
    ASSERT_FALSE(dir.empty());
    // The independent reader agrees with the files the test support writes.
    std::string command = std::string(kPython) + " " + ShellQuote(WriterScript()) + " --check " +
                          ShellQuote(dir + "/spec.json");
    for (const KindCase& k : kKinds)
        command += " " + ShellQuote(dir + "/" + k.file);
    std::string out;
    ASSERT_TRUE(MustRun(command, &out));
    std::istringstream lines(out);
    for (const KindCase& k : kKinds) {
        SCOPED_TRACE(k.file);
        const Bytes file = CompoundFile(k.file);
        ASSERT_FALSE(file.empty());
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, std::to_string(file.size()) + " " + k.names + " ok");

        const Carved c = CarveOle(file);
        EXPECT_EQ(c.matched, 1);
        EXPECT_EQ(c.headerSize, 0u);
        EXPECT_EQ(c.result, 1);
        EXPECT_EQ(c.type, k.kind);
        EXPECT_EQ(c.size, file.size() + k.growth);
        EXPECT_EQ(IdentifyCompoundDocument(ByteSpan(file.data(), file.size())), k.kind);
    }
}

TEST(CompoundAnalyser, MatchRecordsTheGenericType) {
    FileOLEAnalyser a;
    EXPECT_EQ(a.GetTypeId(), 44);
    Bytes sector(512, 0x11);
    std::memcpy(sector.data(), kCompoundFileSignature, 8);
    CRawFileInfo r;
    EXPECT_EQ(a.MatchHeader(sector.data(), &r), 1);
    EXPECT_EQ(r.m_u32FileType, 44u);
    sector[7] = 0xE0;
    EXPECT_EQ(a.MatchHeader(sector.data(), &r), 0);
}

TEST(CompoundAnalyser, DamagedHeadersAreRejected) {
    const Bytes word = CompoundFile("word.doc"); // 31 sectors: FAT 0, directory 1, ...
    ASSERT_EQ(word.size(), 16384u);
    const std::uint32_t wordDocStart = Get32(word, 512 + 512 + 128 + 116);
    ASSERT_GE(wordDocStart, 2u);
    struct Case {
        const char* what;
        void (*damage)(Bytes&);
    };
    const Case cases[] = {
        {"no FAT sector", [](Bytes& b) { std::memset(b.data() + 76, 0xFF, 436); }},
        {"sector shift 8", [](Bytes& b) { Put16(b, 30, 8); }},
        {"sector shift 13", [](Bytes& b) { Put16(b, 30, 13); }},
        {"DIFAT beyond the limit", [](Bytes& b) { Put32(b, 68, 0x00FFFFFF); }},
        {"directory outside the file", [](Bytes& b) { Put32(b, 48, 500); }},
        {"directory number FREE", [](Bytes& b) { Put32(b, 48, 0xFFFFFFFF); }},
        {"first entry is no root", [](Bytes& b) { b[512 + 512 + 66] = 1; }},
        {"stream outside the file", [](Bytes& b) { Put32(b, 512 + 512 + 128 + 116, 4000); }},
        {"root mini stream outside", [](Bytes& b) { Put32(b, 512 + 512 + 116, 77); }},
        {"FAT sector number END", [](Bytes& b) { Put32(b, 76, 0xFFFFFFFE); }},
        {"FAT sector beyond the limit", [](Bytes& b) { Put32(b, 76, 0x7FFFFFF0); }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Bytes b = word;
        k.damage(b);
        const Carved c = CarveOle(b);
        EXPECT_EQ(c.matched, 1);
        EXPECT_EQ(c.result, 0);
        EXPECT_EQ(c.size, 0u);
        EXPECT_EQ(c.type, 44u); // a compound file that could not be sized keeps the generic id
        EXPECT_EQ(IdentifyCompoundDocument(ByteSpan(b.data(), b.size())), 0u);
    }
    // Cut short: the FAT sector is missing.
    const Bytes head(word.begin(), word.begin() + 512);
    EXPECT_EQ(CarveOle(head, {}).result, 0);
    EXPECT_EQ(IdentifyCompoundDocument(ByteSpan(head.data(), head.size())), 0u);
}

TEST(CompoundAnalyser, DifatChainThatLoopsIsRejected) {
    Bytes big = CompoundFile("big.doc");
    ASSERT_GT(big.size(), 7000000u);
    EXPECT_EQ(CarveOle(big).size, big.size());
    const std::uint32_t difat = Get32(big, 68);
    ASSERT_EQ(difat, 117u); // behind 117 FAT sectors
    const std::size_t nextSlot = (difat + 1) * 512 + 508;
    Put32(big, nextSlot, difat); // points back at itself
    EXPECT_EQ(CarveOle(big).result, 0);
    // A chain that leaves the limit is rejected too; one that ends properly is followed.
    Put32(big, nextSlot, 0xFFFFFFFE);
    {
        ScopedMaxRawFileSize limit(100 * 512);
        const Carved c = CarveOle(big);
        EXPECT_EQ(c.result, 0);
    }
    const Carved c = CarveOle(big);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.size, big.size());
}

TEST(CompoundAnalyser, SizeNeverExceedsTheLimit) {
    const Bytes word = CompoundFile("word4k.doc");
    ASSERT_FALSE(word.empty());
    ScopedMaxRawFileSize limit(word.size() - 4096);
    // The sectors the walk needs lie within the limit; the size is held to it.
    Bytes b = word;
    const Carved c = CarveOle(b);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.size, word.size() - 4096);
}

TEST(CompoundAnalyser, UnreadableDirectory) {
    const Bytes word = CompoundFile("word.doc");
    const std::uint32_t dir = Get32(word, 48);
    // On the device: a generic compound file of the FAT's size.
    testsupport::MemoryDevice dev(64);
    std::memcpy(dev.Sector(5), word.data(), word.size());
    dev.FailSector(5 + dir + 1);
    FileOLEAnalyser a;
    CRawFileInfo r;
    ASSERT_EQ(a.MatchHeader(dev.Sector(5), &r), 1);
    r.m_u64StartSector = 5;
    EXPECT_EQ(a.ComputeFileSize(&r, &dev), 1);
    EXPECT_EQ(r.m_u32FileType, COMPOUND_MOF);
    EXPECT_EQ(r.m_u64Size, word.size());

    // Larger than 10 MiB by its FAT: no size. The DIFAT sector lists 50 more FAT sectors (all
    // the full FAT sector 0), which makes the FAT describe 10.9 MB.
    Bytes big = CompoundFile("big.doc");
    const std::uint32_t difat = Get32(big, 68);
    for (int i = 0; i < 50; ++i)
        Put32(big, (difat + 1) * 512 + 4 * (8 + i), 0);
    testsupport::MemoryDevice dev2(2 + big.size() / 512 + 8);
    std::memcpy(dev2.Sector(1), big.data(), big.size());
    dev2.FailSector(1 + Get32(big, 48) + 1);
    CRawFileInfo r2;
    ASSERT_EQ(a.MatchHeader(dev2.Sector(1), &r2), 1);
    r2.m_u64StartSector = 1;
    EXPECT_EQ(a.ComputeFileSize(&r2, &dev2), 0);
    EXPECT_EQ(r2.m_u64Size, 0u);
    EXPECT_EQ(r2.m_u32FileType, COMPOUND_OLE);
    dev2.ClearFailures();
    EXPECT_EQ(a.ComputeFileSize(&r2, &dev2), 1);
    EXPECT_EQ(r2.m_u64Size, (166u * 128 + 128 + 1) * 512);
    EXPECT_EQ(r2.m_u32FileType, COMPOUND_DOC);
}

TEST(CompoundAnalyser, DirectoryOutsideTheRingGivesUp) {
    const Bytes word = CompoundFile("word.doc");
    ASSERT_EQ(Get32(word, 48), 1u); // the directory is the file's third 512-byte sector
    // The ring holds the header and the FAT sector only.
    CBufferStorageDevice ring;
    ASSERT_TRUE(ring.Setup(40, 2, 1));
    ASSERT_EQ(ring.AppendChunk(word.data()), 1);
    FileOLEAnalyser a;
    CRawFileInfo r;
    ASSERT_EQ(a.MatchHeader(word.data(), &r), 1);
    r.m_u64StartSector = 40;
    EXPECT_EQ(a.ComputeFileSize(&r, &ring), 0);
    EXPECT_EQ(r.m_u64Size, 0u);
    EXPECT_EQ(r.m_u32FileType, COMPOUND_OLE);
}
