// Files inside a carved file: a tar holding tars and a JPEG, made by tar and cjpeg, is carved
// once as a whole, its member tars are not carved again as archives of their own, and the JPEG
// inside it is still found; whether the outer archive is sized from the search's ring or later
// by the RAW tree. So is a Word document holding another one in a stream.
//
// A compound header that claims far more than the largest carved size (109 FAT sectors of 4096
// bytes listed) covers only what the tree keeps of it: the Word documents behind that, on the
// same image, are found and recovered as they are without the header.
#include "carving/IntelligentSearch.h"
#include "carving/RAWFileProperties.h"
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/analysers/CompoundFile.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/DocumentFiles.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

const char kScript[] = R"SH(set -e
convert -size 120x90 gradient:red-blue bmp3:photo.bmp
cjpeg -quality 80 -outfile photo.jpg photo.bmp
rm photo.bmp
mkdir -p a b c
seq 1 3000 > a/numbers.txt
seq 5000 9000 > b/more.txt
seq 100 900 > c/alone.txt
tar --format=ustar --owner=0 --group=0 --mtime=@1000000 -cf inner1.tar -C a numbers.txt
tar --format=ustar --owner=0 --group=0 --mtime=@1000000 -cf inner2.tar -C b more.txt
tar --format=ustar --owner=0 --group=0 --mtime=@1000000 -cf outer.tar inner1.tar photo.jpg inner2.tar
tar --format=ustar --owner=0 --group=0 --mtime=@1000000 -cf alone.tar -C c alone.txt
rm -rf a b c
)SH";

std::string Folder() {
    return CachedFixture("nested-tars-1", [](const std::string& tmp) {
        return MustRun("mkdir -p " + ShellQuote(tmp) + " && cd " + ShellQuote(tmp) + " && " +
                       std::string("/bin/sh -c ") + ShellQuote(kScript));
    });
}

constexpr std::uint64_t kOuterSector = 301, kAloneGap = 7;
constexpr std::uint64_t kImageBytes = 4ull << 20;

// Writes the compound files of `recipe` (a JSON list for the compound writer) into `dir` and
// reads each of `files` back with olefile: every stream as written.
bool WriteCompoundFiles(const std::string& dir, const std::string& recipe,
                        const std::vector<std::string>& files) {
    std::filesystem::create_directories(dir);
    const std::string recipePath = dir + "/recipe.json";
    if (!WriteFileBytes(recipePath, Bytes(recipe.begin(), recipe.end())) ||
        !MustRun(std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) + " " +
                 ShellQuote(dir) + " " + ShellQuote(recipePath)))
        return false;
    for (const std::string& file : files) {
        std::string out;
        if (!MustRun(std::string(kDebianPython) + " " + ShellQuote(CompoundWriterScript()) +
                         " --check " + ShellQuote(recipePath) + " " + ShellQuote(dir + "/" + file),
                     &out) ||
            out.find(" ok") == std::string::npos) {
            ADD_FAILURE() << file << ": " << out;
            return false;
        }
    }
    return true;
}

// Puts `file` at byte `at` of the sparse image `image` (dd).
bool PlaceAt(const std::string& file, std::uint64_t at, const std::string& image) {
    return MustRun("dd if=" + ShellQuote(file) + " of=" + ShellQuote(image) + " bs=512 seek=" +
                   std::to_string(at / 512) + " conv=sparse,notrunc status=none");
}

// The files recovered under `dir`, by name (relative to it), with their bytes.
std::map<std::string, Bytes> Recovered(const std::string& dir) {
    std::map<std::string, Bytes> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        if (e.is_regular_file())
            out[std::filesystem::relative(e.path(), dir).string()] = ReadFileBytes(e.path().string());
    return out;
}

// Offset of `part` inside `whole`, or npos.
std::size_t Find(const Bytes& whole, const Bytes& part) {
    auto it = std::search(whole.begin(), whole.end(), part.begin(), part.end());
    return it == whole.end() ? std::string::npos : static_cast<std::size_t>(it - whole.begin());
}

} // namespace

