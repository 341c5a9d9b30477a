// Carving documents end to end: compound files of every kind, a PDF with an incremental
// update, a compiled help file, an Access database, text files and hand-made headers of the
// formats no Debian tool writes are planted in an image of random data; the RAW search finds
// them, sizes what it can from its ring, the RAW tree sizes and names the rest, and recovery
// writes each file out byte for byte.
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Planted {
    std::string name;
    Bytes bytes;
    std::uint32_t analyserType; // the analyser that must take the first sector
    std::uint32_t type;         // the file type it must come out as
    std::uint64_t growth = 0;   // bytes the analyser takes behind the file
    Bytes tail;                 // written right behind the file (zeros follow)
    std::uint64_t sector = 0;
};

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A file of `size` pattern bytes starting with `head`.
Bytes Headed(std::size_t size, std::uint32_t seed, const Bytes& head, std::size_t at = 0) {
    Bytes b = PatternBytes(size, seed);
    std::copy(head.begin(), head.end(), b.begin() + at);
    return b;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::vector<Planted> Files() {
    std::vector<Planted> out;
    const std::string folder = CompoundDocumentFolder();
    for (const CompoundKindFile& k : CompoundKindFiles())
        out.push_back({k.file, ReadFileBytes(folder + "/" + k.file), 44, k.kind, k.growth, {}});
    out.push_back({"updated.pdf", ReadFileBytes(UpdatedPdfFile()), 46, 46, 0, {}});
    out.push_back({"help.chm", ReadFileBytes(ChmFile()), 12, 12, 0, {}});
    // The page behind the database starts with a byte no page type has.
    out.push_back({"jet4.mdb", ReadFileBytes(AccessDatabaseFile()), 37, 37, 0, {0x7F}});

    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n";
    for (int i = 0; i < 600; ++i)
        rtf +=
            "{\\pard Paragraph " + std::to_string(i) + " with \\{braces\\} and {\\b bold}\\par}\n";
    rtf += "}";
    out.push_back({"letter.rtf", Text(rtf), 56, 56, 0, {}});
    std::string html = "<!DOCTYPE html>\n<html>\n<body>\n";
    for (int i = 0; i < 900; ++i)
        html += "<p>Line " + std::to_string(i) + " caf\xC3\xA9</p>\n";
    html += "</body>\n</html>";
    out.push_back({"page.html", Text(html), 31, 31, 0, {}});
    Bytes wide = {0xFF, 0xFE};
    for (char c : std::string("<html><body>\r\n") + std::string(3000, 'w') + "</body></HTML>\n") {
        wide.push_back(static_cast<std::uint8_t>(c));
        wide.push_back(0);
    }
    out.push_back({"wide.html", wide, 31, 31, 0, {}});

    Bytes word2 = Headed(12288, 1, {0xDB, 0xA5, 0x2D, 0x00});
    Put32(word2, 292, 11000);
    word2[296] = 0xE8; // 1000 bytes behind the text, rounded up to the page: 12288
    word2[297] = 0x03;
    out.push_back({"word2.doc", word2, 21, 21, 0, {}});
    Bytes wpd = Headed(20000, 2, {0xFF, 'W', 'P', 'C'});
    Put32(wpd, 8, 0x01020A01);
    Put32(wpd, 14, 0x00050200);
    Put32(wpd, 20, 20000);
    out.push_back({"letter6.wpd", wpd, 64, 64, 0, {}});
    out.push_back({"notes.one",
                   Headed(0x100000, 3,
                          {0xE4, 0x52, 0x5C, 0x7B, 0x8C, 0xD8, 0xA7, 0x4D, 0xAE, 0xB1, 0x53, 0x78,
                           0xD0, 0x29, 0x96, 0xD3}),
                   45,
                   45,
                   0,
                   {}});
    Bytes pst = Headed(300000, 4, Text("!BDN"));
    pst[10] = 23; // Unicode store: the 64-bit end at 184
    Put32(pst, 184, 300000);
    Put32(pst, 188, 0);
    out.push_back({"mail.pst", pst, 52, 52, 0, {}});
    out.push_back({"money.mny", Headed(0x100000, 5, Text("MSISAM Database"), 4), 38, 38, 0, {}});
    Bytes dbx = Headed(50000, 6,
                       {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F, 0x66, 0xE3, 0xD1, 0x11,
                        0x9A, 0x4E, 0x00, 0xC0});
    Put32(dbx, 124, 50000);
    out.push_back({"inbox.dbx", dbx, 19, 19, 0, {}});
    Bytes hlp = Headed(40000, 7, {0x3F, 0x5F, 0x03, 0x00});
    Put32(hlp, 4, 0x400);
    Put32(hlp, 12, 40000);
    out.push_back({"manual.hlp", hlp, 30, 30, 0, {}});
    return out;
}

constexpr std::uint64_t kImageBytes = 24ull << 20;

// Files whose copies also lie within the image's last 20 chunks, where the search cannot size
// them from its ring: the RAW tree sizes them on the image.
const char* const kLateCopies[] = {"word.doc",  "drawing.vsd", "updated.pdf", "letter.rtf",
                                   "page.html", "wide.html",   "jet4.mdb"};
constexpr std::uint64_t kLateStart = 40000;

// Lays the files out one behind the other from sector 4096 (the late copies from sector
// 40000), each followed by its tail and at least 1 KiB of zeros, with random data between.
std::vector<Planted> Layout() {
    std::vector<Planted> files = Files();
    for (const char* name : kLateCopies)
        for (std::size_t i = 0; i < files.size(); ++i)
            if (files[i].name == name) {
                Planted copy = files[i];
                copy.name += " (late)";
                files.push_back(copy);
                break;
            }
    std::uint64_t cursor = 4096;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].name.find("(late)") != std::string::npos && cursor < kLateStart)
            cursor = kLateStart;
        files[i].sector = cursor;
        const std::uint64_t end =
            cursor * 512 + files[i].bytes.size() + files[i].tail.size() + 1024;
        cursor = (end + 511) / 512 + 3 + i % 5;
    }
    return files;
}

