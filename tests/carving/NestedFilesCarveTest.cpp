// Files inside a carved file: a tar holding tars and a JPEG, made by tar and cjpeg, is carved
// once as a whole, its member tars are not carved again as archives of their own, and the JPEG
// inside it is still found; whether the outer archive is sized from the search's ring or later
// by the RAW tree.
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/RawSearchRun.h"
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