TEST(NestedFilesCarving, MembersOfASizedArchiveAreNotArchivesOfTheirOwn) {
    for (const char* tool : {"tar", "cjpeg", "convert"})
        ASSERT_TRUE(RequireTool(tool));
    const std::string dir = Folder();
    ASSERT_FALSE(dir.empty());
    const Bytes outer = ReadFileBytes(dir + "/outer.tar");
    const Bytes alone = ReadFileBytes(dir + "/alone.tar");
    const Bytes photo = ReadFileBytes(dir + "/photo.jpg");
    ASSERT_FALSE(outer.empty() || alone.empty() || photo.empty());
    const std::size_t photoAt = Find(outer, photo);
    ASSERT_NE(photoAt, std::string::npos);
    ASSERT_EQ(photoAt % 512, 0u);
    const std::uint64_t aloneSector = kOuterSector + outer.size() / 512 + kAloneGap;

    const std::string imagePath = CachedFixture("nested-tars-image-1.bin", [&](const std::string& tmp) {
        Bytes image = PatternBytes(kImageBytes, 77);
        std::memset(image.data(), 0, 32 * 512);
        std::memcpy(image.data() + kOuterSector * 512, outer.data(), outer.size());
        std::memcpy(image.data() + aloneSector * 512, alone.data(), alone.size());
        return WriteFileBytes(tmp, image);
    });
    ASSERT_FALSE(imagePath.empty());
    const std::map<std::uint64_t, std::pair<std::uint32_t, const Bytes*>> wanted = {
        {kOuterSector, {59, &outer}},
        {kOuterSector + photoAt / 512, {33, &photo}},
        {aloneSector, {59, &alone}},
    };

    // With 64-sector chunks the ring holds the whole archive and sizes it during the search;
    // with 2-sector chunks it cannot, and the tree sizes it on the image.
    for (std::uint32_t step : {64u, 2u}) {
        SCOPED_TRACE(step);
        GetScanOptions().SetDefaults();
        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);
        CRawFileList list;
        const IntelligentSearchStats stats = RunRawSearch(device, list, step);

        for (const auto& [sector, file] : wanted) {
            const CRawFileInfo* r = list.FindAtSector(sector);
            ASSERT_NE(r, nullptr) << sector;
            EXPECT_EQ(r->m_u32FileType, file.first);
        }
        if (step == 64) {
            // Sized in the ring: the members' headers left the list at once.
            EXPECT_EQ(list.Size(), wanted.size());
            EXPECT_EQ(stats.counters[ISS_FilesIdentified], wanted.size());
        }

        CRawFileTreeBuilder builder;
        TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 1));
        ASSERT_TRUE(root);
        ToggleCheckState(root.get(), false);
        const std::string out = ScratchDir("carved-nested-" + std::to_string(step));
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
        EXPECT_EQ(job.result, kRecoverDone);

        std::map<std::string, std::vector<Bytes>> byFolder;
        for (const auto& e : std::filesystem::recursive_directory_iterator(made))
            if (e.is_regular_file())
                byFolder[e.path().parent_path().filename().string()].push_back(
                    ReadFileBytes(e.path().string()));
        const auto& tars = byFolder[GetRawFileTypeDescription(59)];
        const auto& jpegs = byFolder[GetRawFileTypeDescription(33)];
        ASSERT_EQ(tars.size(), 2u);
        EXPECT_TRUE((tars[0] == outer && tars[1] == alone) || (tars[1] == outer && tars[0] == alone));
        ASSERT_EQ(jpegs.size(), 1u);
        EXPECT_TRUE(jpegs[0] == photo);
        EXPECT_EQ(byFolder.size(), 2u); // nothing else out of the random bytes
    }
}

