#include "tests/support/DocumentFiles.h"

#include "carving/analysers/CompoundFile.h"
#include "tests/support/FixtureKit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace testsupport {

const char* const kDebianPython = "/usr/bin/python3";

std::string CompoundWriterScript() {
    return std::string(BRULIN_SOURCE_DIR) + "/tests/support/compound_writer.py";
}

namespace {

using Bytes = std::vector<std::uint8_t>;

#define SUMMARY "\\u0005SummaryInformation"
const std::vector<CompoundKindFile> kKinds = {
    {"word.doc",
     R"([{"name":"WordDocument","size":9000,"seed":1},{"name":"1Table","size":700,"seed":2},{"name":")" SUMMARY
     R"(","size":4096,"seed":3}])",
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
     R"([{"name":"VisioDocument","size":20000,"seed":15},{"name":")" SUMMARY
     R"(","size":300,"seed":16}])",
     "141a020000000000c000000000000046", 9, COMPOUND_VSD, 1024,
     "VisioDocument/\\x05SummaryInformation"},
    {"show.shw",
     R"([{"name":"PerfectOffice_MAIN","size":6000,"seed":17},{"name":"PerfectOffice_OBJECTS","type":"storage"},{"name":")" SUMMARY
     R"(","size":300,"seed":18}])",
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
    {"book.qpw", R"([{"name":"NativeContent_MAIN","size":7000,"seed":24}])", "", 9, COMPOUND_QPW, 0,
     "NativeContent_MAIN"},
    {"plan.mpp",
     R"([{"name":"\u0001CompObj","size":100,"seed":25},{"name":"   19","type":"storage"},{"name":"   29","type":"storage"},{"name":"Props","size":5000,"seed":26}])",
     "3a8fb774c8c8d111be1100c04fb6faf1", 9, COMPOUND_MPP, 0, "\\x01CompObj/   19/   29/Props"},
    {"project.adp",
     R"([{"name":"PropData","type":"storage"},{"name":"Forms","type":"storage"},{"name":"Reports","type":"storage"},{"name":"Data","size":5000,"seed":27}])",
     "", 9, COMPOUND_ADP, 0, "PropData/Forms/Reports/Data"},
    {"other.mof",
     R"([{"name":"Contents","size":5000,"seed":28},{"name":"Data","size":10,"seed":29}])", "", 9,
     COMPOUND_MOF, 0, "Contents/Data"},
    // A later rule wins: a workbook beside a Word stream, then a presentation beside both.
    {"mixed1",
     R"([{"name":"Workbook","size":5000,"seed":30},{"name":"WordDocument","size":5000,"seed":31}])",
     "", 9, COMPOUND_XLS, 0, "Workbook/WordDocument"},
    {"mixed2",
     R"([{"name":"Workbook","size":5000,"seed":32},{"name":"WordDocument","size":5000,"seed":33},{"name":"PowerPoint Document","size":5000,"seed":34}])",
     "", 9, COMPOUND_PPT, 0, "Workbook/WordDocument/PowerPoint Document"},
    // The document stream behind the first directory sector, as LibreOffice writes them.
    {"late.doc",
     R"([{"name":"\u0001CompObj","size":100,"seed":39},{"name":"\u0005DocumentSummaryInformation","size":300,"seed":40},{"name":")" SUMMARY
     R"(","size":300,"seed":41},{"name":"1Table","size":800,"seed":42},{"name":"Data","size":200,"seed":43},{"name":"WordDocument","size":6000,"seed":44}])",
     "0609020000000000c000000000000046", 9, COMPOUND_DOC, 0,
     "\\x01CompObj/\\x05DocumentSummaryInformation/\\x05SummaryInformation/1Table/Data/WordDocument"},
    {"late.ppt",
     R"([{"name":"\u0001CompObj","size":100,"seed":45},{"name":"\u0005DocumentSummaryInformation","size":300,"seed":46},{"name":")" SUMMARY
     R"(","size":300,"seed":47},{"name":"Current User","size":60,"seed":48},{"name":"Pictures","size":100,"seed":49},{"name":"PowerPoint Document","size":7000,"seed":50}])",
     "108d81649b4fcf1186ea00aa00b929e8", 9, COMPOUND_PPT, 0,
     "\\x01CompObj/\\x05DocumentSummaryInformation/\\x05SummaryInformation/Current User/Pictures/PowerPoint Document"},
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

std::string RecipeJson() {
    std::ostringstream o;
    o << "[";
    bool first = true;
    for (const CompoundKindFile& k : kKinds) {
        o << (first ? "" : ",") << "{\"file\":\"" << k.file << "\",\"shift\":" << k.shift
          << ",\"root_clsid\":\"" << (*k.clsid ? k.clsid : "00000000000000000000000000000000")
          << "\",\"entries\":" << k.entries << "}";
        first = false;
    }
    o << "]";
    return o.str();
}

} // namespace

const std::vector<CompoundKindFile>& CompoundKindFiles() {
    return kKinds;
}

std::string CompoundDocumentFolder() {
    return CachedFixture("compound-documents-2", [](const std::string& tmp) {
        std::filesystem::create_directories(tmp);
        const std::string recipe = RecipeJson();
        if (!WriteFileBytes(tmp + "/recipe.json", Bytes(recipe.begin(), recipe.end())))
            return false;
        return MustRun(std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) + " " +
                       ShellQuote(tmp) + " " + ShellQuote(tmp + "/recipe.json"));
    });
}