std::string ImagePath(const std::vector<Planted>& files) {
    return CachedFixture("carving-documents-image-2.bin", [&](const std::string& tmp) {
        Bytes image = PatternBytes(kImageBytes, 77);
        std::memset(image.data(), 0, 1 << 20);
        for (const Planted& p : files) {
            const std::uint64_t at = p.sector * 512;
            const std::uint64_t zeroed = p.bytes.size() + p.tail.size() + 1024;
            if (p.bytes.empty() || at + zeroed > image.size())
                return false;
            std::memset(image.data() + at, 0, zeroed);
            std::memcpy(image.data() + at, p.bytes.data(), p.bytes.size());
            if (!p.tail.empty())
                std::memcpy(image.data() + at + p.bytes.size(), p.tail.data(), p.tail.size());
        }
        return WriteFileBytes(tmp, image);
    });
}

// Every file under `dir`, by content.
std::multiset<Bytes> FilesUnder(const std::string& dir) {
    std::multiset<Bytes> out;
    if (!std::filesystem::exists(dir))
        return out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out.insert(ReadFileBytes(e.path().string()));
    return out;
}

} // namespace

TEST(RealDocumentCarving, CarvesSizesAndRecoversPlantedFiles) {
    const std::vector<Planted> planted = Layout();
    for (const Planted& p : planted)
        ASSERT_FALSE(p.bytes.empty()) << p.name;
    const std::string imagePath = ImagePath(planted);
    ASSERT_FALSE(imagePath.empty());

    GetScanOptions().SetDefaults();
    CImageFileDevice device(imagePath.c_str());
    ASSERT_EQ(device.Open(), 1);
    CRawFileList list;
    RunRawSearch(device, list, 1000);

    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        const CRawFileInfo* r = list.FindAtSector(p.sector);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->m_u32AnalyserType, p.analyserType);
        // Sized from the header or the ring, or left for the tree.
        if (p.sector >= kLateStart) {
            EXPECT_EQ(r->m_u64Size, 0u);
        }
        if (r->m_u64Size != 0) {
            EXPECT_EQ(r->m_u64Size, p.bytes.size() + p.growth);
            EXPECT_EQ(r->m_u32FileType, p.type);
        }
    }

    CRawFileTreeBuilder builder;
    TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 1));
    ASSERT_TRUE(root);
    ToggleCheckState(root.get(), false);
    const std::string out = ScratchDir("carved-documents");
    RecoverFolderJob job;
    std::string made;
    ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
    EXPECT_EQ(job.result, kRecoverDone);

    std::map<std::uint32_t, std::multiset<Bytes>> recovered;
    std::map<std::uint32_t, std::multiset<Bytes>> expectedByType;
    for (const Planted& p : planted) {
        Bytes expected = p.bytes;
        expected.resize(expected.size() + p.growth, 0);
        expectedByType[p.type].insert(expected);
    }
    for (const Planted& p : planted) {
        SCOPED_TRACE(p.name);
        if (!recovered.count(p.type))
            recovered[p.type] = FilesUnder(made + "/" + GetRawFileTypeDescription(p.type));
        Bytes expected = p.bytes;
        expected.resize(expected.size() + p.growth, 0); // the zeros behind a Visio drawing
        EXPECT_EQ(recovered[p.type].count(expected), expectedByType[p.type].count(expected))
            << "not recovered as " << GetRawFileTypeDescription(p.type);
    }
}