TEST(NestedFilesCarving, ACompoundFileHoldingAnEmbeddedDocumentIsOneFile) {
    // inner.doc is stored whole as a stream of outer.doc, in sectors of its own: its header
    // starts a sector of the image, inside outer.doc.
    const std::string dir = CachedFixture("nested-compound-1", [](const std::string& tmp) {
        return WriteCompoundFiles(
            tmp,
            R"([{"file":"inner.doc","shift":9,"root_clsid":"0609020000000000c000000000000046",)"
            R"("entries":[{"name":"WordDocument","size":20000,"seed":81},{"name":"1Table","size":5000,"seed":82}]},)"
            R"({"file":"outer.doc","shift":9,"root_clsid":"0609020000000000c000000000000046",)"
            R"("entries":[{"name":"WordDocument","size":30000,"seed":83},{"name":"1Table","size":5000,"seed":84},)"
            R"({"name":"Package","from":"inner.doc"}]}])",
            {"inner.doc", "outer.doc"});
    });
    ASSERT_FALSE(dir.empty());
    const Bytes outer = ReadFileBytes(dir + "/outer.doc");
    const Bytes inner = ReadFileBytes(dir + "/inner.doc");
    const std::size_t innerAt = Find(outer, inner);
    ASSERT_NE(innerAt, std::string::npos);
    ASSERT_EQ(innerAt % 512, 0u);
    constexpr std::uint64_t kOuterAt = 301;
    const std::string imagePath = CachedFixture("nested-compound-image-1.bin", [&](const std::string& tmp) {
        return MustRun("truncate -s 4M " + ShellQuote(tmp)) &&
               PlaceAt(dir + "/outer.doc", kOuterAt * 512, tmp);
    });
    ASSERT_FALSE(imagePath.empty());

    // With 64-sector chunks the search sizes outer.doc in its ring; with 2-sector chunks the
    // tree sizes it on the image.
    for (std::uint32_t step : {64u, 2u}) {
        SCOPED_TRACE(step);
        GetScanOptions().SetDefaults();
        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);
        CRawFileList list;
        RunRawSearch(device, list, step);
        ASSERT_NE(list.FindAtSector(kOuterAt), nullptr);
        if (step == 64) {
            EXPECT_EQ(list.Size(), 1u);
            EXPECT_EQ(list.FindAtSector(kOuterAt)->m_u32FileType, COMPOUND_DOC);
        }

        CRawFileTreeBuilder builder;
        TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 0));
        ASSERT_TRUE(root);
        EXPECT_EQ(builder.GetTypeCount(COMPOUND_DOC), 1);
        ToggleCheckState(root.get(), false);
        const std::string out = ScratchDir("carved-nested-compound-" + std::to_string(step));
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
        EXPECT_EQ(job.result, kRecoverDone);
        const std::map<std::string, Bytes> files = Recovered(made);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(files.begin()->second == outer) << files.begin()->first;
    }
}

