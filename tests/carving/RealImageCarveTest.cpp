// Carving end to end for images, drawings and fonts: files made by the real tools are planted
// in an image of random data, the RAW search finds them (sizing what fits its ring), the RAW
// tree sizes the rest on the device, and the recovery engine writes every one out byte for
// byte.
#include "carving/RAWSearchController.h"
#include "carving/RawFileTreeBuilder.h"
#include "carving/records/RawFileTypeTable.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/carving/RawSearchRun.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TreePtr.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace testsupport;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Planted {
    RealImageFile file;
    std::uint64_t sector;
    Bytes bytes;
};

constexpr std::uint64_t kImageBytes = 12ull << 20;

// One file every few sectors past the last, with random bytes between them and a zero run.
std::vector<Planted> Layout(const std::string& dir) {
    std::vector<Planted> out;
    std::uint64_t sector = 64;
    for (const RealImageFile& f : RealImageFiles()) {
        Planted p{f, sector, ReadFileBytes(dir + "/" + f.name)};
        sector += (p.bytes.size() + 511) / 512 + 3 + (sector % 7);
        out.push_back(std::move(p));
    }
    return out;
}

std::string ImagePath(const std::string& dir) {
    return CachedFixture("carving-real-images-v3.bin", [&](const std::string& tmp) {
        Bytes image = PatternBytes(kImageBytes, 4242);
        std::memset(image.data(), 0, 32 * 512);
        for (const Planted& p : Layout(dir)) {
            if (p.bytes.empty() || p.sector * 512 + p.bytes.size() > image.size())
                return false;
            std::memcpy(image.data() + p.sector * 512, p.bytes.data(), p.bytes.size());
        }
        return WriteFileBytes(tmp, image);
    });
}

} // namespace

TEST(RealImageCarving, CarvesSizesAndRecoversPlantedFiles) {
    const std::string dir = RealImageFilesDir();
    ASSERT_FALSE(dir.empty());
    const std::string imagePath = ImagePath(dir);
    ASSERT_FALSE(imagePath.empty());
    const std::vector<Planted> planted = Layout(dir);

    // A large step sizes every file in the ring during the search; a small one leaves the
    // larger files to the tree, which sizes them on the device.
    for (std::uint32_t step : {1000u, 8u}) {
        SCOPED_TRACE(step);
        GetScanOptions().SetDefaults();
        CImageFileDevice device(imagePath.c_str());
        ASSERT_EQ(device.Open(), 1);
        CRawFileList list;
        RunRawSearch(device, list, step);

        std::map<std::uint64_t, CRawFileInfo*> found;
        for (CRawFileInfo* r : list.Records())
            found[r->m_u64StartSector] = r;
        for (const Planted& p : planted) {
            SCOPED_TRACE(p.file.name);
            ASSERT_TRUE(found.count(p.sector));
            EXPECT_EQ(found[p.sector]->m_u32FileType, p.file.fileType);
            if (step == 1000) {
                EXPECT_EQ(found[p.sector]->m_u64Size, p.bytes.size()); // all fit in the ring
            }
        }

        CRawFileTreeBuilder builder;
        TreePtr root(BuildRawFileTree(nullptr, nullptr, &builder, &device, list.GetIterator(), 1));
        ASSERT_TRUE(root);
        // Files the ring held whole were sized in the search; the tree sizes the others
        // without writing the size back.
        for (const Planted& p : planted)
            if (p.bytes.size() <= std::uint64_t(19) * step * 512) {
                EXPECT_EQ(found[p.sector]->m_u64Size, p.bytes.size()) << p.file.name;
            }

        ToggleCheckState(root.get(), false);
        const std::string out = ScratchDir("carved-images");
        RecoverFolderJob job;
        std::string made;
        ASSERT_EQ(RecoverFolder(nullptr, &device, &job, root.get(), out, &made), 1);
        EXPECT_EQ(job.result, kRecoverDone);
        // Files are numbered per type in the order found, the order on the device.
        std::map<std::uint32_t, int> numbers;
        for (const CRawFileInfo* r : list.Records()) {
            const int n = ++numbers[r->m_u32FileType];
            for (const Planted& p : planted) {
                if (p.sector != r->m_u64StartSector)
                    continue;
                char name[32];
                std::snprintf(name, sizeof name, "FILE%03d.%s", n, GetRawFileTypeExtension(p.file.fileType));
                const std::string path =
                    made + "/" + GetRawFileTypeDescription(p.file.fileType) + "/" + name;
                SCOPED_TRACE(path);
                ASSERT_TRUE(std::filesystem::exists(path));
                EXPECT_TRUE(ReadFileBytes(path) == p.bytes);
            }
        }
        // Nothing but the planted files is carved out of the random bytes.
        EXPECT_EQ(list.Records().size(), planted.size());
    }
}