namespace {

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// Appends a revision that adds an Info dictionary: object 99, an xref section for it and a
// trailer whose /Prev is the first revision's xref.
bool AppendRevision(std::string& pdf) {
    const std::size_t sx = pdf.rfind("startxref");
    const std::size_t root = pdf.rfind("/Root ");
    if (sx == std::string::npos || root == std::string::npos)
        return false;
    const long prev = std::strtol(pdf.c_str() + sx + 9, nullptr, 10);
    const std::size_t rootEnd = pdf.find(" R", root);
    if (prev <= 0 || rootEnd == std::string::npos)
        return false;
    const std::string rootRef = pdf.substr(root + 6, rootEnd + 2 - (root + 6));
    const std::size_t object = pdf.size();
    pdf += "99 0 obj\n<< /Title (Second revision) /Producer (carving test) >>\nendobj\n";
    const std::size_t xref = pdf.size();
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", object);
    pdf += "xref\n99 1\n" + std::string(entry) + "trailer\n<< /Size 100 /Root " + rootRef +
           " /Info 99 0 R /Prev " + std::to_string(prev) + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return true;
}

} // namespace

std::string UpdatedPdfFile() {
    return CachedFixture("updated.pdf", [](const std::string& tmp) {
        if (!RequireTool("gs"))
            return false;
        const std::string dir = ScratchDir("pdf");
        const std::string ps = "%!PS\n/Helvetica findfont 20 scalefont setfont\n"
                               "72 720 moveto (Carved page one) show showpage\n"
                               "72 720 moveto (Carved page two) show showpage\n";
        if (!WriteFileBytes(dir + "/in.ps", Bytes(ps.begin(), ps.end())) ||
            !MustRun("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile=" +
                     ShellQuote(dir + "/first.pdf") + " " + ShellQuote(dir + "/in.ps")))
            return false;
        std::string pdf = Text(ReadFileBytes(dir + "/first.pdf"));
        if (pdf.empty() || !AppendRevision(pdf) ||
            !WriteFileBytes(tmp, Bytes(pdf.begin(), pdf.end())))
            return false;
        std::string out;
        if (!MustRun("gs -q -dNOPAUSE -dBATCH -dSAFER -dPDFSTOPONERROR -sDEVICE=nullpage " +
                         ShellQuote(tmp),
                     &out))
            return false;
        if (!out.empty()) {
            ADD_FAILURE() << "ghostscript complained about the updated PDF: " << out;
            return false;
        }
        return true;
    });
}

std::string ChmFile() {
    return CachedFixture("help.chm", [](const std::string& tmp) {
        if (!RequireTool("chmcmd"))
            return false;
        const std::string dir = ScratchDir("chm");
        const std::string project =
            "[OPTIONS]\nCompiled file=help.chm\nDefault topic=index.html\n"
            "Title=Carving test\n\n[FILES]\nindex.html\nsecond.html\nthird.html\n";
        const char* pages[] = {"index.html", "second.html", "third.html"};
        WriteFileBytes(dir + "/help.hhp", Bytes(project.begin(), project.end()));
        for (int i = 0; i < 3; ++i) {
            std::string page =
                "<html><head><title>Page " + std::to_string(i) + "</title></head><body>";
            for (int j = 0; j < 200 * (i + 1); ++j)
                page += "<p>Line " + std::to_string(j) + " of page " + std::to_string(i) + "</p>\n";
            page += "</body></html>\n";
            WriteFileBytes(dir + "/" + pages[i], Bytes(page.begin(), page.end()));
        }
        if (!MustRun("cd " + ShellQuote(dir) + " && chmcmd help.hhp"))
            return false;
        std::error_code ec;
        std::filesystem::copy_file(dir + "/help.chm", tmp, ec);
        return !ec;
    });
}

std::string AccessDatabaseFile() {
    return CachedFixture("jet4.mdb", [](const std::string& tmp) {
        if (!RequireTool("mdb-ver"))
            return false;
        constexpr std::size_t kPage = 4096;
        Bytes b = PatternBytes(kPage * 6, 37);
        const std::uint8_t magic[20] = {0x00, 0x01, 0x00, 0x00, 'S', 't', 'a', 'n', 'd', 'a',
                                        'r',  'd',  ' ',  'J',  'e', 't', ' ', 'D', 'B', 0x00};
        std::copy(magic, magic + 20, b.begin());
        b[20] = 1; // Jet 4
        const std::uint8_t types[] = {0x01, 0x02, 0x05, 0x04,
                                      0x81}; // data, table, usage, leaf, >= 0x80
        for (std::size_t i = 0; i < sizeof types; ++i)
            b[kPage * (i + 1)] = types[i];
        if (!WriteFileBytes(tmp, b))
            return false;
        std::string out;
        if (!MustRun("mdb-ver " + ShellQuote(tmp), &out))
            return false;
        if (out.find("JET4") == std::string::npos) {
            ADD_FAILURE() << "mdb-ver: " << out;
            return false;
        }
        return true;
    });
}

} // namespace testsupport