TEST(NestedFilesCarving, AHeaderClaimingBeyondTheLargestCarvedSizeHidesNoDocumentBehindIt) {
    ASSERT_TRUE(RequireTool("dd"));
    ASSERT_TRUE(RequireTool("truncate"));
    // Two Word documents, and a small one of 4096-byte sectors whose header then lists its one
    // FAT sector 109 times: the FAT seems to describe 108 full FAT sectors more than the file
    // has, some 450 MB, and the directory still names a Word document.
    const std::string dir = CachedFixture("compound-claims-beyond-limit-1", [](const std::string& tmp) {
        if (!WriteCompoundFiles(
                tmp,
                R"([{"file":"first.doc","shift":9,"root_clsid":"0609020000000000c000000000000046",)"
                R"("entries":[{"name":"WordDocument","size":300000,"seed":91},{"name":"1Table","size":5000,"seed":92}]},)"
                R"({"file":"second.doc","shift":9,"root_clsid":"0609020000000000c000000000000046",)"
                R"("entries":[{"name":"WordDocument","size":200000,"seed":93},{"name":"1Table","size":7000,"seed":94}]},)"
                R"({"file":"small.doc","shift":12,"root_clsid":"0609020000000000c000000000000046",)"
                R"("entries":[{"name":"WordDocument","size":9000,"seed":95},{"name":"1Table","size":5000,"seed":96}]}])",
                {"first.doc", "second.doc", "small.doc"}))
            return false;
        Bytes header = ReadFileBytes(tmp + "/small.doc");
        if (header.size() < 2 * 4096)
            return false;
        const auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int i = 0; i < 4; ++i)
                header[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        };
        const std::uint32_t fatSector = header[76] | header[77] << 8 | header[78] << 16 | header[79] << 24;
        put32(44, 109); // FAT sectors
        for (std::size_t i = 0; i < 109; ++i)
            put32(76 + 4 * i, fatSector);
        return WriteFileBytes(tmp + "/crafted.doc", header);
    });
    ASSERT_FALSE(dir.empty());
    const Bytes first = ReadFileBytes(dir + "/first.doc");
    const Bytes second = ReadFileBytes(dir + "/second.doc");
    const Bytes crafted = ReadFileBytes(dir + "/crafted.doc");
    // The file ends with its last sector in use: the last FAT sector listed describes it, and
    // the 108 before count as full.
    const std::uint64_t claimed = 108ull * 1024 * 4096 + crafted.size();

    GetScanOptions().SetDefaults();
    const std::uint64_t limit = GetScanOptions().MaxRawFileSize;
    constexpr std::uint64_t kCraftedSector = 8, kImageBytes = 64ull << 20;
    constexpr std::uint64_t kFirstAt = 56ull << 20, kSecondAt = 60ull << 20;
    ASSERT_GT(kFirstAt, kCraftedSector * 512 + limit);
    ASSERT_GT(claimed, kImageBytes);

    for (const bool withHeader : {true, false}) {
        SCOPED_TRACE(withHeader ? "with the header" : "without the header");
        const std::string imagePath = CachedFixture(
            std::string("compound-claims-beyond-limit-") + (withHeader ? "with" : "without") + "-1.img",
            [&](const std::string& tmp) {
                return MustRun("truncate -s " + std::to_string(kImageBytes) + " " + ShellQuote(tmp)) &&
                       (!withHeader || PlaceAt(dir + "/crafted.doc", kCraftedSector * 512, tmp)) &&
                       PlaceAt(dir + "/first.doc", kFirstAt, tmp) &&
                       PlaceAt(dir + "/second.doc", kSecondAt, tmp);
            });
        ASSERT_FALSE(imagePath.empty());
        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);

        // The whole deep scan, with the RAW search alone.
        CRawFileList list;
        {
            CRAWSearchController raw;
            raw.SetResultSink(&list);
            CIntelligentSearchController search;
            search.SetDevice(&device);
            search.AddController(&raw);
            ASSERT_EQ(search.Search(nullptr), 1);
        }
        EXPECT_NE(list.FindAtSector(kFirstAt / 512), nullptr);
        EXPECT_NE(list.FindAtSector(kSecondAt / 512), nullptr);
        const CRawFileInfo* header = list.FindAtSector(kCraftedSector);
        ASSERT_EQ(header != nullptr, withHeader);
        if (header) {
            // Sized in the search's ring, at the size it claims.
            EXPECT_EQ(header->m_u32FileType, COMPOUND_DOC);
            EXPECT_EQ(header->m_u64Size, claimed);
        }

        CRawFileTreeBuilder builder;
        TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 0));
        ASSERT_TRUE(root);
        EXPECT_EQ(builder.GetTypeCount(COMPOUND_DOC), withHeader ? 3 : 2);
        ToggleCheckState(root.get(), false);
        RecordingRecoverCallback callback;
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(&callback, &device, &job, root.get(), ScratchDir("compound-claims"), &made), 1);
        EXPECT_EQ(job.result, kRecoverDone);
        // The header's file is written up to the largest carved size and not counted.
        EXPECT_EQ(callback.files, 2);
        EXPECT_EQ(callback.bytes, first.size() + second.size());

        std::size_t firsts = 0, seconds = 0, cut = 0;
        for (const auto& [name, bytes] : Recovered(made)) {
            if (bytes == first)
                ++firsts;
            else if (bytes == second)
                ++seconds;
            else if (bytes.size() == limit && std::equal(crafted.begin(), crafted.end(), bytes.begin()))
                ++cut;
            else
                ADD_FAILURE() << name << ": " << bytes.size() << " bytes";
        }
        EXPECT_EQ(firsts, 1u);
        EXPECT_EQ(seconds, 1u);
        EXPECT_EQ(cut, withHeader ? 1u : 0u);
        std::filesystem::remove_all(made);
    }
}
