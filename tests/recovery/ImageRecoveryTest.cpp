// Recovery from a disk image whose slice file was cut short: a FAT volume made by mkfs.fat and
// mtools is imaged by the image writer (stored and zlib), one slice is cut as a copy broken off
// half-way leaves it, and the files are recovered through the image. Files with data in the
// missing blocks meet failing sector reads, which the recovery counts as unreadable; every
// other file comes back byte for byte.
#include "filesystems/DIRBuildCallback.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/fat/FatTreeBuilder.h"
#include "recovery/FileRecovery.h"
#include "storage/DiskImage.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "tests/recovery/RecordingRecoverCallback.h"
#include "tests/support/BlockImages.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/TreePtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int kFileCount = 10;
constexpr std::size_t kFileSize = 1u << 20;

std::string FileName(int i) { return "/file" + std::to_string(i) + ".bin"; }
std::vector<std::uint8_t> FileBytes(int i) { return PatternBytes(kFileSize - 1000 * i, 300 + i); }

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::uint64_t at) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

// The device sectors holding the file's bytes, in file order, from its runs.
std::vector<std::uint64_t> FileSectors(CFileNode* node) {
    std::uint64_t first = 0;
    std::uint32_t perCluster = 0;
    EXPECT_TRUE(node->GetFileSystemInfo(&first, &perCluster));
    std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
    const std::uint64_t want = (node->m_pProperties->GetFileSize() + kSectorSize - 1) / kSectorSize;
    std::vector<std::uint64_t> sectors;
    for (const DataRun& run : runs->Runs())
        for (std::uint64_t s = 0; s < std::uint64_t(run.count) * perCluster && sectors.size() < want; ++s)
            sectors.push_back(first + std::uint64_t(run.start) * perCluster + s);
    return sectors;
}

} // namespace

TEST(ImageRecovery, FilesInACutSliceMeetFailingReadsTheOthersComeBackExact) {
    const std::string volume = CachedFixture("image-recovery-fat16-v1.img", [](const std::string& tmp) {
        FatImageOptions o;
        o.fatBits = 16;
        o.sizeKiB = 16 * 1024;
        o.sectorsPerCluster = 4;
        o.label = "CUTSLICE";
        if (!RequireFatTools() || !FatImage::Format(tmp, o))
            return false;
        FatImage img(tmp);
        bool ok = true;
        for (int i = 0; i < kFileCount; ++i)
            ok = ok && img.WriteFile(FileName(i), FileBytes(i));
        return ok;
    });
    ASSERT_FALSE(volume.empty());
    const std::vector<std::uint8_t> volumeBytes = ReadFileBytes(volume);

    for (CompressionType type : {COMPRESSION_NONE, COMPRESSION_ZLIB}) {
        SCOPED_TRACE(testing::Message() << "type " << type);
        const std::string dir = ScratchDir("image-recovery-" + std::to_string(type));
        const std::string path = dir + "/volume.edi";
        BlockImageOptions options;
        options.type = type;
        options.sliceSectors = 0x2000; // 4 MiB slices
        ASSERT_TRUE(WriteBlockImage(volume, path, options));
        // Slice 1 cut to 300,000 bytes: its blocks from the one that ends past the cut are gone.
        const std::vector<std::uint8_t> main = ReadFileBytes(path);
        ImageHeaderInfo header;
        ASSERT_TRUE(header.Parse(main.data(), main.size()));
        ASSERT_GE(header.sliceCount, 3u);
        constexpr std::uint64_t kKept = 300000;
        std::uint64_t missingFirst = header.firstBlockOfSlice[2];
        for (std::uint64_t b = header.firstBlockOfSlice[2]; b-- > header.firstBlockOfSlice[1];)
            if (512 + std::uint64_t(U32At(main, 512 + 4 * b)) > kKept)
                missingFirst = b;
        const std::uint64_t missingEnd = header.firstBlockOfSlice[2];
        ASSERT_LT(missingFirst, missingEnd);
        fs::resize_file(ImageSlicePath(path, 1), kKept);
        auto isMissing = [&](std::uint64_t sector) {
            return sector / 256 >= missingFirst && sector / 256 < missingEnd;
        };

        CImageFileDeviceWithDecompress image(path.c_str());
        ASSERT_EQ(image.CheckSliceFiles(), 1);
        EXPECT_EQ(image.GetMissingSectorCount(), (missingEnd - missingFirst) * 256);
        ASSERT_EQ(image.GetSectorCount() * kSectorSize, volumeBytes.size());

        std::uint8_t boot[kSectorSize];
        ASSERT_EQ(image.ReadSectors(boot, 0, 1), 1);
        CFATSearchedPartitionInfo part;
        ASSERT_TRUE(InitFATSearchedPartitionInfo(part, boot, sizeof boot, 0));
        CNullDirBuildCallback build;
        TreePtr root(BuildFatFileTree(&build, &part, nullptr, &image, 1));
        ASSERT_TRUE(root);
        std::map<std::string, CFileNode*> nodes;
        for (CFileNode* c = root->m_pFirstChild; c; c = c->m_pNextSibling)
            if (c->m_pProperties)
                nodes["/" + std::string(c->m_pProperties->GetName())] = c;

        int damaged = 0, whole = 0;
        for (int i = 0; i < kFileCount; ++i) {
            SCOPED_TRACE(FileName(i));
            ASSERT_TRUE(nodes.count(FileName(i)));
            CFileNode* node = nodes[FileName(i)];
            const std::vector<std::uint8_t> original = FileBytes(i);
            const std::vector<std::uint64_t> sectors = FileSectors(node);
            ASSERT_EQ(sectors.size(), (original.size() + kSectorSize - 1) / kSectorSize);
            // The runs lead to the file's bytes in the volume itself.
            std::vector<std::uint8_t> want;
            std::uint64_t unreadable = 0;
            for (std::size_t k = 0; k < sectors.size(); ++k) {
                const std::size_t n = std::min<std::size_t>(kSectorSize, original.size() - k * kSectorSize);
                ASSERT_EQ(0, std::memcmp(volumeBytes.data() + sectors[k] * kSectorSize,
                                         original.data() + k * kSectorSize, n));
                if (isMissing(sectors[k])) {
                    ++unreadable;
                    // The device fails the sector, as a disk fails a bad one.
                    std::uint8_t sector[kSectorSize];
                    EXPECT_EQ(image.ReadSectors(sector, sectors[k], 1), 0);
                    want.insert(want.end(), n, 0);
                } else {
                    want.insert(want.end(), original.begin() + k * kSectorSize, original.begin() + k * kSectorSize + n);
                }
            }
            RecordingRecoverCallback callback;
            RecoveryContext context;
            context.callback = &callback;
            context.device = &image;
            const std::string target = dir + FileName(i);
            const int result = RecoverFileData(context, node, target);
            EXPECT_EQ(context.unreadableSectors, unreadable);
            const std::vector<std::uint8_t> got = ReadFileBytes(target);
            if (unreadable) {
                ++damaged;
                // What could be read is there, the rest is zeros, and the file is not counted
                // as recovered.
                EXPECT_EQ(got, want);
                EXPECT_NE(result, kRecoverDone);
                EXPECT_EQ(callback.files, 0);
            } else {
                ++whole;
                EXPECT_EQ(result, kRecoverDone);
                EXPECT_EQ(callback.files, 1);
                EXPECT_EQ(got, original);
            }
        }
        EXPECT_GE(damaged, 2);
        EXPECT_GE(whole, 4);
    }
}
