#include "carving/BufferStorageDevice.h"
#include "carving/analysers/CompoundFile.h"
#include "carving/analysers/FileOLEAnalyser.h"
#include "carving/analysers/RawFileReader.h"
#include "tests/carving/analysers/DocumentKit.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>

using namespace testsupport;
using namespace dockit;

namespace {

Bytes CompoundFile(const char* name) {
    const std::string dir = CompoundDocumentFolder();
    return dir.empty() ? Bytes() : ReadFileBytes(dir + "/" + name);
}

Carved CarveOle(const Bytes& file, const Bytes& tail = PatternBytes(3000, 9)) {
    FileOLEAnalyser a;
    return Carve(a, file, tail);
}

} // namespace

TEST(CompoundAnalyser, EveryKindIsToldApartAndSized) {
    const std::string dir = CompoundDocumentFolder();
    ASSERT_FALSE(dir.empty());
    // The independent reader agrees with the files the test support writes.
    std::string command = std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) +
                          " --check " + ShellQuote(dir + "/recipe.json");
    for (const CompoundKindFile& k : CompoundKindFiles())
        command += " " + ShellQuote(dir + "/" + k.file);
    std::string out;
    ASSERT_TRUE(MustRun(command, &out));
    std::istringstream lines(out);
    for (const CompoundKindFile& k : CompoundKindFiles()) {
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

TEST(CompoundAnalyser, SizeBeyondTheLimitIsTheSizeTheFileClaims) {
    const Bytes word = CompoundFile("word4k.doc");
    ASSERT_FALSE(word.empty());
    ScopedMaxRawFileSize limit(word.size() - 4096);
    // The sectors the walk needs lie within the limit; the file claims its whole size, which
    // the RAW tree cuts at the limit (and recovery does not count as recovered).
    Bytes b = word;
    const Carved c = CarveOle(b);
    EXPECT_EQ(c.result, 1);
    EXPECT_EQ(c.size, word.size());
}

// The last FAT sector tells how far the file reaches, also where it lies beyond the limit (the
// file is then larger than the limit and claims its size); only where it cannot be read is it
// taken as full.
TEST(CompoundAnalyser, LastFatSectorBeyondTheLimit) {
    const Bytes word = CompoundFile("word.doc");
    ASSERT_FALSE(word.empty());
    ASSERT_EQ(Get32(word, 76), 0u); // one FAT sector, the file's first, at bytes 512 to 1023
    ASSERT_EQ(Get32(word, 44), 1u);
    ScopedMaxRawFileSize limit(1000);
    const struct {
        const char* what;
        bool fails;
        std::uint64_t size;
    } cases[] = {
        {"readable", false, word.size()},
        {"unreadable", true, (128u + 1) * 512}, // all 128 entries taken as used
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::MemoryDevice dev(8 + word.size() / 512 + 8);
        std::memcpy(dev.Sector(8), word.data(), word.size());
        if (c.fails)
            dev.FailSector(9);
        FileOLEAnalyser a;
        CRawFileInfo r;
        ASSERT_EQ(a.MatchHeader(dev.Sector(8), &r), 1);
        r.m_u64StartSector = 8;
        EXPECT_EQ(a.ComputeFileSize(&r, &dev), 1);
        EXPECT_EQ(r.m_u64Size, c.size);
        if (!c.fails) { // without the FAT the directory's other sectors are not followed
            EXPECT_EQ(r.m_u32FileType, COMPOUND_DOC);
        }
    }
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
